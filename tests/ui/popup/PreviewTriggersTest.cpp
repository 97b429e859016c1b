#include "ui/popup/PreviewTriggers.h"
#include "engine/HistoryFilter.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/Prompt.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/ItemMenuController.h"
#include "ui/popup/PopupKeyMonitor.h"
#include "ui/preview/PreviewCoordinator.h"

#include "app/ShellTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace lumra {
namespace {

class PreviewTriggersTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        manager = makeManager();
        manager->setClipboardItems({textItem("alpha"), textItem("beta")});
        panel = new PopupPanel(QSize(360, 520));
        view = new ContentView(*manager, nullptr);
        view->setPanel(panel);
        panel->setContentWidget(view);
        panel->present(QPoint(0, 0));
        processEvents();
        clock.advance(ContentView::focusDelay);
        triggers = view->findChild<PreviewTriggers*>();
    }
    void TearDown() override
    {
        coordinator().closePreviewAnimated();
        QTest::qWaitFor([&] { return !coordinator().panel(); }, 2000);
        delete panel;
    }
    static UnifiedPreviewCoordinator& coordinator() { return UnifiedPreviewCoordinator::shared(); }
    QLineEdit* field() const { return view->searchAreaHost()->findChild<QLineEdit*>(); }

    std::unique_ptr<ClipboardManager> manager;
    QPointer<PopupPanel> panel;
    ContentView* view = nullptr;
    PreviewTriggers* triggers = nullptr;
};

TEST_F(PreviewTriggersTest, SpaceOnTheChosenRowTogglesThePreviewTypingKeepsItASpace)
{
    ASSERT_TRUE(triggers);
    ASSERT_TRUE(triggers->keyMonitor());
    QTest::keyClick(field(), Qt::Key_Down);
    QTest::keyClick(field(), Qt::Key_Space);
    ASSERT_TRUE(coordinator().isPreviewVisible());
    EXPECT_EQ(coordinator().panel()->bridge().textContent->text, QStringLiteral("alpha"));
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_TRUE(panel->preventClose()); // held while the preview is up
    QTest::keyClick(field(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !coordinator().panel(); }, 2000));
    EXPECT_FALSE(panel->preventClose());

    QTest::keyClick(field(), Qt::Key_A);
    QTest::keyClick(field(), Qt::Key_Space);
    EXPECT_FALSE(coordinator().isPreviewVisible());
    EXPECT_EQ(field()->text(), QStringLiteral("a "));
}

// Keys typed at once after the preview was closed go, in order, to the search field, wherever the
// window system sends them while the preview fades out.
TEST_F(PreviewTriggersTest, KeysTypedRightAfterClosingThePreviewReachTheSearchInOrder)
{
    QTest::keyClick(field(), Qt::Key_Down);
    QTest::keyClick(field(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return coordinator().panel() && coordinator().panel()->isActiveWindow(); }, 5000));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow(), Qt::Key_Space);
    ASSERT_TRUE(coordinator().isAnimatingClose());
    for (const char letter : QByteArray("qwerty")) {
        QWidget* focused = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
        ASSERT_TRUE(focused);
        QTest::keyClick(focused, letter);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return field()->text() == QStringLiteral("qwerty"); }, 5000))
        << field()->text().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !coordinator().panel(); }, 5000));
    EXPECT_EQ(field()->text(), QStringLiteral("qwerty"));
}

TEST_F(PreviewTriggersTest, HoverOpensThePreviewOnlyWhileTheRowIsStillHovered)
{
    const QUuid alpha = manager->filters().filteredItemAt(0).id;
    const QUuid beta = manager->filters().filteredItemAt(1).id;
    view->viewState().setHoveredItemId(alpha);
    EXPECT_FALSE(triggers->isHoverTimerActive()); // the delay is 0: no hover preview
    manager->setPreviewHoverDelay(1);
    view->viewState().setHoveredItemId(beta);
    EXPECT_TRUE(triggers->isHoverTimerActive());
    view->viewState().setHoveredItemId(std::nullopt);
    EXPECT_FALSE(triggers->isHoverTimerActive());

    triggers->showHoverPreviewIfStillHovered(beta); // the mouse has left: nothing
    EXPECT_FALSE(coordinator().isPreviewVisible());
    view->viewState().setHoveredItemId(beta);
    triggers->showHoverPreviewIfStillHovered(beta);
    ASSERT_TRUE(coordinator().isPreviewVisible());
    EXPECT_EQ(coordinator().panel()->bridge().textContent->text, QStringLiteral("beta"));
}

TEST_F(PreviewTriggersTest, TheItemMenuOffersThePreview)
{
    auto* menus = new ItemMenuController(*view);
    const QUuid beta = manager->filters().filteredItemAt(1).id;
    const ItemMenuModel menu = menus->menuFor({beta});
    const ItemMenuEntry* entry = menu.find(ItemMenuAction::preview);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->label, previewEntryLabel(PreviewShortcut::spaceBar));
    menus->actions().run(menu, *entry);
    ASSERT_TRUE(coordinator().isPreviewVisible());
    EXPECT_EQ(coordinator().panel()->bridge().textContent->text, QStringLiteral("beta"));
}

TEST_F(PreviewTriggersTest, DeleteWithTwoSelectedRowsAsksToDeleteThem)
{
    ScriptedPromptService prompts;
    prompts.defaultAnswer = 1; // "Cancel"
    PromptService::setShared(&prompts);
    new ItemMenuController(*view);
    QTest::keyClick(field(), Qt::Key_B);
    QTest::keyClick(field(), Qt::Key_Backspace); // one row or none selected: the field erases
    EXPECT_TRUE(field()->text().isEmpty());
    view->viewState().setSelectedIds({manager->filters().filteredItemAt(0).id, manager->filters().filteredItemAt(1).id});
    QTest::keyClick(field(), Qt::Key_Backspace);
    QTest::qWait(20);
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(manager->filters().filteredItemCount(), 2);
    PromptService::setShared(nullptr);
}

} // namespace
} // namespace lumra
