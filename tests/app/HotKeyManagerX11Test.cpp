// The open-popup key at launch, when another X client still holds it.
#include "ui/shell/HotKeyManager.h"

#include "engine/ClipboardManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/X11GlobalHotKeys.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef Status

namespace lumra {
namespace {

// Whether another client could grab Ctrl+Alt+V now; a grab it got is let go at once.
bool openKeyIsFree()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    static int error = 0;
    error = 0;
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent* e) {
        error = e->error_code;
        return 0;
    });
    const int keycode = XKeysymToKeycode(display, XK_v);
    XGrabKey(display, keycode, ControlMask | Mod1Mask, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XUngrabKey(display, keycode, ControlMask | Mod1Mask, DefaultRootWindow(display));
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return error == 0;
}

// A Lumra killed with SIGKILL holds its keys until the server has closed its connection; the
// Lumra started meanwhile takes the open key once it is free, without a word to the user.
TEST(HotKeyManagerX11Test, AnOpenKeyHeldByAKilledLumraIsTakenOnceTheServerLetsItGo)
{
    test::TempDataDir dataDir;
    UserDefaults defaults(dataDir.settingsFile());
    ClipboardManager::registerDefaultSettings(defaults);
    ManualClock clock;
    QProcess killed;
    killed.start(QStringLiteral(LUMRA_KEY_GRABBER_X11));
    ASSERT_TRUE(killed.waitForReadyRead(20000) && killed.readAll().startsWith("GRABBED"));

    X11GlobalHotKeys keys;
    HotKeyManager hotKeys(keys, defaults, clock);
    QStringList told;
    QObject::connect(&hotKeys, &HotKeyManager::openKeyFailedAtLaunch, [&](const QString& message) { told << message; });
    const Status launched = hotKeys.setupHotKeyManager(nullptr);
    EXPECT_TRUE(launched.ok()) << "told at once: " << launched.error().toStdString();
    ASSERT_FALSE(keys.isRegistered(HotKeyManager::mainHotKeyId));

    killed.kill();
    killed.waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor(openKeyIsFree, 20000)) << "the server kept the grab";
    clock.advance(HotKeyManager::launchRetryDelays[0]);
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::mainHotKeyId));

    QSignalSpy fired(&keys, &GlobalHotKeys::activated);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+v")}), 0);
    EXPECT_TRUE(fired.wait(20000)) << "the open key does not fire";
    clock.advance(std::chrono::minutes(1));
    EXPECT_TRUE(told.isEmpty()) << told.join(u' ').toStdString();
}

} // namespace
} // namespace lumra
