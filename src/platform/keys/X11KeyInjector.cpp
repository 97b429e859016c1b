#include "platform/keys/X11KeyInjector.h"

#include "platform/keys/PasteKeys.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Status // Xlib's macro would hide lumra::Status

#include <array>

Q_LOGGING_CATEGORY(lcKeyInjector, "lumra.keys.injector")

namespace lumra {

namespace {

std::vector<quint8> heldKeys(_XDisplay* display, const std::vector<quint8>& candidates)
{
    std::array<char, 32> keys {};
    XQueryKeymap(display, keys.data());
    std::vector<quint8> held;
    for (quint8 keycode : candidates) {
        if (keys[keycode / 8] & (1 << (keycode % 8)))
            held.push_back(keycode);
    }
    return held;
}

// WM_CLASS instance and class of `window`; empty when it has none.
QStringList classOf(_XDisplay* display, Window window)
{
    XClassHint hint {};
    if (!XGetClassHint(display, window, &hint))
        return {};
    QStringList names {QString::fromLocal8Bit(hint.res_name), QString::fromLocal8Bit(hint.res_class)};
    XFree(hint.res_name);
    XFree(hint.res_class);
    return names;
}

// Whether a window of someone's holds the keyboard focus. With no window manager it may be no
// window, or the root window, which would take the key and leave the paste told done.
bool aWindowHoldsTheFocus(_XDisplay* display)
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window root = DefaultRootWindow(display);
    if (focus == None || focus == root)
        return false;
    if (focus != PointerRoot)
        return true;
    // The focus follows the pointer: some window must be under it.
    Window pointerRoot = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    return XQueryPointer(display, root, &pointerRoot, &child, &rootX, &rootY, &x, &y, &mask) && child != None;
}

} // namespace

QStringList X11KeyInjector::focusedWindowNames() const
{
    // The keys go to the focus window: it or the nearest window above it that names itself.
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    const Window root = DefaultRootWindow(m_display);
    for (Window window = focus; window != 0 && window != PointerRoot && window != root;) {
        if (QStringList names = classOf(m_display, window); !names.isEmpty())
            return names;
        Window parentRoot = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, window, &parentRoot, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        window = parent;
    }
    return {};
}

X11KeyInjector::X11KeyInjector(_XDisplay* display, std::chrono::milliseconds releaseWait)
    : m_display(display)
    , m_releaseWait(releaseWait)
{
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    m_hasXTest = m_display && XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor);
}

Status X11KeyInjector::postPaste()
{
    if (!m_display)
        return Status::failure(QStringLiteral("Lumra cannot paste: it is not connected to an X server."));
    if (!m_hasXTest)
        return Status::failure(KeyInjectorMessages::noXTest());
    if (!aWindowHoldsTheFocus(m_display))
        return Status::failure(KeyInjectorMessages::noWindowInFront());

    const QStringList names = focusedWindowNames();
    const PasteChord chord = pasteChordFor(names);
    if (chord == PasteChord::none)
        return Status::failure(noPasteKeyMessage(names.value(1, names.value(0))));
    const X11Keymap keymap(m_display);
    const quint8 vKey = keymap.keycodeFor(XK_v);
    quint8 controlKey = keymap.keycodeFor(XK_Control_L);
    if (!controlKey)
        controlKey = keymap.keycodeFor(XK_Control_R);
    quint8 shiftKey = 0;
    if (chord == PasteChord::controlShiftV) {
        shiftKey = keymap.keycodeFor(XK_Shift_L);
        if (!shiftKey)
            shiftKey = keymap.keycodeFor(XK_Shift_R);
    }
    if (!vKey || !controlKey || (chord == PasteChord::controlShiftV && !shiftKey))
        return Status::failure(QStringLiteral("Lumra cannot paste: the keyboard layout has no V, Ctrl or Shift key."));

    const unsigned locks = LockMask | keymap.modifierMaskFor(XK_Num_Lock) | keymap.modifierMaskFor(XK_Scroll_Lock);
    const std::vector<quint8> modifierKeys = keymap.modifierKeycodes(locks);
    const QDeadlineTimer deadline(m_releaseWait);
    std::vector<quint8> held = heldKeys(m_display, modifierKeys);
    while (!held.empty() && !deadline.hasExpired()) {
        QThread::msleep(10);
        held = heldKeys(m_display, modifierKeys);
    }
    for (quint8 keycode : held) {
        qCDebug(lcKeyInjector) << "releasing held modifier key" << keycode;
        XTestFakeKeyEvent(m_display, keycode, False, CurrentTime);
    }

    const bool sent = XTestFakeKeyEvent(m_display, controlKey, True, CurrentTime)
        && (!shiftKey || XTestFakeKeyEvent(m_display, shiftKey, True, CurrentTime))
        && XTestFakeKeyEvent(m_display, vKey, True, CurrentTime)
        && XTestFakeKeyEvent(m_display, vKey, False, CurrentTime);
    // The modifiers go up in every case so that a half-sent chord never leaves one pressed.
    const bool shiftReleased = !shiftKey || XTestFakeKeyEvent(m_display, shiftKey, False, CurrentTime);
    const bool released = XTestFakeKeyEvent(m_display, controlKey, False, CurrentTime) && shiftReleased;
    XSync(m_display, False);
    if (!sent || !released)
        return Status::failure(QStringLiteral("Lumra could not send %1 to the X server.").arg(pasteChordName(chord)));
    return {};
}

} // namespace lumra
