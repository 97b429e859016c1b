// The filtered list as the popup sees it through ClipboardManager: a keystroke after its pause, a
// capture (a new history revision), switching a filter, and reading the list and the source apps.
#include "BenchEngine.h"
#include "engine/HistoryFilter.h"
#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

const char* const words[] = {"server", "error", "config", "user", "account", "meeting", "invoice", "release",
                             "build", "deploy", "cluster", "database", "query", "calendar", "flight", "café",
                             "straße", "résumé", "Zürich", "https://example.com/path", "#ff8800", "git status"};

QList<ClipboardItem> makeHistory(int count, const QDateTime& now)
{
    std::mt19937 random(2024);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    QList<ClipboardItem> items;
    items.reserve(count);
    for (int i = 0; i < count; ++i) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        QStringList text;
        for (int w = 0, n = 3 + pick(40); w < n; ++w) text.append(QString::fromUtf8(words[pick(int(std::size(words)))]));
        item.textContent = text.join(u' ');
        item.dateAdded = now.addSecs(-qint64(i) * 97);
        item.isPinned = pick(50) == 0;
        item.isTrashed = pick(100) == 0;
        if (pick(5) == 0) {
            item.sourceAppBundleId = QStringLiteral("org.example.app%1").arg(pick(30));
            item.sourceAppName = QStringLiteral("App %1").arg(pick(30));
        }
        items.append(std::move(item));
    }
    return items;
}

// A settings-only engine whose history is set directly.
struct Fixture : bench::BenchEngine {
    Fixture()
    {
        manager = std::make_unique<ClipboardManager>(openDefaults(false), &kv, clock);
        history = makeHistory(bench::historySize(100'000), clock.now());
        manager->setClipboardItems(history);
    }

    std::unique_ptr<ClipboardManager> manager;
    QList<ClipboardItem> history;
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_KeystrokeAfterPause(benchmark::State& state)
{
    Fixture& f = fixture();
    const QString queries[] = {QStringLiteral("serv"), QStringLiteral("server")};
    int n = 0;
    for (auto _ : state) {
        f.manager->filters().setSearchText(queries[n++ % 2]);
        f.clock.advance(120ms);
    }
    state.counters["found"] = double(f.manager->filters().filteredItemCount());
    f.manager->filters().setSearchText(QString());
}

// A capture: one new item on top, then the list of the new revision.
void BM_CaptureRecompute(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        QList<ClipboardItem> items = f.history;
        ClipboardItem captured;
        captured.id = QUuid::createUuid();
        captured.textContent = QStringLiteral("freshly copied text");
        captured.dateAdded = f.clock.now();
        items.prepend(captured);
        state.ResumeTiming();
        f.manager->setClipboardItems(std::move(items));
    }
}

void BM_ToggleFilter(benchmark::State& state)
{
    Fixture& f = fixture();
    f.manager->setClipboardItems(f.history);
    bool on = false;
    for (auto _ : state) f.manager->filters().setShowStarredOnly(on = !on);
    f.manager->filters().setShowStarredOnly(false);
}

void BM_ReadWholeList(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        f.manager->filters().setShowRecycleBin(true);
        f.manager->filters().leaveRecycleBinView(); // a new result, so the list is built again
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.manager->filters().filteredItems().size());
    }
}

void BM_SourceAppsAfterCapture(benchmark::State& state)
{
    Fixture& f = fixture();
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QList<ClipboardItem> items = f.history;
        items.first().sourceAppName = QStringLiteral("Renamed %1").arg(++run);
        f.manager->setClipboardItems(std::move(items));
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.manager->filters().sourceApps());
    }
}

} // namespace

// The paused set-up of these costs far more than the timed part: a fixed count keeps runs short.
const int setUpRuns = bench::shortMode() ? 1 : 20;

BENCHMARK(BM_KeystrokeAfterPause)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureRecompute)->Iterations(setUpRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToggleFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWholeList)->Iterations(setUpRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceAppsAfterCapture)->Iterations(setUpRuns)->Unit(benchmark::kMillisecond);
