// lumra-image-decoder: turns pictures from outside Lumra into PNG. Lumra runs it as a process of its
// own (see platform/image/ImageDecoder.h) because Qt's picture plug-ins run code that cannot be
// interrupted, read what a picture names and spend what a picture asks: here that costs one killed
// process at its deadline, never Lumra's time or memory. Started with --recognize-text it recognises
// text in pictures instead (TextRecognition.h).
#include "PdfPages.h"
#include "TextRecognition.h"

#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/process/Confinement.h"
#include "platform/process/HelperProcess.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>

#include <tesseract/baseapi.h>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using lumra::image::ImageDecoder;
using lumra::process::HelperProcess;

// Qt and its fonts, a picture at the pixel cap and what a decoder keeps besides.
constexpr qint64 addressSpaceLimit = qint64(1536) * 1024 * 1024;

// Every plug-in and the fonts are loaded before the program is confined: after that it opens nothing.
void warmUp()
{
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QImageReader reader(&empty, format);
        reader.canRead();
    }
    const QByteArray text = "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
                            "<text x='0' y='12' font-size='12'>Ag</text></svg>";
    (void)lumra::image::decodeImageHere(text);
    lumra::pdf::warmUp();
}

// A picture file Lumra sent the descriptor of, from its start, no further than `maxBytes`.
bool fileContents(int descriptor, qint64 maxBytes, QByteArray* bytes)
{
    maxBytes = std::clamp<qint64>(maxBytes, 0, lumra::image::DecodeLimits().maxBytes);
    struct stat st {};
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes)
        return false;
    // One byte past the bound tells a file that grew past it since.
    bytes->resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    while (got < bytes->size()) {
        const ssize_t n = ::pread(descriptor, bytes->data() + got, size_t(bytes->size() - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    bytes->truncate(got);
    return got <= maxBytes;
}

} // namespace

int main(int argc, char** argv)
{
    // Pictures and text copied from the user pass through here: from the first line no other program
    // of the user's may attach to it, read its memory or take its socket to Lumra.
    lumra::process::keepOtherProcessesOut();
    const bool recognizing = lumra::ocr::isTextRecognition(argc, argv);
    if (recognizing)
        lumra::ocr::runWithOneThread(argv);
    if (!HelperProcess::beginProgram(argc, argv, recognizing ? "lumra-text-rec" : "lumra-image-dec", addressSpaceLimit))
        return 2;
    // Fonts (text in an SVG) need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    warmUp();
    const std::unique_ptr<tesseract::TessBaseAPI> engine = lumra::ocr::loadEngine(argc, argv);
    if (recognizing && !engine)
        return 4;
    // From here on the program reads, decodes or recognises, and answers, and can do nothing else
    // (see Confinement.h).
    if (!lumra::process::confine())
        return 3;
    const quint64 ready = recognizing ? lumra::ocr::readyMark : ImageDecoder::readyMark;
    if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&ready), sizeof ready))
        ::_exit(0);
    if (engine)
        lumra::ocr::serveTextRecognition(*engine);
    for (;;) {
        HelperProcess::Header header;
        ImageDecoder::DecodeRequest request;
        int descriptor = -1;
        // Leaving by _exit: a leak check at exit would want to open files it may not.
        if (!HelperProcess::readAll(reinterpret_cast<char*>(&header), sizeof header, &descriptor)
            || header.bytes < qint64(sizeof request) || header.bytes > lumra::image::DecodeLimits().maxBytes + qint64(sizeof request)
            || !HelperProcess::readAll(reinterpret_cast<char*>(&request), sizeof request))
            ::_exit(0);
        if (request.pdfPage >= 0) {
            if (header.bytes != qint64(sizeof request) || !request.fromDescriptor)
                ::_exit(0);
            const auto page = descriptor >= 0
                ? lumra::pdf::renderPage(descriptor, request.pdfPage, request.maxPixelSize, request.maxPixels)
                : lumra::Result<lumra::pdf::RenderedPage>::failure(QStringLiteral("The PDF's file did not arrive."));
            if (descriptor >= 0)
                ::close(descriptor);
            QByteArray answer;
            if (page) {
                const qint32 count = page->pageCount;
                answer = QByteArray(1, 'D') + QByteArray(reinterpret_cast<const char*>(&count), sizeof count) + page->png;
            } else {
                answer = QByteArray(1, 'R') + page.error().toUtf8();
            }
            const HelperProcess::Header reply {header.id, answer.size()};
            if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&reply), sizeof reply)
                || !HelperProcess::writeAll(answer.constData(), answer.size()))
                ::_exit(0);
            continue;
        }
        QByteArray bytes;
        std::optional<QString> refused;
        if (request.fromDescriptor) {
            if (header.bytes != qint64(sizeof request))
                ::_exit(0);
            if (descriptor < 0)
                refused = QStringLiteral("The picture's file did not arrive.");
            else if (!fileContents(descriptor, request.maxBytes, &bytes))
                refused = QStringLiteral("Image file could not be read, or is too large (the limit is %1 MB).")
                              .arg(request.maxBytes / (1024 * 1024));
        } else {
            bytes.resize(header.bytes - qint64(sizeof request));
            if (!HelperProcess::readAll(bytes.data(), bytes.size()))
                ::_exit(0);
        }
        if (descriptor >= 0)
            ::close(descriptor);
        const lumra::Result<QByteArray> png = refused ? lumra::Result<QByteArray>::failure(*refused)
                                                      : lumra::image::pngDataHere(bytes, request.limits(), request.maxPixelSize);
        bytes.clear();
        const QByteArray answer = png ? QByteArray(1, 'P') + *png : QByteArray(1, 'R') + png.error().toUtf8();
        const HelperProcess::Header reply {header.id, answer.size()};
        if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&reply), sizeof reply)
            || !HelperProcess::writeAll(answer.constData(), answer.size()))
            ::_exit(0);
    }
}
