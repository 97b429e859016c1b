// The preview window: how long the main thread is busy while a big picture or a huge folder
// opens. The decoding and the listing run on workers; what is measured here is what is left.
#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "ui/items/editors/EditorWindows.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/preview/FileThumbnailCache.h"
#include "ui/preview/PreviewCoordinator.h"
#include "ui/preview/UnifiedPreviewWindow.h"

#include "BenchEngine.h"
#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QAbstractTextDocumentLayout>
#include <QTextEdit>
#include <QThread>

#include <sys/resource.h>

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

// Opens and closes the item's preview once per iteration; `timed` picks what an iteration counts.
void measurePreviews(benchmark::State& state, UnifiedPreviewCoordinator& coordinator, const ClipboardItem& item,
                     ClipboardManager& manager, double (*timed)(const MainThreadTime&))
{
    QList<MainThreadTime> runs;
    for (auto _ : state) {
        const MainThreadTime run = showAndMeasure(coordinator, item, manager);
        state.SetIterationTime(timed(run) / 1000);
        runs << run;
        state.PauseTiming();
        closePreview(coordinator);
        state.ResumeTiming();
    }
    report(state, runs);
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
    measurePreviews(state, coordinator, image, *manager,
                    [](const MainThreadTime& run) { return run.showMs + run.contentMs; });
}
BENCHMARK(BM_ImagePreviewMainThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// A text copied with a long rich document: the window's request takes nothing of the stored RTF.
void BM_RichTextPreviewMainThread(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    QByteArray rtf = R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}\f0 )";
    const qsizetype bytes = bench::shortMode() ? 256 * 1024 : 8 * 1024 * 1024;
    for (int n = 0; rtf.size() < bytes; ++n)
        rtf += QByteArrayLiteral(R"(Paragraph )") + QByteArray::number(n) + R"( of a long {\b report}.\par )";
    rtf += '}';
    ClipboardItem item;
    item.textContent = QStringLiteral("A long report");
    item = storeItem(*manager, item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::rtfData, rtf); });
    item.richTextInStore = true; // as the list holds it
    UnifiedPreviewCoordinator coordinator(&engine.clock);
    warmUp(coordinator, *manager);
    measurePreviews(state, coordinator, item, *manager,
                    [](const MainThreadTime& run) { return run.showMs; });
    state.counters["rtf_bytes"] = double(rtf.size());
}
BENCHMARK(BM_RichTextPreviewMainThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

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
    measurePreviews(state, coordinator, item, *manager,
                    [](const MainThreadTime& run) { return run.longestMs; });
    state.counters["entries"] = entries;
}
BENCHMARK(BM_HugeFolderPreviewMainThread)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

