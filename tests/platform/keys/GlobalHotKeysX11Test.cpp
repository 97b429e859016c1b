#include "platform/keys/X11GlobalHotKeys.h"

#include "platform/keys/KeyCodes.h"

#include "EventWait.h"

#include <gtest/gtest.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>

#include <xcb/xcb.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Status

using lumra::X11GlobalHotKeys;

namespace {

constexpr quint16 kV = 9, kB = 11;
constexpr quint64 kCtrlAlt = lumra::KeyCodes::commandFlag | lumra::KeyCodes::optionFlag;

void xdotool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0) << arguments.join(' ').toStdString();
}

// Another X client, as another application on the desktop would be.
class OtherClient {
public:
    OtherClient()
        : display(XOpenDisplay(nullptr))
    {
    }
    ~OtherClient()
    {
        if (display)
            XCloseDisplay(display);
    }
    // True when the server accepted the grab.
    bool grab(KeySym keysym, unsigned mask)
    {
        s_error = 0;
        XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent* e) {
            s_error = e->error_code;
            return 0;
        });
        XGrabKey(display, XKeysymToKeycode(display, keysym), mask, DefaultRootWindow(display), True, GrabModeAsync,
            GrabModeAsync);
        XSync(display, False);
        XSetErrorHandler(previous);
        return s_error == 0;
    }
    unsigned lockedModifiers()
    {
        XkbStateRec state {};
        XkbGetState(display, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

    Display* display;
    static inline int s_error = 0;
};

// Counts the raw presses of one X keycode that reach this process.
class PressCounter : public QAbstractNativeEventFilter {
public:
    explicit PressCounter(int keycode)
        : m_keycode(keycode)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override
    {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS
            && static_cast<const xcb_key_press_event_t*>(message)->detail == m_keycode)
            ++presses;
        return false;
    }
    int presses = 0;

private:
    int m_keycode;
};

class GlobalHotKeysX11Test : public ::testing::Test {
protected:
    X11GlobalHotKeys hotKeys;
    QSignalSpy spy { &hotKeys, &lumra::GlobalHotKeys::activated };

    // Presses `keys`, then a sentinel hot key, and returns the ids fired before the sentinel:
    // X delivers in order, so once the sentinel is in, everything before it has been seen.
    QList<quint32> idsFiredBy(const QStringList& xdotoolArguments)
    {
        constexpr quint32 sentinel = 999;
        EXPECT_TRUE(hotKeys.registerHotKey(sentinel, kB, kCtrlAlt).ok());
        spy.clear();
        xdotool(xdotoolArguments);
        xdotool({ "key", "ctrl+alt+b" });
        QList<quint32> ids;
        while (ids.isEmpty() || ids.last() != sentinel) {
            if (spy.isEmpty() && !spy.wait(5000)) {
                ADD_FAILURE() << "no hot key arrived";
                break;
            }
            ids << spy.takeFirst().at(0).toUInt();
        }
        hotKeys.unregisterHotKey(sentinel);
        if (!ids.isEmpty())
            ids.removeLast();
        return ids;
    }
};

} // namespace

TEST_F(GlobalHotKeysX11Test, RegisteredKeyFiresWhateverLockIsOn)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());
    OtherClient probe;
    const struct {
        const char* lockKey;
        unsigned expectedLock;
    } locks[] = { { nullptr, 0 }, { "Num_Lock", Mod2Mask }, { "Caps_Lock", LockMask } };
    for (const auto& lock : locks) {
        SCOPED_TRACE(lock.lockKey ? lock.lockKey : "no lock");
        if (lock.lockKey) {
            xdotool({ "key", lock.lockKey });
            ASSERT_EQ(probe.lockedModifiers() & lock.expectedLock, lock.expectedLock);
        }
        EXPECT_EQ(idsFiredBy({ "key", "ctrl+alt+v" }), QList<quint32> { 1 });
        EXPECT_NE(hotKeys.lastActivationTime(), 0u);
        if (lock.lockKey)
            xdotool({ "key", lock.lockKey });
    }
    EXPECT_EQ(probe.lockedModifiers() & (Mod2Mask | LockMask), 0u);
}

