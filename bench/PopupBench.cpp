// The popup over a large history: from the open-popup hot key to the first painted rows, from a
// search keystroke to the repainted list, scrolling through a batch, and the memory it takes.
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "platform/keys/FakeGlobalHotKeys.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"

#include "BenchEngine.h"
#include "BenchSize.h"
#include "ProcessMemory.h"
#include "HistoryGenerator.h"
#include "PopupBenchFixture.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

#include <algorithm>

using namespace lumra;
using lumra::bench::PopupBenchFixture;
using lumra::bench::residentMegabytes;

namespace {

void BM_HotKeyToPopupFirstPaint(benchmark::State& state)
{
    PopupBenchFixture f(int(state.range(0)));
    if (!f.ok) {
        state.SkipWithError("no hot keys");
        return;
    }
    // Memory: the process with the popup closed, then open (after a first opening has loaded
    // fonts, icon themes and the search index, so later openings are what is measured).
    f.toggle();
    f.waitForPaint();
    f.closeAndSettle();
    const double closed = residentMegabytes();
    double open = closed;
    for (auto _ : state) {
        f.toggle();
        if (!f.waitForPaint()) {
            state.SkipWithError("the popup was never painted");
            break;
        }
        state.PauseTiming();
        open = std::max(open, residentMegabytes());
        f.closeAndSettle();
        state.ResumeTiming();
    }
    state.counters["items"] = double(state.range(0));
    state.counters["rss_closed_MB"] = closed;
    state.counters["rss_open_MB"] = open;
    state.counters["rss_after_MB"] = residentMegabytes();
}

void BM_SearchKeystrokeToRepaint(benchmark::State& state)
{
    PopupBenchFixture f(int(state.range(0)));
    QLineEdit* field = f.openSearchField(state);
    if (!field)
        return;
    // Typing a letter and deleting it again: each keystroke changes the list, so each repaints it.
    const QStringList typed{QStringLiteral("q"), QString()};
    int i = 0;
    for (auto _ : state) {
        f.watch.painted = false;
        // The keystroke, then the list as soon as the search runs (the debounce is not measured).
        field->setText(typed[i++ % typed.size()]);
        f.manager->filters().applyPendingSearch();
        if (!f.waitForPaint()) {
            state.SkipWithError("the list was never repainted");
            break;
        }
    }
    state.counters["items"] = double(state.range(0));
}

// From the last key of a search, a key event in the search field, through the typing delay (not
// counted: the clock is moved past it) and the scan, to the painted list. The letter and its
// deletion alternate, so each key changes the list; each is the first search of its text.
void BM_SearchKeyEventToPaintedList(benchmark::State& state)
{
    PopupBenchFixture f(int(state.range(0)));
    QLineEdit* field = f.openSearchField(state);
    if (!field)
        return;
    double worstMs = 0;
    double totalMs = 0;
    double searchedMs = 0;
    int keys = 0;
    for (auto _ : state) {
        const bool type = keys % 2 == 0;
        QKeyEvent press(QEvent::KeyPress, type ? Qt::Key_E : Qt::Key_Backspace, Qt::NoModifier, type ? QStringLiteral("e") : QString());
        QKeyEvent release(QEvent::KeyRelease, type ? Qt::Key_E : Qt::Key_Backspace, Qt::NoModifier, type ? QStringLiteral("e") : QString());
        f.watch.painted = false;
        QElapsedTimer elapsed;
        elapsed.start();
        QCoreApplication::sendEvent(field, &press);
        QCoreApplication::sendEvent(field, &release);
        const qint64 typed = elapsed.nsecsElapsed();
        // The search and what observers of its result do at once; the list is laid out and painted next.
        f.engine.clock.advance(std::chrono::milliseconds(120));
        f.manager->filters().applyPendingSearch();
        searchedMs += double(elapsed.nsecsElapsed() - typed) / 1e6;
        if (!f.waitForPaint()) {
            state.SkipWithError("the list was never repainted");
            break;
        }
        const double ms = double(elapsed.nsecsElapsed()) / 1e6;
        worstMs = std::max(worstMs, ms);
        totalMs += ms;
        ++keys;
    }
    state.counters["items"] = double(state.range(0));
    state.counters["mean_ms"] = keys ? totalMs / keys : 0;
    state.counters["worst_ms"] = worstMs;
    state.counters["search_and_signal_ms"] = keys ? searchedMs / keys : 0;
    state.counters["layout_and_paint_ms"] = keys ? (totalMs - searchedMs) / keys : 0;
    state.counters["shown"] = double(f.manager->filters().filteredItemCount());
}

void BM_ScrollOneBatch(benchmark::State& state)
{
    PopupBenchFixture f(int(state.range(0)));
    if (!f.open(state))
        return;
    HistoryListView* list = f.view->listView();
    QScrollBar* bar = list->verticalScrollBar();
    double worstMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.view->resetForOpening();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        // One frame per 40 px step, through the whole first batch and the loading of the next.
        list->historyModel()->markUserScrolled();
        while (bar->value() < bar->maximum()) {
            QElapsedTimer frame;
            frame.start();
            bar->setValue(bar->value() + 40);
            list->viewport()->repaint();
            worstMs = std::max(worstMs, frame.nsecsElapsed() / 1e6);
        }
    }
    state.counters["worst_frame_ms"] = worstMs;
    state.counters["items"] = double(state.range(0));
}

} // namespace

BENCHMARK(BM_HotKeyToPopupFirstPaint)->Arg(bench::historySize(100000))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKeystrokeToRepaint)->Arg(bench::historySize(100000))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKeyEventToPaintedList)->Arg(bench::historySize(100000))->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollOneBatch)->Arg(bench::historySize(100000))->Unit(benchmark::kMillisecond);
