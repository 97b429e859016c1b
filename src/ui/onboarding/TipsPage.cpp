#include "ui/onboarding/TipsPage.h"

#include "ui/onboarding/OnboardingPictures.h"
#include "ui/onboarding/OnboardingStyle.h"
#include "ui/settings/SettingsWidgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

namespace {

// A round arrow button; dimmed where it cannot go further.
class ArrowButton : public QAbstractButton {
public:
    explicit ArrowButton(const QString& symbol)
        : m_symbol(symbol)
    {
        setFixedSize(36, 36);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : 0.3);
        const QColor secondary = OnboardingStyle::secondary(palette());
        painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight), 1.5) : Qt::NoPen);
        painter.setBrush(SettingsStyle::withAlpha(secondary, isDown() ? 0.25 : 0.12));
        painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
        painter.drawPixmap(QPoint(9, 9), OnboardingStyle::symbol(m_symbol, 18, palette().color(QPalette::WindowText)));
    }

private:
    QString m_symbol;
};

} // namespace

// Ten dots: seen tips in the accent colour, the tip shown larger.
class TipDots : public QWidget {
public:
    explicit TipDots(const TipsProgress& progress)
        : m_progress(progress)
    {
        setFixedSize(TipsProgress::tipCount * 8 + (TipsProgress::tipCount - 1) * 6, 8);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        qreal x = 0;
        for (int i = 0; i < TipsProgress::tipCount; ++i) {
            const qreal size = i == m_progress.index() ? 8 : 6;
            painter.setBrush(m_progress.wasViewed(i) ? palette().color(QPalette::Highlight)
                                                     : SettingsStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.3));
            painter.drawEllipse(QRectF(x + (8 - size) / 2, (8 - size) / 2, size, size));
            x += 8 + 6;
        }
    }

private:
    const TipsProgress& m_progress;
};

TipsProgressButton::TipsProgressButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setFixedSize(150, 34);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setPixelSize(14);
    f.setWeight(QFont::DemiBold);
    setFont(f);
}

void TipsProgressButton::setProgress(const TipsProgress& progress)
{
    m_progress = progress.progress();
    m_complete = progress.isComplete();
    setText(progress.label());
    setEnabled(m_complete);
    setToolTip(m_complete ? QString() : QStringLiteral("Browse all the tips to continue"));
    setAccessibleName(m_complete ? text() : QStringLiteral("%1 of the tips seen").arg(text()));
    update();
}

void TipsProgressButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn in the active colours while locked as well: the share is meant to be read.
    const QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
    const QRectF track = QRectF(rect());
    const qreal radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(SettingsStyle::withAlpha(accent, 0.15));
    painter.drawRoundedRect(track, radius, radius);
    if (m_progress > 0) {
        painter.save();
        QPainterPath clip;
        clip.addRoundedRect(track, radius, radius);
        painter.setClipPath(clip);
        painter.setBrush(m_complete ? (isDown() ? accent.darker(115) : accent) : SettingsStyle::withAlpha(accent, 0.5));
        painter.drawRect(QRectF(track.left(), track.top(), track.width() * m_progress, track.height()));
        painter.restore();
    }
    if (hasFocus() && m_complete) {
        painter.setPen(QPen(accent.lighter(140), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
    // Unfinished, the text is the accent colour on a half-filled track; a light accent on a dark
    // window would vanish into its own fill, so it is drawn over the window's text colour there.
    painter.setPen(m_complete ? QColor(Qt::white) : palette().color(QPalette::Active, QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

TipsPage::TipsPage(int backPage, int nextPage, QWidget* parent)
    : QWidget(parent)
    , m_nextPage(nextPage)
    , m_backArrow(new ArrowButton(QStringLiteral("chevron.left")))
    , m_forwardArrow(new ArrowButton(QStringLiteral("chevron.right")))
    , m_picture(new PictureView)
    , m_continue(new TipsProgressButton)
    , m_back(OnboardingStyle::backButton())
{
    m_dots = new TipDots(m_progress);
    m_backArrow->setAccessibleName(QStringLiteral("Previous tip"));
    m_forwardArrow->setAccessibleName(QStringLiteral("Next tip"));
    m_backArrow->setObjectName(QStringLiteral("previousTip"));
    m_forwardArrow->setObjectName(QStringLiteral("nextTip"));
    m_continue->setObjectName(QStringLiteral("continue"));
    m_back->setObjectName(QStringLiteral("back"));
    m_picture->setAspectRatio(1.6);
    m_picture->setMaximumPictureHeight(576);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(OnboardingStyle::header(QStringLiteral("Lumra Overview"),
                                              QStringLiteral("A quick tour of what you can do with Lumra. Use the arrows to browse."),
                                              18, 10));

    auto* carousel = new QWidget;
    auto* carouselLayout = new QHBoxLayout(carousel);
    carouselLayout->setContentsMargins(20, 0, 20, 0);
    carouselLayout->setSpacing(12);
    carouselLayout->addWidget(m_backArrow);
    carouselLayout->addWidget(m_picture, 1);
    carouselLayout->addWidget(m_forwardArrow);
    layout->addWidget(carousel, 1);
    layout->addSpacing(8);
    layout->addWidget(m_dots, 0, Qt::AlignHCenter);
    layout->addWidget(OnboardingStyle::footer(m_back, m_continue));

    for (QWidget* button : {static_cast<QWidget*>(m_backArrow), static_cast<QWidget*>(m_forwardArrow),
                            static_cast<QWidget*>(m_continue), static_cast<QWidget*>(m_back)})
        button->installEventFilter(this);
    connect(m_backArrow, &QAbstractButton::clicked, this, &TipsPage::showPreviousTip);
    connect(m_forwardArrow, &QAbstractButton::clicked, this, &TipsPage::showNextTip);
    connect(m_back, &QPushButton::clicked, this, [this, backPage] { emit pageRequested(backPage); });
    connect(m_continue, &QAbstractButton::clicked, this, [this] {
        if (m_progress.isComplete())
            emit pageRequested(m_nextPage);
    });
    update();
}

void TipsPage::showPreviousTip()
{
    if (!m_progress.canGoBack())
        return;
    m_progress.back();
    update();
}

void TipsPage::showNextTip()
{
    if (!m_progress.canGoForward())
        return;
    m_progress.forward();
    update();
}

void TipsPage::markCurrentTipViewed()
{
    m_progress.markCurrentViewed();
    update();
}

// The arrow keys browse too, so the page works from the keyboard alone.
bool TipsPage::browseWithArrows(const QKeyEvent& key)
{
    if (key.modifiers() != Qt::NoModifier)
        return false;
    if (key.key() == Qt::Key_Left)
        showPreviousTip();
    else if (key.key() == Qt::Key_Right)
        showNextTip();
    else
        return false;
    return true;
}

void TipsPage::keyPressEvent(QKeyEvent* event)
{
    if (!browseWithArrows(*event))
        QWidget::keyPressEvent(event);
}

// A focused button would take the arrow keys to move the focus to its neighbour.
bool TipsPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && browseWithArrows(*static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

void TipsPage::setOpenShortcut(const QString& shortcut)
{
    m_openShortcut = shortcut;
    update();
}

void TipsPage::update()
{
    m_picture->setPicture(OnboardingPictures::overviewName(m_progress.index()));
    m_picture->setTipText(OnboardingPictures::tipText(m_progress.index(), m_openShortcut));
    m_picture->setAccessibleName(QStringLiteral("Tip %1 of %2").arg(m_progress.index() + 1).arg(TipsProgress::tipCount));
    m_backArrow->setEnabled(m_progress.canGoBack());
    m_forwardArrow->setEnabled(m_progress.canGoForward());
    m_continue->setProgress(m_progress);
    m_dots->update();
    QWidget::update();
}

} // namespace lumra
