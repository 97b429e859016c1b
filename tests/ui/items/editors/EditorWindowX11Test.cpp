// Editor windows over the popup on a real X server: transient for it, the keys go where the popup
// cannot take them, and a chord another program holds is still heard while recording.
#include "ui/items/editors/EditorWindows.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/items/editors/ShortcutEditorWindow.h"
#include "ui/items/ShortcutRecorder.h"
#include "platform/keys/X11GlobalHotKeys.h"

#include "app/ShellTestSupport.h"
#include "Screenshots.h"
#include "WindowManager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace lumra {
namespace {

Window transientFor(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Window parent = 0;
    if (x11 && x11->display())
        XGetTransientForHint(x11->display(), Window(window->winId()), &parent);
    return parent;
}

class EditorWindowX11Test : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        ASSERT_TRUE(hotKeys->setupHotKeyManager(manager.get()).ok());
        panel = new PopupPanel(QSize(400, 500));
        panel->present(QPoint(40, 40));
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    }
    void TearDown() override
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<EditorWindow*>(widget))
                delete widget;
        }
        delete panel.data();
    }

    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    QPointer<PopupPanel> panel;
};

} // namespace

TEST_F(EditorWindowX11Test, EditorsStayAboveThePopupAndTheOneHoldingItTakesTheKeys)
{
    ClipboardItem item = textItem("tagged twice");
    test::storeItems(*manager, {item});
    const EditorHost host {manager.get(), hotKeys.get(), panel};
    QPointer<TagEditorWindow> first = EditorWindows::openTagEditor(host, item);
    QPointer<TagEditorWindow> second = EditorWindows::openTagEditor(host, item);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first) && QTest::qWaitForWindowExposed(second));
    for (EditorWindow* window : {static_cast<EditorWindow*>(first), static_cast<EditorWindow*>(second)}) {
        EXPECT_EQ(window->windowType(), Qt::Dialog);
        EXPECT_EQ(transientFor(window), Window(panel->winId())) << "the window manager keeps it above the popup";
    }

    // One saved while the other is open: the popup stays held, and Escape or the shortcut in it
    // (a refused close) brings the editor that holds it forward with the keys.
    ASSERT_TRUE(QTest::qWaitForWindowActive(second));
    second->field()->setText(QStringLiteral("work"));
    ASSERT_TRUE(second->trySave());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !second; }, 3000));
    ASSERT_TRUE(first && first->isVisible());
    EXPECT_EQ(panel->holdCount(), 1);
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    EXPECT_FALSE(panel->close());
    EXPECT_TRUE(QTest::qWaitForWindowActive(first));

    // The last one gone, the popup has the keys and closes again.
    first->reject();
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel));
    EXPECT_EQ(panel->holdCount(), 0);
    EXPECT_TRUE(panel->close());
}

TEST_F(EditorWindowX11Test, AChordAnotherProgramHoldsIsReportedAndTheHotKeysComeBack)
{
    // Another program holds Ctrl+Alt+K, as a desktop's own shortcuts do.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    const int keycode = XKeysymToKeycode(other, XK_k);
    XGrabKey(other, keycode, ControlMask | Mod1Mask, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    X11GlobalHotKeys x11Keys;
    HotKeyManager realHotKeys(x11Keys, *defaults, clock);
    ASSERT_TRUE(realHotKeys.setupHotKeyManager(manager.get()).ok());
    ClipboardItem item = textItem("needs a key");
    test::storeItems(*manager, {item});
    QPointer<ShortcutEditorWindow> editor = EditorWindows::openShortcutEditor({manager.get(), &realHotKeys, panel}, item);
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
    editor->recorder()->startRecording();
    ASSERT_TRUE(realHotKeys.isSuspended());

    QProcess::execute(QStringLiteral("xdotool"), {"key", "--clearmodifiers", "ctrl+alt+k"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !editor->recorder()->isRecording(); }, 5000))
        << "the chord went to the other program and the field kept waiting";
    EXPECT_TRUE(editor->conflictMessage().contains(QStringLiteral("in use by another application")))
        << editor->conflictMessage().toStdString();
    EXPECT_FALSE(realHotKeys.isSuspended());

    delete editor.data();
    XUngrabKey(other, keycode, ControlMask | Mod1Mask, DefaultRootWindow(other));
    XCloseDisplay(other);
}

} // namespace lumra

