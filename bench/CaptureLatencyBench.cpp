// Capture as a user meets it: the real lumra program over a generated history on a private X
// server, copies made by xclip in processes of their own, and the time until each copy is a row
// of the store, read as any SQLite client would.
#include "BenchSize.h"
#include "ProcessHome.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

using namespace lumra;
using lumra::bench::GeneratedHome;
using lumra::bench::PrivateXServer;
using lumra::bench::newestStoredText;

namespace {

// Lumra running over a home until the object goes.
class RunningLumra {
public:
    RunningLumra(const GeneratedHome& home, const QString& display)
    {
        m_process.setProcessEnvironment(home.environment(display));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(LUMRA_APP_PATH), {});
        QByteArray output;
        QDeadlineTimer started(60'000);
        while (m_process.waitForStarted() && !output.contains("Lumra started") && !started.hasExpired()
               && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(100);
            output += m_process.readAll();
        }
        m_up = output.contains("Lumra started");
    }
    ~RunningLumra()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10'000))
            m_process.kill(), m_process.waitForFinished();
    }
    bool up() const { return m_up; }

private:
    QProcess m_process;
    bool m_up = false;
};

void xclipCopy(const GeneratedHome& home, const QString& display, const QString& text)
{
    QProcess xclip;
    xclip.setProcessEnvironment(home.environment(display));
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
    xclip.waitForStarted();
    xclip.write(text.toUtf8());
    xclip.closeWriteChannel();
    xclip.waitForFinished(); // once xclip owns the clipboard; its child serves it
}

int storedWithPrefix(const QString& storePath, const QString& prefix)
{
    int count = 0;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        const QByteArray pattern = (prefix + QLatin1Char('%')).toUtf8();
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM CDClipboardItem WHERE textContent LIKE ?", -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, pattern.constData(), int(pattern.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW)
                count = sqlite3_column_int(st, 0);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return count;
}

struct Setup {
    std::optional<PrivateXServer> server;
    std::optional<GeneratedHome> home;
    std::optional<RunningLumra> lumra;
};

bool prepare(benchmark::State& state, Setup& setup, int historySize)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        state.SkipWithError("needs Xvfb and xclip");
        return false;
    }
    setup.server.emplace();
    if (setup.server->display().isEmpty()) {
        state.SkipWithError("could not start Xvfb");
        return false;
    }
    setup.home.emplace(historySize, bench::longTextLength);
    setup.lumra.emplace(*setup.home, setup.server->display());
    if (!setup.lumra->up()) {
        state.SkipWithError("lumra did not come up");
        return false;
    }
    QThread::msleep(1000); // the history loads on a worker
    return true;
}

