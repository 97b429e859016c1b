// Small pictures that would cost a decoder far more than their bytes, on each road that reads an
// outside picture: what the process gains at its peak and the CPU the reading thread spends. The
// bounds refuse these before decoding; a bound lost shows as hundreds of megabytes and seconds.
#include "model/sync/SyncEngineParts.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/Thumbnails.h"

#include "../tests/platform/image/AmplifyingImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QFile>

#include <ctime>
#include <functional>

using namespace lumra;
using namespace lumra::test;

namespace {

// Progressive JPEGs and 8192² pictures take seconds to make under the sanitizers: smaller in CI.
int side() { return bench::shortMode() ? 2048 : 8192; }

QByteArray input(int which)
{
    switch (which) {
    case 0: return iconWithTextChunks(20, 7900000);
    case 1: return iconWithTextChunks(50, 7900000);
    case 2: return losslessWebp(side(), side());
    case 3: return oneStripTiff(quint32(side()), quint32(side()));
    case 4: return progressiveJpeg(markedImage(side(), side()));
    case 5: return withLastScanRepeated(progressiveJpeg(markedImage(side(), side())), 1000);
    default: return svgOfRects(bench::shortMode() ? 200000 : 2000000);
    }
}

const char* const names[] = { "icon, 20 zTXt", "icon, 50 zTXt", "lossless WebP", "one-strip TIFF", "progressive JPEG",
                              "JPEG, last scan x1000", "SVG of rects" };

double threadCpu()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The roads: what capture stores, a row's thumbnail, the sync folder's check then the thumbnail, a
// row's size hint on the main thread.
void road(int which, const QByteArray& bytes)
{
    switch (which) {
    case 0:
        if (image::readImageHeader(bytes))
            benchmark::DoNotOptimize(image::pngData(bytes));
        break;
    case 1: benchmark::DoNotOptimize(image::makeThumbnail(bytes, QStringLiteral("normal"), 120)); break;
    case 2:
        if (sync::detail::isImage(bytes))
            benchmark::DoNotOptimize(image::makeThumbnail(bytes, QStringLiteral("normal"), 120));
        break;
    default: benchmark::DoNotOptimize(image::imageDimensions(bytes)); break;
    }
}

void BM_AmplifyingPicture(benchmark::State& state)
{
    const QByteArray bytes = input(int(state.range(0)));
    state.SetLabel(names[state.range(0)]);
    road(0, image::encodePng(QImage(4, 4, QImage::Format_RGB32)).value()); // plug-ins loaded
    double peak = 0;
    double cpu = 0;
    for (auto _ : state) {
        // The peak is counted from here: what making the input took is not the road's.
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        if (reset.open(QIODevice::WriteOnly))
            reset.write("5");
        reset.close();
        const double before = bench::residentMegabytes();
        const double start = threadCpu();
        road(int(state.range(1)), bytes);
        cpu = threadCpu() - start;
        peak = bench::residentMegabytes("VmHWM") - before;
    }
    state.counters["input_KB"] = double(bytes.size()) / 1024;
    state.counters["peak_gain_MB"] = peak;
    state.counters["cpu_s"] = cpu;
}

} // namespace

// Inputs 0..6 (as named above) by roads 0..3: capture, thumbnail, synced picture, row size.
BENCHMARK(BM_AmplifyingPicture)->ArgsProduct({ { 0, 1, 2, 3, 4, 5, 6 }, { 0, 1, 2, 3 } })->Iterations(1)->Unit(benchmark::kMillisecond);
