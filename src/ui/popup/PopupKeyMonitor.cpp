#include "ui/popup/PopupKeyMonitor.h"

#include "engine/SettingOptions.h"
#include "platform/keys/KeyCodes.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace lumra {

namespace {

constexpr quint64 shift = KeyCodes::shiftFlag;
constexpr quint64 super = KeyCodes::controlFlag;
constexpr quint64 alt = KeyCodes::optionFlag;
constexpr quint64 ctrl = KeyCodes::commandFlag;

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

quint64 flagOfModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift: return shift;
    case Qt::Key_Control: return ctrl;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return alt;
    default: return super;
    }
}

} // namespace

bool previewModifiersMatch(const QString& previewShortcut, quint64 flags)
{
    const auto has = [flags](quint64 bits) { return (flags & bits) == bits; };
    const auto only = [flags](quint64 bit) { return (flags & (shift | super | alt | ctrl)) == bit; };
    switch (fromRawValue<PreviewShortcut>(previewShortcut).value_or(PreviewShortcut::shiftCommand)) {
    case PreviewShortcut::disabled:
    case PreviewShortcut::spaceBar: return false;
    case PreviewShortcut::shiftCommand: return has(shift | ctrl);
    case PreviewShortcut::option: return only(alt);
    case PreviewShortcut::control: return only(super);
    case PreviewShortcut::shiftOption: return has(shift | alt);
    case PreviewShortcut::shiftControl: return has(shift | super);
    case PreviewShortcut::optionCommand: return has(alt | ctrl);
    case PreviewShortcut::controlCommand: return has(super | ctrl);
    }
    return false;
}

bool isNavigationKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12;
    }
}

bool PreviewModifierTap::modifiersChanged(const QString& previewShortcut, quint64 flags, const QDateTime& now)
{
    if (previewModifiersMatch(previewShortcut, flags)) {
        m_pressedAt = now;
        m_held = true;
        return false;
    }
    const bool tap = m_held && m_pressedAt && m_pressedAt->msecsTo(now) < maximumHoldMs;
    m_pressedAt.reset();
    m_held = false;
    return tap;
}

PopupKeyMonitor::PopupKeyMonitor(QWidget* popupWindow, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_window(popupWindow)
    , m_hooks(std::move(hooks))
{
    if (!m_hooks.now)
        m_hooks.now = [] { return QDateTime::currentDateTimeUtc(); };
    qApp->installEventFilter(this);
}

PopupKeyMonitor::~PopupKeyMonitor()
{
    qApp->removeEventFilter(this);
}

void PopupKeyMonitor::mouseEnteredRow(QPoint globalPosition)
{
    if (!m_suppressSpace)
        return;
    if (!m_suppressAnchor) {
        setSuppressed(false, std::nullopt);
        return;
    }
    const QPoint moved = globalPosition - *m_suppressAnchor;
    if (moved.x() * moved.x() + moved.y() * moved.y() > 4)
        setSuppressed(false, std::nullopt);
}

void PopupKeyMonitor::setSuppressed(bool suppressed, std::optional<QPoint> anchor)
{
    m_suppressAnchor = anchor;
    if (m_suppressSpace == suppressed)
        return;
    m_suppressSpace = suppressed;
    emit suppressSpaceBarPreviewChanged(suppressed);
}

bool PopupKeyMonitor::isOurs(QObject* watched, bool* inPopup) const
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !m_window)
        return false;
    // An application filter sees a key event once per widget it propagates through; only its
    // first receiver (the focus widget, else the window itself) counts.
    QWidget* window = widget->window();
    QWidget* focus = window->focusWidget();
    if (widget != (focus ? focus : window))
        return false;
    *inPopup = window == m_window->window();
    QWidget* preview = m_hooks.previewWindow ? m_hooks.previewWindow() : nullptr;
    return *inPopup || (preview && window == preview->window());
}

bool PopupKeyMonitor::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    bool inPopup = false;
    if (!isOurs(watched, &inPopup))
        return false;
    return handleKey(static_cast<QKeyEvent*>(event), inPopup);
}

bool PopupKeyMonitor::handleKey(QKeyEvent* event, bool inPopup)
{
    const int key = event->key();
    const QString shortcut = m_hooks.previewShortcut ? m_hooks.previewShortcut() : QString();
    if (isModifierKey(key)) {
        if (event->isAutoRepeat())
            return false;
        // The event's modifiers may or may not count the key itself yet; settle it by the event.
        quint64 flags = KeyCodes::modifierFlagsFromQt(event->modifiers());
        if (event->type() == QEvent::KeyPress)
            flags |= flagOfModifierKey(key);
        else
            flags &= ~flagOfModifierKey(key);
        if (m_tap.modifiersChanged(shortcut, flags, m_hooks.now()) && m_hooks.togglePreview)
            m_hooks.togglePreview();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    m_tap.keyDown();

    const quint64 flags = KeyCodes::modifierFlagsFromQt(event->modifiers());
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && inPopup && m_hooks.confirmDeleteSelection
        && m_hooks.selectedCount && m_hooks.selectedCount() >= 2 && (flags & (ctrl | alt | super)) == 0) {
        QTimer::singleShot(0, this, [this] { m_hooks.confirmDeleteSelection(); });
        return true;
    }
    if (fromRawValue<PreviewShortcut>(shortcut) != PreviewShortcut::spaceBar)
        return false;
    if (key != Qt::Key_Space) {
        if (isNavigationKey(key))
            setSuppressed(false, std::nullopt);
        else
            setSuppressed(true, QCursor::pos());
        return false;
    }
    const bool previewVisible = m_hooks.isPreviewVisible && m_hooks.isPreviewVisible();
    if (previewVisible) {
        m_hooks.togglePreview();
        return true;
    }
    if (m_suppressSpace || !inPopup)
        return false;
    if (m_hooks.hasCurrentItem && m_hooks.hasCurrentItem()) {
        m_hooks.togglePreview();
        return true;
    }
    return false;
}

} // namespace lumra
