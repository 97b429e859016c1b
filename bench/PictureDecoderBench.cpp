// A copied picture turned into what capture stores, in Lumra's own process (as before the decoder
// program) and through the decoder program: the time it takes and how far Lumra's resident memory
// rises above where it stood. An ordinary screenshot (1920×1080 PNG) and a photo (4000×3000 JPEG).
#include "platform/image/ImageDecoding.h"

#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

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

void BM_CaptureInLumra(benchmark::State& state) { capture(state, false); }
void BM_CaptureThroughDecoder(benchmark::State& state) { capture(state, true); }

} // namespace

BENCHMARK(BM_CaptureInLumra)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CaptureThroughDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
