// Image rows scrolled past: what the process holds once their thumbnails were made, against what it
// held before. 1920 x 1080 pictures of noise, which PNG cannot shrink (about 8 MB each).
#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"

#include "BenchEngine.h"
#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

using namespace lumra;
using lumra::bench::residentMegabytes;

namespace {

void BM_ImageRowsScrolledPast(benchmark::State& state)
{
    const int count = bench::historySize(int(state.range(0)));
    bench::BenchEngine engine;
    engine.openDefaults(false);
    std::unique_ptr<ClipboardManager> manager = engine.start();
    const qint64 storedBytes = bench::storeNoiseImages(*manager, count);
    if (storedBytes < 0) {
        state.SkipWithError("the images could not be stored");
        return;
    }
    const QList<ClipboardItem> rows = manager->clipboardItems();
    int ready = 0;
    QObject::connect(&manager->media(), &ItemMedia::thumbnailReady, manager.get(), [&ready] { ++ready; });
    QCoreApplication::processEvents();
    const double before = residentMegabytes();
    double peak = before;
    for (auto _ : state) {
        // A screenful at a time, as scrolling asks for them: the row's size, then its picture.
        constexpr int screenful = 8;
        for (int first = 0; first < rows.size(); first += screenful) {
            const int last = std::min<int>(int(rows.size()), first + screenful);
            for (int i = first; i < last; ++i) {
                benchmark::DoNotOptimize(manager->media().imageDimensions(rows[i]));
                benchmark::DoNotOptimize(manager->media().thumbnail(rows[i], 60));
            }
            while (ready < last)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            peak = std::max(peak, residentMegabytes());
        }
    }
    QCoreApplication::processEvents();
    state.counters["images"] = count;
    state.counters["stored_MB"] = double(storedBytes) / 1e6;
    state.counters["rss_before_MB"] = before;
    state.counters["rss_peak_MB"] = peak;
    state.counters["rss_after_MB"] = residentMegabytes();
    state.counters["held_MB"] = residentMegabytes() - before;
}

} // namespace

BENCHMARK(BM_ImageRowsScrolledPast)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);