// From xclip owning the clipboard to the row in the store, one copy at a time, 20 copies.
void BM_CaptureLatencyXclip(benchmark::State& state)
{
    Setup setup;
    if (!prepare(state, setup, bench::historySize(int(state.range(0)))))
        return;
    for (auto _ : state) {
        std::vector<double> latencies;
        for (int i = 0; i < 20; ++i) {
            const QString text = QStringLiteral("latency copy %1 of the benchmark").arg(i);
            xclipCopy(*setup.home, setup.server->display(), text);
            QElapsedTimer sinceCopy;
            sinceCopy.start();
            QDeadlineTimer captured(10'000);
            while (newestStoredText(setup.home->storePath()) != text && !captured.hasExpired())
                QThread::usleep(500);
            latencies.push_back(captured.hasExpired() ? 10'000 : double(sinceCopy.nsecsElapsed()) / 1e6);
            QThread::msleep(150);
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10];
        state.counters["max_ms"] = latencies.back();
    }
}
BENCHMARK(BM_CaptureLatencyXclip)->Arg(0)->Arg(13'600)->Iterations(1)->Unit(benchmark::kSecond);

// 20 copies 10 ms apart, as fast as a script or a person mashing Ctrl+C: how many are kept. With
// the long-text history the store's first checkpoint falls among them.
void BM_CaptureBurst(benchmark::State& state)
{
    Setup setup;
    if (!prepare(state, setup, bench::historySize(int(state.range(0)))))
        return;
    int round = 0;
    double kept = 0;
    double rounds = 0;
    for (auto _ : state) {
        // Enough rounds (about 1.5 MB of text) that the write-ahead log fills and is checkpointed during
        // some of them.
        for (int r = 0; r < 25; ++r) {
            const QString prefix = QStringLiteral("burst %1 copy ").arg(++round);
            QElapsedTimer burst;
            burst.start();
            for (int i = 0; i < 20; ++i) {
                while (burst.elapsed() < i * 10)
                    QThread::usleep(200);
                xclipCopy(*setup.home, setup.server->display(),
                          prefix + QString::number(i) + QStringLiteral(" ") + QString(3000, QLatin1Char('w')));
            }
            QDeadlineTimer settled(5'000);
            while (storedWithPrefix(setup.home->storePath(), prefix) < 20 && !settled.hasExpired())
                QThread::msleep(20);
            const int stored = storedWithPrefix(setup.home->storePath(), prefix);
            state.counters[QStringLiteral("round%1_kept").arg(r + 1).toStdString()] = stored;
            kept += stored;
            rounds += 1;
        }
    }
    state.counters["kept_of_20"] = kept / rounds;
}
BENCHMARK(BM_CaptureBurst)->Arg(0)->Arg(13'600)->Iterations(1)->Unit(benchmark::kSecond);

// How long a copy takes to be stored when it is made 250 ms after the copy of an owner that is slow
// to be read, against the same copy made 250 ms after an ordinary one: the slow owner's read must
// not hold it. Five rounds each; the owner is one of the tests' hostile programs.
void BM_CopyAfterASlowOwner(benchmark::State& state, const char* mode)
{
    const QString owner = QStringLiteral(LUMRA_HOSTILE_X11_OWNER_PATH);
    if (owner.isEmpty() || !QFile::exists(owner)) {
        state.SkipWithError("needs the hostile_x11_owner helper (configure with tests on)");
        return;
    }
    Setup setup;
    if (!prepare(state, setup, 0))
        return;
    const QString display = setup.server->display();
    const auto storedAfter = [&](const QString& text) {
        xclipCopy(*setup.home, display, text);
        QElapsedTimer sinceCopy;
        sinceCopy.start();
        QDeadlineTimer captured(10'000);
        while (storedWithPrefix(setup.home->storePath(), text) == 0 && !captured.hasExpired())
            QThread::usleep(500);
        return captured.hasExpired() ? 10'000.0 : double(sinceCopy.nsecsElapsed()) / 1e6;
    };
    static int round = 0;
    for (auto _ : state) {
        std::vector<double> plain;
        std::vector<double> afterSlow;
        for (int i = 0; i < (bench::shortMode() ? 1 : 5); ++i) {
            xclipCopy(*setup.home, display, QStringLiteral("an ordinary copy %1").arg(++round));
            QThread::msleep(250);
            plain.push_back(storedAfter(QStringLiteral("after an ordinary copy %1").arg(round)));
            QThread::msleep(600);

            QProcess slow;
            slow.setProcessEnvironment(setup.home->environment(display));
            slow.setProcessChannelMode(QProcess::MergedChannels);
            slow.start(owner, {QString::fromLatin1(mode), QStringLiteral("slow %1").arg(round)});
            QByteArray said;
            QDeadlineTimer ready(10'000);
            while (!said.contains("READY") && !ready.hasExpired() && slow.waitForReadyRead(50))
                said += slow.readAll();
            QThread::msleep(250);
            afterSlow.push_back(storedAfter(QStringLiteral("after a slow owner %1").arg(round)));
            slow.kill();
            slow.waitForFinished();
            QThread::msleep(2'500); // the slow owner's read ends at its deadline
        }
        std::sort(plain.begin(), plain.end());
        std::sort(afterSlow.begin(), afterSlow.end());
        state.counters["plain_median_ms"] = plain[plain.size() / 2];
        state.counters["after_slow_median_ms"] = afterSlow[afterSlow.size() / 2];
        state.counters["after_slow_max_ms"] = afterSlow.back();
        state.counters["held_ms"] = afterSlow[afterSlow.size() / 2] - plain[plain.size() / 2];
    }
}
// slow: each answer 250 ms late; late: 700 ms late, past a reader's patience (silent); trickle: a
// text one byte every 400 ms; html: a page whose rich text is costly to make.
BENCHMARK_CAPTURE(BM_CopyAfterASlowOwner, slow_owner, "slow")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterASlowOwner, silent_owner, "late")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterASlowOwner, trickling_owner, "trickle")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterASlowOwner, costly_html, "html")->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
