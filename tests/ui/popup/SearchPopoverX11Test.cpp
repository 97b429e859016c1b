#include "ui/shell/PopupPanel.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/SearchBar.h"

#include "app/ShellTestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace lumra {
namespace {

// Real key presses through the X server, with a window manager deciding focus: a popover from the
// bar must take the keys, leave the panel open and give them back to the field.
class SearchPopoverX11Test : public test::ShellTest {
protected:
    static void keys(const QStringList& args)
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), args);
        xdotool.waitForFinished(5000);
        QTest::qWait(400);
    }
};

TEST_F(SearchPopoverX11Test, KeyboardChoicesKeepThePanelAndTheirFilters)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "needs openbox and xdotool";
    QProcess windowManager;
    windowManager.start(QStringLiteral("openbox"), {});
    QTest::qWait(800);

    auto manager = makeManager();
    manager->setClipboardItems({textItem("alpha"), textItem("https://example.com"), textItem("beta")});
    auto* panel = new PopupPanel(QSize(380, 480));
    auto* view = new ContentView(*manager, nullptr);
    view->setPanel(panel);
    panel->setContentWidget(view);
    panel->present(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel, 5000));
    clock.advance(ContentView::focusDelay);
    auto* bar = view->searchAreaHost()->findChild<SearchBar*>();
    ASSERT_TRUE(bar);

    keys({"type", "--delay", "40", "/type"});
    ASSERT_EQ(bar->openPopoverKind(), FilterPopover::type);
    keys({"key", "Down", "Down", "Return"});
    EXPECT_EQ(manager->typeFilterOption(), TypeFilterOption::links);
    EXPECT_EQ(bar->openPopoverKind(), std::nullopt);
    keys({"type", "--delay", "40", "ex"});
    EXPECT_EQ(manager->searchText(), QStringLiteral("ex"));

    // "Custom" opens the range; Escape leaves the custom period in force.
    view->viewState().setShowDateFilterPicker(true);
    keys({"key", "Down", "Down", "Down", "Down", "Down", "Down", "Return"});
    QTest::qWait(400);
    EXPECT_EQ(bar->openPopoverKind(), FilterPopover::customDate);
    keys({"key", "Escape"});
    EXPECT_EQ(bar->openPopoverKind(), std::nullopt);
    EXPECT_EQ(manager->dateFilterOption(), DateFilterOption::custom);
    EXPECT_EQ(manager->typeFilterOption(), TypeFilterOption::links);
    EXPECT_FALSE(panel->isClosed());

    delete panel;
    windowManager.terminate();
    windowManager.waitForFinished(5000);
}

} // namespace
} // namespace lumra
