#include "platform/keys/X11KeyInjector.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>

#include <X11/Xlib.h>
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

} // namespace

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

    const X11Keymap keymap(m_display);
    const quint8 vKey = keymap.keycodeFor(XK_v);
    quint8 controlKey = keymap.keycodeFor(XK_Control_L);
    if (!controlKey)
        controlKey = keymap.keycodeFor(XK_Control_R);
    if (!vKey || !controlKey)
        return Status::failure(QStringLiteral("Lumra cannot paste: the keyboard layout has no V or Ctrl key."));

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
        && XTestFakeKeyEvent(m_display, vKey, True, CurrentTime)
        && XTestFakeKeyEvent(m_display, vKey, False, CurrentTime);
    // Ctrl goes up in every case so that a half-sent chord never leaves it pressed.
    const bool released = XTestFakeKeyEvent(m_display, controlKey, False, CurrentTime);
    XSync(m_display, False);
    if (!sent || !released)
        return Status::failure(QStringLiteral("Lumra could not send Ctrl+V to the X server."));
    return {};
}

} // namespace lumra
