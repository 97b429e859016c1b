// A copied picture turned into what capture stores, in Lumra's own process (as before the decoder
// program) and through the decoder program: the time it takes and how far Lumra's resident memory
// rises above where it stood. An ordinary screenshot (1920×1080 PNG) and a photo (4000×3000 JPEG).
// And how long a small picture copied by one application waits behind a burst of costly ones
// copied by another: the user needs it stored within 2 s.
#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"

#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <chrono>
#include <thread>

using namespace lumra;

namespace {

QByteArray screenshot()
{
    const QImage desktop = QImage::fromData(bench::screenshotPng(1));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    desktop.scaled(1920, 1080).save(&out, "png");
    return out.data();
}

QByteArray photo()
{
    return bench::photoJpeg(bench::shortMode() ? QSize(1000, 750) : QSize(4000, 3000));
}

// The peak resident memory is set back to the present, so VmHWM after is this run's peak.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void capture(benchmark::State& state, bool decoderProgram)
{
    const QByteArray bytes = state.range(0) == 0 ? screenshot() : photo();
    // Plug-ins loaded and the programs started before anything is measured.
    benchmark::DoNotOptimize(image::pngDataHere(bytes));
    benchmark::DoNotOptimize(image::pngData(bytes));
    double rise = 0;
    qsizetype stored = 0;
    for (auto _ : state) {
        const double before = bench::residentMegabytes();
        resetPeak();
        if (image::readImageHeader(bytes)) {
            const Result<QByteArray> png = decoderProgram ? image::pngData(bytes) : image::pngDataHere(bytes);
            benchmark::DoNotOptimize(image::imageFileName(png.value()));
            stored = png->size();
        }
        rise = std::max(rise, bench::residentMegabytes("VmHWM") - before);
    }
    state.counters["peak MB above start"] = rise;
    state.counters["stored MB"] = double(stored) / (1024 * 1024);
    state.SetLabel(state.range(0) == 0 ? "1920x1080 screenshot PNG" : "4000x3000 photo JPEG");
}

// A path that crosses itself everywhere, drawn large: it spends its whole CPU budget.
QByteArray costlySvg()
{
    QByteArray path = "M0 0";
    QRandomGenerator random(7);
    for (int i = 0; i < 6000; ++i)
        path += " L" + QByteArray::number(random.bounded(4000)) + ' ' + QByteArray::number(random.bounded(4000));
    return "<svg xmlns='http://www.w3.org/2000/svg' width='4000' height='4000'><path d='" + path
        + "' fill='black' stroke='red' stroke-width='3'/></svg>";
}

void BM_PictureCopiedAfterACostlyBurst(benchmark::State& state)
{
    const QByteArray costly = costlySvg();
    QImage small(32, 32, QImage::Format_RGB32);
    small.fill(Qt::darkCyan);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    small.save(&out, "png");
    const QByteArray png = out.data();
    const auto drawing = image::DecodeTurn::capture(QStringLiteral("drawing.desktop"));
    const auto browser = image::DecodeTurn::capture(QStringLiteral("browser.desktop"));
    benchmark::DoNotOptimize(image::pngData(png, {}, 0, browser)); // the programs started
    const int burst = bench::shortMode() ? 6 : 20;
    for (auto _ : state) {
        // Left to finish on their own: they take the decoders' budgets, minutes in all.
        for (int i = 0; i < burst; ++i) {
            std::thread([&costly, drawing] { benchmark::DoNotOptimize(image::pngData(costly, {}, 0, drawing)); }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        QElapsedTimer waited;
        waited.start();
        const Result<QByteArray> decoded = image::pngData(png, {}, 0, browser);
        state.counters["small PNG decoded after ms"] = double(waited.elapsed());
        if (!decoded)
            state.SkipWithError(qPrintable(decoded.error()));
    }
    state.SetLabel(QStringLiteral("%1 costly SVGs 50 ms apart, then a 32x32 PNG from another application").arg(burst).toStdString());
}

void BM_CaptureInLumra(benchmark::State& state) { capture(state, false); }
void BM_CaptureThroughDecoder(benchmark::State& state) { capture(state, true); }

} // namespace

BENCHMARK(BM_CaptureInLumra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CaptureThroughDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PictureCopiedAfterACostlyBurst)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
