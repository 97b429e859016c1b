#include "BenchSize.h"
#include "HistoryGenerator.h"

#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <map>

using namespace lumra;

namespace {

// One filled store per size, made once and shared by the benchmarks of that size.
struct FilledStore {
    QTemporaryDir dir;
    std::unique_ptr<PersistenceController> persistence;
};

PersistenceController& storeOf(int size)
{
    static std::map<int, std::unique_ptr<FilledStore>> stores;
    auto& slot = stores[size];
    if (!slot) {
        slot = std::make_unique<FilledStore>();
        slot->persistence = std::make_unique<PersistenceController>(true, nullptr, slot->dir.path());
        bench::HistoryGenerator generator;
        if (Status s = bench::HistoryGenerator::fill(*slot->persistence, generator.items(size), generator.categories()); !s)
            qFatal("could not fill the store: %s", qPrintable(s.error()));
    }
    return *slot->persistence;
}

void BM_LoadItems(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    HistoryReader reader(storeOf(size));
    for (auto _ : state) {
        auto items = reader.loadItems();
        if (!items || items->size() != size)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(items);
        // Freeing the previous history is the caller's cost, not the load's.
        state.PauseTiming();
        items = QList<ClipboardItem>();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_LoadItems)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_InsertAndSave(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    PersistenceController& persistence = storeOf(size);
    int n = 0;
    for (auto _ : state) {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = QStringLiteral("freshly copied text %1").arg(++n);
        item.dateAdded = QDateTime::currentDateTimeUtc();
        populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item, persistence.localStore()), item);
        if (!persistence.save())
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_InsertAndSave)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
