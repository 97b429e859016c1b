// The permission and layout pages of the walkthrough.
#include "ui/onboarding/OnboardingView.h"

#include "engine/ClipboardManager.h"
#include "platform/keys/KeyInjector.h"
#include "ui/onboarding/OnboardingPictures.h"
#include "ui/onboarding/OnboardingStyle.h"
#include "ui/settings/SettingsWidgets.h"
#include "ui/settings/AppearancePage.h"
#include "ui/settings/AppearanceTables.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/IgnoredAppsBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace lumra {

namespace {

// A still drawing of Lumra switched on among the applications it can type into.
class PermissionIllustration : public QWidget {
public:
    PermissionIllustration()
    {
        setFixedHeight(170);
        setMinimumWidth(300);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = rect();
        QLinearGradient gradient(area.topLeft(), area.bottomRight());
        gradient.setColorAt(0, QColor(255, 149, 0, 230));
        gradient.setColorAt(1, QColor(255, 149, 0, 153));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawRoundedRect(area, 16, 16);

        const QRectF card = area.adjusted(18, 18, -18, -18);
        painter.setBrush(palette().color(QPalette::Window));
        painter.drawRoundedRect(card, 12, 12);
        const QRectF inner = card.adjusted(14, 14, -14, -14);
        const QColor secondary = OnboardingStyle::secondary(palette());

        // Title bar: window buttons, then the title centred.
        const QColor buttons[] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
        for (int i = 0; i < 3; ++i) {
            painter.setBrush(SettingsStyle::withAlpha(buttons[i], 0.8));
            painter.drawEllipse(QRectF(inner.left() + i * 14, inner.top() + 3, 8, 8));
        }
        QFont titleFont = font();
        titleFont.setPixelSize(11);
        titleFont.setWeight(QFont::DemiBold);
        painter.setFont(titleFont);
        painter.setPen(secondary);
        painter.drawText(QRectF(inner.left(), inner.top(), inner.width(), 14), Qt::AlignCenter, QStringLiteral("Send Keys"));

        struct Row {
            QString name;
            bool highlighted;
            bool on;
        };
        const Row rows[] = {{QStringLiteral("Other App"), false, true},
                            {QStringLiteral("Lumra"), true, true},
                            {QStringLiteral("Terminal"), false, false}};
        qreal y = inner.top() + 22;
        const qreal rowHeight = 24;
        for (const Row& row : rows) {
            const QRectF box(inner.left(), y, inner.width(), rowHeight);
            painter.setPen(Qt::NoPen);
            if (row.highlighted) {
                painter.setBrush(SettingsStyle::withAlpha(palette().color(QPalette::Highlight), 0.12));
                painter.drawRoundedRect(box, 6, 6);
            }
            const QRectF iconRect(box.left() + 8, box.center().y() - 8, 16, 16);
            if (row.highlighted)
                painter.drawPixmap(iconRect.toRect(), OnboardingStyle::appIcon(32));
            else
                painter.drawPixmap(iconRect.toRect(), OnboardingStyle::symbol(QStringLiteral("app.dashed"), 16, secondary));
            QFont nameFont = font();
            nameFont.setPixelSize(12);
            nameFont.setWeight(row.highlighted ? QFont::DemiBold : QFont::Normal);
            painter.setFont(nameFont);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QRectF(iconRect.right() + 8, box.top(), box.width() - 80, rowHeight),
                             Qt::AlignVCenter | Qt::AlignLeft, row.name);
            const QRectF track(box.right() - 8 - 30, box.center().y() - 9, 30, 18);
            painter.setPen(Qt::NoPen);
            painter.setBrush(row.on ? QColor(0, 122, 255) : SettingsStyle::withAlpha(secondary, 0.4));
            painter.drawRoundedRect(track, 9, 9);
            painter.setBrush(Qt::white);
            painter.drawEllipse(QRectF(row.on ? track.right() - 16 : track.left() + 2, track.top() + 2, 14, 14));
            y += rowHeight + 4;
        }
    }
};

