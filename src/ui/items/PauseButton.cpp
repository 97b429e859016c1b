#include "ui/items/PauseButton.h"

#include "ui/shell/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "ui/items/SymbolIcon.h"

#include <QEvent>
#include <QMenu>

namespace lumra {

const QList<PauseDuration>& pauseDurations()
{
    static const QList<PauseDuration> durations = {
        {QStringLiteral("5 minutes"), 5},   {QStringLiteral("10 minutes"), 10}, {QStringLiteral("20 minutes"), 20},
        {QStringLiteral("1 hour"), 60},     {QStringLiteral("Permanently"), std::nullopt},
    };
    return durations;
}

QString pauseStatusText(const std::optional<QDateTime>& resumeDate, const QLocale& locale)
{
    if (!resumeDate)
        return QStringLiteral("Paused \u2014 click to resume");
    return QStringLiteral("Paused until ") + locale.toString(resumeDate->toLocalTime().time(), QLocale::ShortFormat)
        + QStringLiteral(" \u2014 click to resume");
}

PauseButton::PauseButton(ClipboardManager& manager, QWidget* parent)
    : QToolButton(parent)
    , m_manager(&manager)
{
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(11, 11));
    connect(this, &QToolButton::clicked, this, &PauseButton::pressed);
    connect(&manager, &ClipboardManager::pauseStateChanged, this, &PauseButton::refresh);
    refresh();
}

void PauseButton::setSymbolSize(int pixels) { setIconSize(QSize(pixels, pixels)); }

void PauseButton::changeEvent(QEvent* event)
{
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void PauseButton::refresh()
{
    if (!m_manager)
        return;
    if (m_manager->isPaused()) {
        setIcon(tintedSymbol(QStringLiteral("play.fill"), QColor(0x34, 0xC7, 0x59)));
        setToolTip(pauseStatusText(m_manager->pauseResumeDate()));
        setAccessibleName(QStringLiteral("Resume clipboard monitoring"));
    } else {
        setIcon(tintedSymbol(QStringLiteral("pause.fill"), secondaryColor(palette())));
        setToolTip(QStringLiteral("Pause clipboard monitoring"));
        setAccessibleName(QStringLiteral("Pause clipboard monitoring"));
    }
}

QMenu* PauseButton::makeDurationMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    // A caption in the disabled (secondary) colour, aligned with the durations under it.
    QAction* header = menu->addAction(QStringLiteral("Pause for..."));
    QFont caption = menu->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    header->setFont(caption);
    header->setEnabled(false);
    QPointer<ClipboardManager> manager = m_manager;
    for (const PauseDuration& duration : pauseDurations()) {
        QAction* action = menu->addAction(duration.label);
        connect(action, &QAction::triggered, menu, [manager, minutes = duration.minutes] {
            if (manager)
                manager->pause(minutes);
        });
    }
    menu->setMinimumWidth(150);
    return menu;
}

void PauseButton::pressed()
{
    if (!m_manager)
        return;
    if (m_manager->isPaused()) {
        m_manager->resume();
        return;
    }
    QPointer<PopupPanel> popup = PopupPanel::findOpen();
    PopupPanel::Hold hold = popup ? popup->hold() : PopupPanel::Hold();
    QMenu* menu = makeDurationMenu(this);
    // Above the button: the footer sits at the bottom of the popup.
    const QSize size = menu->sizeHint();
    menu->exec(mapToGlobal(QPoint(0, -size.height())));
    menu->deleteLater();
}

} // namespace lumra
