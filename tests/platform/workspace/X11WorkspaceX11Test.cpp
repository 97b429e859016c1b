#include "platform/workspace/X11Workspace.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <poll.h>

#include "platform/x11/X11Includes.h"

using namespace lumra;

namespace {

constexpr long testPid = 424242;

// Plays the window manager and a test application on a connection of its own.
class X11WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDataDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dataDir.root() + "/no-system-entries"));
        ASSERT_TRUE(QDir(dataDir.dataHome()).mkpath("applications"));
        QFile entry(dataDir.dataHome() + "/applications/org.example.TestApp.desktop");
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Test App\nStartupWMClass=LumraTestApp\n");
        entry.close();

        display = XOpenDisplay(nullptr);
        ASSERT_TRUE(display);
        root = DefaultRootWindow(display);
        appWindow = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
        XClassHint hint {const_cast<char*>("lumratestapp"), const_cast<char*>("LumraTestApp")};
        XSetClassHint(display, appWindow, &hint);
        setCardinal(appWindow, "_NET_WM_PID", XA_CARDINAL, testPid);
        // No window manager's list is left from an earlier test: the server reuses window ids.
        XDeleteProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", x11::XFalse));
        setActiveWindow(0);

        workspace = X11Workspace::create();
        ASSERT_TRUE(workspace);
    }

    void TearDown() override
    {
        workspace.reset();
        if (display)
            XCloseDisplay(display);
        qputenv("XDG_DATA_DIRS", savedDataDirs);
    }

    void setCardinal(Window window, const char* property, Atom type, long value)
    {
        XChangeProperty(display, window, XInternAtom(display, property, x11::XFalse), type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
    }

    void setActiveWindow(Window window)
    {
        setCardinal(root, "_NET_ACTIVE_WINDOW", XA_WINDOW, long(window));
        XSync(display, x11::XFalse);
    }

    lumra::test::TempDataDir dataDir;
    QByteArray savedDataDirs;
    Display* display = nullptr;
    Window root = 0;
    Window appWindow = 0;
    std::unique_ptr<X11Workspace> workspace;
};

TEST_F(X11WorkspaceTest, ReportsTheActiveApplicationByItsDesktopEntry)
{
    QSignalSpy activated(workspace.get(), &Workspace::applicationActivated);
    setActiveWindow(appWindow);
    ASSERT_TRUE(activated.wait(5000));
    const auto identity = activated.first().first().value<AppIdentity>();
    EXPECT_EQ(identity.bundleId, "org.example.TestApp");
    EXPECT_EQ(identity.name, "Test App");
    EXPECT_EQ(identity.pid, testPid);
    EXPECT_EQ(identity.window, appWindow);
    EXPECT_EQ(workspace->frontmostApplication(), identity);
}

TEST_F(X11WorkspaceTest, AttributesAClipboardHelperWindowToItsApplication)
{
    setActiveWindow(0);
    const Window helper = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    setCardinal(helper, "WM_CLIENT_LEADER", XA_WINDOW, long(appWindow));
    const Window anonymous = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSync(display, x11::XFalse);

    const auto owner = workspace->sourceApplication(helper);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->bundleId, "org.example.TestApp");

    // An owner that tells nothing about itself: the active window speaks for it.
    EXPECT_FALSE(workspace->sourceApplication(anonymous).has_value());
    setActiveWindow(appWindow);
    const auto source = workspace->sourceApplication(anonymous);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->bundleId, "org.example.TestApp");
    EXPECT_FALSE(workspace->applicationForWindow(0x7ffffff).has_value()); // no such window, no crash
}

TEST_F(X11WorkspaceTest, LumrasOwnWindowsAreLumra)
{
    QWidget widget;
    const WId window = widget.winId(); // a native window, never shown
    QCoreApplication::processEvents(); // Qt sends its buffered requests
    const auto identity = workspace->applicationForWindow(window);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->bundleId, "lumra");
}

TEST_F(X11WorkspaceTest, ActivationAsksTheWindowManagerWithATimestamp)
{
    setCardinal(root, "_NET_CLIENT_LIST", XA_WINDOW, long(appWindow));
    XSelectInput(display, root, SubstructureRedirectMask);
    XSync(display, x11::XFalse);

    const Status status = workspace->activate({"org.example.TestApp", "Test App", 0, 0});
    ASSERT_TRUE(status.ok()) << status.error().toStdString();

    XEvent event {};
    bool received = false;
    for (int i = 0; i < 100 && !received; ++i) {
        while (XPending(display) && !received) {
            XNextEvent(display, &event);
            received = event.type == ClientMessage;
        }
        if (!received) {
            pollfd fd {ConnectionNumber(display), POLLIN, 0};
            ::poll(&fd, 1, 50);
        }
    }
    ASSERT_TRUE(received);
    EXPECT_EQ(event.xclient.window, appWindow);
    EXPECT_EQ(event.xclient.message_type, XInternAtom(display, "_NET_ACTIVE_WINDOW", x11::XFalse));
    EXPECT_EQ(event.xclient.data.l[0], 2);
    EXPECT_NE(event.xclient.data.l[1], 0);

    EXPECT_FALSE(workspace->activate({"org.example.Missing", "Missing", 0, 0}).ok());
}

// A clipboard owner whose _NET_WM_PID names no listed window, on a desktop of 600 windows, in a
// process of its own: a look-up reads a bounded number of windows, and each window once in all,
// however many copies it makes.
TEST_F(X11WorkspaceTest, AnOwnerNoManagedWindowMatchesCostsEachWindowOneRead)
{
    QProcess owner;
    owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER), {QStringLiteral("crowd")});
    QByteArray output;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (output += owner.readAllStandardOutput()).contains("READY"); }, 20000));
    const quint64 ownerWindow = output.mid(output.indexOf("OWNER ") + 6).split('\n').value(0).toULongLong();
    ASSERT_NE(ownerWindow, 0u);

    constexpr int crowd = 600;
    for (int copy = 0; copy < 2 * crowd / X11Workspace::maxWindowsReadPerLookUp; ++copy) {
        const qint64 before = workspace->windowsRead();
        EXPECT_FALSE(workspace->applicationForWindow(ownerWindow).has_value());
        EXPECT_LE(workspace->windowsRead() - before, X11Workspace::maxWindowsReadPerLookUp) << "copy " << copy;
    }
    EXPECT_EQ(workspace->windowsRead(), crowd);

    // A window of the owner's process that joins the desktop later still names it.
    setCardinal(appWindow, "_NET_WM_PID", XA_CARDINAL, 2147483646);
    XChangeProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", x11::XFalse), XA_WINDOW, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(&appWindow), 1);
    XSync(display, x11::XFalse);
    const auto found = workspace->applicationForWindow(ownerWindow);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bundleId, "org.example.TestApp");
    EXPECT_EQ(workspace->windowsRead(), crowd + 1);
    owner.kill();
    owner.waitForFinished();
}

} // namespace
