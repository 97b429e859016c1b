// Capture as a user meets it: the real lumra program over a generated history on a private X
// server, copies made by xclip in processes of their own, and the time until each copy is a row
// of the store, read as any SQLite client would.
#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessHome.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

using namespace lumra;
using lumra::bench::GeneratedHome;
using lumra::bench::PrivateXServer;
using lumra::bench::newestStoredText;
using lumra::bench::storedPictures;
using lumra::bench::storedWithPrefix;
using lumra::bench::xclipCopy;

namespace {

// Lumra running over a home until the object goes. Its output goes to a file, never a pipe that
// could fill while nobody reads it; with LUMRA_BENCH_APP_LOG set, to that file, with the capture's
// and the clipboard's debug messages and their times, to see where a copy's time goes.
class RunningLumra {
public:
    RunningLumra(const GeneratedHome& home, const QString& display)
    {
        const QString kept = qEnvironmentVariable("LUMRA_BENCH_APP_LOG");
        m_log = kept.isEmpty() ? m_scratch.filePath(QStringLiteral("lumra.log")) : kept;
        QProcessEnvironment environment = home.environment(display);
        if (!kept.isEmpty()) {
            environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                               QStringLiteral("lumra.capture.debug=true;lumra.pasteboard.debug=true;lumra.process.debug=true;"
                                              "lumra.richtext*.debug=true;lumra.image*.debug=true"));
            environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{time process} %{category}: %{message}"));
        }
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_log);
        m_process.start(QStringLiteral(LUMRA_APP_PATH), {});
        QFile output(m_log);
        QDeadlineTimer started(60'000);
        while (m_process.waitForStarted() && !m_up && !started.hasExpired() && m_process.state() == QProcess::Running) {
            QThread::msleep(50);
            m_up = output.open(QIODevice::ReadOnly) && output.readAll().contains("Lumra started");
            output.close();
        }
    }
    ~RunningLumra()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10'000))
            m_process.kill(), m_process.waitForFinished();
    }
    bool up() const { return m_up; }

private:
    QTemporaryDir m_scratch;
    QString m_log;
    QProcess m_process;
    bool m_up = false;
};

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

