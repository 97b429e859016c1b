#include "platform/image/ImageDecoding.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/image/Thumbnails.h"

#include "BenchImages.h"

#include <benchmark/benchmark.h>

using namespace lumra::image;

namespace {

QByteArray screenshotPng()
{
    static const QByteArray png = lumra::bench::screenshotPng();
    return png;
}

void BM_DecodeReencodeHash(benchmark::State& state)
{
    const QByteArray bytes = screenshotPng();
    for (auto _ : state) {
        const auto png = pngData(bytes);
        benchmark::DoNotOptimize(imageFileName(png.value()));
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}
BENCHMARK(BM_DecodeReencodeHash)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state)
{
    const QByteArray bytes = screenshotPng();
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeImage(bytes).value().width());
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_EncodePng(benchmark::State& state)
{
    const QImage image = decodeImage(screenshotPng()).value();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodePng(image).value().size());
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

void BM_Thumbnail(benchmark::State& state)
{
    static const char* qualities[] = { "low", "normal", "high" };
    const QString quality = QString::fromLatin1(qualities[state.range(0)]);
    state.SetLabel(qualities[state.range(0)]);
    const QByteArray bytes = screenshotPng();
    for (auto _ : state)
        benchmark::DoNotOptimize(makeThumbnail(bytes, quality, 120).value().image.width());
}
BENCHMARK(BM_Thumbnail)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_ImageDimensions(benchmark::State& state)
{
    const QByteArray bytes = screenshotPng();
    for (auto _ : state)
        benchmark::DoNotOptimize(imageDimensions(bytes));
}
BENCHMARK(BM_ImageDimensions)->Unit(benchmark::kMicrosecond);

// Runs on the main thread for every captured image.
void BM_IsScreenshotImage(benchmark::State& state)
{
    const QByteArray bytes = screenshotPng();
    for (auto _ : state)
        benchmark::DoNotOptimize(isScreenshotImage(bytes));
}
BENCHMARK(BM_IsScreenshotImage)->Unit(benchmark::kMicrosecond);

} // namespace
