// What the footer shows for the settings, how the wheel moves the category strip, and the pause
// durations with their end.
#include "ui/items/CategoryBar.h"
#include "engine/HistoryFilter.h"
#include "ui/items/CategoryPill.h"
#include "ui/items/HorizontalWheelScrollArea.h"
#include "ui/items/PauseButton.h"
#include "ui/popup/PopupFooter.h"

#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMenu>

namespace lumra {
namespace {

using Kind = FooterButton::Kind;

TEST(WheelScrollTest, OneStepMovesThirtyPointsWithinTheRowsEnds)
{
    struct Case {
        int offset;
        double dx, dy;
        int content, visible;
        std::optional<int> expected;
    };
    const QList<Case> cases = {
        {100, 0, 1, 500, 200, 70},          // a positive step goes towards the start
        {100, 0, -3, 500, 200, 190},        // three steps towards the end
        {290, 0, -1, 500, 200, 300},        // clamped at the end
        {0, 0, 1, 500, 200, std::nullopt},  // already at the start: the event goes on
        {300, 0, -1, 500, 200, std::nullopt},
        {0, 0, -1, 150, 200, std::nullopt}, // a row narrower than the strip never moves
        {100, -2, 1, 500, 200, 160},        // the larger delta wins
        {100, 1, 1, 500, 200, 70},          // a tie takes the horizontal one
        {100, 0, 0, 500, 200, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wheelScrollTarget(c.offset, c.dx, c.dy, c.content, c.visible), c.expected) << c.offset << " " << c.dy;
}

class FooterFactsTest : public test::EngineTest {};

TEST_F(FooterFactsTest, ControlsFollowTheDisplaySettingsAndFilters)
{
    auto manager = start();
    const auto kinds = [&] {
        QList<Kind> k;
        for (const FooterButton& b : footerButtons(*manager))
            k << b.kind;
        return k;
    };
    // The registered defaults: gear, star, images, links, text, e-mail, pause, "Quit" (no categories yet).
    EXPECT_EQ(kinds(), QList<Kind>({Kind::settings, Kind::starFilter, Kind::typeFilter, Kind::typeFilter, Kind::typeFilter,
                                    Kind::typeFilter, Kind::pause, Kind::quit}));

    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QStringLiteral("Work"), QStringLiteral("folder.fill"), false, 0}).ok());
    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QStringLiteral("Hidden"), QStringLiteral("folder.fill"), true, 1}).ok());
    EXPECT_EQ(footerCategories(*manager).size(), 1);
    EXPECT_TRUE(kinds().contains(Kind::categories));
    manager->setShowCategoriesInFooter(false);
    EXPECT_TRUE(footerCategories(*manager).isEmpty());

    manager->filters().setTypeFilterOption(TypeFilterOption::links);
    manager->filters().setShowStarredOnly(true);
    for (const FooterButton& b : footerButtons(*manager)) {
        if (b.kind == Kind::starFilter)
            EXPECT_EQ(b.symbol, QStringLiteral("star.fill"));
        if (b.kind == Kind::typeFilter)
            EXPECT_EQ(b.active, b.type == TypeFilterOption::links) << b.toolTip.toStdString();
    }

    for (auto setter : {&ClipboardManager::setShowSettingsIcon, &ClipboardManager::setShowStarFilterIcon,
                        &ClipboardManager::setShowImageFilterIcon, &ClipboardManager::setShowLinkFilterIcon,
                        &ClipboardManager::setShowTextFilterIcon, &ClipboardManager::setShowEmailFilterIcon,
                        &ClipboardManager::setShowPauseButton, &ClipboardManager::setShowQuitButton})
        (manager.get()->*setter)(false);
    EXPECT_TRUE(footerButtons(*manager).isEmpty());
    manager->setShowCommandFilterIcon(true);
    EXPECT_EQ(footerButtons(*manager).size(), 1);
}

class CategoryStripTest : public test::EngineTest {};

