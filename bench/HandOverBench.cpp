// From the command to the popup on screen: where no program may grab keys, the user binds the
// command `lumra` to a key, and that second process hands over to the running one. Measured from
// the start of the command to the popup's window mapped on a private X server, at 100,000 items,
// beside bare process starts on the same machine (the lowest a command can cost).
#include "BenchSize.h"
#include "ProcessHome.h"

#include <benchmark/benchmark.h>

#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include "platform/x11/X11Includes.h"

using namespace lumra;

namespace {

double nowMs()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A program started the way a desktop starts a bound command, with the given environment.
class Spawned {
public:
    Spawned(const QString& program, const QProcessEnvironment& environment)
    {
        const QByteArray path = QFile::encodeName(program);
        for (const QString& entry : environment.toStringList())
            m_env.push_back(entry.toLocal8Bit());
        std::vector<char*> env;
        for (QByteArray& entry : m_env)
            env.push_back(entry.data());
        env.push_back(nullptr);
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};
        if (::posix_spawn(&m_pid, path.constData(), nullptr, nullptr, argv, env.data()) != 0)
            m_pid = -1;
    }
    bool started() const { return m_pid > 0; }
    bool succeeded()
    {
        int status = 0;
        return m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t m_pid = -1;
    std::vector<QByteArray> m_env;
};

// Milliseconds from the start of `program` to its exit.
double startToExitMs(const QString& program, const QProcessEnvironment& environment)
{
    const double start = nowMs();
    Spawned spawned(program, environment);
    return spawned.succeeded() ? nowMs() - start : -1;
}

// Watches top-level windows being mapped and unmapped on the display.
class MapWatch {
public:
    explicit MapWatch(const QString& display) : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
    {
        if (m_display)
            XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        if (m_display)
            XSync(m_display, x11::XFalse);
    }
    ~MapWatch()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool ok() const { return m_display; }

    void drain()
    {
        XSync(m_display, x11::XFalse);
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
        }
    }

    // The time the next event of `type` arrived, -1 when none came within `timeoutMs`.
    double waitFor(int type, int timeoutMs)
    {
        const double deadline = nowMs() + timeoutMs;
        for (;;) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == type)
                    return nowMs();
            }
            const double left = deadline - nowMs();
            if (left <= 0)
                return -1;
            pollfd fd {ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&fd, 1, int(left) + 1);
        }
    }

private:
    Display* m_display;
};

void BM_CommandToPopupMapped(benchmark::State& state)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        state.SkipWithError("needs Xvfb");
        return;
    }
    bench::PrivateXServer server;
    const bench::GeneratedHome home(bench::historySize(100'000), bench::shortTextLength);
    const QProcessEnvironment environment = home.environment(server.display());
    const QString program = qEnvironmentVariable("LUMRA_BENCH_APP", QStringLiteral(LUMRA_APP_PATH));
    QProcess primary;
    primary.setProcessEnvironment(environment);
    primary.setProcessChannelMode(QProcess::MergedChannels);
    primary.start(program, {});
    primary.waitForStarted();
    QByteArray output;
    for (QDeadlineTimer up(60'000); !output.contains("Lumra started") && !up.hasExpired() && primary.state() == QProcess::Running;) {
        primary.waitForReadyRead(100);
        output += primary.readAll();
    }
    MapWatch windows(server.display());
    if (!output.contains("Lumra started") || !windows.ok()) {
        state.SkipWithError(qPrintable(QStringLiteral("lumra did not come up on %1: ").arg(server.display())
                                       + QString::fromUtf8(output.right(1000))));
        return;
    }
    QThread::msleep(2000); // the history has loaded

    const int rounds = bench::shortMode() ? 3 : 30;
    std::vector<double> mapped, exited, bareTrue, bareStatic;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            windows.drain();
            const double start = nowMs();
            Spawned opening(program, environment);
            const double shown = windows.waitFor(MapNotify, 10'000);
            const bool handedOver = opening.succeeded();
            const double ended = nowMs();
            if (shown < 0 || !handedOver) {
                state.SkipWithError("the popup did not open");
                return;
            }
            mapped.push_back(shown - start);
            exited.push_back(ended - start);
            Spawned closing(program, environment);
            windows.waitFor(UnmapNotify, 10'000);
            closing.succeeded();
            QThread::msleep(100);
            bareTrue.push_back(startToExitMs(QStringLiteral("/bin/true"), environment));
            bareStatic.push_back(startToExitMs(QStringLiteral(LUMRA_BARE_START_PATH), environment));
        }
    }
    state.counters["popup_mapped_ms"] = median(mapped);
    state.counters["command_exit_ms"] = median(exited);
    state.counters["bin_true_ms"] = median(bareTrue);
    state.counters["static_start_ms"] = median(bareStatic);
    state.counters["mapped_per_bin_true"] = median(mapped) / median(bareTrue);
    state.counters["mapped_per_static_start"] = median(mapped) / median(bareStatic);
    primary.terminate();
    primary.waitForFinished(10'000);
}
BENCHMARK(BM_CommandToPopupMapped)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
