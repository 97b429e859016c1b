#include "app/ReminderPopover.h"

#include "ui/shell/PopupPlacement.h"
#include "platform/symbols/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumra {

ReminderPopover::ReminderPopover(int count, QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(bubbleSize);
    setCursor(Qt::PointingHandCursor);

    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(QStringLiteral("doc.on.clipboard.fill")).pixmap(24, 24));
    m_message = new QLabel(reminderMessage(count), this);
    m_message->setWordWrap(true);
    QFont font = m_message->font();
    font.setWeight(QFont::Medium);
    m_message->setFont(font);

    auto* snooze = new QPushButton(QStringLiteral("Do not Disturb"), this);
    snooze->setFlat(true);
    QFont small = snooze->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    snooze->setFont(small);
    snooze->setCursor(Qt::ArrowCursor);
    connect(snooze, &QPushButton::clicked, this, [this] {
        finish();
        emit doNotDisturb();
    });

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(icon);
    row->addWidget(m_message, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(snooze);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 4);
    layout->setSpacing(0);
    layout->addLayout(row, 1);
    layout->addLayout(bottom);
}

ReminderPopover::~ReminderPopover() = default;

QString ReminderPopover::reminderMessage(int count, const QLocale& locale)
{
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return QStringLiteral("You have %1 %2 saved! Tap to Browse.")
        .arg(grouped.toString(count), count == 1 ? QStringLiteral("clip") : QStringLiteral("clips"));
}

ReminderPopover::Form ReminderPopover::formFor(bool trayAvailable, const QString& platformName)
{
    if (platformName.startsWith(QLatin1String("wayland")))
        return Form::notification;
    return trayAvailable ? Form::bubble : Form::none;
}

QString ReminderPopover::messageText() const { return m_message->text(); }

void ReminderPopover::showNear(const QRect& trayIcon, QPoint pointer)
{
    move(PopupPlacement::besideAnchor(trayIcon, bubbleSize, pointer, PopupPlacement::currentScreens()));
    show();
    // Each bubble closes 10 s after its own showing, whatever other reminders did meanwhile.
    m_autoClose = Clock::shared().start(autoCloseDelay, false, [this] { close(); });
}

void ReminderPopover::finish()
{
    m_autoClose.reset();
    close();
}

void ReminderPopover::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        finish();
        emit tapped();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void ReminderPopover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(bubble, palette().window());
    painter.setPen(palette().mid().color());
    painter.drawPath(bubble);
}

} // namespace lumra
