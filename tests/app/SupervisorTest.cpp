#include "app/Supervisor.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

using namespace std::chrono_literals;

// A Lumra that keeps ending with its compositor is started again a few times, then let go; once
// the window has passed since the oldest start, it may be started again.
TEST(SupervisorTest, TheRestartBudgetEndsACrashLoopAndRefillsAsTimePasses)
{
    Supervisor::RestartBudget budget(5, 5min);
    const auto start = std::chrono::steady_clock::time_point() + 1h;
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(budget.take(start + i * 10s)) << i;
    EXPECT_FALSE(budget.take(start + 60s));
    EXPECT_FALSE(budget.take(start + 5min - 1s)); // a refusal is not counted, nor does it wait
    EXPECT_TRUE(budget.take(start + 5min));
    EXPECT_FALSE(budget.take(start + 5min + 5s));
    EXPECT_TRUE(budget.take(start + 5min + 10s));
}

} // namespace
} // namespace lumra
