// Editor windows over the popup on a real X server: transient for it, and the keys go where the
// popup cannot take them.
#include "ui/items/editors/EditorWindows.h"
#include "ui/items/editors/ItemEditors.h"

#include "app/ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QWindow>

#include <X11/Xlib.h>

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

} // namespace lumra
