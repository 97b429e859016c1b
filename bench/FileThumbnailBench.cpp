// File rows in the popup: pictures the desktop's shared thumbnail cache already holds are painted
// in the first frame after they are read, and a thumbnailer still at work holds no row up.
#include "engine/ClipboardManager.h"
#include "platform/thumbnails/SharedThumbnails.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"
#include "ui/preview/FileThumbnailCache.h"
#include "ui/shell/PopupPanel.h"

#include "BenchEngine.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using namespace lumra;

namespace {

constexpr int fileRows = 50;

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Folders of its own for the caches and for a thumbnailer that never finishes (for ".z64" files).
struct Fixture {
    Fixture()
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath("cache")));
        QDir().mkpath(home.filePath("data/thumbnailers"));
        QFile slow(home.filePath("data/thumbnailers/never-done.thumbnailer"));
        slow.open(QIODevice::WriteOnly);
        slow.write("[Thumbnailer Entry]\nTryExec=sh\nExec=sh -c \"sleep 30\" thumbnailer %i "
                   "%o\nMimeType=application/x-n64-rom;\n");
        slow.close();
        qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath("data")) + ":/usr/local/share:/usr/share");
        manager = engine.start();
    }

    // Fifty copied files; their pictures are in the shared cache as a file manager left them,
    // except every `slowEvery`-th, which only the never-finishing thumbnailer could draw.
    QStringList makeFiles(int round, int slowEvery)
    {
        QList<ClipboardItem> items;
        QStringList paths;
        const QString folder = home.filePath(QStringLiteral("files-%1").arg(round));
        QDir().mkpath(folder);
        for (int i = 0; i < fileRows; ++i) {
            const bool slow = slowEvery > 0 && i % slowEvery == 0;
            const QString path = folder + QStringLiteral("/clip %1.%2").arg(i).arg(slow ? "z64" : "mp4");
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write("frames");
            file.close();
            if (!slow) {
                QImage picture(256, 144, QImage::Format_RGB32);
                picture.fill(QColor::fromHsv(i * 7 % 360, 200, 200));
                (void)thumbnails::writeEntry(
                    thumbnails::sharedThumbnailRoot(), *thumbnails::regularFileVersion(path), 0, picture);
            }
            ClipboardItem item;
            item.id = QUuid::createUuid();
            item.contentType = ClipboardContentType::file;
            item.dateAdded = QDateTime::currentDateTimeUtc().addSecs(-i);
            item.fileURLStrings = QStringList { QUrl::fromLocalFile(path).toString() };
            items << item;
            paths << path;
        }
        manager->setClipboardItems(items);
        return paths;
    }

    QTemporaryDir home;
    bench::BenchEngine engine;
    std::unique_ptr<ClipboardManager> manager;
};

// Opens the popup and waits until every cached picture of a shown row has been read and painted.
void openAndWait(benchmark::State& state, Fixture& f, int slowEvery)
{
    FileThumbnailCache& cache = FileThumbnailCache::shared();
    double firstPaintMs = 0, paintedMs = 0, readToPaintMs = 0, rowsShown = 0, drawings = 0, iterations = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QStringList paths = f.makeFiles(round++, slowEvery);
        const int drawingsBefore = cache.drawingsStarted();
        PaintCounter counter;
        int ready = 0;
        int paintsAtLastRead = 0;
        qint64 lastReadNs = 0;
        QElapsedTimer timer;
        QMetaObject::Connection connection = QObject::connect(&cache, &FileThumbnailCache::thumbnailReady, [&] {
            ++ready;
            paintsAtLastRead = counter.paints;
            lastReadNs = timer.nsecsElapsed();
        });
        state.ResumeTiming();

        timer.start();
        auto* panel = new PopupPanel(QSize(360, 520));
        auto* view = new ContentView(*f.manager, nullptr);
        view->setPanel(panel);
        panel->setContentWidget(view);
        view->listView()->viewport()->installEventFilter(&counter);
        panel->present(QPoint(0, 0));
        while (counter.paints == 0)
            QCoreApplication::processEvents();
        const qint64 firstPaint = timer.nsecsElapsed();

        // The rows on screen, and which of them have a cached picture.
        HistoryListView* list = view->listView();
        int cachedShown = 0;
        for (int row = 0; row < list->historyModel()->rowCount(); ++row) {
            const QRect rect = list->visualRect(list->historyModel()->index(row, 0));
            if (rect.isValid() && rect.intersects(list->viewport()->rect()))
                cachedShown += (slowEvery == 0 || row % slowEvery != 0) ? 1 : 0;
        }
        qint64 painted = 0;
        while (painted == 0 && timer.elapsed() < 20000) {
            QCoreApplication::processEvents();
            if (ready >= cachedShown && counter.paints > paintsAtLastRead)
                painted = timer.nsecsElapsed();
        }
        state.PauseTiming();
        QObject::disconnect(connection);
        if (painted == 0)
            state.SkipWithError("the cached pictures were never painted");
        firstPaintMs += firstPaint / 1e6;
        paintedMs += painted / 1e6;
        readToPaintMs += (painted - lastReadNs) / 1e6;
        rowsShown += cachedShown;
        drawings += cache.drawingsStarted() - drawingsBefore;
        ++iterations;
        delete panel;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["first_paint_ms"] = firstPaintMs / iterations;
    state.counters["pictures_painted_ms"] = paintedMs / iterations;
    state.counters["cached_rows_shown"] = rowsShown / iterations;
    state.counters["last_read_to_paint_ms"] = readToPaintMs / iterations;
    state.counters["files_sent_to_draw"] = drawings / iterations;
}

void BM_PopupPaintsSharedCachePictures(benchmark::State& state)
{
    Fixture f;
    openAndWait(state, f, 0);
}

// Every third file has only a thumbnailer that never finishes (killed after its time limit).
void BM_RowsDoNotWaitForAThumbnailer(benchmark::State& state)
{
    Fixture f;
    openAndWait(state, f, 3);
}

} // namespace

BENCHMARK(BM_PopupPaintsSharedCachePictures)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowsDoNotWaitForAThumbnailer)->Iterations(5)->Unit(benchmark::kMillisecond);