// The hint under the layout page's title; it breathes gently to be noticed.
class LayoutHint : public QWidget {
public:
    LayoutHint()
    {
        m_text = QStringLiteral("You can change this anytime in Settings \u203a Appearance");
        QFont f = font();
        f.setPixelSize(12);
        f.setWeight(QFont::DemiBold);
        setFont(f);
        m_pulse.setStartValue(0.72);
        m_pulse.setEndValue(1.0);
        m_pulse.setDuration(1100);
        m_pulse.setEasingCurve(QEasingCurve::InOutQuad);
        m_pulse.setLoopCount(-1);
        connect(&m_pulse, &QVariantAnimation::valueChanged, this, [this] { update(); });
        connect(&m_pulse, &QVariantAnimation::currentLoopChanged, this, [this](int loop) {
            m_pulse.setDirection(loop % 2 ? QAbstractAnimation::Backward : QAbstractAnimation::Forward);
        });
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    void start()
    {
        if (m_pulse.state() != QAbstractAnimation::Running)
            m_pulse.start();
    }
    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(m_text) + 11 + 6 + 24 + 4, metrics.height() + 12 + 2};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal opacity = m_pulse.state() == QAbstractAnimation::Running ? m_pulse.currentValue().toReal() : 1.0;
        painter.setOpacity(opacity);
        const QColor accent = palette().color(QPalette::Highlight);
        const QRectF capsule = QRectF(rect()).adjusted(2, 1, -2, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(SettingsStyle::withAlpha(accent, 0.12));
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        const QRectF content = capsule.adjusted(12, 0, -12, 0);
        painter.drawPixmap(QPointF(content.left(), content.center().y() - 5.5),
                           OnboardingStyle::symbol(QStringLiteral("gearshape.fill"), 11, accent));
        painter.setPen(accent);
        painter.drawText(content.adjusted(17, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, m_text);
    }

private:
    QString m_text;
    QVariantAnimation m_pulse;
};

} // namespace

// The preview of a layout: its picture, or a placeholder until a layout is chosen.
class LayoutPreview : public QWidget {
public:
    LayoutPreview()
        : m_picture(new PictureView)
        , m_placeholder(new QWidget)
    {
        setObjectName(QStringLiteral("layoutPreview"));
        m_picture->setFramed(false);
        auto* placeholderLayout = new QVBoxLayout(m_placeholder);
        placeholderLayout->addStretch(1);
        m_icon = new QLabel;
        m_icon->setAlignment(Qt::AlignCenter);
        placeholderLayout->addWidget(m_icon);
        auto* text = OnboardingStyle::text(QStringLiteral("Select a layout to preview"), 12);
        text->setForegroundRole(QPalette::PlaceholderText);
        placeholderLayout->addWidget(text);
        placeholderLayout->addStretch(1);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(14, 14, 14, 14);
        layout->addWidget(m_picture);
        layout->addWidget(m_placeholder);
        show(std::nullopt);
    }
    void show(std::optional<AppearanceStyle> style)
    {
        if (style)
            m_picture->setPicture(OnboardingPictures::stylePreviewName(*style));
        const bool picture = style && m_picture->hasPicture();
        m_picture->setVisible(picture);
        m_placeholder->setVisible(!picture);
        m_icon->setPixmap(OnboardingStyle::symbol(QStringLiteral("sidebar.squares.right"), 28,
                                                  SettingsStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.7)));
    }
    PictureView* picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(SettingsStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.10));
        painter.drawRoundedRect(rect(), 12, 12);
    }

private:
    PictureView* m_picture;
    QWidget* m_placeholder;
    QLabel* m_icon = nullptr;
};

