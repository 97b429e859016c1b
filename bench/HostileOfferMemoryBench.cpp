// What a hostile clipboard owner costs the real program in memory: lumra started in a temporary
// home on a private X server, then a program of ours takes the clipboard and sends 200 MB of text
// under an announced size of 1 KB. Lumra refuses the text at 16 MB; the figures are its resident
// memory at the peak and a second after the refusal, over its figure before the copy.
#include "ProcessHome.h"
#include "TextHistory.h"

#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

using namespace lumra;
using lumra::bench::GeneratedHome;
using lumra::bench::PrivateXServer;
using lumra::bench::residentBytes;
using lumra::bench::waitForOutput;

namespace {

QString lumraProgram() { return qEnvironmentVariable("LUMRA_BENCH_APP", QStringLiteral(LUMRA_APP_PATH)); }

void BM_HostileOfferMemory(benchmark::State& state, const char* mode)
{
    PrivateXServer server;
    const GeneratedHome home(0, bench::shortTextLength);
    for (auto _ : state) {
        QProcess lumra;
        QByteArray output;
        if (const char* failed = bench::startLumra(lumra, lumraProgram(), home, server, output)) {
            state.SkipWithError(failed);
            return;
        }
        const double before = residentBytes(lumra.processId());

        QProcess owner;
        owner.setProcessEnvironment(home.environment(server.display()));
        owner.start(QStringLiteral(LUMRA_HOSTILE_X11_OWNER_PATH), {QString::fromLatin1(mode)});
        double peak = before;
        const auto sample = [&] { peak = std::max(peak, residentBytes(lumra.processId())); };
        QElapsedTimer sinceOffer;
        sinceOffer.start();
        if (!waitForOutput(lumra, output, "Copy not recorded", 30'000, sample)) {
            state.SkipWithError("the offer was not refused");
            return;
        }
        const double refusedMs = double(sinceOffer.nsecsElapsed()) / 1e6;
        for (int i = 0; i < 50; ++i) {
            QThread::msleep(20);
            sample();
        }
        const double after = residentBytes(lumra.processId());
        owner.kill();
        owner.waitForFinished();
        lumra.terminate();
        if (!lumra.waitForFinished(10'000))
            lumra.kill(), lumra.waitForFinished();

        state.counters["start_MB"] = before / 1e6;
        state.counters["peak_growth_MB"] = (peak - before) / 1e6;
        state.counters["after_growth_MB"] = (after - before) / 1e6;
        state.counters["refused_after_ms"] = refusedMs;
    }
}

// 200 MB of text announced as 1 KB: peak growth at most about the 16 MB limit and a piece, and
// about nothing once the text is refused.
BENCHMARK_CAPTURE(BM_HostileOfferMemory, huge_text, "huge")->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
