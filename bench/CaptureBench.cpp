#include "BenchImages.h"
#include "BenchSize.h"
#include "HistoryGenerator.h"
#include "Teardown.h"

#include "engine/CaptureService.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/pasteboard/FakePasteboard.h"
#include "platform/workspace/FakeWorkspace.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <map>

#include <sys/resource.h>

using namespace lumra;

namespace {

// A started engine over a filled store, made once per history size.
struct Engine {
    QTemporaryDir dir;
    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<UserDefaults> defaults;
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    std::unique_ptr<ClipboardManager> manager;
};

Engine& engineOf(int size)
{
    static std::map<int, std::unique_ptr<Engine>> engines;
    if (engines.empty())
        bench::keepUntilTeardown([] { engines.clear(); });
    auto& slot = engines[size];
    if (slot)
        return *slot;
    slot = std::make_unique<Engine>();
    Engine& e = *slot;
    const QString folder = e.dir.path() + QStringLiteral("/Lumra");
    {
        PersistenceController persistence(true, nullptr, folder);
        bench::HistoryGenerator generator;
        // Oldest first, as in a store that grew by captures: the item limit takes from the front.
        QList<ClipboardItem> items = generator.items(size);
        std::reverse(items.begin(), items.end());
        if (Status s = bench::HistoryGenerator::fill(persistence, items, generator.categories()); !s)
            qFatal("could not fill the store: %s", qPrintable(s.error()));
    }
    e.defaults = std::make_unique<UserDefaults>(e.dir.path() + QStringLiteral("/settings.json"), &e.clock);
    ClipboardManager::registerDefaultSettings(*e.defaults);
    e.defaults->set(QStringLiteral("iCloudSyncEnabled"), true);
    e.defaults->set(QStringLiteral("retentionDays"), 0);
    e.defaults->set(QStringLiteral("enableImageOCR"), false);
    e.workspace.setFrontmost(AppIdentity {QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")});
    ClipboardManagerServices services;
    services.defaults = e.defaults.get();
    services.cloudKeyValueStore = &e.kv;
    services.clock = &e.clock;
    services.storeFolder = folder;
    services.pasteboard = &e.pasteboard;
    services.workspace = &e.workspace;
    e.manager = std::make_unique<ClipboardManager>(services);
    // A full history: every new capture trims the oldest item.
    const auto& items = e.manager->clipboardItems();
    e.manager->setMaxItems(std::count_if(items.begin(), items.end(), [](const ClipboardItem& i) { return !i.isTrashed; }));
    return e;
}

// One new text: classify, look for a duplicate, insert, save, item limit, history update and the
// filtered list that follows, without a search (0) and under a search that matches a good part of
// the history (1).
void BM_CaptureNewText(benchmark::State& state)
{
    Engine& e = engineOf(bench::historySize(int(state.range(0))));
    const bool searching = state.range(1) != 0;
    e.manager->filters().setSearchText(searching ? QStringLiteral("deploy") : QString());
    e.clock.advance(std::chrono::milliseconds(200));
    int n = 0;
    // The reads a check queues are taken as the event loop takes them, untimed: the history grows
    // by each copy, and no read is left waiting for the engine's end.
    const auto takeReads = [&e] {
        while (e.manager->captureService()->hasPendingCaptures()) {
            QThread::usleep(100);
            QCoreApplication::processEvents();
        }
    };
    for (auto _ : state) {
        state.PauseTiming();
        takeReads();
        e.pasteboard.setText(QStringLiteral("Meeting notes for the deploy on Thursday, item %1").arg(++n));
        e.clock.advance(std::chrono::milliseconds(10));
        state.ResumeTiming();
        e.manager->captureService()->checkClipboard();
    }
    takeReads();
    const auto& items = e.manager->clipboardItems();
    state.counters["untrashed"] = double(std::count_if(items.begin(), items.end(), [](const ClipboardItem& i) { return !i.isTrashed; }));
    state.counters["shown"] = double(e.manager->filters().filteredItemCount());
    e.manager->filters().setSearchText(QString());
}
BENCHMARK(BM_CaptureNewText)->Args({100000, 0})->Args({100000, 1})->Iterations(bench::shortMode() ? 50 : 2000)->Unit(benchmark::kMillisecond);

using bench::screenshotPng;

// The main thread's share of a screenshot capture: the tick that reads the clipboard and hands
// the bytes to a worker, and the longest single stretch of event processing until the image is
// stored (that stretch holds the insert and save). Decoding, re-encoding and hashing run on the
// worker meanwhile. Manual time = the longest main-thread block of the two.
void BM_CaptureScreenshotMainThread(benchmark::State& state)
{
    Engine& e = engineOf(bench::historySize(10000));
    int n = 0;
    double checkMs = 0, storeMs = 0, totalMs = 0;
    for (auto _ : state) {
        e.pasteboard.setContents({{QStringLiteral("image/png"), screenshotPng(++n)}});
        QElapsedTimer total;
        total.start();
        QElapsedTimer block;
        block.start();
        e.manager->captureService()->checkClipboard();
        const qint64 check = block.nsecsElapsed();
        qint64 longest = 0;
        while (e.manager->captureService()->hasPendingCaptures()) {
            QThread::usleep(500);
            block.restart();
            QCoreApplication::processEvents();
            longest = std::max(longest, block.nsecsElapsed());
        }
        totalMs += total.nsecsElapsed() / 1e6;
        checkMs += check / 1e6;
        storeMs += longest / 1e6;
        state.SetIterationTime(std::max(check, longest) / 1e9);
    }
    const double iterations = double(state.iterations());
    state.counters["check_ms"] = checkMs / iterations;
    state.counters["store_ms"] = storeMs / iterations;
    state.counters["copy_to_history_ms"] = totalMs / iterations;
}
BENCHMARK(BM_CaptureScreenshotMainThread)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// CPU time this thread has used, user and system.
double threadCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The main thread's CPU for a camera photo copied as JPEG (4000 x 3000, 800 x 600 in the short
// mode), from the tick that reads it until it is stored: what the window's thread cannot spend on
// opening the popup meanwhile. Each photo differs by a corner pixel, so none is a duplicate.
void BM_CapturePhotoMainThread(benchmark::State& state)
{
    Engine& e = engineOf(bench::historySize(10000));
    const QByteArray photo = bench::photoJpeg(bench::shortMode() ? QSize(800, 600) : QSize(4000, 3000));
    int n = 0;
    double totalCpuMs = 0;
    for (auto _ : state) {
        QByteArray copy = photo;
        copy[copy.size() - 3] = char(++n); // in the entropy-coded data: another picture
        e.pasteboard.setContents({{QStringLiteral("image/jpeg"), copy}});
        const double before = threadCpuMs();
        e.manager->captureService()->checkClipboard();
        // Asleep between looks, so the wait adds next to nothing to the main thread's time.
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (!e.manager->captureService()->hasPendingCaptures())
                loop.quit();
        });
        look.start(5);
        loop.exec();
        const double cpu = threadCpuMs() - before;
        totalCpuMs += cpu;
        state.SetIterationTime(cpu / 1e3);
    }
    state.counters["main_cpu_ms"] = totalCpuMs / double(state.iterations());
    state.counters["items"] = double(e.manager->clipboardItems().size());
}
BENCHMARK(BM_CapturePhotoMainThread)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace
