// Image rows scrolled through in the popup, as a user does: every row painted, some hovered until
// their preview shows, then the popup closed. What the process holds then, against what it held
// before. The pictures are 1920 x 1080 noise, which PNG cannot shrink (about 8 MB each).
#include "engine/ClipboardManager.h"
#include "engine/ItemMedia.h"
#include "platform/core/Allocator.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/preview/PreviewCoordinator.h"
#include "ui/preview/PreviewLayers.h"
#include "ui/preview/UnifiedPreviewWindow.h"

#include "BenchImages.h"
#include "BenchSize.h"
#include "PopupBenchFixture.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollBar>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

using namespace lumra;
using lumra::bench::PopupBenchFixture;

namespace {

// What the allocator hands out and has not had back, in megabytes: the rest of the heap's
// resident pages are free ones it keeps.
double heapInUseMegabytes()
{
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
#else
    return 0;
#endif
}

// Resident memory once freed heap pages are given back, as the engine does after its thumbnails.
double heldMegabytes()
{
    releaseFreedMemory();
    return bench::residentMegabytes();
}

// Runs the event loop until no thumbnail has arrived for `quiet`.
void waitForThumbnails(const int& ready, std::chrono::milliseconds quiet = std::chrono::milliseconds(400))
{
    int seen = ready;
    QElapsedTimer sinceLast;
    sinceLast.start();
    while (sinceLast.elapsed() < quiet.count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (ready != seen) {
            seen = ready;
            sinceLast.restart();
        }
    }
}

// Rests the pointer on the middle of the list until the hovered row's picture shows in the preview,
// then closes the preview and takes the pointer off the list. False when no picture showed.
bool hoverUntilPreviewed(HistoryListView* list)
{
    QWidget* viewport = list->viewport();
    const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    UnifiedPreviewCoordinator& previews = UnifiedPreviewCoordinator::shared();
    bool shown = false;
    for (QDeadlineTimer deadline(10'000); !shown && !deadline.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        const auto* picture = previews.panel() ? previews.panel()->findChild<ImagePreviewView*>() : nullptr;
        shown = picture && picture->hasImage();
    }
    if (shown) {
        // A frame with the picture in it, as the user sees it.
        previews.panel()->repaint();
        previews.closePreviewAnimated();
    }
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(list, &leave);
    for (QDeadlineTimer deadline(5'000); previews.isPreviewVisible() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return shown;
}

// range(0) rows; range(1) 1: 16-bit channels, as some screenshot tools and photo editors write them.
void BM_PopupImageRowsScrolled(benchmark::State& state)
{
    const bool small = bench::shortMode();
    const int count = small ? 6 : bench::historySize(int(state.range(0)));
    const bool deepColour = state.range(1) != 0;
    const QSize pictureSize = small ? QSize(640, 360) : QSize(1920, 1080);
    const int hoverEvery = small ? 1 : 8; // screenfuls between two previews

    const double atStart = heldMegabytes();
    PopupBenchFixture f(0);
    f.manager->setPreviewHoverDelay(1);
    const qint64 storedBytes = bench::storeNoiseImages(*f.manager, count, pictureSize, deepColour);
    if (storedBytes < 0) {
        state.SkipWithError("the images could not be stored");
        return;
    }
    int ready = 0;
    QObject::connect(&f.manager->media(), &ItemMedia::thumbnailReady, f.manager.get(), [&ready] { ++ready; });

    // Once opened and closed, so fonts, icons and the first screenful's thumbnails are in.
    if (!f.open(state))
        return;
    waitForThumbnails(ready);
    f.closeAndSettle();
    const double before = heldMegabytes();
    const double heapBefore = heapInUseMegabytes();
    const double anonBefore = bench::residentMegabytes("RssAnon");
    const double fileBefore = bench::residentMegabytes("RssFile");
    double peak = before;
    int screens = 0;
    int previews = 0;
    for (auto _ : state) {
        if (!f.open(state))
            return;
        HistoryListView* list = f.view->listView();
        QScrollBar* bar = list->verticalScrollBar();
        list->historyModel()->markUserScrolled();
        for (int last = -1;;) {
            waitForThumbnails(ready);
            if (screens % hoverEvery == hoverEvery - 1)
                previews += hoverUntilPreviewed(list) ? 1 : 0;
            peak = std::max(peak, bench::residentMegabytes());
            // At the end, and no further batch came in below it.
            if (bar->value() == last && bar->value() >= bar->maximum())
                break;
            last = bar->value();
            bar->setValue(bar->value() + list->viewport()->height());
            // The next batch loads after a short delay on the engine's clock.
            f.engine.clock.advance(std::chrono::seconds(1));
            list->viewport()->repaint();
            ++screens;
        }
        waitForThumbnails(ready);
        f.closeAndSettle();
    }
    QCoreApplication::processEvents();
    const double untrimmed = bench::residentMegabytes();
    const double after = heldMegabytes();
    state.counters["images"] = count;
    state.counters["stored_MB"] = double(storedBytes) / 1e6;
    state.counters["screens"] = screens;
    state.counters["previews"] = previews;
    state.counters["thumbnails_made"] = ready;
    state.counters["rss_start_MB"] = atStart;
    state.counters["rss_before_MB"] = before;
    state.counters["rss_peak_MB"] = peak;
    state.counters["rss_after_untrimmed_MB"] = untrimmed;
    state.counters["rss_after_MB"] = after;
    state.counters["held_MB"] = after - before;
    state.counters["heap_in_use_held_MB"] = heapInUseMegabytes() - heapBefore;
    state.counters["anon_held_MB"] = bench::residentMegabytes("RssAnon") - anonBefore;
    state.counters["file_held_MB"] = bench::residentMegabytes("RssFile") - fileBefore;
}

} // namespace

// 300 rows, as a long afternoon of screenshots leaves them.
BENCHMARK(BM_PopupImageRowsScrolled)->Args({300, 0})->Args({150, 1})->Iterations(1)->Unit(benchmark::kSecond);
