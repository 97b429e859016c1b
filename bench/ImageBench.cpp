#include "platform/image/ImageDecoding.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/image/Thumbnails.h"

#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QPainter>

using namespace lumra::image;

namespace {

// A desktop-like picture: flat panels, text and a gradient, which is what PNG
// screenshots from the clipboard mostly look like.
QByteArray screenshotPng()
{
    const QSize size = lumra::bench::shortMode() ? QSize(800, 600) : QSize(4000, 3000);
    static QByteArray cached;
    if (!cached.isEmpty())
        return cached;
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(40, 60, 90));
    gradient.setColorAt(1, QColor(200, 120, 60));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 12; ++i) {
        const QRect window(i * size.width() / 14, i * size.height() / 16, size.width() / 3, size.height() / 3);
        painter.fillRect(window, QColor(245, 245, 245));
        painter.setPen(Qt::black);
        for (int line = 0; line < 20; ++line)
            painter.drawText(window.adjusted(10, 20 + line * 18, 0, 0), QStringLiteral("The quick brown fox %1 jumps").arg(line));
    }
    painter.end();
    QBuffer buffer(&cached);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return cached;
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