QWidget* OnboardingView::permissionPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addSpacing(24);
    layout->addStretch(1);
    auto* icon = new QLabel;
    icon->setPixmap(OnboardingStyle::appIcon(72));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    QLabel* title = OnboardingStyle::text(QStringLiteral("Paste to Any App"), 24, QFont::Bold);
    title->setObjectName(QStringLiteral("title"));
    title->setContentsMargins(0, 16, 0, 0);
    layout->addWidget(title);
    QLabel* text = OnboardingStyle::text(
        QStringLiteral("To paste directly into other applications, Lumra types Ctrl+V into them. That needs an X11 or "
                       "XWayland session with the XTest extension, or a Wayland desktop that offers a virtual "
                       "keyboard. Everything else works as usual."),
        14, QFont::Normal, true);
    text->setContentsMargins(44, 12, 44, 0);
    layout->addWidget(text);
    // Why, in the words of the layer that sends the keys.
    QLabel* reason = OnboardingStyle::text(m_services.keyInjector ? m_services.keyInjector->unavailableReason()
                                                                  : KeyInjectorMessages::noXTest(),
                                           12, QFont::Normal, true);
    reason->setObjectName(QStringLiteral("reason"));
    reason->setContentsMargins(44, 8, 44, 0);
    layout->addWidget(reason);
    layout->addWidget(OnboardingStyle::padded(new PermissionIllustration, 32, 24, 32, 0));
    m_stillMissing = OnboardingStyle::text(
        QStringLiteral("Lumra still cannot send keys. Log in to an X11 session (or run Lumra under XWayland), then "
                       "start Lumra again."),
        12, QFont::Medium);
    m_stillMissing->setObjectName(QStringLiteral("stillMissing"));
    m_stillMissing->setContentsMargins(44, 14, 44, 0);
    layout->addWidget(m_stillMissing);
    layout->addStretch(1);

    QPushButton* back = goButton(OnboardingStyle::backButton(), 3);
    back->setObjectName(QStringLiteral("back"));
    auto* later = new PrimaryButton(QStringLiteral("I'll Do It Later"), 110, false);
    later->setObjectName(QStringLiteral("later"));
    goButton(later, 5);
    m_requestButton = new PrimaryButton(QStringLiteral("Check Again"), 110);
    m_requestButton->setObjectName(QStringLiteral("request"));
    connect(m_requestButton, &QPushButton::clicked, this, &OnboardingView::requestAccessibilityAccess);
    m_forward.insert(OnboardingPage::permission, m_requestButton);
    auto* pair = new QWidget;
    auto* pairLayout = new QHBoxLayout(pair);
    pairLayout->setContentsMargins(0, 0, 0, 0);
    pairLayout->setSpacing(14);
    pairLayout->addWidget(later);
    pairLayout->addWidget(m_requestButton);
    QWidget* footer = OnboardingStyle::footer(back, pair, 0);
    footer->layout()->setContentsMargins(28, 0, 28, 8);
    layout->addWidget(footer);
    layout->addSpacing(8);
    updatePermissionPage();
    return page;
}

void OnboardingView::requestAccessibilityAccess()
{
    if (m_didRequestAccess) {
        setPage(5);
        return;
    }
    // Asked again each time: the key layer knows whether keys reach other applications now.
    if (m_services.keyInjector && m_services.keyInjector->canPost()) {
        setPage(5);
        return;
    }
    m_didRequestAccess = true;
    updatePermissionPage();
}

void OnboardingView::updatePermissionPage()
{
    m_requestButton->setText(m_didRequestAccess ? QStringLiteral("Finish Setup") : QStringLiteral("Check Again"));
    m_requestButton->updateGeometry();
    m_stillMissing->setVisible(m_didRequestAccess);
}