namespace lumra {
namespace {

// A request about `window` to the window manager, as a pager or the window's own buttons send it.
void askWindowManager(QWidget* window, const char* type, long value)
{
    Display* display = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window->winId());
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = value;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

// What a minimise button asks (ICCCM WM_CHANGE_STATE).
void minimise(QWidget* window) { askWindowManager(window, "WM_CHANGE_STATE", IconicState); }

// The state the window manager gives the window: NormalState, IconicState, or WithdrawnState
// when it is not mapped at all.
long wmState(QWidget* window)
{
    Display* display = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    const Atom wmStateAtom = XInternAtom(display, "WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    long state = WithdrawnState;
    if (XGetWindowProperty(display, Window(window->winId()), wmStateAtom, 0, 2, False, wmStateAtom, &type, &format,
                           &count, &remaining, &data) == Success && data) {
        if (count >= 1)
            state = reinterpret_cast<long*>(data)[0];
        XFree(data);
    }
    return state;
}

bool onScreen(QWidget* window) { return window->isVisible() && wmState(window) == NormalState; }

// Under a window manager that draws a minimise button on the editor anyway (openbox): minimising it
// takes the popup along, and the popup's own roads must bring both back.
class EditorMinimiseX11Test : public test::ShellTest {
protected:
    void SetUp() override
    {
        if (!test::WindowManager::installed())
            GTEST_SKIP() << "needs openbox";
        ASSERT_TRUE(windowManager.start());
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
        ASSERT_TRUE(hotKeys->setupHotKeyManager(manager.get()).ok());
        panel = new PopupPanel(QSize(400, 500));
        panel->present(QPoint(40, 40));
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel, 5000));
        item = textItem("tag me");
        test::storeItems(*manager, {item});
        editor = EditorWindows::openTagEditor({manager.get(), hotKeys.get(), panel}, item);
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor, 5000));
    }
    void TearDown() override
    {
        delete editor.data();
        delete panel.data();
    }

    void minimiseEditor()
    {
        // Managed by the window manager first: it ignores requests about a window it does not manage yet.
        ASSERT_TRUE(QTest::qWaitFor([&] { return wmState(editor) == NormalState && editor->isActiveWindow(); }, 5000));
        minimise(editor);
        ASSERT_TRUE(QTest::qWaitFor([&] { return wmState(editor) != NormalState; }, 5000));
        // Whatever the popup did meanwhile (minimised with it, hidden as Lumra went inactive), it is
        // no longer on screen.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !onScreen(panel); }, 5000));
        // Lumra has no window left in front; what follows comes later, as the user's next key would.
        ASSERT_TRUE(QTest::qWaitFor([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }, 5000));
        QTest::qWait(200);
    }

    test::WindowManager windowManager;
    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<HotKeyManager> hotKeys;
    QPointer<PopupPanel> panel;
    QPointer<TagEditorWindow> editor;
    ClipboardItem item;
};

} // namespace

TEST_F(EditorMinimiseX11Test, TheShortcutBringsBackAMinimisedEditorAndItsPopup)
{
    minimiseEditor();
    // The shortcut, the tray and `lumra` all ask the open popup to close.
    EXPECT_FALSE(panel->close());
    EXPECT_TRUE(QTest::qWaitFor([&] { return onScreen(panel) && onScreen(editor); }, 5000))
        << "popup " << wmState(panel) << ", editor " << wmState(editor);
    EXPECT_TRUE(QTest::qWaitForWindowActive(editor, 5000)) << "the editor takes the keys again";
    test::saveArtifact(*editor, QStringLiteral("editor-tags-back-from-minimised"));

    // The editor ends the hold; the popup has the keys and the next shortcut closes it.
    editor->reject();
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel, 5000));
    EXPECT_EQ(panel->holdCount(), 0);
    EXPECT_TRUE(panel->close());
}

TEST_F(EditorMinimiseX11Test, AnEditorRestoredByTheUserAndCancelledLeavesThePopupOnScreen)
{
    minimiseEditor();
    // Restored from the window manager's own window list, as a pager asks.
    askWindowManager(editor, "_NET_ACTIVE_WINDOW", 2);
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor, 5000));

    editor->reject();
    EXPECT_TRUE(QTest::qWaitFor([&] { return onScreen(panel); }, 5000)) << "popup " << wmState(panel);
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel, 5000));
    // So the next shortcut closes a popup the user sees, rather than one that was off screen.
    EXPECT_TRUE(panel->close());
}

} // namespace lumra
