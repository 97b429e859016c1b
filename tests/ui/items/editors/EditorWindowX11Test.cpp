// Editor windows over the popup on a real X server: transient for it, the keys go where the popup
// cannot take them, and a chord another program holds is still heard while recording.
#include "ui/items/editors/EditorWindows.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/items/editors/ShortcutEditorWindow.h"
#include "ui/items/ShortcutRecorder.h"
#include "platform/keys/X11GlobalHotKeys.h"

#include "app/ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <X11/Xlib.h>
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
