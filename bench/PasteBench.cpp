#include "engine/PasteService.h"
#include "engine/ItemMedia.h"
#include "model/store/ItemRows.h"
#include "model/store/StoreSchema.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/pasteboard/FakePasteboard.h"

#include "BenchEngine.h"
#include "BenchImages.h"
#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>

using namespace lumra;

namespace {

// One engine over a temporary store; the clipboard is the in-memory double, so what is measured is
// Lumra's own work on the main thread (reading the row, building the content, the temporary file,
// the bookkeeping save and reload).
struct PasteFixture : bench::BenchEngine {
    PasteFixture()
    {
        for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString path = dir.path() + QLatin1Char('/') + QString::fromLatin1(var);
            QDir().mkpath(path);
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv(var, QFile::encodeName(path));
        }
        manager = start([this](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.keyInjector = &keys;
        });
    }
    ~PasteFixture()
    {
        manager.reset();
        clock.advance(std::chrono::hours(1));
    }

    ClipboardItem add(ClipboardItem item, const QByteArray& imageData = {})
    {
        item.id = QUuid::createUuid();
        item.dateAdded = clock.now();
        auto row = manager->persistence()->viewContext().insert(store::EntityKind::item);
        populateManagedItem(*row, item);
        if (!imageData.isEmpty())
            row->set(store::ItemAttr::imageData, imageData);
        (void)manager->persistence()->save();
        manager->loadItems();
        return item;
    }

    FakePasteboard pasteboard;
    RecordingKeyInjector keys;
    std::unique_ptr<ClipboardManager> manager;
};

// What a paste does on the main thread before its key: the write and the bookkeeping.
bool writeBack(ClipboardManager& manager, const ClipboardItem& item)
{
    if (!manager.paste().writeItem(item, false, false))
        return false;
    manager.paste().notePasted({item.id}, true, manager.clock().now());
    return true;
}

QByteArray picturePng()
{
    static const QByteArray png = bench::screenshotPng();
    return png;
}

void BM_WriteBackText(benchmark::State& state)
{
    PasteFixture fixture;
    ClipboardItem item;
    item.textContent = QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(20);
    item.rtfData = QByteArray(R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}\f0 The quick {\b brown} fox )")
                       .append(QByteArray("jumps over the {\\i lazy} dog.\\par ").repeated(20))
                       .append('}');
    item = fixture.add(item);
    for (auto _ : state)
        benchmark::DoNotOptimize(writeBack(*fixture.manager, item));
}
BENCHMARK(BM_WriteBackText)->Unit(benchmark::kMicrosecond);

void BM_WriteBackImage(benchmark::State& state)
{
    PasteFixture fixture;
    const QByteArray png = picturePng();
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item.imageFileName = image::imageFileName(png);
    item = fixture.add(item, png);
    for (auto _ : state)
        benchmark::DoNotOptimize(writeBack(*fixture.manager, item));
    state.SetBytesProcessed(qint64(state.iterations()) * png.size());
}
BENCHMARK(BM_WriteBackImage)->Unit(benchmark::kMillisecond);

// A paste from a full history: from Return to the moment the synthetic Ctrl+V may go, the main thread
// writes the clipboard and moves the item to the top (save, history and shown list brought up to date).
void BM_WriteBackTextInFullHistory(benchmark::State& state)
{
    bench::BenchEngine engine;
    engine.fillHistory(bench::historySize(int(state.range(0))));
    engine.openDefaults(true); // the generated history is in the synced store
    engine.defaults->set("retentionDays", 0);
    engine.defaults->set("maxItems", 1'000'000);
    FakePasteboard pasteboard;
    auto manager = engine.start([&](ClipboardManagerServices& services) { services.pasteboard = &pasteboard; });
    QList<ClipboardItem> texts;
    for (const ClipboardItem& item : manager->clipboardItems()) {
        if (item.contentType == ClipboardContentType::text && !item.isTrashed && texts.size() < 64)
            texts.append(item);
    }
    if (texts.isEmpty()) {
        state.SkipWithError("no text item in the history");
        return;
    }
    qsizetype next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine.clock.advance(std::chrono::seconds(1));
        const ClipboardItem& item = texts[next++ % texts.size()];
        state.ResumeTiming();
        if (!writeBack(*manager, item))
            state.SkipWithError("the write-back failed");
    }
    state.counters["items"] = double(manager->clipboardItems().size());
}
BENCHMARK(BM_WriteBackTextInFullHistory)->Arg(100'000)->Unit(benchmark::kMillisecond);

// From the request to the thumbnail in the cache, the decode running on a worker.
void BM_Thumbnail(benchmark::State& state, const char* quality)
{
    PasteFixture fixture;
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item = fixture.add(item, picturePng());
    for (auto _ : state) {
        fixture.manager->setThumbnailQuality(quality); // empties the cache
        while (!fixture.manager->media().thumbnail(item, 120))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK_CAPTURE(BM_Thumbnail, low, "low")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbnail, normal, "normal")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbnail, high, "high")->Unit(benchmark::kMillisecond);

} // namespace
