#include "engine/PasteService.h"
#include "ui/preview/DragOut.h"
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
#include <QElapsedTimer>

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

double threadCpuMs()
{
    timespec spent {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
    return double(spent.tv_sec) * 1e3 + double(spent.tv_nsec) / 1e6;
}

// A long document of linked paragraphs, as a word processor offers it, of about `bytes`.
QByteArray linkedDocumentRtf(qsizetype bytes)
{
    QByteArray rtf = R"({\rtf1\ansi\deff0{\fonttbl{\f0 Helvetica;}}\f0 )";
    for (int n = 0; rtf.size() < bytes; ++n) {
        rtf += QByteArrayLiteral(R"({\field{\*\fldinst{HYPERLINK "https://example.com/reports/2026/section-)")
            + QByteArray::number(n) + QByteArrayLiteral(R"(/paragraph"}}{\fldrslt Section )") + QByteArray::number(n)
            + QByteArrayLiteral(R"(}} leads on to the {\b next} one.\par )");
    }
    return rtf + '}';
}

// The main thread's CPU time from Return to the key sent, with everything it waits for in between.
double pasteMainThreadMs(PasteFixture& fixture, const ClipboardItem& item)
{
    const int keys = fixture.keys.pasteCount();
    const qsizetype writes = fixture.pasteboard.writes().size();
    const double before = threadCpuMs();
    if (!fixture.manager->paste().pasteItem(item, true, false, std::chrono::milliseconds(0)))
        return -1;
    while (fixture.pasteboard.writes().size() == writes)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    fixture.clock.advance(std::chrono::milliseconds(0));
    while (fixture.keys.pasteCount() == keys)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return threadCpuMs() - before;
}

// A short text with an 8 MB RTF against the same text alone: what the rich text adds to the main
// thread's share of a paste (its forms are made elsewhere).
void BM_PasteRichDocumentMainThread(benchmark::State& state)
{
    PasteFixture fixture;
    ClipboardItem plain;
    plain.textContent = QStringLiteral("Quarterly report");
    ClipboardItem rich = plain;
    rich.rtfData = linkedDocumentRtf(bench::shortMode() ? 256 * 1024 : 8 * 1024 * 1024);
    plain = fixture.add(plain);
    rich = fixture.add(rich);
    rich.leaveOutRichText(); // as the history list holds it
    double plainMs = 0, richMs = 0;
    for (auto _ : state) {
        plainMs += pasteMainThreadMs(fixture, plain);
        richMs += pasteMainThreadMs(fixture, rich);
        if (!fixture.pasteboard.writes().last().value(1).mimeType.contains(QLatin1String("rtf")))
            state.SkipWithError("the rich text was not written");
    }
    const double n = double(state.iterations());
    state.counters["plainMainMs"] = plainMs / n;
    state.counters["richMainMs"] = richMs / n;
    state.counters["overPlainMs"] = (richMs - plainMs) / n;
}
BENCHMARK(BM_PasteRichDocumentMainThread)->Iterations(5)->Unit(benchmark::kMillisecond);

// A 4000×3000 photo stored as a 28.5 MB PNG (its bytes are never decoded on the way out).
QByteArray largePicturePng()
{
    QByteArray png = picturePng();
    png.append(QByteArray(qMax<qsizetype>(0, (bench::shortMode() ? 1 : 28.5) * 1024 * 1024 - png.size()), '\x5a'));
    return png;
}

ClipboardItem largePicture()
{
    ClipboardItem picture;
    picture.contentType = ClipboardContentType::image;
    picture.imageFileName = QStringLiteral("00112233445566778899aabbccddeeff.png");
    return picture;
}

// The main thread's share of the large picture's paste (its bytes are read and its file written
// elsewhere).
void BM_PastePictureMainThread(benchmark::State& state)
{
    PasteFixture fixture;
    const QByteArray png = largePicturePng();
    const ClipboardItem picture = fixture.add(largePicture(), png);
    double mainMs = 0;
    for (auto _ : state) {
        mainMs += pasteMainThreadMs(fixture, picture);
        if (fixture.pasteboard.writes().last().value(0).data.size() != png.size())
            state.SkipWithError("the picture was not written");
    }
    state.counters["mainMs"] = mainMs / double(state.iterations());
}
BENCHMARK(BM_PastePictureMainThread)->Iterations(5)->Unit(benchmark::kMillisecond);

struct DropCost {
    double windowMs = 0; // in the drag's own calls on the window's thread, waits included
    double startMs = 0;  // from the drag asked for to its start
};

// A row dragged and dropped as soon as the drag starts, the receiver asking for `form`. The event
// loop between the calls is free for the window, and not counted.
DropCost dropCost(PasteFixture& fixture, const ClipboardItem& row, const QString& form, qsizetype* received)
{
    QObject context;
    QElapsedTimer wall;
    wall.start();
    qint64 inCalls = 0;
    bool dropped = false;
    makeDragPayload(row, {}, DragListAccess::filteredItems(*fixture.manager), *fixture.manager, false, &context,
                    [&](DragPayload payload) {
                        QElapsedTimer call;
                        call.start();
                        *received = payload.mimeData ? payload.mimeData->data(form).size() : 0;
                        inCalls += call.nsecsElapsed();
                        dropped = true;
                    });
    inCalls += wall.nsecsElapsed();
    while (!dropped)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return {double(inCalls) / 1e6, double(wall.nsecsElapsed()) / 1e6};
}

// Drops `row` as often as the state asks; the window's share and the time to the drag's start.
void measureDrops(benchmark::State& state, PasteFixture& fixture, const ClipboardItem& row, const QString& form)
{
    DropCost total;
    qsizetype received = 0;
    for (auto _ : state) {
        const DropCost one = dropCost(fixture, row, form, &received);
        total.windowMs += one.windowMs;
        total.startMs += one.startMs;
    }
    const double n = double(state.iterations());
    state.counters["windowWaitMs"] = total.windowMs / n;
    state.counters["dragStartMs"] = total.startMs / n;
    state.counters["receivedMB"] = double(received) / 1e6;
}

// An 8 MB rich row, as the history list holds it, dropped on a window that asks for HTML.
void BM_DropRichDocument(benchmark::State& state)
{
    PasteFixture fixture;
    ClipboardItem rich;
    rich.textContent = QStringLiteral("Quarterly report");
    rich.rtfData = linkedDocumentRtf(bench::shortMode() ? 256 * 1024 : 8 * 1024 * 1024);
    rich = fixture.add(rich);
    rich.leaveOutRichText();
    measureDrops(state, fixture, rich, QStringLiteral("text/html"));
}
BENCHMARK(BM_DropRichDocument)->Iterations(3)->Unit(benchmark::kMillisecond);

// A 4000×3000 photo stored as a 28.5 MB PNG dropped on a window that asks for the picture.
void BM_DropLargePicture(benchmark::State& state)
{
    PasteFixture fixture;
    const ClipboardItem picture = fixture.add(largePicture(), largePicturePng());
    measureDrops(state, fixture, picture, QStringLiteral("image/png"));
}
BENCHMARK(BM_DropLargePicture)->Iterations(5)->Unit(benchmark::kMillisecond);

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
