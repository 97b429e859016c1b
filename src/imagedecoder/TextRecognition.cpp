#include "TextRecognition.h"

#include "platform/image/ImageDecoding.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/process/HelperProcess.h"

#include <QPainter>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <unistd.h>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

namespace lumra::ocr {

using process::HelperProcess;

namespace {

constexpr const char* threadLimit = "OMP_THREAD_LIMIT";

// Tesseract wants dark text on a plain background: flatten transparency onto white and drop colour.
QImage prepared(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_Grayscale8);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat.convertToFormat(QImage::Format_Grayscale8);
}

QString linesOf(tesseract::TessBaseAPI& engine, const QImage& image)
{
    const QImage gray = prepared(image);
    engine.SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
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
        if (const Result<QImage> picture = image::decodeImageHere(bytes, {}, maxRecognitionSide); picture && !picture->isNull()) {
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
