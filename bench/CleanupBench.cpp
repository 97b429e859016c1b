// The Cleanup page at 100,000 items: counting a clear when its prompt opens, the live count as a
// box is ticked, and clearing everything, with the longest stretch the main thread is held.
#include "ui/settings/CleanupTables.h"

#include "BenchEngine.h"
#include "BenchSize.h"
#include "../tests/support/PendingCaptures.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>

using namespace lumra;

namespace {

// Runs the event loop until `done`, noting the longest gap between two turns of a 1 ms timer:
// how long the main thread was held at a stretch.
qint64 longestHoldUntil(const std::function<bool()>& done)
{
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
    });
    sinceTick.start();
    tick.start();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return std::max(longest, sinceTick.elapsed());
}

struct Engine : bench::BenchEngine {
    std::unique_ptr<ClipboardManager> manager;
    explicit Engine(int size)
    {
        fillHistory(size);
        openDefaults(false);
        defaults->set("retentionDays", 0);
        defaults->set("maxItems", 1'000'000);
        manager = start();
        test::finishPendingCaptures(*manager);
        longestHoldUntil([&] { return !manager->isLoadingHistory(); });
    }
    QList<ClearCandidate> candidates()
    {
        std::optional<QList<ClearCandidate>> found;
        manager->clearing().findClearCandidates(std::nullopt, [&](auto list) { found = list; });
        longestHoldUntil([&] { return found.has_value(); });
        return *found;
    }
};

void BM_CountWhenThePromptOpens(benchmark::State& state)
{
    Engine e(bench::historySize(100'000));
    qsizetype count = 0;
    for (auto _ : state)
        count = e.candidates().size();
    state.counters["items"] = double(count);
}
BENCHMARK(BM_CountWhenThePromptOpens)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LiveCountOnATick(benchmark::State& state)
{
    Engine e(bench::historySize(100'000));
    const auto candidates = e.candidates();
    QList<bool> ticked(9, true);
    int box = 0;
    for (auto _ : state) {
        ticked[box] = !ticked[box];
        box = (box + 1) % 9;
        benchmark::DoNotOptimize(CleanupTables::countLabel(int(CleanupTables::itemsToClear(candidates, false, ticked).size())));
    }
}
BENCHMARK(BM_LiveCountOnATick)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ClearAll(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Engine e(bench::historySize(100'000));
        QList<QUuid> ids;
        for (const auto& c : e.candidates())
            ids << c.id;
        state.ResumeTiming();
        int removed = -1;
        const qint64 hold = longestHoldUntil([&, started = false]() mutable {
            if (!started) {
                started = true;
                e.manager->clearing().clearItems(ids, true, true, [&](Status s, int n) { removed = s ? n : -2; });
            }
            return removed != -1;
        });
        state.PauseTiming();
        state.counters["removed"] = removed;
        state.counters["longest_main_thread_hold_ms"] = double(hold);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ClearAll)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace
