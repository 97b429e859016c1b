#include "platform/keys/X11GlobalHotKeys.h"

#include "platform/keys/KeyCodes.h"
#include "platform/keys/X11Keymap.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#undef Status // Xlib's macro would hide lumra::Status

Q_LOGGING_CATEGORY(lcHotKeys, "lumra.keys.hotkeys")

namespace lumra {

namespace {

// Xlib reports errors asynchronously through one process-wide handler; this catches those of
// the requests made while it lives, so a refused grab becomes a return value.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display)
        : m_display(display)
    {
        XSync(m_display, False); // earlier requests' errors are not ours
        s_errorCode = 0;
        m_previous = XSetErrorHandler(&ErrorTrap::handler);
    }
    ~ErrorTrap() { XSetErrorHandler(m_previous); }

    int sync()
    {
        XSync(m_display, False);
        return s_errorCode;
    }

private:
    static int handler(Display*, XErrorEvent* event)
    {
        if (s_errorCode == 0)
            s_errorCode = event->error_code;
        return 0;
    }

    static inline int s_errorCode = 0;
    Display* m_display;
    XErrorHandler m_previous;
};

} // namespace

X11GlobalHotKeys::X11GlobalHotKeys(QObject* parent)
    : GlobalHotKeys(parent)
    , m_display(qtX11Display())
{
    if (!m_display)
        return;
    m_root = DefaultRootWindow(m_display);
    int opcode = 0, eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(m_display, &opcode, &eventBase, &errorBase, &major, &minor)) {
        m_xkbEventBase = eventBase;
        const unsigned long events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(m_display, XkbUseCoreKbd, events, events);
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11GlobalHotKeys::~X11GlobalHotKeys()
{
    unregisterAll();
    if (m_display)
        XFlush(m_display);
}

QList<unsigned> X11GlobalHotKeys::lockVariants(unsigned lockMasks)
{
    QList<unsigned> variants;
    for (unsigned subset = lockMasks;; subset = (subset - 1) & lockMasks) {
        variants.append(subset);
        if (subset == 0)
            break;
    }
    return variants;
}

Status X11GlobalHotKeys::grab(const HotKey& key)
{
    if (!m_display)
        return Status::failure(failureMessage(key, QStringLiteral("Lumra is not connected to an X server.")));
    const X11Keymap keymap(m_display);
    m_lockMasks = LockMask | keymap.modifierMaskFor(XK_Num_Lock) | keymap.modifierMaskFor(XK_Scroll_Lock);
    const quint8 keycode = keymap.keycodeFor(KeyCodes::keysymForKeyCode(key.keyCode).value_or(0));
    if (keycode == 0)
        return Status::failure(failureMessage(key, QStringLiteral("the keyboard layout has no such key.")));
    const unsigned mask = KeyCodes::x11ModifierMask(key.modifiers);
    if (mask & m_lockMasks)
        return Status::failure(failureMessage(key, QStringLiteral("a lock key shares its modifier.")));

    const Grab grab { key, keycode, mask, m_lockMasks };
    ErrorTrap trap(m_display);
    for (unsigned locks : lockVariants(grab.lockMasks))
        XGrabKey(m_display, keycode, mask | locks, m_root, True, GrabModeAsync, GrabModeAsync);
    if (const int error = trap.sync(); error != 0) {
        ungrabVariants(grab); // drops the variants that did succeed
        trap.sync();
        qCDebug(lcHotKeys) << "grab of keycode" << keycode << "mask" << mask << "failed with X error" << error;
        return Status::failure(failureMessage(key,
            error == BadAccess ? takenElsewhereReason()
                               : QStringLiteral("the X server refused it.")));
    }
    m_grabs.append(grab);
    return {};
}

void X11GlobalHotKeys::ungrab(const HotKey& key)
{
    for (auto it = m_grabs.begin(); it != m_grabs.end(); ++it) {
        if (it->key == key) {
            ungrabVariants(*it);
            m_grabs.erase(it);
            XFlush(m_display);
            return;
        }
    }
}

void X11GlobalHotKeys::ungrabVariants(const Grab& grab)
{
    for (unsigned locks : lockVariants(grab.lockMasks))
        XUngrabKey(m_display, grab.keycode, grab.mask | locks, m_root);
}

void X11GlobalHotKeys::renewGrabs()
{
    m_renewPending = false;
    if (isSuspended())
        return;
    for (const Grab& old : std::as_const(m_grabs))
        ungrabVariants(old);
    m_grabs.clear();
    for (quint32 id : registeredIds()) {
        const HotKey key = *hotKey(id);
        if (Status grabbed = grab(key); !grabbed) {
            qCWarning(lcHotKeys) << "keyboard layout changed:" << grabbed.error();
            unregisterHotKey(id);
        }
    }
}

bool X11GlobalHotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const int type = event->response_type & 0x7f;
    bool layoutChanged = false;
    if (type == XCB_KEY_PRESS) {
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        handlePress(press->detail, press->state, press->time);
    } else if (type == XCB_KEY_RELEASE) {
        const auto* release = static_cast<const xcb_key_release_event_t*>(message);
        handleRelease(release->detail, release->time);
    } else if (type == XCB_MAPPING_NOTIFY) {
        layoutChanged = static_cast<const xcb_mapping_notify_event_t*>(message)->request != XCB_MAPPING_POINTER;
    } else if (m_xkbEventBase >= 0 && type == m_xkbEventBase) {
        const quint8 xkbType = reinterpret_cast<const quint8*>(message)[1];
        layoutChanged = xkbType == XkbNewKeyboardNotify || xkbType == XkbMapNotify;
    }
    if (layoutChanged && !m_renewPending && !m_grabs.isEmpty()) {
        // Not from inside Qt's event dispatch: one renewal after the burst of notifications.
        m_renewPending = true;
        QMetaObject::invokeMethod(
            this, [this] { renewGrabs(); }, Qt::QueuedConnection);
    }
    // Qt still sees the key events, so its notion of the last user time stays current.
    return false;
}

void X11GlobalHotKeys::handlePress(quint8 keycode, unsigned state, quint32 time)
{
    const unsigned modifiers = state & 0xff & ~m_lockMasks;
    std::optional<HotKey> match;
    for (const Grab& grab : std::as_const(m_grabs)) {
        if (grab.keycode == keycode && grab.mask == modifiers) {
            match = grab.key;
            break;
        }
    }
    if (!match)
        return;
    // The server repeats a held key as a release and a press with the same timestamp.
    const bool repeat = keycode == m_releasedKeycode && time == m_releasedAt;
    if (!repeat)
        dispatch(*match, time);
}

void X11GlobalHotKeys::handleRelease(quint8 keycode, quint32 time)
{
    m_releasedKeycode = keycode;
    m_releasedAt = time;
}

} // namespace lumra
