#include "BenchSize.h"
#include "HistoryGenerator.h"

#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

using namespace lumra;

namespace {

constexpr qint64 startMs = 1772355600000;

// One computer's store (synced file) with its engine over a shared folder.
struct Side {
    explicit Side(const QString& root, int items)
    {
        persistence = std::make_unique<PersistenceController>(true, nullptr, dir.path());
        if (items > 0) {
            bench::HistoryGenerator generator;
            if (Status s = bench::HistoryGenerator::fill(*persistence, generator.items(items), generator.categories(),
                                                           persistence->cloudStore()); !s)
                qFatal("could not fill the store: %s", qPrintable(s.error()));
        }
        sync::SyncEngine::Config config;
        config.root = root;
        config.device = QUuid::createUuid();
        config.stateFile = dir.path() + QStringLiteral("/LumraSync.sqlite");
        config.compactAfterRecords = 1'000'000;
        engine = std::make_unique<sync::SyncEngine>(config, persistence->newBackgroundContext(), persistence->cloudStore());
        if (Status s = engine->open(startMs); !s)
            qFatal("could not open the sync folder: %s", qPrintable(s.error()));
    }
    QTemporaryDir dir;
    std::unique_ptr<PersistenceController> persistence;
    std::unique_ptr<sync::SyncEngine> engine;
};

// Another computer's 10,000 items arrive at a computer that has none: read, checked and stored.
void BM_InitialImport(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    QTemporaryDir folder;
    Side writer(folder.path(), size);
    // The generator's images are random bytes, which the writer keeps on its computer as it should.
    const auto exported = writer.engine->exportChanges({}, true, startMs);
    const qint64 keptLocal = writer.engine->health(startMs).keptLocal;
    if (!exported.status || exported.written + keptLocal < size)
        state.SkipWithError("export failed");
    for (auto _ : state) {
        state.PauseTiming();
        auto reader = std::make_unique<Side>(folder.path(), 0);
        state.ResumeTiming();
        const auto outcome = reader->engine->importChanges(startMs);
        if (outcome.applied < exported.written)
            state.SkipWithError("import incomplete");
        state.counters["keptLocal"] = double(keptLocal);
        state.PauseTiming();
        reader.reset();
        state.ResumeTiming();
    }
    state.counters["items"] = size;
}
BENCHMARK(BM_InitialImport)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One more change after a large journal was read: only the new line is read and applied.
void BM_IncrementalChange(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    QTemporaryDir folder;
    Side writer(folder.path(), size);
    writer.engine->exportChanges({}, true, startMs);
    Side reader(folder.path(), 0);
    reader.engine->importChanges(startMs);
    auto rows = writer.persistence->viewContext().fetch({store::EntityKind::item, {}, {}, 1});
    if (!rows || rows->isEmpty()) {
        state.SkipWithError("no row");
        return;
    }
    const store::ManagedObjectPtr row = rows->first();
    qint64 now = startMs;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        row->set(store::ItemAttr::comment, QStringLiteral("round %1").arg(++round));
        (void)writer.persistence->save();
        writer.engine->exportChanges({*row->uuid(0)}, false, ++now);
        state.ResumeTiming();
        if (reader.engine->importChanges(now).applied != 1)
            state.SkipWithError("change not applied");
    }
}
BENCHMARK(BM_IncrementalChange)->Arg(10000)->Unit(benchmark::kMillisecond);

// The periodic full pass with nothing new: every row compared with what was published, and copies
// of one text looked for.
void BM_FullPassWithNothingNew(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    QTemporaryDir folder;
    Side writer(folder.path(), size);
    writer.engine->exportChanges({}, true, startMs);
    // The generated history repeats some texts: the second pass keeps one row of each.
    const int merged = writer.engine->exportChanges({}, true, startMs + 1).written;
    qint64 now = startMs + 1;
    state.counters["mergedCopies"] = merged;
    for (auto _ : state) {
        const auto outcome = writer.engine->exportChanges({}, true, ++now);
        if (!outcome.status || outcome.written != 0)
            state.SkipWithError("a pass with nothing new wrote something");
    }
}
BENCHMARK(BM_FullPassWithNothingNew)->Arg(10000)->Unit(benchmark::kMillisecond);

// The journal reader alone: records checked per second.
void BM_JournalReader(benchmark::State& state)
{
    const int size = bench::historySize(int(state.range(0)));
    QTemporaryDir folder;
    Side writer(folder.path(), size);
    writer.engine->exportChanges({}, true, startMs);
    const QString path = sync::SyncFiles::journalPath(
        sync::SyncFiles::deviceFolder(folder.path(), writer.engine->config().device), 1);
    const QByteArray data = sync::SyncFiles::readRegularFile(path, qint64(1) << 32).value();
    qint64 records = 0;
    for (auto _ : state) {
        const sync::JournalChunk chunk = sync::readJournal(data, 0, 0, writer.engine->config().device);
        records += chunk.records.size();
        benchmark::DoNotOptimize(chunk);
    }
    state.counters["records/s"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_JournalReader)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace
