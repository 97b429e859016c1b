#include "BenchEngine.h"
#include "BenchSize.h"
#include "../tests/support/PendingCaptures.h"

#include "platform/pasteboard/FakePasteboard.h"
#include "platform/workspace/FakeWorkspace.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

using namespace lumra;

namespace {

// From the start of the engine over a 100,000-item store to the first copy in the list, with the
// history read on the main thread (0) or on a worker as the app does (1); then, for the worker, how
// long the load takes and the longest the main thread was held while it ran and ended: at the first
// start, which also empties a year of expired recycle bin, and at the starts after it.
void BM_StartToFirstCapture(benchmark::State& state)
{
    const int size = bench::historySize(100'000);
    const bool background = state.range(0) == 1;
    bench::BenchEngine engine;
    UserDefaults& defaults = engine.openDefaults(true); // the generated history fills both stores
    defaults.set(QStringLiteral("maxItems"), size * 2);
    defaults.set(QStringLiteral("retentionDays"), 0);
    defaults.set(QStringLiteral("enableImageOCR"), false);
    engine.fillHistory(size);
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    workspace.setFrontmost(AppIdentity {QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")});
    int round = 0;
    double loadMs = 0;
    double longestHoldMs = 0;
    double firstStartHoldMs = -1;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto manager = engine.start([&](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.workspace = &workspace;
            services.loadHistoryInBackground = background;
        });
        pasteboard.setText(QStringLiteral("copied right after the start %1").arg(++round));
        manager->captureService()->checkClipboard();
        test::finishPendingCaptures(*manager);
        const auto& items = manager->clipboardItems();
        if (std::none_of(items.begin(), items.end(), [&](const ClipboardItem& i) {
                return i.textContent == QStringLiteral("copied right after the start %1").arg(round);
            }))
            state.SkipWithError("the copy was not captured");
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.PauseTiming();
        longestHoldMs = 0;
        while (manager->isLoadingHistory()) {
            QElapsedTimer hold;
            hold.start();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            longestHoldMs = std::max(longestHoldMs, double(hold.nsecsElapsed()) / 1e6);
        }
        loadMs = double(timer.nsecsElapsed()) / 1e6;
        if (firstStartHoldMs < 0)
            firstStartHoldMs = longestHoldMs;
        manager.reset();
        state.ResumeTiming();
    }
    state.counters["start_to_loaded_ms"] = loadMs;
    if (background) {
        state.counters["longest_main_thread_hold_ms"] = longestHoldMs;
        state.counters["first_start_longest_hold_ms"] = firstStartHoldMs;
    }
}
BENCHMARK(BM_StartToFirstCapture)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