namespace {

// A PDF of `pages` pages that are drawn, and `padding` bytes of noise in a stream no page uses: what
// a scanned book or a PDF with embedded files weighs, while each page is cheap to draw.
void writeLargePdf(const QString& path, int pages, qint64 padding)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QList<qint64> offsets;
    const auto object = [&](const QByteArray& body) {
        offsets << file.pos();
        file.write(QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n");
    };
    file.write("%PDF-1.4\n");
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(3 + 2 * i) + " 0 R ";
    object("<</Type/Catalog/Pages 2 0 R>>");
    object("<</Type/Pages/Kids[" + kids + "]/Count " + QByteArray::number(pages) + ">>");
    for (int i = 0; i < pages; ++i) {
        object("<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents " + QByteArray::number(4 + 2 * i) + " 0 R>>");
        const QByteArray drawing = "0.2 0.4 0.8 rg 72 " + QByteArray::number(72 + 40 * i) + " 468 300 re f";
        object("<</Length " + QByteArray::number(drawing.size()) + ">>\nstream\n" + drawing + "\nendstream");
    }
    offsets << file.pos();
    file.write(QByteArray::number(offsets.size()) + " 0 obj\n<</Length " + QByteArray::number(padding) + ">>\nstream\n");
    QByteArray noise(4 * 1024 * 1024, Qt::Uninitialized);
    for (qint64 left = padding; left > 0; left -= noise.size()) {
        for (qsizetype i = 0; i < noise.size(); i += 8)
            *reinterpret_cast<quint64*>(noise.data() + i) = QRandomGenerator::global()->generate64();
        file.write(noise.constData(), std::min<qint64>(left, noise.size()));
    }
    file.write("\nendstream\nendobj\n");
    const qint64 xref = file.pos();
    file.write("xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n");
    for (const qint64 offset : offsets)
        file.write(QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n");
    file.write("trailer\n<</Size " + QByteArray::number(offsets.size() + 1) + "/Root 1 0 R>>\nstartxref\n"
               + QByteArray::number(xref) + "\n%%EOF\n");
}

double mainThreadCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Runs the event loop for `ms`, or until `done`, keeping the highest resident size seen.
void runSampling(double* peak, int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && !(done && done())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
        *peak = std::max(*peak, bench::residentMegabytes());
    }
}

// A 250 MB PDF copied as a file: its row's thumbnail, then Space on it and two pages further. What
// Lumra's own process holds above what it held before, and its main thread's CPU time.
void BM_LargePdfShownAndPreviewed(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    const QString path = engine.dir.path() + QStringLiteral("/book.pdf");
    writeLargePdf(path, 3, bench::shortMode() ? 4ll * 1024 * 1024 : 250ll * 1024 * 1024);
    ClipboardItem item;
    item.contentType = ClipboardContentType::file;
    const QUrl url = QUrl::fromLocalFile(path);
    item.fileURLStrings = QStringList{url.toString()};
    item.fileURLIsDirectory = QList<bool>{false};
    const QString bookmarks = QString::fromUtf8(
        QJsonDocument(QJsonArray{ItemMedia::fileBookmarkString(url)}).toJson(QJsonDocument::Compact));
    item = storeItem(*manager, item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, bookmarks); });
    UnifiedPreviewCoordinator coordinator(&engine.clock);
    warmUp(coordinator, *manager);
    QList<double> thumbCpu, previewCpu;
    for (auto _ : state) {
        FileThumbnailSources sources;
        sources.ownFolder = engine.dir.path() + QStringLiteral("/own-%1").arg(thumbCpu.size());
        QDir().mkpath(sources.ownFolder);
        FileThumbnailCache cache(sources);
        bool ready = false;
        QObject::connect(&cache, &FileThumbnailCache::thumbnailReady, [&ready] { ready = true; });
        QCoreApplication::processEvents();
        const double before = bench::residentMegabytes();
        double peak = before;
        double cpu = mainThreadCpuMs();
        (void)cache.thumbnail(path, 64);
        runSampling(&peak, 60'000, [&] { return ready; });
        thumbCpu << mainThreadCpuMs() - cpu;
        const double thumbPeak = peak;
        cpu = mainThreadCpuMs();
        coordinator.showUnifiedPreview(item, *manager);
        runSampling(&peak, 60'000, [&] { return !coordinator.panel() || coordinator.panel()->isLoaded(); });
        runSampling(&peak, 3000); // the first page drawn
        for (int page = 0; page < 2; ++page) {
            if (UnifiedPreviewWindow* panel = coordinator.panel()) {
                QWidget* target = panel->contentWidget()->focusProxy() ? panel->contentWidget()->focusProxy()
                                                                       : panel->contentWidget();
                for (QWidget* w : target->findChildren<QWidget*>())
                    if (w->focusPolicy() != Qt::NoFocus)
                        target = w;
                QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
                QCoreApplication::sendEvent(target, &press);
            }
            runSampling(&peak, 2000);
        }
        previewCpu << mainThreadCpuMs() - cpu;
        state.counters["rss_before_MB"] = before;
        state.counters["thumbnail_above_MB"] = thumbPeak - before;
        state.counters["preview_above_MB"] = peak - before;
        state.PauseTiming();
        closePreview(coordinator);
        state.ResumeTiming();
    }
    std::sort(thumbCpu.begin(), thumbCpu.end());
    std::sort(previewCpu.begin(), previewCpu.end());
    state.counters["thumbnail_main_cpu_ms"] = thumbCpu.value(thumbCpu.size() / 2);
    state.counters["preview_main_cpu_ms"] = previewCpu.value(previewCpu.size() / 2);
}
BENCHMARK(BM_LargePdfShownAndPreviewed)->Unit(benchmark::kMillisecond)->Iterations(1);

// What an 8 MB text costs the window's thread: Space on it until the content is in and two seconds
// on (a layout that goes on in the background counts), then Escape and three seconds on. The event
// loop's own cost while idle over as long is taken off.
struct OpenAndCloseCpu {
    double openMs = 0;
    double closeMs = 0;
};

// Runs the event loop for `ms` or until `done`; the wall time it took.
double runEventLoop(int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && !(done && done())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
    return double(timer.elapsed());
}

double idleCpuPerMs()
{
    const double start = mainThreadCpuMs();
    const double wall = runEventLoop(3000);
    return (mainThreadCpuMs() - start) / wall;
}

OpenAndCloseCpu openAndCloseCpu(UnifiedPreviewCoordinator& coordinator, const ClipboardItem& item, ClipboardManager& manager)
{
    const double idle = idleCpuPerMs();
    OpenAndCloseCpu cpu;
    double start = mainThreadCpuMs();
    QElapsedTimer wall;
    wall.start();
    coordinator.showUnifiedPreview(item, manager);
    runEventLoop(60'000, [&] { return !coordinator.panel() || coordinator.panel()->isLoaded(); });
    if (coordinator.panel())
        coordinator.panel()->repaint();
    runEventLoop(2000);
    cpu.openMs = mainThreadCpuMs() - start - idle * double(wall.elapsed());
    start = mainThreadCpuMs();
    wall.restart();
    closePreview(coordinator);
    runEventLoop(3000);
    cpu.closeMs = mainThreadCpuMs() - start - idle * double(wall.elapsed());
    return cpu;
}

void measureOpenAndCloseCpu(benchmark::State& state, UnifiedPreviewCoordinator& coordinator, const ClipboardItem& item,
                            ClipboardManager& manager)
{
    QList<double> open, close;
    for (auto _ : state) {
        const OpenAndCloseCpu cpu = openAndCloseCpu(coordinator, item, manager);
        state.SetIterationTime(std::max(0.0, cpu.openMs) / 1000);
        open << cpu.openMs;
        close << cpu.closeMs;
    }
    std::sort(open.begin(), open.end());
    std::sort(close.begin(), close.end());
    state.counters["open_main_cpu_ms"] = open.value(open.size() / 2);
    state.counters["after_escape_main_cpu_ms"] = close.value(close.size() / 2);
}

QString longLog(qsizetype bytes)
{
    QString text;
    text.reserve(bytes + 200);
    for (int n = 0; text.size() < bytes; ++n)
        text += QStringLiteral("2026-12-11 13:%1:%2 worker[%3]: request %4 served in %5 ms from the cache\n")
                    .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(n % 60, 2, 10, QLatin1Char('0'))
                    .arg(n % 17)
                    .arg(n)
                    .arg(n % 97);
    return text;
}

// Formatted as a word processor writes it, markup as long as the text: under the reader's bound
// on characters at 8 MB.
QByteArray longRtf(qsizetype bytes)
{
    QByteArray rtf = R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}{\colortbl;\red200\green30\blue30;}\f0 )";
    for (int n = 0; rtf.size() < bytes; ++n)
        rtf += QByteArrayLiteral(R"(\pard\sa120\sl280\slmult1 {\b\fs28\cf1 Paragraph )") + QByteArray::number(n)
            + R"(} of a long {\i report}.\par )";
    rtf += '}';
    return rtf;
}

