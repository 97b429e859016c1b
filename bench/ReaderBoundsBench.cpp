// What the readers of another computer's journal, a backup, the settings file and the installed
// desktop entries cost with inputs shaped to cost far more than their size: peak memory above
// what the process held before (one case per process: --benchmark_filter), CPU time, and the
// main thread's share.
#include "ProcessMemory.h"

#include "model/backup/BackupImport.h"
#include "model/store/PersistenceController.h"
#include "model/sync/SyncEngine.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/workspace/DesktopEntries.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QDeadlineTimer>
#include <QThread>

#include <ctime>

using namespace lumra;

namespace {

constexpr qint64 startMs = 1772355600000;

double cpuSeconds(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("could not write %s", qPrintable(path));
}

// Runs `work` once and reports its peak memory above the start, its CPU time (process and this thread).
template <typename F>
void measure(benchmark::State& state, F&& work)
{
    for (auto _ : state) {
        const double base = bench::residentMegabytes();
        resetPeak();
        const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        work();
        state.counters["peakMBAbove"] = bench::residentMegabytes("VmHWM") - base;
        state.counters["cpuS"] = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        state.counters["mainThreadCpuS"] = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mainCpu;
    }
}

QByteArray manyValues(qsizetype bytes)
{
    QByteArray values(bytes, ',');
    for (qsizetype i = 0; i < values.size(); i += 2)
        values[i] = '0';
    return values;
}

struct Reader {
    Reader()
    {
        persistence = std::make_unique<PersistenceController>(true, nullptr, store.path());
        sync::SyncEngine::Config config;
        config.root = sync::SyncFiles::root(folder.path());
        config.device = QUuid::createUuid();
        config.stateFile = store.path() + QStringLiteral("/LumraSync.sqlite");
        engine = std::make_unique<sync::SyncEngine>(config, persistence->newBackgroundContext(), persistence->cloudStore());
        if (Status s = engine->open(startMs); !s)
            qFatal("could not open the sync folder: %s", qPrintable(s.error()));
    }
    // Another computer's folder with this journal.
    QUuid writer(const QByteArray& journal)
    {
        const QUuid device = QUuid::createUuid();
        const QString path = sync::SyncFiles::deviceFolder(sync::SyncFiles::root(folder.path()), device);
        write(sync::SyncFiles::manifestPath(path), R"({"v":1,"generation":1})");
        write(sync::SyncFiles::journalPath(path, 1), journal);
        return device;
    }
    QTemporaryDir store, folder;
    std::unique_ptr<PersistenceController> persistence;
    std::unique_ptr<sync::SyncEngine> engine;
};

// One line of 90 MB (two bytes a value) in another computer's journal.
void BM_JournalLongLine(benchmark::State& state)
{
    Reader reader;
    reader.writer(R"({"v":1,"x":[)" + manyValues(qsizetype(state.range(0)) * 1024 * 1024) + "0]}\n");
    measure(state, [&] { (void)reader.engine->importChanges(startMs); });
}
BENCHMARK(BM_JournalLongLine)->Arg(90)->Arg(46)->Iterations(1)->Unit(benchmark::kMillisecond);

// 50,000 records stamped in 2199, held; then six passes, 5 s apart (30 s of the worker's timer).
void BM_HeldRecordPasses(benchmark::State& state)
{
    Reader reader;
    QByteArray journal;
    const QUuid device = QUuid::createUuid();
    for (int i = 0; i < 50'000; ++i) {
        sync::SyncRecord record;
        record.id = QUuid::createUuid();
        record.device = device;
        record.mtime = sync::latestMtime - 200LL * 24 * 3600 * 1000;
        record.fields = QJsonObject {{QStringLiteral("contentType"), QStringLiteral("text")},
                                     {QStringLiteral("textContent"), QStringLiteral("held %1").arg(i)}};
        journal += sync::encodeRecord(record) + '\n';
    }
    const QString path = sync::SyncFiles::deviceFolder(sync::SyncFiles::root(reader.folder.path()), device);
    write(sync::SyncFiles::manifestPath(path), R"({"v":1,"generation":1})");
    write(sync::SyncFiles::journalPath(path, 1), journal);
    (void)reader.engine->importChanges(startMs);
    if (reader.engine->health(startMs).heldAhead != 50'000)
        state.SkipWithError("the records were not held");
    measure(state, [&] {
        for (int pass = 1; pass <= 6; ++pass)
            (void)reader.engine->importChanges(startMs + pass * 5000);
    });
}
BENCHMARK(BM_HeldRecordPasses)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 100 MB backup of one item whose tags are two bytes a value.
void BM_BackupOfManyValues(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("backup.json"));
    write(path, R"({"items":[{"tags":[)" + manyValues(100 * 1024 * 1024) + R"(0]}],"images":{}})");
    measure(state, [&] {
        if (backup::readBackupFile(path).ok())
            state.SkipWithError("accepted");
    });
}
BENCHMARK(BM_BackupOfManyValues)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 16 MB settings file read at start (main thread).
void BM_SettingsFile16MB(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    QByteArray json = "{\"maxItems\": 30";
    for (int i = 0; json.size() < 16 * 1024 * 1024; ++i)
        json += ",\"k" + QByteArray::number(i) + "\": [1, 2, 3, 4, 5, 6, 7, 8]";
    write(path, json + "}");
    measure(state, [&] { UserDefaults defaults(path); });
}
BENCHMARK(BM_SettingsFile16MB)->Iterations(1)->Unit(benchmark::kMillisecond);

// 100 entries of 1 MB (or 200 KB) in the user's applications folder: the first copy asks for them.
void BM_DesktopEntries(benchmark::State& state)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(dir.filePath(QStringLiteral("none"))));
    for (int i = 0; i < 100; ++i) {
        QByteArray body = "[Desktop Entry]\nType=Application\nName=App\nExec=app\n";
        for (int k = 0; body.size() < state.range(0) * 1024; ++k)
            body += "Comment[x" + QByteArray::number(k) + "]=" + QByteArray(200, 'c') + '\n';
        write(dir.filePath(QStringLiteral("home/applications/app%1.desktop").arg(i)), body);
    }
    measure(state, [&] {
        DesktopEntries entries;
        (void)entries.index();
        const double main = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        // None when every entry is skipped.
        for (QDeadlineTimer deadline(3000); entries.index().size() == 0 && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        state.counters["waitedMainCpuS"] = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main;
        state.counters["entries"] = double(entries.index().size());
    });
}
BENCHMARK(BM_DesktopEntries)->Arg(1024)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
