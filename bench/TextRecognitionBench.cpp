// Text recognition of a copied picture through the real road (the stored PNG handed to the
// recognition program): how far Lumra's own peak resident memory rises for pictures that are large
// once decoded, and the CPU time the program spends on an ordinary screenshot of text.
#include "platform/image/ImageDecoding.h"
#include "platform/ocr/TesseractTextRecognizer.h"

#include "../tests/platform/image/AmplifyingImages.h"
#include "BenchImages.h"
#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QPainter>

#include <ctime>

using namespace lumra;

namespace {

QImage textPage(QSize size, int lines)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(18);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < lines; ++i)
        painter.drawText(40, 40 + 28 * i, QStringLiteral("%1. The quick brown fox jumps over the lazy dog, line %1 of the page").arg(i));
    return page;
}

// What capture stores for the copied bytes, and what it hands to recognition.
QByteArray stored(int which)
{
    const int side = bench::shortMode() ? 2048 : 8192;
    switch (which) {
    case 0: return image::pngData(test::gifWithLargeScreen()).value();
    case 1: return image::encodePng(textPage(QSize(side, side), 20)).value();
    default: return image::pngData(bench::photoJpeg(bench::shortMode() ? QSize(1000, 750) : QSize(4000, 3000))).value();
    }
}

const char* const names[] = { "35-byte GIF, 8000x8000 screen", "8192x8192 PNG", "4000x3000 photo" };

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void recognizeNow(TesseractTextRecognizer& recognizer, const QByteArray& png)
{
    recognizer.recognize(png, QUuid::createUuid());
    recognizer.waitForQueuedWork();
    QCoreApplication::sendPostedEvents();
}

double processCpuSeconds(pid_t process)
{
    clockid_t clock {};
    timespec used {};
    if (process <= 0 || ::clock_getcpuclockid(process, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return 0;
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

void BM_RecognitionPeakInLumra(benchmark::State& state)
{
    if (TesseractTextRecognizer::findTessdataFolder().isEmpty()) {
        state.SkipWithError("no English Tesseract data");
        return;
    }
    const QByteArray png = stored(int(state.range(0)));
    TesseractTextRecognizer recognizer;
    recognizeNow(recognizer, image::encodePng(textPage(QSize(200, 60), 1)).value()); // the program started
    double rise = 0;
    for (auto _ : state) {
        const double before = bench::residentMegabytes();
        resetPeak();
        recognizeNow(recognizer, png);
        rise = std::max(rise, bench::residentMegabytes("VmHWM") - before);
    }
    state.counters["peak MB above start"] = rise;
    state.counters["input KB"] = double(png.size()) / 1024;
    state.SetLabel(names[state.range(0)]);
}

void BM_ScreenshotRecognitionCpu(benchmark::State& state)
{
    if (TesseractTextRecognizer::findTessdataFolder().isEmpty()) {
        state.SkipWithError("no English Tesseract data");
        return;
    }
    const QByteArray png = image::encodePng(textPage(QSize(1920, 1080), 36)).value();
    TesseractTextRecognizer recognizer;
    recognizeNow(recognizer, image::encodePng(textPage(QSize(200, 60), 1)).value());
    double cpu = 0;
    for (auto _ : state) {
        const pid_t program = recognizer.runningProcess();
        const double start = processCpuSeconds(program);
        recognizeNow(recognizer, png);
        cpu = processCpuSeconds(program) - start;
    }
    state.counters["program cpu s"] = cpu;
    state.SetLabel("1920x1080 screenshot of text");
}

} // namespace

BENCHMARK(BM_RecognitionPeakInLumra)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScreenshotRecognitionCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
