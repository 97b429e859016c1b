// Memory as a user's system monitor shows it: the real lumra program started over a generated
// history in a temporary home, on a private X server, one copy made by another process, then the
// kernel's own figures for the process.
#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessHome.h"
#include "TextHistory.h"

#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/defaults/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
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
using namespace std::chrono_literals;
using lumra::bench::PrivateXServer;
using lumra::bench::newestStoredText;

namespace {

// The program measured: this build's, or another build's named by LUMRA_BENCH_APP (to compare two).
QString lumraProgram() { return qEnvironmentVariable("LUMRA_BENCH_APP", QStringLiteral(LUMRA_APP_PATH)); }

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
    lumra.start(lumraProgram(), {});
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

// CPU time the process has used so far, in clock ticks (user and system).
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

// Waits until the process used no CPU for `quiet` (its pictures decoded, its heaps trimmed).
void waitUntilIdle(qint64 pid, std::chrono::milliseconds quiet, std::chrono::milliseconds bound)
{
    qint64 last = cpuTicks(pid);
    QElapsedTimer still;
    still.start();
    for (QDeadlineTimer deadline(bound); !deadline.hasExpired() && still.elapsed() < quiet.count();) {
        QThread::msleep(200);
        const qint64 now = cpuTicks(pid);
        if (now != last)
            still.restart();
        last = now;
    }
}

QByteArray xdotool(const QProcessEnvironment& env, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(30'000);
    return tool.readAllStandardOutput().trimmed();
}

// The popup's window: the first line of `xdotool search`, empty while it is not shown.
QByteArray popupWindow(const QProcessEnvironment& env)
{
    return xdotool(env, {"search", "--onlyvisible", "--name", "^Lumra$"}).split('\n').first();
}

// A second start of the program asks the running one to open or close its popup.
bool togglePopup(const QProcessEnvironment& env, bool open)
{
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(lumraProgram(), {});
    second.waitForFinished(30'000);
    for (QDeadlineTimer deadline(30'000); !deadline.hasExpired(); QThread::msleep(100))
        if (popupWindow(env).isEmpty() != open)
            return true;
    return false;
}

// The real program over range(0) image rows (1920 x 1080 noise, about 6 MB each as PNG; 12 MB with
// 16-bit channels when range(1) is 1): started, settled, the popup opened, its list scrolled through
// with the wheel to the end, the popup closed. What the process holds then against what it held
// before the popup opened.
void BM_ProcessMemoryImageRowsScrolled(benchmark::State& state)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        state.SkipWithError("needs Xvfb and xdotool");
        return;
    }
    PrivateXServer server;
    if (server.display().isEmpty()) {
        state.SkipWithError("could not start Xvfb");
        return;
    }
    const bool small = bench::shortMode();
    const int count = small ? 6 : bench::historySize(int(state.range(0)));
    const GeneratedHome home(0, bench::shortTextLength);
    qint64 stored = 0;
    {
        PersistenceController persistence(false, nullptr, home.supportFolder());
        stored = bench::storeNoiseImages(persistence, count, small ? QSize(640, 360) : QSize(1920, 1080), state.range(1) != 0);
    }
    if (stored < 0) {
        state.SkipWithError("the images could not be stored");
        return;
    }
    const QProcessEnvironment env = home.environment(server.display());
    for (auto _ : state) {
        QProcess lumra;
        lumra.setProcessEnvironment(env);
        lumra.setProcessChannelMode(QProcess::MergedChannels);
        lumra.start(lumraProgram(), {});
        lumra.waitForStarted();
        QByteArray output;
        for (QDeadlineTimer started(30'000); !output.contains("Lumra started") && !started.hasExpired() && lumra.state() == QProcess::Running;) {
            lumra.waitForReadyRead(100);
            output += lumra.readAll();
        }
        if (!output.contains("Lumra started")) {
            state.SkipWithError(qPrintable(QStringLiteral("lumra did not come up: ") + QString::fromUtf8(output.right(2000))));
            return;
        }
        const qint64 pid = lumra.processId();
        waitUntilIdle(pid, 2s, 60s);
        const ProcessMemory before = readMemory(pid);
        double peak = before.rss;

        if (!togglePopup(env, true)) {
            state.SkipWithError("the popup did not open");
            return;
        }
        const QByteArray window = popupWindow(env);
        QMap<QByteArray, int> geometry;
        for (const QByteArray& line : xdotool(env, {"getwindowgeometry", "--shell", QString::fromLatin1(window)}).split('\n'))
            if (const qsizetype at = line.indexOf('='); at > 0)
                geometry.insert(line.left(at), line.mid(at + 1).toInt());
        xdotool(env, {"mousemove", QString::number(geometry["X"] + geometry["WIDTH"] / 2), QString::number(geometry["Y"] + geometry["HEIGHT"] / 2)});
        // Some wheel clicks at a time, as a hand turns it; far more than the rows need, so the end is reached.
        for (int burst = 0; burst < count * 3; ++burst) {
            xdotool(env, {"click", "--repeat", "5", "--delay", "20", "5"});
            QThread::msleep(100);
            peak = std::max(peak, readMemory(pid).rss);
        }
        waitUntilIdle(pid, 2s, 600s);
        peak = std::max(peak, readMemory(pid).rss);
        if (!togglePopup(env, false)) {
            state.SkipWithError("the popup did not close");
            return;
        }
        waitUntilIdle(pid, 2s, 60s);
        const ProcessMemory after = readMemory(pid);
        lumra.terminate();
        if (!lumra.waitForFinished(10'000))
            lumra.kill(), lumra.waitForFinished();

        state.counters["images"] = count;
        state.counters["stored_MB"] = double(stored) / 1e6;
        state.counters["rss_before_MB"] = before.rss / 1e6;
        state.counters["rss_peak_MB"] = peak / 1e6;
        state.counters["rss_after_MB"] = after.rss / 1e6;
        state.counters["held_MB"] = (after.rss - before.rss) / 1e6;
        state.counters["held_anon_MB"] = (after.rssAnon - before.rssAnon) / 1e6;
    }
}
BENCHMARK(BM_ProcessMemoryImageRowsScrolled)->Args({300, 0})->Args({300, 1})->Iterations(1)->Unit(benchmark::kSecond);

// The stored bytes of the pictures in the store at `storePath`.
double storedPictureBytes(const QString& storePath)
{
    double bytes = 0;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT total(length(imageData)) FROM CDClipboardItemImage", -1, &st, nullptr) == SQLITE_OK
            && sqlite3_step(st) == SQLITE_ROW)
            bytes = sqlite3_column_double(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return bytes;
}

// The process's peak resident size (VmHWM), after `reset` sets it back to the present.
double peakResident(qint64 pid, bool reset = false)
{
    if (reset) {
        QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(pid));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        return 0;
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    return status.open(QIODevice::ReadOnly) ? kilobytesField(status.readAll(), "VmHWM") : 0;
}

// A large picture copied by another program (xclip) into the real program: how far Lumra's own
// resident memory rises above where it stood, at its peak, against the bytes the store keeps of
// it. range(0): 0, a 48-megapixel photo as JPEG (8000 x 6000); 1, an 8000 x 8000 one; 2, the
// 48-megapixel photo as PNG. The target: the peak at most the stored bytes and 30 MB.
void BM_ProcessMemoryPictureCopied(benchmark::State& state)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        state.SkipWithError("needs Xvfb and xclip");
        return;
    }
    PrivateXServer server;
    const bool small = bench::shortMode();
    const QSize size = small ? QSize(800, 600) : state.range(0) == 1 ? QSize(8000, 8000) : QSize(8000, 6000);
    QByteArray offer = bench::photoJpeg(size);
    QString type = QStringLiteral("image/jpeg");
    if (state.range(0) == 2) {
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        QImage::fromData(offer).save(&png, "png");
        offer = png.data();
        type = QStringLiteral("image/png");
    }
    for (auto _ : state) {
        const GeneratedHome home(0, bench::shortTextLength);
        QProcess lumra;
        QByteArray output;
        if (const char* failed = bench::startLumra(lumra, lumraProgram(), home, server, output)) {
            state.SkipWithError(failed);
            return;
        }
        const qint64 pid = lumra.processId();
        waitUntilIdle(pid, 2s, 60s);
        const double before = readMemory(pid).rss;
        peakResident(pid, true);
        bench::xclipCopy(home, server.display(), offer, type);
        for (QDeadlineTimer stored(300'000); bench::storedPictures(home.storePath()) == 0 && !stored.hasExpired();)
            QThread::msleep(50);
        const bool stored = bench::storedPictures(home.storePath()) > 0;
        waitUntilIdle(pid, 2s, 120s);
        const double peak = peakResident(pid);
        const double after = readMemory(pid).rss;
        const double storedBytes = storedPictureBytes(home.storePath());
        lumra.terminate();
        if (!lumra.waitForFinished(10'000))
            lumra.kill(), lumra.waitForFinished();
        if (!stored) {
            state.SkipWithError("the picture was not stored");
            return;
        }
        state.counters["offer_MB"] = double(offer.size()) / 1e6;
        state.counters["stored_MB"] = storedBytes / 1e6;
        state.counters["peak_growth_MB"] = (peak - before) / 1e6;
        state.counters["peak_over_stored_MB"] = (peak - before - storedBytes) / 1e6;
        state.counters["after_growth_MB"] = (after - before) / 1e6;
    }
}
BENCHMARK(BM_ProcessMemoryPictureCopied)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
