#include "model/store/ItemRows.h"

#include "BenchEngine.h"
#include "BenchSize.h"
#include "Teardown.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

using namespace lumra;

namespace {

class BenchManager : public ClipboardManager {
public:
    using ClipboardManager::ClipboardManager;
    using ClipboardManager::applyRetention;
    using ClipboardManager::runAutoClean;
    std::vector<std::function<void()>> pending;

protected:
    void runInBackground(std::function<void()> work) override { pending.push_back(std::move(work)); }
};

// Fixed iteration counts: the untimed set-up of each round (rows written with a full sync) costs
// far more than the timed work, and the library would otherwise run it thousands of times.
// One filled history (as the engine sees it after start-up), shared by every benchmark.
struct Engine : bench::BenchEngine {
    std::unique_ptr<BenchManager> manager;
    int added = 0;

    explicit Engine(int size)
    {
        fillHistory(size);
        openDefaults(true);
        defaults->set("retentionDays", 0);
        defaults->set("autoCleanMinutes", 0);
        defaults->set("maxItems", 1'000'000);
        defaults->set("recycleBinEnabled", true);
        manager = start<BenchManager>();
    }

    // Rows as a capture writes them, `age` old, without touching the in-memory history.
    void addRows(int count, qint64 ageSeconds)
    {
        auto& context = manager->persistence()->viewContext();
        for (int i = 0; i < count; ++i) {
            ClipboardItem item;
            item.id = QUuid::createUuid();
            item.textContent = QStringLiteral("copied text number %1").arg(++added);
            item.dateAdded = clock.now().addSecs(-ageSeconds);
            populateManagedItem(*context.insert(store::EntityKind::item, manager->persistence()->localStore()), item);
        }
        if (!manager->persistence()->save())
            qFatal("could not add rows");
    }
};

Engine& engine()
{
    static std::unique_ptr<Engine> e;
    if (!e) {
        e = std::make_unique<Engine>(bench::historySize(100'000));
        bench::keepUntilTeardown([] { e.reset(); });
    }
    return *e;
}

void BM_EnforceMaxItemsAfterCapture(benchmark::State& state)
{
    Engine& e = engine();
    (void)e.manager->setMaxItems(e.manager->countItemsOverLimit(0));
    for (auto _ : state) {
        state.PauseTiming();
        e.clock.advance(std::chrono::seconds(1));
        e.addRows(1, 0);
        state.ResumeTiming();
        if (!e.manager->enforceMaxItems())
            state.SkipWithError("enforceMaxItems failed");
    }
}
BENCHMARK(BM_EnforceMaxItemsAfterCapture)->Unit(benchmark::kMillisecond)->Iterations(50);

// The main thread's share of a pass: starting it, and taking in its result (ten rows cleaned).
void BM_AutoCleanMainThread(benchmark::State& state)
{
    Engine& e = engine();
    (void)e.manager->setAutoCleanMinutes(60);
    e.manager->runAutoClean(); // the first pass takes the generated history's old rows
    for (auto& work : std::exchange(e.manager->pending, {}))
        work();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        e.addRows(10, 2 * 3600);
        state.ResumeTiming();
        e.manager->runAutoClean();
        state.PauseTiming();
        for (auto& work : std::exchange(e.manager->pending, {}))
            work();
        state.ResumeTiming();
        QCoreApplication::processEvents();
    }
    (void)e.manager->setAutoCleanMinutes(0);
}
BENCHMARK(BM_AutoCleanMainThread)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ApplyRetention(benchmark::State& state)
{
    Engine& e = engine();
    (void)e.manager->setRecycleBinEnabled(false);
    (void)e.manager->setRetentionDays(365); // the first pass takes what the generated history holds beyond it
    for (auto _ : state) {
        state.PauseTiming();
        e.addRows(10, 366 * 86400);
        state.ResumeTiming();
        e.manager->applyRetention();
    }
    (void)e.manager->setRetentionDays(0);
    (void)e.manager->setRecycleBinEnabled(true);
}
BENCHMARK(BM_ApplyRetention)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_DeleteItemPermanently(benchmark::State& state)
{
    Engine& e = engine();
    for (auto _ : state) {
        state.PauseTiming();
        if (e.manager->clipboardItems().isEmpty()) { // the short run's small history may be cleaned out by now
            e.addRows(100, 0);
            e.manager->loadItems();
        }
        const QUuid id = e.manager->clipboardItems().at(e.manager->clipboardItems().size() / 2).id;
        state.ResumeTiming();
        if (!e.manager->deleteItemPermanently(id))
            state.SkipWithError("delete failed");
    }
    state.counters["items"] = double(e.manager->clipboardItems().size());
}
BENCHMARK(BM_DeleteItemPermanently)->Unit(benchmark::kMillisecond)->Iterations(50);

} // namespace
