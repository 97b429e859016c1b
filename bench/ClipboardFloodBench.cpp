// What a flood of clipboard takings costs the real program: lumra started in a temporary home on a
// private X server, then this process takes the clipboard 200,000 times as fast as the server lets
// it, twice. The figures are lumra's resident memory over its figure before the floods (at the
// peak, once its main thread is idle again, and 15 s later) and its main thread's CPU per flood.
#include "ProcessHome.h"
#include "TextHistory.h"

#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <X11/Xlib.h>

#include <algorithm>

using namespace lumra;
using lumra::bench::GeneratedHome;
using lumra::bench::PrivateXServer;
using lumra::bench::residentBytes;

namespace {

QString lumraProgram() { return qEnvironmentVariable("LUMRA_BENCH_APP", QStringLiteral(LUMRA_APP_PATH)); }

constexpr int takings = 200'000;
constexpr int floods = 2;

// The main thread's user and system time, in milliseconds.
double mainThreadCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void BM_ClipboardFlood(benchmark::State& state)
{
    const qint64 seconds = state.range(0); // 0: 200,000 takings a flood
    double worstTakings = 0;
    PrivateXServer server;
    const GeneratedHome home(0, bench::shortTextLength);
    for (auto _ : state) {
        QProcess lumra;
        QByteArray output;
        if (const char* failed = bench::startLumra(lumra, lumraProgram(), home, server, output)) {
            state.SkipWithError(failed);
            return;
        }
        const qint64 pid = lumra.processId();
        const double before = residentBytes(pid);

        Display* display = XOpenDisplay(server.display().toLocal8Bit().constData());
        if (!display) {
            state.SkipWithError("cannot open the display");
            return;
        }
        const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
        double peak = before;
        double worstIdle = 0;
        double worstLater = 0;
        double worstCpu = 0;
        for (int flood = 0; flood < floods; ++flood) {
            const double cpuBefore = mainThreadCpuMs(pid);
            QElapsedTimer lasting;
            lasting.start();
            qint64 taken = 0;
            for (;; ++taken) {
                XSetSelectionOwner(display, clipboard, window, CurrentTime);
                if (taken % 1000 == 999) {
                    XSync(display, False);
                    peak = std::max(peak, residentBytes(pid));
                    if (seconds > 0 ? lasting.elapsed() >= seconds * 1000 : taken + 1 >= takings)
                        break;
                }
            }
            worstTakings = std::max<double>(worstTakings, double(taken + 1));
            XSync(display, False);
            // Idle again: the main thread takes under 5 ms in half a second.
            QDeadlineTimer deadline(60'000);
            double cpu = mainThreadCpuMs(pid);
            for (;;) {
                for (int i = 0; i < 25; ++i) {
                    QThread::msleep(20);
                    peak = std::max(peak, residentBytes(pid));
                }
                const double now = mainThreadCpuMs(pid);
                if (now - cpu < 5 || deadline.hasExpired())
                    break;
                cpu = now;
            }
            output += lumra.readAll();
            worstCpu = std::max(worstCpu, cpu - cpuBefore);
            worstIdle = std::max(worstIdle, residentBytes(pid) - before);
            QThread::msleep(15'000);
            output += lumra.readAll();
            worstLater = std::max(worstLater, residentBytes(pid) - before);
        }
        XDestroyWindow(display, window);
        XCloseDisplay(display);
        lumra.terminate();
        if (!lumra.waitForFinished(10'000))
            lumra.kill(), lumra.waitForFinished();

        state.counters["start_MB"] = before / 1e6;
        state.counters["peak_growth_MB"] = (peak - before) / 1e6;
        state.counters["idle_growth_MB"] = worstIdle / 1e6;
        state.counters["growth_15s_MB"] = worstLater / 1e6;
        state.counters["main_cpu_ms_per_flood"] = worstCpu;
        state.counters["takings_per_flood"] = worstTakings;
        // Lumra's count of copies lost since it started, from its last loss line: a flood is one.
        static const QRegularExpression told(QStringLiteral("(\\d+) not recorded since Lumra started"));
        for (const QRegularExpressionMatch& line : told.globalMatch(QString::fromUtf8(output)))
            state.counters["lost_copies"] = line.captured(1).toDouble();
    }
}

// Two floods of 200,000 takings each, and two of 3 s each: the worst flood's figures.
BENCHMARK(BM_ClipboardFlood)->Arg(0)->Arg(3)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
