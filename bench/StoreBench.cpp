#include "BenchSize.h"
#include "HistoryGenerator.h"
#include "Teardown.h"
#include "TextHistory.h"

#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <map>
#include <ranges>

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
    if (stores.empty())
        bench::keepUntilTeardown([] { stores.clear(); });
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

// The file a history of texts of `length` makes, captured oldest first, and where its bytes go:
// one counter per table and index, in MB of pages.
void measureStoreSize(benchmark::State& state, int count, int (*length)(QRandomGenerator&))
{
    for (auto _ : state) {
        QTemporaryDir dir;
        qint64 utf8 = 0;
        {
            PersistenceController persistence(false, nullptr, dir.path());
            const QList<ClipboardItem> items = bench::textHistory(count, length, &utf8);
            for (const ClipboardItem& item : std::views::reverse(items))
                populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item), item);
            if (Status s = persistence.save(); !s)
                state.SkipWithError(qPrintable(s.error()));
        }
        const QString path = dir.path() + QStringLiteral("/Lumra.sqlite");
        state.counters["store_MB"] = double(QFileInfo(path).size()) / 1e6;
        state.counters["text_utf8_MB"] = double(utf8) / 1e6;
        sql::Database db;
        if (!db.open(path, false)) {
            state.SkipWithError("could not reopen the store");
            return;
        }
        sql::Statement* st = db.prepare(QStringLiteral("SELECT name, sum(pgsize), sum(payload) FROM dbstat GROUP BY name"));
        while (st && st->step())
            state.counters[st->text(0).toStdString() + "_MB"] = double(st->int64(1)) / 1e6;
        if (st)
            st->reset();
        st = db.prepare(QStringLiteral("SELECT sum(length(CAST(textContent AS BLOB))) FROM CDClipboardItem"));
        if (st && st->step())
            state.counters["texts_MB"] = double(st->int64(0)) / 1e6;
        if (st)
            st->reset();
    }
}

// 100,000 texts of about 100 characters: at most 26 MB.
void BM_StoreSizeShortTexts(benchmark::State& state)
{
    measureStoreSize(state, bench::historySize(100'000), bench::shortTextLength);
}
BENCHMARK(BM_StoreSizeShortTexts)->Iterations(1)->Unit(benchmark::kSecond);

// 13,600 texts of 3.4 KB on average.
void BM_StoreSizeLongTexts(benchmark::State& state)
{
    measureStoreSize(state, bench::historySize(13'600), bench::longTextLength);
}
BENCHMARK(BM_StoreSizeLongTexts)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
