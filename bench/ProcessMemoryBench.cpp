// Memory as a user's system monitor shows it: the real lumra program started over a generated
// history in a temporary home, on a private X server, one copy made by another process, then the
// kernel's own figures for the process.
#include "BenchSize.h"
#include "ProcessHome.h"
#include "TextHistory.h"

#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/defaults/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <map>
#include <ranges>
#include <memory>

using namespace lumra;
using lumra::bench::GeneratedHome;
using lumra::bench::PrivateXServer;
using lumra::bench::newestStoredText;

namespace {

// The kernel's figures for one process, in bytes.
struct ProcessMemory {
    double rss = 0;     // VmRSS
    double rssAnon = 0; // heap and other private memory
    double rssFile = 0; // mapped files: libraries, the store if it is mapped
    double pss = 0;     // smaps_rollup, shared pages divided among their users
};

double kilobytesField(const QByteArray& text, const QByteArray& name)
{
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toDouble() * 1024;
    return 0;
}

ProcessMemory readMemory(qint64 pid)
{
    auto read = [pid](const char* file) {
        QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray status = read("status");
    const QByteArray rollup = read("smaps_rollup");
    return {kilobytesField(status, "VmRSS"), kilobytesField(status, "RssAnon"), kilobytesField(status, "RssFile"),
            kilobytesField(rollup, "Pss")};
}

struct Run {
    ProcessMemory memory;
    double captureMs = 0; // from the copy to the row in the store
    QString error;
};

// Starts lumra over `home`, copies one text with xclip once it is up, waits for the row and for the
// resident size to settle (the history loads on a worker), and reads the process's figures.
Run measureProcess(const GeneratedHome& home, const QString& display)
{
    Run run;
    QProcess lumra;
    lumra.setProcessEnvironment(home.environment(display));
    lumra.setProcessChannelMode(QProcess::MergedChannels);
    lumra.start(QStringLiteral(LUMRA_APP_PATH), {});
    if (!lumra.waitForStarted()) {
        run.error = QStringLiteral("lumra did not start");
        return run;
    }
    QElapsedTimer sinceStart;
    sinceStart.start();
    QByteArray output;
    QDeadlineTimer started(30'000);
    while (!output.contains("Lumra started") && !started.hasExpired() && lumra.state() == QProcess::Running) {
        lumra.waitForReadyRead(100);
        output += lumra.readAll();
    }
    if (!output.contains("Lumra started")) {
        run.error = QStringLiteral("lumra did not come up: ") + QString::fromUtf8(output.right(2000));
        return run;
    }

    const QString copied = QStringLiteral("one copy while memory is measured");
    QProcess xclip;
    xclip.setProcessEnvironment(home.environment(display));
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
    xclip.waitForStarted();
    xclip.write(copied.toUtf8());
    xclip.closeWriteChannel();
    xclip.waitForFinished();
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    QDeadlineTimer captured(30'000);
    while (newestStoredText(home.storePath()) != copied && !captured.hasExpired())
        QThread::msleep(5);
    run.captureMs = double(sinceCopy.nsecsElapsed()) / 1e6;
    if (captured.hasExpired()) {
        run.error = QStringLiteral("the copy was not captured");
        return run;
    }

    // Settled: at least two seconds after the start and no change of more than 256 KB for a second.
    double last = readMemory(lumra.processId()).rss;
    QElapsedTimer steady;
    steady.start();
    QDeadlineTimer settle(60'000);
    while (!settle.hasExpired() && (sinceStart.elapsed() < 2000 || steady.elapsed() < 1000)) {
        QThread::msleep(100);
        const double now = readMemory(lumra.processId()).rss;
        if (std::abs(now - last) > 256 * 1024)
            steady.restart();
        last = now;
    }
    run.memory = readMemory(lumra.processId());
    lumra.terminate();
    if (!lumra.waitForFinished(10'000))
        lumra.kill(), lumra.waitForFinished();
    return run;
}

void measure(benchmark::State& state, int count, int (*length)(QRandomGenerator&), int richEvery = 0)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        state.SkipWithError("needs Xvfb and xclip");
        return;
    }
    PrivateXServer server;
    if (server.display().isEmpty()) {
        state.SkipWithError("could not start Xvfb");
        return;
    }
    const GeneratedHome empty(0, length);
    const GeneratedHome full(count, length, richEvery);
    for (auto _ : state) {
        const Run before = measureProcess(empty, server.display());
        const Run after = measureProcess(full, server.display());
        if (!before.error.isEmpty() || !after.error.isEmpty()) {
            state.SkipWithError(qPrintable(before.error + after.error));
            return;
        }
        const double growth = after.memory.rss - before.memory.rss;
        state.counters["empty_rss_MB"] = before.memory.rss / 1e6;
        state.counters["rss_MB"] = after.memory.rss / 1e6;
        state.counters["pss_MB"] = after.memory.pss / 1e6;
        state.counters["rss_anon_MB"] = after.memory.rssAnon / 1e6;
        state.counters["rss_file_MB"] = after.memory.rssFile / 1e6;
        state.counters["growth_MB"] = growth / 1e6;
        state.counters["growth_pss_MB"] = (after.memory.pss - before.memory.pss) / 1e6;
        state.counters["growth_anon_MB"] = (after.memory.rssAnon - before.memory.rssAnon) / 1e6;
        state.counters["growth_file_MB"] = (after.memory.rssFile - before.memory.rssFile) / 1e6;
        state.counters["growth_per_item_B"] = growth / count;
        state.counters["growth_per_utf8"] = growth / double(full.utf8Bytes());
        state.counters["text_utf8_MB"] = double(full.utf8Bytes()) / 1e6;
        state.counters["rtf_MB"] = double(full.rtfBytes()) / 1e6;
        state.counters["store_MB"] = double(QFileInfo(full.storePath()).size()) / 1e6;
        state.counters["capture_ms"] = after.captureMs;
    }
}

// 100,000 texts of about 100 characters: growth at most 60 MB.
void BM_ProcessMemoryShortTexts(benchmark::State& state)
{
    measure(state, bench::historySize(100'000), bench::shortTextLength);
}
BENCHMARK(BM_ProcessMemoryShortTexts)->Iterations(1)->Unit(benchmark::kSecond);

// 13,600 texts of 3.4 KB on average: growth at most 2.5 times their UTF-8.
void BM_ProcessMemoryLongTexts(benchmark::State& state)
{
    measure(state, bench::historySize(13'600), bench::longTextLength);
}
BENCHMARK(BM_ProcessMemoryLongTexts)->Iterations(1)->Unit(benchmark::kSecond);

// The short texts again, one in five with rich text beside it: the list holds none of the RTF.
void BM_ProcessMemoryShortTextsOneInFiveRich(benchmark::State& state)
{
    measure(state, bench::historySize(100'000), bench::shortTextLength, 5);
}
BENCHMARK(BM_ProcessMemoryShortTextsOneInFiveRich)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
