#include "ui/popup/ListWindow.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

TEST(ListWindowTest, OnlyOfferedBatchSizesAreUsed)
{
    for (int offered : offeredBatchSizes)
        EXPECT_EQ(effectiveBatchSize(offered), offered);
    for (qint64 odd : {qint64(0), qint64(-5), qint64(1), qint64(49), qint64(10000), qint64(1) << 40})
        EXPECT_EQ(effectiveBatchSize(odd), defaultBatchSize) << odd;
}

TEST(ListWindowTest, TheShownSliceIsClampedToTheList)
{
    struct Case {
        ListWindow window;
        int count;
        int lower;
        int upper;
    };
    for (const Case& c : {Case{{0, 50}, 30, 0, 30}, Case{{-4, 10}, 30, 0, 10}, Case{{40, 60}, 30, 30, 30},
                          Case{{20, 5}, 30, 20, 20}, Case{{0, 0}, 30, 0, 0}}) {
        const ListWindow::Range r = c.window.visible(c.count);
        EXPECT_EQ(r.lower, c.lower);
        EXPECT_EQ(r.upper, c.upper);
    }
}

TEST(ListWindowTest, PagingGrowsByOneBatchWithinTheList)
{
    EXPECT_EQ(ListWindow::first(30, 50), (ListWindow{0, 30}));
    EXPECT_EQ(ListWindow::first(500, 50), (ListWindow{0, 50}));
    EXPECT_EQ(ListWindow::first(500, 50).grownDown(500, 25), (ListWindow{0, 75}));
    EXPECT_EQ((ListWindow{0, 480}).grownDown(500, 50), (ListWindow{0, 500}));
    EXPECT_EQ((ListWindow{30, 80}).grownUp(50), (ListWindow{0, 80}));
    // Around an item: never fewer than 50 rows each side.
    EXPECT_EQ(ListWindow::around(10, 300, 25), (ListWindow{0, 61}));
    EXPECT_EQ(ListWindow::around(500, 550, 100), (ListWindow{400, 550}));
}

TEST(ListWindowTest, ArrowKeysStopAtBothEndsOfTheShownRows)
{
    const auto down = MoveDirection::down;
    const auto up = MoveDirection::up;
    EXPECT_EQ(keyboardMove(0, std::nullopt, std::nullopt, down), std::nullopt);
    EXPECT_EQ(keyboardMove(5, std::nullopt, std::nullopt, down), 0);
    EXPECT_EQ(keyboardMove(5, std::nullopt, std::nullopt, up), 4);
    EXPECT_EQ(keyboardMove(5, 2, std::nullopt, down), 3);
    EXPECT_EQ(keyboardMove(5, 4, std::nullopt, down), 4);
    EXPECT_EQ(keyboardMove(5, 0, std::nullopt, up), 0);
    // From the hovered row; at an end the hovered row itself.
    EXPECT_EQ(keyboardMove(5, std::nullopt, 1, down), 2);
    EXPECT_EQ(keyboardMove(5, std::nullopt, 4, down), 4);
    EXPECT_EQ(keyboardMove(5, std::nullopt, 0, up), 0);
    // The keyboard row wins over the hovered one; a row outside the shown ones counts as none.
    EXPECT_EQ(keyboardMove(5, 1, 3, down), 2);
    EXPECT_EQ(keyboardMove(5, 9, std::nullopt, down), 0);
}

} // namespace
} // namespace lumra