QWidget* OnboardingView::layoutChoicePage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QWidget* header = OnboardingStyle::header(QStringLiteral("Choose Your Layout"),
                                              QStringLiteral("Pick how your clipboard looks."), 30, 20, 8);
    auto* headerLayout = static_cast<QVBoxLayout*>(header->layout());
    auto* hint = new LayoutHint;
    headerLayout->addSpacing(2);
    headerLayout->addWidget(hint, 0, Qt::AlignHCenter);
    layout->addWidget(header);
    connect(this, &OnboardingView::pageChanged, hint, [this, hint] {
        if (currentPage() == OnboardingPage::layout)
            hint->start();
    });
    if (currentPage() == OnboardingPage::layout)
        hint->start();

    auto* body = new QWidget;
    auto* bodyLayout = new QHBoxLayout(body);
    bodyLayout->setContentsMargins(28, 0, 28, 6);
    bodyLayout->setSpacing(24);
    auto* cards = new QWidget;
    cards->setFixedWidth(230);
    auto* cardsLayout = new QVBoxLayout(cards);
    cardsLayout->setContentsMargins(0, 0, 0, 0);
    cardsLayout->setSpacing(12);
    for (const AppearanceTables::StyleCard& spec : AppearanceTables::styleCards()) {
        auto* card = new StyleCard(spec.title, spec.symbol, spec.description);
        card->setMaximumHeight(150);
        card->setObjectName(spec.title);
        connect(card, &StyleCard::clicked, this, [this, style = spec.style] { selectLayoutStyle(style); });
        m_layoutCards.insert(spec.style, card);
        cardsLayout->addWidget(card);
    }
    cardsLayout->addStretch(1);
    bodyLayout->addWidget(cards, 0, Qt::AlignTop);
    m_layoutPreview = new LayoutPreview;
    bodyLayout->addWidget(m_layoutPreview, 1);
    layout->addWidget(body, 1);
    layout->addWidget(navigationFooter(OnboardingPage::layout));
    updateLayoutPage();
    return page;
}

void OnboardingView::selectLayoutStyle(AppearanceStyle style)
{
    m_selectedLayout = style;
    m_manager.applyAppearanceStyle(style);
    updateLayoutPage();
}

void OnboardingView::prepareLayoutPage()
{
    // Marks the preset already in use; applies nothing.
    if (!m_selectedLayout) {
        if (m_manager.isAppearanceStyleActive(AppearanceStyle::minimal))
            m_selectedLayout = AppearanceStyle::minimal;
        else if (m_manager.isAppearanceStyleActive(AppearanceStyle::standard))
            m_selectedLayout = AppearanceStyle::standard;
    }
    updateLayoutPage();
}

void OnboardingView::updateLayoutPage()
{
    if (!m_layoutPreview)
        return;
    for (auto it = m_layoutCards.cbegin(); it != m_layoutCards.cend(); ++it)
        it.value()->setActive(m_selectedLayout == it.key());
    m_layoutPreview->show(m_selectedLayout);
}

QWidget* OnboardingView::privacyPage()
{
    SwitchSpec transient = PrivacyTables::ignoreTransientContent();
    transient.description = QStringLiteral(
        "Do not save temporary data generated by other apps, such as passwords from password managers.");
    auto* apps = new QWidget;
    auto* appsLayout = new QVBoxLayout(apps);
    appsLayout->setContentsMargins(0, 0, 0, 0);
    appsLayout->setSpacing(8);
    // Titled as a row: the default font over a caption-size line.
    appsLayout->addWidget(new SettingRow(QStringLiteral("Ignore Applications"),
                                         QStringLiteral("Do not save content copied from the applications below."),
                                         nullptr, SettingRow::Look::compact));
    m_appsBox = new IgnoredAppsBox(m_manager, *m_services.prompts, 24, 170);
    if (m_services.chooseApplication)
        m_appsBox->setChooser(m_services.chooseApplication);
    appsLayout->addWidget(m_appsBox);
    return framedPage(OnboardingPage::privacy,
                      OnboardingStyle::header(QStringLiteral("Your Privacy"),
                                              QStringLiteral("Keep sensitive content out of your history. You can "
                                                             "change these anytime in Settings."),
                                              36, 20),
                      {new SettingSwitchRow(m_manager, transient, nullptr, SettingRow::Look::compact), SettingsStyle::divider(), apps});
}

std::optional<QString> OnboardingView::selectedAppId() const
{
    return m_appsBox ? m_appsBox->selectedAppId() : std::nullopt;
}

} // namespace lumra
