#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/image/ImageDecoding.h"
#include "platform/keys/RecordingKeyInjector.h"
#include "platform/pasteboard/FakePasteboard.h"

#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

using namespace lumra;

namespace {

// One engine over a temporary store; the clipboard is the in-memory double, so what is measured is
// Lumra's own work on the main thread (reading the row, building the content, the temporary file,
// the bookkeeping save and reload).
struct PasteFixture {
    PasteFixture()
    {
        for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString path = dir.path() + QLatin1Char('/') + QString::fromLatin1(var);
            QDir().mkpath(path);
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv(var, QFile::encodeName(path));
        }
        defaults = std::make_unique<UserDefaults>(dir.path() + "/settings.json", &clock);
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set("iCloudSyncEnabled", false);
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = &clock;
        services.storeFolder = dir.path() + "/store";
        services.pasteboard = &pasteboard;
        services.keyInjector = &keys;
        manager = std::make_unique<ClipboardManager>(services);
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

    QTemporaryDir dir;
    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    FakePasteboard pasteboard;
    RecordingKeyInjector keys;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<ClipboardManager> manager;
};

QByteArray photoPng()
{
    static QByteArray cached;
    if (!cached.isEmpty())
        return cached;
    const QSize size = bench::shortMode() ? QSize(800, 600) : QSize(4000, 3000);
    QImage picture(size, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(30, 80, 120));
    gradient.setColorAt(1, QColor(220, 180, 90));
    painter.fillRect(picture.rect(), gradient);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(QRect(i * size.width() / 40, (i * 37) % size.height(), size.width() / 8, size.height() / 10),
                         QColor::fromHsv((i * 23) % 360, 120, 230));
    painter.end();
    cached = image::encodePng(picture).value();
    return cached;
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
        benchmark::DoNotOptimize(fixture.manager->copyToPasteboard(item, true));
}
BENCHMARK(BM_WriteBackText)->Unit(benchmark::kMicrosecond);

void BM_WriteBackImage(benchmark::State& state)
{
    PasteFixture fixture;
    const QByteArray png = photoPng();
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item.imageFileName = image::imageFileName(png);
    item = fixture.add(item, png);
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture.manager->copyToPasteboard(item, true));
    state.SetBytesProcessed(qint64(state.iterations()) * png.size());
}
BENCHMARK(BM_WriteBackImage)->Unit(benchmark::kMillisecond);

// From the request to the thumbnail in the cache, the decode running on a worker.
void BM_Thumbnail(benchmark::State& state, const char* quality)
{
    PasteFixture fixture;
    ClipboardItem item;
    item.contentType = ClipboardContentType::image;
    item = fixture.add(item, photoPng());
    for (auto _ : state) {
        fixture.manager->setThumbnailQuality(quality); // empties the cache
        while (!fixture.manager->thumbnail(item, 120))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK_CAPTURE(BM_Thumbnail, low, "low")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbnail, normal, "normal")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Thumbnail, high, "high")->Unit(benchmark::kMillisecond);

} // namespace
