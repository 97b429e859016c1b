// The preview window: how long the main thread is busy while a big picture or a huge folder
// opens. The decoding and the listing run on workers; what is measured here is what is left.
#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "ui/preview/PreviewCoordinator.h"
#include "ui/preview/UnifiedPreviewWindow.h"

#include "BenchEngine.h"
#include "BenchImages.h"
#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

using namespace lumra;

namespace {

ClipboardItem storeItem(ClipboardManager& manager, ClipboardItem item, const std::function<void(store::ManagedObject&)>& fill)
{
    item.id = QUuid::createUuid();
    item.dateAdded = QDateTime::currentDateTimeUtc();
    auto& context = manager.persistence()->viewContext();
    auto row = context.insert(store::EntityKind::item, nullptr);
    populateManagedItem(*row, item);
    fill(*row);
    (void)manager.persistence()->save();
    manager.loadItems();
    return item;
}

struct MainThreadTime {
    double showMs = 0;    // the request itself
    double contentMs = 0; // taking the worker's result in and painting it
    double busyMs = 0;    // everything until the content is in, the opening animation included
    double longestMs = 0; // the longest single stretch the main thread was busy
};

// Shows the item and runs the event loop until its content has arrived, timing each turn.
MainThreadTime showAndMeasure(UnifiedPreviewCoordinator& coordinator, const ClipboardItem& item, ClipboardManager& manager)
{
    MainThreadTime time;
    QElapsedTimer timer;
    timer.start();
    coordinator.showUnifiedPreview(item, manager);
    time.showMs = timer.nsecsElapsed() / 1e6;
    time.busyMs = time.longestMs = time.showMs;
    UnifiedPreviewWindow* panel = coordinator.panel();
    QElapsedTimer deadline;
    deadline.start();
    while (panel && !panel->isLoaded() && deadline.elapsed() < 60'000) {
        QThread::usleep(500);
        timer.restart();
        QCoreApplication::processEvents();
        const double turn = timer.nsecsElapsed() / 1e6;
        time.busyMs += turn;
        time.longestMs = std::max(time.longestMs, turn);
        if (panel->isLoaded())
            time.contentMs = turn;
    }
    timer.restart();
    if (panel)
        panel->repaint(); // the first paint with the content
    const double paint = timer.nsecsElapsed() / 1e6;
    time.contentMs += paint;
    time.busyMs += paint;
    time.longestMs = std::max(time.longestMs, paint);
    return time;
}

void closePreview(UnifiedPreviewCoordinator& coordinator)
{
    coordinator.closePreviewAnimated();
    QElapsedTimer deadline;
    deadline.start();
    while (coordinator.panel() && deadline.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The worst of the runs.
void report(benchmark::State& state, const QList<MainThreadTime>& runs)
{
    double show = 0, content = 0, busy = 0, longest = 0;
    for (const MainThreadTime& run : runs) {
        show = std::max(show, run.showMs);
        content = std::max(content, run.contentMs);
        busy = std::max(busy, run.busyMs);
        longest = std::max(longest, run.longestMs);
    }
    state.counters["show_ms"] = show;
    state.counters["content_ms"] = content;
    state.counters["with_animation_ms"] = busy;
    state.counters["longest_block_ms"] = longest;
}

// The first window of a process pays for the icon theme, fonts and style once; the popup has
// paid it long before anyone previews.
void warmUp(UnifiedPreviewCoordinator& coordinator, ClipboardManager& manager)
{
    ClipboardItem text;
    text.textContent = QStringLiteral("warm-up");
    text = storeItem(manager, text, [](store::ManagedObject&) {});
    showAndMeasure(coordinator, text, manager);
    closePreview(coordinator);
}

// Lumra's cache folders go into the benchmark's own folder, never the user's.
void useFolders(const bench::BenchEngine& engine)
{
    for (const char* variable : {"XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        qputenv(variable, QFile::encodeName(engine.dir.path()));
}

void BM_ImagePreviewMainThread(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    const QByteArray png = bench::screenshotPng();
    ClipboardItem image;
    image.contentType = ClipboardContentType::image;
    image.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
    image = storeItem(*manager, image, [&](store::ManagedObject& row) { row.set(store::ItemAttr::imageData, png); });
    UnifiedPreviewCoordinator coordinator(&engine.clock);
    warmUp(coordinator, *manager);
    QList<MainThreadTime> runs;
    for (auto _ : state) {
        const MainThreadTime run = showAndMeasure(coordinator, image, *manager);
        state.SetIterationTime((run.showMs + run.contentMs) / 1000);
        runs << run;
        state.PauseTiming();
        closePreview(coordinator);
        state.ResumeTiming();
    }
    report(state, runs);
}
BENCHMARK(BM_ImagePreviewMainThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HugeFolderPreviewMainThread(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    const int entries = bench::shortMode() ? 3000 : 100'000;
    const QString folder = engine.dir.path() + QStringLiteral("/huge");
    QDir().mkpath(folder);
    for (int i = 0; i < entries; ++i)
        QFile(folder + QStringLiteral("/file %1.txt").arg(i)).open(QIODevice::WriteOnly);
    ClipboardItem item;
    item.contentType = ClipboardContentType::file;
    const QUrl url = QUrl::fromLocalFile(folder);
    item.fileURLStrings = QStringList{url.toString()};
    item.fileURLIsDirectory = QList<bool>{true};
    const QString bookmarks = QString::fromUtf8(
        QJsonDocument(QJsonArray{ItemMedia::fileBookmarkString(url)}).toJson(QJsonDocument::Compact));
    item = storeItem(*manager, item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, bookmarks); });
    UnifiedPreviewCoordinator coordinator(&engine.clock);
    warmUp(coordinator, *manager);
    QList<MainThreadTime> runs;
    for (auto _ : state) {
        const MainThreadTime run = showAndMeasure(coordinator, item, *manager);
        state.SetIterationTime(run.longestMs / 1000);
        runs << run;
        state.PauseTiming();
        closePreview(coordinator);
        state.ResumeTiming();
    }
    report(state, runs);
    state.counters["entries"] = entries;
}
BENCHMARK(BM_HugeFolderPreviewMainThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
