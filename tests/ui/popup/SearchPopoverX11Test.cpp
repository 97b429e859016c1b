#include "ui/shell/PopupPanel.h"
#include "engine/HistoryFilter.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/SearchBar.h"

#include "app/ShellTestSupport.h"
#include "WindowManager.h"

#include <QPointer>
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
    }
    // The keys reach the window through the X server: what they do shows a moment later.
    static bool shows(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 10000); }

    void SetUp() override
    {
        if (!test::WindowManager::installed() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "needs openbox and xdotool";
        ASSERT_TRUE(windowManager.start());
        manager = makeManager();
        manager->setClipboardItems({textItem("alpha"), textItem("https://example.com"), textItem("beta")});
        // The panel deletes itself when it closes: a fault here must fail the test, not crash it.
        panel = new PopupPanel(QSize(380, 480));
        view = new ContentView(*manager, nullptr);
        view->setPanel(panel);
        panel->setContentWidget(view);
        panel->present(QPoint(100, 100));
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel, 5000));
        clock.advance(ContentView::focusDelay);
    }
    void TearDown() override { delete panel.data(); }

    test::WindowManager windowManager;
    std::unique_ptr<ClipboardManager> manager;
    QPointer<PopupPanel> panel;
    ContentView* view = nullptr;
};

TEST_F(SearchPopoverX11Test, KeyboardChoicesKeepThePanelAndTheirFilters)
{
    QPointer<SearchBar> bar = view->searchAreaHost()->findChild<SearchBar*>();
    ASSERT_TRUE(bar);

    keys({"type", "--delay", "40", "/type"});
    ASSERT_TRUE(shows([&] { return bar && bar->openPopoverKind() == FilterPopover::type; }));
    keys({"key", "Down", "Down", "Return"});
    EXPECT_TRUE(shows([&] { return manager->filters().typeFilterOption() == TypeFilterOption::links; }));
    EXPECT_TRUE(shows([&] { return bar && bar->openPopoverKind() == std::nullopt; }));
    keys({"type", "--delay", "40", "ex"});
    EXPECT_TRUE(shows([&] { return manager->filters().searchText() == QStringLiteral("ex"); })) << manager->filters().searchText().toStdString();

    // "Custom" opens the range; Escape leaves the custom period in force.
    ASSERT_TRUE(panel) << "the panel closed";
    view->viewState().setShowDateFilterPicker(true);
    ASSERT_TRUE(shows([&] { return bar && bar->openPopoverKind() == FilterPopover::date; }));
    keys({"key", "Down", "Down", "Down", "Down", "Down", "Down", "Return"});
    EXPECT_TRUE(shows([&] { return bar && bar->openPopoverKind() == FilterPopover::customDate; }));
    keys({"key", "Escape"});
    EXPECT_TRUE(shows([&] { return bar && bar->openPopoverKind() == std::nullopt; }));
    EXPECT_EQ(manager->filters().dateFilterOption(), DateFilterOption::custom);
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::links);
    ASSERT_TRUE(panel);
    EXPECT_FALSE(panel->isClosed());
    delete panel.data();
}

TEST_F(SearchPopoverX11Test, AnAltDragMoveKeepsThePopupItsSearchAndItsFilters)
{
    manager->filters().setTypeFilterOption(TypeFilterOption::text);
    keys({"type", "--delay", "40", "alp"});
    ASSERT_TRUE(shows([&] { return manager->filters().searchText() == QStringLiteral("alp"); }));

    // openbox moves a window dragged with Alt held, and holds the keyboard while it does.
    const QPoint start = panel->pos();
    const QPoint grab = panel->mapToGlobal(QPoint(panel->width() / 2, panel->height() / 2));
    keys({"mousemove", QString::number(grab.x()), QString::number(grab.y())});
    keys({"keydown", "alt", "mousedown", "1"});
    for (int step = 1; step <= 6; ++step)
        keys({"mousemove", QString::number(grab.x() + 15 * step), QString::number(grab.y() + 10 * step)});
    // A person's drag lasts longer than Qt waits for the focus to come back.
    QTest::qWait(1000);
    keys({"mouseup", "1", "keyup", "alt"});
    ASSERT_TRUE(shows([&] { return !panel || panel->pos() != start; })) << "the window manager did not move it";
    QTest::qWait(300);
    ASSERT_TRUE(panel && !panel->isClosed()) << "a move is not the user leaving";
    EXPECT_TRUE(shows([&] { return panel->isActiveWindow(); }));
    EXPECT_EQ(manager->filters().searchText(), QStringLiteral("alp")) << "a move is no new opening";
    EXPECT_EQ(manager->filters().typeFilterOption(), TypeFilterOption::text);

    // Going to another window still closes it.
    QWidget other;
    other.setWindowTitle(QStringLiteral("another window"));
    other.show();
    other.activateWindow();
    EXPECT_TRUE(shows([&] { return !panel || panel->isClosed(); }));
}

} // namespace
} // namespace lumra