// One of the tests' hostile clipboard owners (tests/helpers/HostileX11Owner.cpp), in a process of
// its own until the object goes.
class HostileOwner {
public:
    HostileOwner(const GeneratedHome& home, const QString& display, const char* mode, const QString& label)
    {
        m_process.setProcessEnvironment(home.environment(display));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER_PATH), {QString::fromLatin1(mode), label});
        m_process.waitForStarted();
    }
    ~HostileOwner()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Until it says `word` (READY once it owns the clipboard, ASKED at Lumra's first request).
    bool waitFor(const char* word)
    {
        QDeadlineTimer deadline(10'000);
        while (!m_said.contains(word) && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(20);
            m_said += m_process.readAll();
        }
        return m_said.contains(word);
    }

private:
    QProcess m_process;
    QByteArray m_said;
};

// The measured copy, made by xclip: a text, or an 800 x 600 picture offered as image/png only.
// Each is a different text or picture, so none is taken for a copy made again.
class MeasuredCopy {
public:
    enum class Kind { text, picture };
    MeasuredCopy(const Setup& setup, Kind kind)
        : m_setup(setup)
        , m_kind(kind)
    {
    }

    // From xclip owning the clipboard to the row in the store, in ms (10 s when it never comes).
    double timeToStore(const QString& label)
    {
        const GeneratedHome& home = *m_setup.home;
        const QString display = m_setup.server->display();
        const QString text = QStringLiteral("%1 %2").arg(label).arg(++m_made);
        int picturesBefore = 0;
        if (m_kind == Kind::picture) {
            const QByteArray png = bench::noisePng(quint32(m_made), QSize(800, 600));
            picturesBefore = storedPictures(home.storePath());
            xclipCopy(home, display, png, QStringLiteral("image/png"));
        } else {
            xclipCopy(home, display, text);
        }
        QElapsedTimer sinceCopy;
        sinceCopy.start();
        const auto stored = [&] {
            return m_kind == Kind::picture ? storedPictures(home.storePath()) > picturesBefore
                                           : storedWithPrefix(home.storePath(), text) > 0;
        };
        QDeadlineTimer captured(10'000);
        while (!stored() && !captured.hasExpired())
            QThread::usleep(500);
        return captured.hasExpired() ? 10'000.0 : double(sinceCopy.nsecsElapsed()) / 1e6;
    }

private:
    const Setup& m_setup;
    Kind m_kind;
    int m_made = 0;
};

// What comes before the measured copy: `owners` hostile owners of one mode copy in turn, each once
// Lumra has asked it for its offer (costly pages: once Lumra has stored its text, so its rich text
// is being made), then the measured copy `pauseMs` after the last.
struct Before {
    const char* mode;
    int owners = 1;
    int pauseMs = 250;
};

bool costlyPage(const char* mode) { return QByteArray(mode).startsWith("html"); }

// How long a copy takes to be stored when it is made after owners that are slow to be read or whose
// pages are costly to convert, against the same copy made 250 ms after an ordinary copy: neither
// must hold it. Five rounds each.
void BM_CopyAfterOwners(benchmark::State& state, Before before, MeasuredCopy::Kind kind)
{
    const QString ownerPath = QStringLiteral(LUMRA_HOSTILE_X11_OWNER_PATH);
    if (ownerPath.isEmpty() || !QFile::exists(ownerPath)) {
        state.SkipWithError("needs the hostile_x11_owner helper (configure with tests on)");
        return;
    }
    Setup setup;
    if (!prepare(state, setup, 0))
        return;
    const QString display = setup.server->display();
    MeasuredCopy measured(setup, kind);
    static int round = 0;
    for (auto _ : state) {
        std::vector<double> ordinary;
        std::vector<double> after;
        for (int i = 0; i < (bench::shortMode() ? 1 : 5); ++i) {
            xclipCopy(*setup.home, display, QStringLiteral("an ordinary copy %1").arg(++round));
            QThread::msleep(250);
            ordinary.push_back(measured.timeToStore(QStringLiteral("after an ordinary copy")));
            QThread::msleep(600);

            std::vector<std::unique_ptr<HostileOwner>> owners;
            for (int n = 0; n < before.owners; ++n) {
                const QString label = QStringLiteral("%1.%2").arg(round).arg(n);
                owners.push_back(std::make_unique<HostileOwner>(*setup.home, display, before.mode, label));
                owners.back()->waitFor("READY");
                owners.back()->waitFor("ASKED");
                if (costlyPage(before.mode)) {
                    const QString text = QStringLiteral("copied by a hostile owner: %1 %2").arg(QLatin1String(before.mode), label);
                    QDeadlineTimer stored(10'000);
                    while (storedWithPrefix(setup.home->storePath(), text) == 0 && !stored.hasExpired())
                        QThread::usleep(500);
                }
            }
            QThread::msleep(before.pauseMs);
            after.push_back(measured.timeToStore(QStringLiteral("after %1 %2 owners").arg(before.owners).arg(QLatin1String(before.mode))));
            owners.clear();
            std::fprintf(stderr, "round %d: ordinary %.1f ms, after %.1f ms\n", i + 1, ordinary.back(), after.back());
            // The owners' reads end at their deadline, the pages' conversions once each has spent
            // its budget (two at a time).
            QThread::msleep(costlyPage(before.mode) ? 2'500 + 2'500 * ((before.owners + 1) / 2) : 2'500);
        }
        std::sort(ordinary.begin(), ordinary.end());
        std::sort(after.begin(), after.end());
        state.counters["ordinary_median_ms"] = ordinary[ordinary.size() / 2];
        state.counters["after_median_ms"] = after[after.size() / 2];
        state.counters["after_max_ms"] = after.back();
        state.counters["held_ms"] = after[after.size() / 2] - ordinary[ordinary.size() / 2];
    }
}
using Kind = MeasuredCopy::Kind;
// One owner: slow, each answer 250 ms late; late, 700 ms late, past a reader's patience (silent);
// trickle, a text one byte every 400 ms; html-costly, a page that spends the converter's whole
// budget (the owner's "html" page is nested too deep to be converted at all, so it costs nothing).
BENCHMARK_CAPTURE(BM_CopyAfterOwners, slow_owner, Before {"slow"}, Kind::text)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, silent_owner, Before {"late"}, Kind::text)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, trickling_owner, Before {"trickle"}, Kind::text)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, costly_html, Before {"html-costly"}, Kind::text)->Iterations(1)->Unit(benchmark::kSecond);
// As many stalled owners as Lumra has read channels, copied one after another, the measured copy
// made while every one of them is still held: silent ones answer nothing, trickling ones send a
// byte every 400 ms.
BENCHMARK_CAPTURE(BM_CopyAfterOwners, text_after_8_silent_owners, Before {"silent", 8, 0}, Kind::text)
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, text_after_8_trickling_owners, Before {"trickle", 8, 0}, Kind::text)
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, picture_after_8_silent_owners, Before {"silent", 8, 0}, Kind::picture)
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, picture_after_8_trickling_owners, Before {"trickle", 8, 0}, Kind::picture)
    ->Iterations(1)->Unit(benchmark::kSecond);
// Four pages that each spend the converter's whole budget, the measured copy made as soon as the
// fourth page's text is stored: two conversions run and two wait.
BENCHMARK_CAPTURE(BM_CopyAfterOwners, text_after_4_costly_pages, Before {"html-costly", 4, 0}, Kind::text)
    ->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_CopyAfterOwners, picture_after_4_costly_pages, Before {"html-costly", 4, 0}, Kind::picture)
    ->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
