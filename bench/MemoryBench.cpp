#include "BenchEngine.h"
#include "engine/HistoryFilter.h"
#include "BenchSize.h"
#include "TextHistory.h"

#include "engine/filter/FilterIndex.h"
#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <functional>
#include <ranges>
#include <malloc.h>
#include <sqlite3.h>

using namespace lumra;

namespace {

// Bytes the allocator has handed out and not taken back.
double heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

double residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 : 0;
}

// Resident and heap growth from an empty history to a loaded one with its search index built,
// and the share of the item values and of the index.
void measureHistory(benchmark::State& state, int count, int (*length)(QRandomGenerator&))
{
    bench::BenchEngine engine;
    UserDefaults& defaults = engine.openDefaults(false);
    defaults.set(QStringLiteral("maxItems"), count);
    defaults.set(QStringLiteral("retentionDays"), 0); // keep the whole generated year
    qint64 utf8 = 0;
    {
        PersistenceController persistence(false, nullptr, engine.storeFolder());
        const QList<ClipboardItem> items = bench::textHistory(count, length, &utf8);
        for (const ClipboardItem& item : items)
            populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item), item);
        if (Status s = persistence.save(); !s)
            qFatal("could not fill the store: %s", qPrintable(s.error()));
    }
    // As the app starts: the history is read on a worker while capture runs; then a search builds the index.
    auto start = [](bench::BenchEngine& at) {
        auto manager = at.start([](ClipboardManagerServices& services) { services.loadHistoryInBackground = true; });
        while (manager->isLoadingHistory())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        manager->filters().setSearchText(QStringLiteral("x"));
        manager->filters().setSearchText(QString());
        return manager;
    };
    for (auto _ : state) {
        // What the engine costs with an empty history is not the history's.
        double emptyResident = 0;
        double emptyHeap = 0;
        {
            bench::BenchEngine empty;
            empty.openDefaults(false);
            const double residentBefore = residentBytes();
            const double heapBefore = heapBytes();
            auto manager = start(empty);
            emptyHeap = heapBytes() - heapBefore;
            emptyResident = residentBytes() - residentBefore;
        }
        const double residentBefore = residentBytes();
        const double heapBefore = heapBytes();
        auto manager = start(engine);
        if (manager->clipboardItems().size() != count)
            state.SkipWithError("history not loaded");
        const double heap = heapBytes() - heapBefore - emptyHeap;
        const double resident = residentBytes() - residentBefore - emptyResident;

        // The shares: a second copy of the values alone, then an index over them.
        const double valuesBefore = heapBytes();
        QList<ClipboardItem> values = HistoryReader(*manager->persistence()).loadItems().value();
        const double valueBytes = heapBytes() - valuesBefore;
        const double indexBefore = heapBytes();
        auto index = FilterIndex::build(values, 1);
        const double indexBytes = heapBytes() - indexBefore;

        state.counters["resident_MB"] = resident / 1e6;
        state.counters["resident_per_utf8"] = resident / double(utf8);
        state.counters["empty_engine_resident_MB"] = emptyResident / 1e6;
        state.counters["heap_MB"] = heap / 1e6;
        state.counters["bytes_per_item"] = heap / count;
        state.counters["values_MB"] = valueBytes / 1e6;
        state.counters["index_MB"] = indexBytes / 1e6;
        state.counters["text_utf8_MB"] = double(utf8) / 1e6;
        state.counters["heap_per_utf8"] = heap / double(utf8);
        state.counters["item_value_size"] = double(sizeof(ClipboardItem));
    }
}

// 100,000 texts of about 100 characters: resident growth at most 60 MB.
void BM_HistoryMemoryShortTexts(benchmark::State& state)
{
    measureHistory(state, bench::historySize(100'000), bench::shortTextLength);
}
BENCHMARK(BM_HistoryMemoryShortTexts)->Iterations(1)->Unit(benchmark::kMillisecond);

// 13,600 texts of 3.4 KB on average, a few up to 50 KB: at most three times their UTF-8.
void BM_HistoryMemoryLongTexts(benchmark::State& state)
{
    measureHistory(state, bench::historySize(13'600), bench::longTextLength);
}
BENCHMARK(BM_HistoryMemoryLongTexts)->Iterations(1)->Unit(benchmark::kMillisecond);

// What takes the space in a store of 100,000 short texts: each table and index, and the columns
// that repeat per row (ids as text, content keys).
void BM_StoreSize(benchmark::State& state)
{
    const int count = bench::historySize(100'000);
    bench::BenchEngine engine;
    qint64 utf8 = 0;
    const QList<ClipboardItem> items = bench::textHistory(count, bench::shortTextLength, &utf8);
    {
        PersistenceController persistence(false, nullptr, engine.storeFolder());
        // Oldest first, in the order they were captured: the order decides how full the index pages are.
        for (const ClipboardItem& item : std::views::reverse(items))
            populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item), item);
        if (Status s = persistence.save(); !s)
            qFatal("could not fill the store: %s", qPrintable(s.error()));
    }
    const QString path = engine.storeFolder() + QStringLiteral("/Lumra.sqlite");
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        auto each = [db](const char* sql, const std::function<void(sqlite3_stmt*)>& row) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
                return;
            while (sqlite3_step(st) == SQLITE_ROW)
                row(st);
            sqlite3_finalize(st);
        };
        each("SELECT name, SUM(pgsize), SUM(unused) FROM dbstat GROUP BY name", [&](sqlite3_stmt* st) {
            const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            state.counters[name + "_MB"] = double(sqlite3_column_int64(st, 1)) / 1e6;
            state.counters[name + "_unused_MB"] = double(sqlite3_column_int64(st, 2)) / 1e6;
        });
        each("SELECT SUM(length(id)), SUM(CASE typeof(contentKey) WHEN 'integer' THEN 8 ELSE length(contentKey) END), SUM(length(CAST(textContent AS BLOB))), "
             "SUM(length(sourceAppBundleId) + length(sourceAppName)) FROM CDClipboardItem",
             [&](sqlite3_stmt* st) {
                 state.counters["col_id_MB"] = double(sqlite3_column_int64(st, 0)) / 1e6;
                 state.counters["col_contentKey_MB"] = double(sqlite3_column_int64(st, 1)) / 1e6;
                 state.counters["col_text_MB"] = double(sqlite3_column_int64(st, 2)) / 1e6;
                 state.counters["col_sourceApp_MB"] = double(sqlite3_column_int64(st, 3)) / 1e6;
             });
        sqlite3_close(db);
        state.counters["file_MB"] = double(QFileInfo(path).size()) / 1e6;
    }
}
BENCHMARK(BM_StoreSize)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
