#include "ui/settings/SettingsWidgets.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace lumra {

namespace SettingsStyle {

QFont font(int pixelSize, bool semibold, const QFont& base)
{
    QFont f = base;
    f.setPixelSize(pixelSize);
    f.setWeight(semibold ? QFont::DemiBold : QFont::Normal);
    return f;
}

QLabel* label(const QString& text, int pixelSize, bool semibold, bool secondary, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setFont(font(pixelSize, semibold, l->font()));
    l->setTextFormat(Qt::PlainText);
    if (secondary)
        l->setForegroundRole(QPalette::PlaceholderText);
    return l;
}

QWidget* divider(QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 8, 0, 8);
    auto* line = new QFrame(holder);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    layout->addWidget(line);
    return holder;
}

void setUpPage(QScrollArea* page)
{
    page->setWidgetResizable(true);
    page->setFrameShape(QFrame::NoFrame);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void fillRounded(QPainter& painter, const QRectF& rect, QColor colour, qreal alpha, qreal radius)
{
    colour.setAlphaF(alpha);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(rect, radius, radius);
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(alpha);
    return colour;
}

void paintListBox(QPainter& painter, const QRectF& rect, const QPalette& palette)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(shape, palette.color(QPalette::Base));
    QColor outline = palette.color(QPalette::PlaceholderText);
    outline.setAlphaF(0.3);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(shape);
}

QColor errorColor() { return QColor(0xE0, 0x3E, 0x3E); }

QIcon tinted(const QIcon& icon, const QColor& normal, const QColor& selected, int size)
{
    QIcon result;
    for (const auto& [colour, mode] : {std::pair {normal, QIcon::Normal}, std::pair {selected, QIcon::Selected}}) {
        for (int scale : {1, 2}) {
            QPixmap pixmap = icon.pixmap(QSize(size, size) * scale);
            QPainter painter(&pixmap);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), colour);
            painter.end();
            pixmap.setDevicePixelRatio(scale);
            result.addPixmap(pixmap, mode);
        }
    }
    return result;
}

} // namespace SettingsStyle

// ---------------------------------------------------------------------------------------

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const { return {32, 18}; }

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor fill = isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    if (!isEnabled())
        fill.setAlphaF(0.4);
    painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight).lighter(130), 1.5) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Qt::white));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

// ---------------------------------------------------------------------------------------

SettingRow::SettingRow(const QString& title, const QString& detail, QWidget* control, Look look, QWidget* parent)
    : QWidget(parent)
    , m_control(control)
{
    const bool page = look == Look::page;
    m_title = page ? SettingsStyle::label(title, 15, true, false, this) : new QLabel(title, this);
    m_title->setWordWrap(true);
    QLabel* description = page ? SettingsStyle::label(detail, 12, false, true, this)
                               : SettingsStyle::label(detail, 11, false, true, this);
    description->setWordWrap(true);
    description->setObjectName(QStringLiteral("description"));
    description->setVisible(!detail.isEmpty());
    m_message = SettingsStyle::label(QString(), 12, false, false, this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    QPalette messagePalette = m_message->palette();
    messagePalette.setColor(QPalette::WindowText, SettingsStyle::errorColor());
    m_message->setPalette(messagePalette);
    m_message->hide();

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(m_title);
    texts->addWidget(description);
    texts->addWidget(m_message);

    m_controls = new QHBoxLayout;
    m_controls->setContentsMargins(0, 0, 0, 0);
    m_controls->setSpacing(6);
    if (control)
        m_controls->addWidget(control, 0, Qt::AlignTop);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addLayout(texts, 1);
    layout->addLayout(m_controls);
    layout->setAlignment(m_controls, Qt::AlignTop);
}

QString SettingRow::title() const { return m_title->text(); }

void SettingRow::addTrailing(QWidget* widget) { m_controls->addWidget(widget, 0, Qt::AlignTop); }

void SettingRow::showMessage(const QString& message)
{
    m_message->setText(message);
    m_message->show();
}

void SettingRow::clearMessage()
{
    m_message->clear();
    m_message->hide();
}

QString SettingRow::message() const { return m_message->isHidden() ? QString() : m_message->text(); }

SettingRow* findSettingRow(const QWidget* root, const QString& title)
{
    for (SettingRow* row : root->findChildren<SettingRow*>()) {
        if (row->title() == title)
            return row;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------

WindowAccessor::WindowAccessor(std::function<void(QWidget*)> onResolve, QWidget* parent)
    : QWidget(parent)
    , m_onResolve(std::move(onResolve))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
    scheduleReport();
}

bool WindowAccessor::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
        scheduleReport();
    return QWidget::event(event);
}

void WindowAccessor::scheduleReport()
{
    // Read when the report runs, not now: by then the accessor normally sits in its window.
    QTimer::singleShot(0, qApp, [self = QPointer<WindowAccessor>(this), report = m_onResolve] {
        if (report)
            report(self && self->parentWidget() ? self->window() : nullptr);
    });
}

} // namespace lumra