TEST_F(CategoryStripTest, ChipsShowAtOnceWhenCategoriesChangeWhileTheFooterIsOpen)
{
    auto manager = start();
    const QUuid work = QUuid::createUuid();
    ASSERT_TRUE(manager->addCategory({work, QStringLiteral("Work"), QStringLiteral("folder.fill"), false, 0}).ok());
    PopupFooter footer(*manager);
    footer.resize(420, footer.sizeHint().height());
    footer.show();
    QCoreApplication::processEvents();
    CategoryBar* bar = footer.categoryBar();
    const auto shownNames = [&] {
        QStringList names;
        for (CategoryPill* pill : bar->pills())
            if (pill->isVisibleTo(&footer) && pill->isVisible() && !pill->geometry().isEmpty())
                names << pill->category().name;
        return names;
    };
    ASSERT_EQ(shownNames(), QStringList{QStringLiteral("Work")});

    ASSERT_TRUE(manager->addCategory({QUuid::createUuid(), QStringLiteral("Home"), QStringLiteral("house.fill"), false, 1}).ok());
    QCoreApplication::processEvents();
    EXPECT_EQ(shownNames(), QStringList({QStringLiteral("Work"), QStringLiteral("Home")}));
    EXPECT_GT(bar->scrollArea()->height(), 0);

    ClipboardCategory renamed = manager->categories().first();
    renamed.name = QStringLiteral("Office");
    ASSERT_TRUE(manager->updateCategory(renamed).ok());
    QCoreApplication::processEvents();
    EXPECT_EQ(shownNames(), QStringList({QStringLiteral("Office"), QStringLiteral("Home")}));

    ASSERT_TRUE(manager->deleteCategory(work, false).ok());
    QCoreApplication::processEvents();
    EXPECT_EQ(shownNames(), QStringList{QStringLiteral("Home")});
    EXPECT_GT(bar->scrollArea()->height(), 0);
}

TEST(PauseDurationsTest, DurationsAndStatusTexts)
{
    QStringList labels;
    QList<std::optional<int>> minutes;
    for (const PauseDuration& d : pauseDurations()) {
        labels << d.label;
        minutes << d.minutes;
    }
    EXPECT_EQ(labels, QStringList({"5 minutes", "10 minutes", "20 minutes", "1 hour", "Permanently"}));
    EXPECT_EQ(minutes, QList<std::optional<int>>({5, 10, 20, 60, std::nullopt}));
    EXPECT_EQ(pauseStatusText(std::nullopt), QStringLiteral("Paused \u2014 click to resume"));
    const QDateTime at(QDate(2026, 3, 1), QTime(15, 10), Qt::UTC);
    EXPECT_EQ(pauseStatusText(at, QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("Paused until 15:10 \u2014 click to resume"));
}

class PauseEndTest : public test::EngineTest {};

TEST_F(PauseEndTest, ATimedPauseEndsByItselfAndTheButtonFollows)
{
    auto manager = start();
    PauseButton button(*manager);
    QMenu* menu = button.makeDurationMenu(&button);
    QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 6); // the header, then the durations
    actions[1]->trigger();        // "5 minutes"
    EXPECT_TRUE(manager->isPaused());
    EXPECT_EQ(manager->pauseResumeDate(), clock.now().addSecs(5 * 60));
    EXPECT_TRUE(button.toolTip().startsWith(QStringLiteral("Paused until ")));

    clock.advance(std::chrono::minutes(5));
    EXPECT_FALSE(manager->isPaused());
    EXPECT_EQ(button.toolTip(), QStringLiteral("Pause clipboard monitoring"));

    actions[5]->trigger(); // "Permanently"
    clock.advance(std::chrono::hours(24));
    EXPECT_TRUE(manager->isPaused());
    EXPECT_EQ(button.toolTip(), QStringLiteral("Paused \u2014 click to resume"));
    button.click(); // resumes at once
    EXPECT_FALSE(manager->isPaused());
}

} // namespace
} // namespace lumra
