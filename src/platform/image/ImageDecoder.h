#pragma once

#include "platform/core/Result.h"
#include "platform/image/ImageDecoding.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace lumra {
class RegularFile;
}

namespace lumra::process {
class HelperPool;
}

namespace lumra::image {

// Runs the decoder program (lumra-image-decoder), which turns a picture from outside into PNG in a
// process of its own: with an address-space cap, a CPU-time budget per picture and a wall-clock cap,
// able to open no file once it is ready, and killed when it breaks a bound, so that a hostile
// picture costs Lumra one stopped process and that picture only. The capture has a few programs of
// its own and display work a few others (see DecodeTurn), so one slow picture does not hold up the
// next.
//
// A request is a DecodeRequest and the picture's bytes, or the request alone with a descriptor of
// the picture's file sent along; an answer 'P' and the PNG, or 'R' and the reason it was refused,
// in UTF-8. PDFs come the same way, as a file sent along with the page to draw: the library that
// reads them is as exposed as a picture decoder, and a PDF is read in parts wherever it points. Their
// answer is 'D', the page count (four bytes) and the page's PNG.
class ImageDecoder {
public:
    static ImageDecoder& shared(DecodeTurn::Lane lane = DecodeTurn::Lane::display);
    // The capture lane's programs: two for anyone, two more for an application that copies while
    // another's pictures are being decoded.
    static constexpr int capturePrograms = 2;
    static constexpr int captureProgramsForNewSources = 2;
    // A decoder of the capture lane's shape running `program` (tests run stand-ins with `arguments`).
    static std::unique_ptr<ImageDecoder> forCapture(QString program, const QStringList& arguments = {});

    // `cpuTime`: what one picture may cost its program (tests give less); `arguments` are for
    // stand-ins. `programsForNewSources` more programs are kept for an application none of whose
    // pictures is being decoded.
    explicit ImageDecoder(QString program, int programs = 2, std::chrono::milliseconds cpuTime = defaultCpuTime,
                          const QStringList& arguments = {}, int programsForNewSources = 0);
    ~ImageDecoder();
    ImageDecoder(const ImageDecoder&) = delete;
    ImageDecoder& operator=(const ImageDecoder&) = delete;

    // The picture as PNG, downscaled so that neither side exceeds `maxPixelSize` (> 0), or why not.
    Result<QByteArray> png(const QByteArray& bytes, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn = {});
    // The same for a file, which the program reads itself. `size`: the picture's, when its header
    // was read.
    Result<QByteArray> png(const RegularFile& file, const DecodeLimits& limits, int maxPixelSize, std::optional<QSize> size,
                           const DecodeTurn& turn = {});

    // Page `page` (from 0; past the last, the last) of a PDF file drawn on paper, downscaled so that
    // neither side exceeds `maxPixelSize`, as PNG, with the document's page count; or, in the user's
    // words, why not.
    Result<QByteArray> pdfPage(const RegularFile& file, int page, int maxPixelSize, int* pageCount,
                               const DecodeTurn& turn = {});

    // The lumra-image-decoder program beside Lumra, empty when it is not installed.
    static QString installedProgram();

    // The programs' processes that run now, and the pictures waiting for one (tests).
    QList<pid_t> runningProcesses();
    int waiting();

    // What one picture may cost the program: its own CPU time, and the clock however busy the
    // machine is (a start included).
    static constexpr std::chrono::seconds defaultCpuTime {8};
    static constexpr std::chrono::seconds wallClockCap {30};
    // The program's memory as seen from outside: a picture at the pixel cap, the decoder's own
    // buffers and Qt.
    static constexpr qint64 maxResidentBytes = qint64(1280) * 1024 * 1024;
    // A program that decoded a picture larger than this is ended after it, so its memory goes back.
    static constexpr qint64 restartAbovePixels = qint64(4096) * 4096;
    // How long a thumbnail or icon waits for a program before it is no longer wanted: the row it
    // was for has most likely scrolled away, and one still shown asks again.
    static constexpr std::chrono::seconds shownWithin {3};
    static constexpr quint64 readyMark = 0x31444d494152554cULL; // "LURAIMD1"

    // Why a picture was not read, where callers act on it: no program could be started (pictures
    // are not recorded, which the user is told), or it was no longer wanted when its turn came (not
    // a fault of the picture's, so not remembered as one).
    static inline const QString notStarted = QStringLiteral("Picture not read: the picture decoder could not be started");
    static inline const QString notWanted = QStringLiteral("Picture not read: no longer wanted when its turn came");

    struct DecodeRequest {
        qint64 maxBytes = 0;
        qint64 maxPixels = 0;
        qint64 maxSvgBytes = 0;
        qint64 maxSvgElements = 0;
        qint64 maxJpegBlockScans = 0;
        qint32 maxJpegScans = 0;
        qint32 maxPixelSize = 0;
        qint32 fromDescriptor = 0; // the picture is in the file sent along, not after the request
        qint32 pdfPage = -1; // the file sent along is a PDF, and this page of it is wanted

        static DecodeRequest of(const DecodeLimits& limits, int maxPixelSize, bool fromDescriptor = false)
        {
            return {limits.maxBytes, limits.maxPixels, limits.maxSvgBytes, limits.maxSvgElements,
                    limits.maxJpegBlockScans, limits.maxJpegScans, std::max(0, maxPixelSize), fromDescriptor, -1};
        }
        DecodeLimits limits() const
        {
            DecodeLimits limits;
            limits.maxBytes = maxBytes;
            limits.maxPixels = maxPixels;
            limits.maxSvgBytes = maxSvgBytes;
            limits.maxSvgElements = maxSvgElements;
            limits.maxJpegBlockScans = maxJpegBlockScans;
            limits.maxJpegScans = maxJpegScans;
            return limits;
        }
    };

private:
    Result<QByteArray> exchange(QByteArray message, int descriptor, bool large, qint64 byteCount, const DecodeTurn& turn,
                                bool pdf = false, QByteArrayView picture = {});

    std::unique_ptr<process::HelperPool> m_programs;
    const std::chrono::milliseconds m_cpuTime;
};

// A PDF file's page as ImageDecoder::pdfPage() draws it, by the lane's programs unless the turn
// names others. Lumra never reads the PDF itself.
struct PdfPage {
    QImage image;
    int pageCount = 0;
};
Result<PdfPage> renderPdfPage(const RegularFile& file, int page, int maxPixelSize, const DecodeTurn& turn = {});

} // namespace lumra::image
