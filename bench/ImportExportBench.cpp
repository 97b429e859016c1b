#include "BenchEngine.h"
#include "BenchSize.h"
#include "HistoryGenerator.h"

#include "engine/BackupService.h"
#include "model/store/ItemRows.h"
#include "platform/image/ImageDecoding.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <malloc.h>

using namespace lumra;

namespace {

double residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 : 0;
}

// A small screenshot-like picture, different for each variant.
QByteArray picture(int variant)
{
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(variant * 37 % 360, 60, 230));
    QPainter painter(&image);
    painter.setPen(Qt::black);
    for (int line = 0; line < 8; ++line)
        painter.drawText(10, 20 + line * 22, QStringLiteral("window %1 line %2: some text on the screen").arg(variant).arg(line));
    painter.end();
    return image::encodePng(image).value();
}

// The history of the figures: `size` items of which `images` are pictures with their bytes.
struct Source : bench::BenchEngine {
    std::unique_ptr<ClipboardManager> manager;
    QString file = dir.path() + QStringLiteral("/LumraBackup.json");

    Source(int size, int images)
    {
        QList<ClipboardItem> items = bench::HistoryGenerator().items(size);
        openDefaults(false);
        defaults->set("maxItems", 1'000'000);
        defaults->set("retentionDays", 0);
        manager = start();
        auto& context = manager->persistence()->viewContext();
        int pictures = 0;
        for (ClipboardItem& item : items) {
            QByteArray bytes;
            if (item.contentType == ClipboardContentType::image) {
                if (pictures < images) {
                    bytes = picture(pictures++);
                    item.imageFileName = image::imageFileName(bytes);
                } else {
                    item.contentType = ClipboardContentType::text;
                    item.imageFileName = std::nullopt;
                    item.textContent = QStringLiteral("text in place of picture %1").arg(item.id.toString());
                }
            }
            auto row = context.insert(store::EntityKind::item);
            populateManagedItem(*row, item);
            row->set(store::ItemAttr::ocrText, item.ocrText);
            if (!bytes.isEmpty())
                row->set(store::ItemAttr::imageData, bytes);
        }
        if (!manager->persistence()->save())
            qFatal("could not fill the history");
        manager->loadItems();
    }
};

Source& source()
{
    static Source s(bench::historySize(100'000), bench::shortMode() ? 10 : 1000);
    return s;
}

// Runs the event loop until `future` ends, ticking every 5 ms: the longest gap between ticks is the
// longest the main thread was held; the resident size is sampled at each tick.
template <typename T>
void waitWatching(QFuture<T> future, double& longestGapMs, double& peakResident)
{
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
        peakResident = std::max(peakResident, residentBytes());
    });
    tick.start();
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    longestGapMs = std::max(longestGapMs, double(sinceTick.nsecsElapsed()) / 1e6);
}

void BM_ExportToFile(benchmark::State& state)
{
    Source& s = source();
    for (auto _ : state) {
        malloc_trim(0);
        const double before = residentBytes();
        double peak = before;
        double longest = 0;
        QElapsedTimer call;
        call.start();
        QFuture<BackupService::ExportResult> future = s.manager->backup().exportToFile({}, s.file);
        longest = double(call.nsecsElapsed()) / 1e6;
        waitWatching(future, longest, peak);
        if (!future.result().error.isEmpty())
            state.SkipWithError(qPrintable(future.result().error));
        state.counters["items"] = future.result().exported;
        state.counters["main_thread_longest_ms"] = longest;
        state.counters["resident_growth_MB"] = (peak - before) / 1e6;
        state.counters["file_MB"] = double(QFileInfo(s.file).size()) / 1e6;
    }
}
BENCHMARK(BM_ExportToFile)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_OpenBackupToCounts(benchmark::State& state)
{
    Source& s = source();
    if (!QFile::exists(s.file)) {
        QFuture<BackupService::ExportResult> written = s.manager->backup().exportToFile({}, s.file);
        written.waitForFinished();
    }
    for (auto _ : state) {
        double peak = 0;
        double longest = 0;
        QFuture<BackupService::OpenedBackup> future = s.manager->backup().openBackup(s.file);
        waitWatching(future, longest, peak);
        const BackupService::OpenedBackup opened = future.result();
        if (!opened.preview) {
            state.SkipWithError(qPrintable(opened.error));
            break;
        }
        const backup::SelectionCounts counts = backup::countSelection(*opened.preview, {}, QTimeZone::systemTimeZone());
        state.counters["items"] = counts.selected;
        state.counters["duplicates"] = counts.duplicates;
        state.counters["images"] = opened.preview->imageCount;
        state.counters["main_thread_longest_ms"] = longest;
    }
}
BENCHMARK(BM_OpenBackupToCounts)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_ImportIntoEmptyStore(benchmark::State& state)
{
    Source& s = source();
    if (!QFile::exists(s.file)) {
        QFuture<BackupService::ExportResult> written = s.manager->backup().exportToFile({}, s.file);
        written.waitForFinished();
    }
    QFuture<BackupService::OpenedBackup> opening = s.manager->backup().openBackup(s.file);
    opening.waitForFinished();
    const std::shared_ptr<const backup::BackupPreview> preview = opening.result().preview;
    if (!preview) {
        state.SkipWithError("the backup did not open");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        bench::BenchEngine target;
        target.openDefaults(false);
        target.defaults->set("maxItems", 1'000'000);
        std::unique_ptr<ClipboardManager> manager = target.start();
        const backup::ExportData& data = preview->backup.data;
        state.ResumeTiming();
        double peak = 0;
        double longest = 0;
        QFuture<BackupService::ImportResult> future =
            manager->backup().startImport(data.items, data.images, data.categories.value_or(QList<ClipboardCategory>()), false);
        waitWatching(future, longest, peak);
        // Done when the history shows the items (a large import is read back on a worker).
        const qsizetype expected = future.result().outcome.inserted;
        QElapsedTimer shown;
        shown.start();
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        while (manager->clipboardItems().size() < expected && shown.elapsed() < 60000) {
            longest = std::max(longest, double(sinceEvents.nsecsElapsed()) / 1e6);
            sinceEvents.restart();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        longest = std::max(longest, double(sinceEvents.nsecsElapsed()) / 1e6);
        state.PauseTiming();
        if (!future.result().error.isEmpty())
            state.SkipWithError(qPrintable(future.result().error));
        state.counters["inserted"] = future.result().outcome.inserted;
        state.counters["in_history"] = double(manager->clipboardItems().size());
        state.counters["main_thread_longest_ms"] = longest;
        manager.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportIntoEmptyStore)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace
