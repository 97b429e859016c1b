// The pause in typing before a search, measured on the real clock: from the last change of the
// search text to the start of the recompute, over a generated history. It should follow the
// 120 ms delay closely, whatever else the event loop runs.
#include "BenchEngine.h"
#include "engine/HistoryFilter.h"
#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

using namespace lumra;

namespace {

class TimedManager final : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    void updateFilteredItems() override
    {
        if (onRecompute)
            onRecompute();
        ClipboardManager::updateFilteredItems();
    }
    std::function<void()> onRecompute;
};

void BM_SearchDelay(benchmark::State& state)
{
    bench::BenchEngine engine;
    engine.fillHistory(bench::historySize(100'000));
    auto manager = engine.start<TimedManager>([](ClipboardManagerServices& services) { services.clock = &Clock::shared(); });
    const QStringList terms {"server", "invoice", "merge", "caf", "hotel", "query"};
    double total = 0;
    double latest = 0;
    double earliest = 1e9;
    int searches = 0;
    for (auto _ : state) {
        manager->filters().setSearchText(QString());
        QEventLoop loop;
        QElapsedTimer sinceKey;
        manager->onRecompute = [&] {
            const double ms = double(sinceKey.nsecsElapsed()) / 1e6;
            total += ms;
            latest = std::max(latest, ms);
            earliest = std::min(earliest, ms);
            ++searches;
            loop.quit();
        };
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        sinceKey.start();
        manager->filters().setSearchText(terms[searches % terms.size()]);
        loop.exec();
        manager->onRecompute = nullptr;
        manager->filters().applyPendingSearch(); // a sliced search runs to its end before the next key
    }
    state.counters["delay_ms"] = searches ? total / searches : 0;
    state.counters["min_delay_ms"] = earliest;
    state.counters["max_delay_ms"] = latest;
    state.counters["max_late_ms"] = latest - 120;
}
BENCHMARK(BM_SearchDelay)->Iterations(30)->Unit(benchmark::kMillisecond);

} // namespace