TEST_F(GlobalHotKeysX11Test, OtherModifiersDoNotFireTheKey)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());
    EXPECT_TRUE(idsFiredBy({ "key", "ctrl+v", "key", "ctrl+alt+shift+v" }).isEmpty());
}

TEST_F(GlobalHotKeysX11Test, HoldingTheKeyDownFiresOnce)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());
    OtherClient other;
    unsigned delay = 0, interval = 0;
    XkbGetAutoRepeatRate(other.display, XkbUseCoreKbd, &delay, &interval);
    XkbSetAutoRepeatRate(other.display, XkbUseCoreKbd, 5, 5);
    XSync(other.display, False);

    PressCounter counter(XKeysymToKeycode(other.display, XK_v));
    xdotool({ "keydown", "ctrl+alt+v" });
    // Keep holding until the server has repeated the key a few times.
    ASSERT_TRUE(lumra::test::processEventsUntil([&] { return counter.presses >= 4; }));
    xdotool({ "keyup", "ctrl+alt+v" });
    XkbSetAutoRepeatRate(other.display, XkbUseCoreKbd, delay, interval);
    XSync(other.display, False);

    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(idsFiredBy({ "key", "ctrl+alt+v" }), QList<quint32> { 1 });
}

TEST_F(GlobalHotKeysX11Test, KeyGrabbedByAnotherClientIsAFailure)
{
    OtherClient other;
    ASSERT_TRUE(other.grab(XK_v, ControlMask | Mod1Mask));

    const lumra::Status status = hotKeys.registerHotKey(1, kV, kCtrlAlt);
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().startsWith("Could not register global shortcut")) << status.error().toStdString();
    EXPECT_FALSE(hotKeys.isRegistered(1));
}

TEST_F(GlobalHotKeysX11Test, FailedGrabLeavesNoVariantBehind)
{
    // The other client holds only the Num Lock variant; the plain one must be free again after
    // Lumra's grab failed.
    OtherClient other;
    ASSERT_TRUE(other.grab(XK_v, ControlMask | Mod1Mask | Mod2Mask));
    ASSERT_FALSE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());

    OtherClient third;
    EXPECT_TRUE(third.grab(XK_v, ControlMask | Mod1Mask));
}

TEST_F(GlobalHotKeysX11Test, UnregisteredAndSuspendedKeysAreFreeForOthers)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());
    hotKeys.suspend();
    {
        OtherClient other;
        EXPECT_TRUE(other.grab(XK_v, ControlMask | Mod1Mask));
    }
    ASSERT_TRUE(hotKeys.resume().ok());
    EXPECT_EQ(idsFiredBy({ "key", "ctrl+alt+v" }), QList<quint32> { 1 });

    hotKeys.unregisterHotKey(1);
    OtherClient other;
    EXPECT_TRUE(other.grab(XK_v, ControlMask | Mod1Mask | LockMask));
}

TEST_F(GlobalHotKeysX11Test, GrabFollowsAKeyboardLayoutChange)
{
    ASSERT_TRUE(hotKeys.registerHotKey(1, kV, kCtrlAlt).ok());
    // Dvorak puts V where the US layout has the full stop.
    ASSERT_EQ(QProcess::execute("setxkbmap", { "-layout", "us", "-variant", "dvorak" }), 0);
    QList<quint32> fired;
    for (int attempt = 0; attempt < 40 && fired.isEmpty(); ++attempt) {
        xdotool({ "key", "ctrl+alt+v" });
        if (spy.wait(250))
            fired << spy.takeFirst().at(0).toUInt();
    }
    ASSERT_EQ(QProcess::execute("setxkbmap", { "-layout", "us" }), 0);
    EXPECT_EQ(fired, QList<quint32> { 1 });
}
