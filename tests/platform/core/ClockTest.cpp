#include "platform/core/Clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace std::chrono_literals;
using lumra::ManualClock;

TEST(ManualClock, FiresDueTimersInDeadlineOrderAndMovesTimeToEachDeadline)
{
    ManualClock clock;
    const QDateTime start = clock.now();
    std::vector<std::pair<int, qint64>> fired;
    auto late = clock.start(300ms, false, [&] { fired.emplace_back(2, start.msecsTo(clock.now())); });
    auto early = clock.start(120ms, false, [&] { fired.emplace_back(1, start.msecsTo(clock.now())); });

    clock.advance(100ms);
    EXPECT_TRUE(fired.empty());
    clock.advance(500ms);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0], std::make_pair(1, qint64(120)));
    EXPECT_EQ(fired[1], std::make_pair(2, qint64(300)));
    EXPECT_EQ(start.msecsTo(clock.now()), 600);
}

TEST(ManualClock, RepeatingTimerFiresOncePerIntervalUntilStopped)
{
    ManualClock clock;
    int ticks = 0;
    auto timer = clock.start(500ms, true, [&] { ++ticks; });
    clock.advance(1600ms);
    EXPECT_EQ(ticks, 3);
    timer->stop();
    clock.advance(5s);
    EXPECT_EQ(ticks, 3);
}

TEST(ManualClock, DestroyingTheHandleCancelsTheTimer)
{
    ManualClock clock;
    bool fired = false;
    clock.start(10ms, false, [&] { fired = true; }); // handle dropped at once
    clock.advance(1s);
    EXPECT_FALSE(fired);
}

TEST(ManualClock, AfterIsDroppedWhenItsContextIsGone)
{
    ManualClock clock;
    int calls = 0;
    auto* context = new QObject;
    clock.after(50ms, context, [&] { ++calls; });
    QObject alive;
    clock.after(50ms, &alive, [&] { calls += 10; });
    delete context;
    clock.advance(100ms);
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(clock.pendingTimers(), 0);
}

// A call still pending when its context goes (at quit, say) is let go with everything it holds,
// not kept until a time that never comes.
TEST(ManualClock, APendingAfterGoesWithItsContext)
{
    ManualClock clock;
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    auto* context = new QObject;
    clock.after(1h, context, [held] { ++*held; });
    held.reset();
    ASSERT_FALSE(watch.expired());
    delete context;
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(clock.pendingTimers(), 0);
}

TEST(ManualClock, TimerStartedFromACallbackFiresInTheSameAdvanceWhenDue)
{
    ManualClock clock;
    std::unique_ptr<lumra::Timer> second;
    bool secondFired = false;
    auto first = clock.start(100ms, false, [&] { second = clock.start(100ms, false, [&] { secondFired = true; }); });
    clock.advance(250ms);
    EXPECT_TRUE(secondFired);
}

TEST(ManualClock, TimersLongerThanAPlatformTimerHoldsFireOnTheirDate)
{
    ManualClock clock;
    const QDateTime start = clock.now();
    const auto thirtyDays = std::chrono::milliseconds(30ll * 24 * 3600 * 1000);
    std::vector<QDateTime> oneShot, repeating;
    auto once = clock.start(thirtyDays, false, [&] { oneShot.push_back(clock.now()); });
    auto every = clock.start(thirtyDays * 2, true, [&] { repeating.push_back(clock.now()); });

    clock.advance(thirtyDays - 1ms);
    EXPECT_TRUE(oneShot.empty()) << "fired early";
    clock.advance(thirtyDays * 4);
    ASSERT_EQ(oneShot.size(), 1u);
    EXPECT_EQ(oneShot[0], start.addMSecs(thirtyDays.count()));
    ASSERT_EQ(repeating.size(), 2u);
    EXPECT_EQ(repeating[1], start.addMSecs(thirtyDays.count() * 4));
    EXPECT_FALSE(once->isActive());
    EXPECT_TRUE(every->isActive());
}

TEST(ManualClock, AStepBackKeepsTimersOnTimeAsPlatformTimersAre)
{
    ManualClock clock;
    std::vector<QDateTime> ticks;
    auto every = clock.start(5s, true, [&] { ticks.push_back(clock.now()); });
    clock.advance(2s);
    const QDateTime back = clock.now().addDays(-2);
    clock.setNow(back);
    clock.advance(9s);
    ASSERT_EQ(ticks.size(), 2u) << "due three and eight seconds on, whatever the wall clock says";
    EXPECT_EQ(ticks[0], back.addSecs(3));
    EXPECT_EQ(ticks[1], back.addSecs(8));
}

TEST(ManualClock, AJumpFiresWhatItLeftOverdueOnceWithoutTurningTimeBack)
{
    ManualClock clock;
    const QDateTime start = clock.now();
    std::vector<QDateTime> ticks, once;
    auto every = clock.start(500ms, true, [&] { ticks.push_back(clock.now()); });
    auto single = clock.start(2s, false, [&] { once.push_back(clock.now()); });

    const QDateTime later = start.addDays(120);
    clock.setNow(later);
    EXPECT_TRUE(ticks.empty()) << "a jump alone fires nothing";
    clock.advance(1200ms);
    // Once for the months it missed, then on its interval from there.
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_EQ(ticks[0], later);
    EXPECT_EQ(ticks[1], later.addMSecs(500));
    EXPECT_EQ(ticks[2], later.addMSecs(1000));
    ASSERT_EQ(once.size(), 1u);
    EXPECT_EQ(once[0], later);
    EXPECT_EQ(clock.now(), later.addMSecs(1200));
}