qsizetype largeTextBytes() { return bench::shortMode() ? 256 * 1024 : 8 * 1024 * 1024; }

// Space on a long plain text (a log) and on a long rich text, in the style they were copied with
// and unformatted: all the window's thread spends on them.
void BM_LongTextPreviewMainThreadCpu(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    const bool rich = state.range(0) != 0;
    const QByteArray rtf = rich ? longRtf(largeTextBytes()) : QByteArray();
    ClipboardItem item;
    item.textContent = rich ? QStringLiteral("A long report") : longLog(largeTextBytes());
    item = storeItem(*manager, item, [&](store::ManagedObject& row) {
        if (rich)
            row.set(store::ItemAttr::rtfData, rtf);
    });
    item.richTextInStore = rich; // as the list holds it
    manager->userDefaults().set(UnifiedPreviewWindow::showOriginalStyleKey, state.range(1) != 0);
    UnifiedPreviewCoordinator coordinator(&engine.clock);
    warmUp(coordinator, *manager);
    measureOpenAndCloseCpu(state, coordinator, item, *manager);
    state.counters["bytes"] = double(rich ? rtf.size() : item.textContent->size());
}
BENCHMARK(BM_LongTextPreviewMainThreadCpu)
    ->ArgNames({"rich", "original"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A key typed in the content editor on a long document: the window's thread from the key until
// the event loop is idle again, the document laid out beforehand.
void BM_EditorKeyOnLongDocument(benchmark::State& state)
{
    bench::BenchEngine engine;
    useFolders(engine);
    auto manager = engine.start();
    ClipboardItem item;
    item.textContent = longLog(largeTextBytes());
    const bool rich = state.range(0) != 0;
    const QByteArray rtf = rich ? longRtf(largeTextBytes()) : QByteArray();
    item = storeItem(*manager, item, [&](store::ManagedObject& row) {
        if (rich)
            row.set(store::ItemAttr::rtfData, rtf);
    });
    item.richTextInStore = rich;
    EditorHost host;
    host.manager = manager.get();
    QPointer<ContentEditorWindow> window = EditorWindows::openContentEditor(host, item);
    double peak = 0;
    runSampling(&peak, 120'000, [&] { return !window || window->isLoaded(); });
    if (!window) {
        state.SkipWithError("the editor closed");
        return;
    }
    window->show();
    (void)window->editor()->document()->documentLayout()->documentSize(); // laid out to the end
    runSampling(&peak, 500);
    window->editor()->moveCursor(QTextCursor::End);
    QList<double> keys;
    for (auto _ : state) {
        const double start = mainThreadCpuMs();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QCoreApplication::sendEvent(window->editor(), &press);
        QCoreApplication::sendEvent(window->editor(), &release);
        QCoreApplication::processEvents();
        window->editor()->viewport()->repaint();
        const double cpu = mainThreadCpuMs() - start;
        state.SetIterationTime(cpu / 1000);
        keys << cpu;
    }
    std::sort(keys.begin(), keys.end());
    state.counters["key_main_cpu_ms"] = keys.value(keys.size() / 2);
    state.counters["key_main_cpu_worst_ms"] = keys.value(keys.size() - 1);
    state.SetLabel(window->statisticsText().toStdString());
    delete window;
}
BENCHMARK(BM_EditorKeyOnLongDocument)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
