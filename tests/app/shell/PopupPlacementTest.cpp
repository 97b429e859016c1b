#include "ui/shell/PopupPlacement.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumra {
namespace {

using namespace PopupPlacement;

// A 1920x1080 screen with a 32 px panel along its top, and a 1280x1024 screen to its right.
const ScreenArea left{QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048)};
const ScreenArea right{QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)};
const QList<ScreenArea> twoScreens{left, right};
const QSize frame(400, 500);

QRect placed(QPoint origin) { return QRect(origin, frame); }

TEST(PopupPlacementTest, StoredSizeBelowMinimumFallsBackToDefault)
{
    struct Row { double width, height; QSize expected; };
    const Row rows[] = {
        {279.9, 621, {320, 621}},
        {280, 300, {280, 300}},
        {551, 299, {551, 460}},
        {0, 0, {320, 460}},
        {std::nan(""), 1e12, {320, 1400}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(contentSize(row.width, row.height), row.expected) << row.width << "x" << row.height;
}

TEST(PopupPlacementTest, CentreUsesThePointersScreenAvailableArea)
{
    EXPECT_EQ(forHotKey("center", frame, {100, 100}, std::nullopt, twoScreens),
              QPoint((1920 - 400) / 2, 32 + (1048 - 500) / 2));
    EXPECT_EQ(forHotKey("center", frame, {2500, 900}, std::nullopt, twoScreens),
              QPoint(1920 + (1280 - 400) / 2, (1024 - 500) / 2));
}

TEST(PopupPlacementTest, LastPositionOnAScreenIsUsedAsStored)
{
    EXPECT_EQ(forHotKey("lastPosition", frame, {2500, 500}, QPoint(0, 250), twoScreens), QPoint(0, 250));
    EXPECT_EQ(forHotKey("lastPosition", frame, {0, 0}, QPoint(2000, 100), twoScreens), QPoint(2000, 100));
}

TEST(PopupPlacementTest, MissingLastPositionCentres)
{
    const QPoint centred = forHotKey("center", frame, {100, 100}, std::nullopt, twoScreens);
    EXPECT_EQ(forHotKey("lastPosition", frame, {100, 100}, QPoint(0, 0), twoScreens), centred);
    EXPECT_EQ(forHotKey("lastPosition", frame, {100, 100}, std::nullopt, twoScreens), centred);
}

TEST(PopupPlacementTest, LastPositionOnNoScreenCentresOnThePointersScreen)
{
    // The right-hand screen was unplugged since the popup closed on it.
    const QPoint origin = forHotKey("lastPosition", frame, {300, 300}, QPoint(2200, 300), {left});
    EXPECT_EQ(origin, QPoint((1920 - 400) / 2, 32 + (1048 - 500) / 2));
    EXPECT_TRUE(left.available.contains(placed(origin)));
}

TEST(PopupPlacementTest, LastPositionPartlyOffScreenIsPulledBackIn)
{
    const QPoint origin = forHotKey("lastPosition", frame, {0, 0}, QPoint(1800, 900), {left});
    EXPECT_TRUE(left.available.contains(placed(origin)));
    EXPECT_EQ(origin, QPoint(1920 - 400, 1080 - 500));
}

TEST(PopupPlacementTest, PointerRuleKeepsThePanelInsideThePointersScreen)
{
    struct Row { QPoint pointer; QPoint expected; };
    const Row rows[] = {
        {{100, 100}, {100, 100}},                      // top-left corner at the pointer
        {{1900, 1070}, {1920 - 400, 1080 - 500}},      // near the bottom-right corner: left and up
        {{100, 5}, {100, 32}},                          // over the top panel: below it
        {{3190, 1000}, {3200 - 400, 1024 - 500}},      // second screen
    };
    for (const Row& row : rows) {
        const QPoint origin = forHotKey("mouse", frame, row.pointer, std::nullopt, twoScreens);
        EXPECT_EQ(origin, row.expected) << row.pointer.x() << "," << row.pointer.y();
    }
}

TEST(PopupPlacementTest, PointerOutsideEveryScreenUsesThePrimary)
{
    const QPoint origin = forHotKey("mouse", frame, {-500, 5000}, std::nullopt, twoScreens);
    EXPECT_TRUE(left.available.contains(placed(origin)));
}

TEST(PopupPlacementTest, PanelLargerThanTheScreenKeepsItsTopVisible)
{
    const ScreenArea small{QRect(0, 0, 300, 400), QRect(0, 20, 300, 380)};
    EXPECT_EQ(clampInto(QRect(QPoint(50, 50), frame), small.available), QPoint(300 - 400, 20));
}

TEST(PopupPlacementTest, APopupTallerThanItsScreenIsFittedToTheAvailableArea)
{
    // A 1920x1080 monitor at 200 % (960x540 with a 30 px panel) beside a tall one, and a netbook.
    const ScreenArea scaled{QRect(0, 0, 960, 540), QRect(0, 30, 960, 510)};
    const ScreenArea tall{QRect(960, 0, 1200, 1920), QRect(960, 0, 1200, 1920)};
    const ScreenArea netbook{QRect(0, 0, 1024, 600), QRect(0, 0, 1024, 576)};
    const QSize stored(551, 621);
    struct Case {
        const char* position;
        QPoint pointer;
        QList<ScreenArea> screens;
        QSize size;
        QRect within;
    };
    const Case cases[] = {
        {"center", {100, 100}, {scaled, tall}, {551, 510}, scaled.available},
        {"mouse", {900, 500}, {scaled, tall}, {551, 510}, scaled.available},
        {"mouse", {1000, 1500}, {scaled, tall}, stored, tall.available}, // room enough: kept
        {"center", {10, 10}, {netbook}, {551, 576}, netbook.available},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        const Fitted fitted = fitOnScreen(stored, [&](QSize frame) {
            return forHotKey(c.position, frame, c.pointer, std::nullopt, c.screens);
        }, c.screens);
        EXPECT_EQ(fitted.size, c.size);
        EXPECT_TRUE(c.within.contains(QRect(fitted.origin, fitted.size))) << "the footer stays on screen";
    }

    // The tray road on the short screen, and a screen narrower than the popup too.
    const Fitted tray = fitOnScreen(stored, [&](QSize frame) {
        return besideAnchor(QRect(900, 5, 20, 20), frame, {905, 10}, {scaled, tall});
    }, {scaled, tall});
    EXPECT_TRUE(scaled.available.contains(QRect(tray.origin, tray.size)));
    const ScreenArea narrow{QRect(0, 0, 400, 500), QRect(0, 0, 400, 500)};
    EXPECT_EQ(fitOnScreen(stored, [&](QSize frame) { return forHotKey("center", frame, {}, std::nullopt, {narrow}); },
                          {narrow}).size,
              QSize(400, 500));
}

TEST(PopupPlacementTest, NoScreenAtAllLeavesThePointer)
{
    EXPECT_EQ(forHotKey("mouse", frame, {10, 20}, std::nullopt, {}), QPoint(10, 20));
    EXPECT_EQ(forHotKey("center", frame, {10, 20}, std::nullopt, {}), QPoint(10, 20));
}

TEST(PopupPlacementTest, TrayRoadOpensOnTheSideWithRoom)
{
    const ScreenArea screen{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
    const ScreenArea topPanel{screen.geometry, QRect(0, 32, 1920, 1048)};
    const ScreenArea bottomPanel{screen.geometry, QRect(0, 0, 1920, 1040)};
    const ScreenArea leftPanel{screen.geometry, QRect(48, 0, 1872, 1080)};
    const ScreenArea rightPanel{screen.geometry, QRect(0, 0, 1872, 1080)};
    struct Row { const char* name; ScreenArea screen; QRect icon; QPoint expected; };
    const Row rows[] = {
        {"top", topPanel, QRect(1000, 4, 24, 24), {1011 - 200, 32}},
        {"top right corner", topPanel, QRect(1890, 4, 24, 24), {1920 - 400, 32}},
        {"bottom", bottomPanel, QRect(1000, 1050, 24, 24), {1011 - 200, 1040 - 500}},
        {"left", leftPanel, QRect(12, 300, 24, 24), {48, 300}},
        {"left, low", leftPanel, QRect(12, 1040, 24, 24), {48, 1080 - 500}},
        {"right", rightPanel, QRect(1884, 300, 24, 24), {1872 - 400, 300}},
    };
    for (const Row& row : rows) {
        const QPoint origin = besideAnchor(row.icon, frame, {0, 0}, {row.screen});
        EXPECT_EQ(origin, row.expected) << row.name;
        EXPECT_TRUE(row.screen.available.contains(placed(origin))) << row.name;
        EXPECT_FALSE(placed(origin).intersects(row.icon)) << row.name;
    }
}

TEST(PopupPlacementTest, TrayWithoutGeometryUsesThePointer)
{
    const QPoint origin = besideAnchor(QRect(), frame, {2500, 3}, twoScreens);
    EXPECT_EQ(origin, QPoint(2500 - 200, 4));
    EXPECT_TRUE(right.available.contains(placed(origin)));
}

TEST(PopupPlacementTest, TrayOnTheSecondScreenStaysOnIt)
{
    const QPoint origin = besideAnchor(QRect(3180, 1000, 16, 16), frame, {0, 0}, twoScreens);
    EXPECT_TRUE(right.available.contains(placed(origin)));
    EXPECT_EQ(origin, QPoint(3180 - 400, 1024 - 500));
}

} // namespace
} // namespace lumra
