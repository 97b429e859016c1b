#include "TextRecognition.h"

#include "platform/image/ImageDecoding.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/process/HelperProcess.h"

#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <unistd.h>
#include <vector>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

namespace lumra::ocr {

using process::HelperProcess;

namespace {

constexpr const char* threadLimit = "OMP_THREAD_LIMIT";

// Tesseract wants dark text on a plain background: the picture in grey on white, at most
// maxRecognitionSide on its long side, each pixel the mean of those it covers. Qt hands large scalings
// and conversions to a pool of threads; here they are done in bands small enough that Qt keeps them on
// this thread, since the program starts no thread once confined.
QImage greyOnWhite(const QImage& picture)
{
    const int width = picture.width();
    const int height = picture.height();
    const QSize out = recognitionSize(picture.size());
    const int outWidth = out.width();
    const int outHeight = out.height();
    QImage grey(outWidth, outHeight, QImage::Format_Grayscale8);
    std::vector<int> column(size_t(width), 0);
    for (int x = 0; x < width; ++x)
        column[size_t(x)] = int(qint64(x) * outWidth / width);
    std::vector<quint64> sum(size_t(outWidth), 0);
    std::vector<quint64> count(size_t(outWidth), 0);
    int outRow = 0;
    const auto flush = [&] {
        uchar* line = grey.scanLine(outRow);
        for (size_t x = 0; x < sum.size(); ++x)
            line[x] = uchar(count[x] ? sum[x] / count[x] : 255);
        std::fill(sum.begin(), sum.end(), 0);
        std::fill(count.begin(), count.end(), 0);
    };
    const int band = std::max(1, 65535 / width);
    for (int top = 0; top < height; top += band) {
        const QImage rows = picture.copy(0, top, width, std::min(band, height - top)).convertToFormat(QImage::Format_ARGB32);
        for (int r = 0; r < rows.height(); ++r) {
            if (const int target = int(qint64(top + r) * outHeight / height); target != outRow) {
                flush();
                outRow = target;
            }
            const auto* line = reinterpret_cast<const QRgb*>(rows.constScanLine(r));
            for (int x = 0; x < width; ++x) {
                const int alpha = qAlpha(line[x]);
                sum[size_t(column[size_t(x)])] += quint64((qGray(line[x]) * alpha + 255 * (255 - alpha)) / 255);
                ++count[size_t(column[size_t(x)])];
            }
        }
    }
    flush();
    return grey;
}

QString linesOf(tesseract::TessBaseAPI& engine, const QImage& picture)
{
    const QImage grey = greyOnWhite(picture);
    engine.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    engine.SetSourceResolution(96);
    QStringList lines;
    if (engine.Recognize(nullptr) == 0) {
        std::unique_ptr<tesseract::ResultIterator> it(engine.GetIterator());
        if (it) {
            do {
                std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                const QString line = text ? QString::fromUtf8(text.get()).trimmed() : QString();
                if (!line.isEmpty())
                    lines.append(line);
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
    }
    engine.Clear();
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool isTextRecognition(int argc, char** argv)
{
    return argc == 4 && std::strcmp(argv[2], programArgument) == 0;
}

void runWithOneThread(char** argv)
{
    const char* limit = std::getenv(threadLimit);
    if (limit && std::strcmp(limit, "1") == 0)
        return;
    ::setenv(threadLimit, "1", 1);
    ::setenv("OMP_NUM_THREADS", "1", 1);
    ::execv("/proc/self/exe", argv);
}

std::unique_ptr<tesseract::TessBaseAPI> loadEngine(int argc, char** argv)
{
    if (!isTextRecognition(argc, argv))
        return nullptr;
    auto engine = std::make_unique<tesseract::TessBaseAPI>();
    if (engine->Init(argv[3], "eng") != 0)
        return nullptr;
    engine->SetPageSegMode(tesseract::PSM_AUTO);
    engine->SetVariable("debug_file", "/dev/null");
    QImage sample(160, 48, QImage::Format_RGB32);
    sample.fill(Qt::white);
    QPainter painter(&sample);
    QFont font;
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(8, 36, QStringLiteral("Lumra"));
    painter.end();
    (void)linesOf(*engine, sample);
    return engine;
}

void serveTextRecognition(tesseract::TessBaseAPI& engine)
{
    for (;;) {
        HelperProcess::Header header;
        // Leaving by _exit: a leak check at exit would want to open files it may not.
        if (!HelperProcess::readAll(reinterpret_cast<char*>(&header), sizeof header) || header.bytes < 0
            || header.bytes > image::DecodeLimits().maxBytes)
            ::_exit(0);
        QByteArray bytes(header.bytes, Qt::Uninitialized);
        if (!HelperProcess::readAll(bytes.data(), bytes.size()))
            ::_exit(0);
        QByteArray text;
        if (const Result<QImage> picture = image::decodeImageHere(bytes); picture && !picture->isNull()) {
            bytes.clear();
            text = linesOf(engine, *picture).toUtf8();
        }
        bytes.clear();
        // The picture's pixels and Tesseract's page go back to the system while the program waits.
        ::malloc_trim(0);
        const HelperProcess::Header reply {header.id, text.size()};
        if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&reply), sizeof reply)
            || !HelperProcess::writeAll(text.constData(), text.size()))
            ::_exit(0);
    }
}

} // namespace lumra::ocr
