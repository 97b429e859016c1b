#include "platform/image/ImageDecoder.h"

#include "platform/files/FileChecks.h"
#include "platform/process/HelperProcess.h"

#include <QBuffer>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>
#include <limits>

Q_LOGGING_CATEGORY(lcImageDecoder, "lumra.image.decoder")

namespace lumra::image {

using process::HelperProcess;

namespace {

constexpr const char* programName = "lumra-image-decoder";

QString decoderProgram()
{
#ifdef LUMRA_IMAGE_DECODER_BUILT
    static const QString found = HelperProcess::findProgram(programName, QStringLiteral(LUMRA_IMAGE_DECODER_BUILT),
                                                            "Pictures cannot be read");
#else
    static const QString found = HelperProcess::findProgram(programName, {}, "Pictures cannot be read");
#endif
    return found;
}

// A PNG at the pixel cap, stored without compression, and a little more.
constexpr qint64 maxAnswerBytes = qint64(8192) * 8192 * 4 * 102 / 100 + 1024 * 1024;

constexpr qsizetype pageCountBytes = sizeof(qint32);

// Looked at in place: a picture's answer is never copied to be checked.
bool startsAsPng(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8));
}

bool isAnswer(const QByteArray& answer)
{
    const QByteArrayView bytes(answer);
    return (bytes.startsWith('P') && startsAsPng(bytes.sliced(1))) || bytes.startsWith('R')
        || (bytes.startsWith('D') && bytes.size() > 1 + pageCountBytes && startsAsPng(bytes.sliced(1 + pageCountBytes)));
}

// Past this, the program that read a PDF is ended after it: the library keeps what it parsed.
constexpr qint64 largePdfBytes = qint64(64) * 1024 * 1024;

bool isLarge(std::optional<QSize> size)
{
    return !size || qint64(size->width()) * size->height() > ImageDecoder::restartAbovePixels;
}

// What of a picture file is read here, for its header: a PNG's or JPEG's is a few kilobytes at the
// start, whatever the file's size.
constexpr qint64 fileHeadBytes = 256 * 1024;

} // namespace

ImageDecoder& ImageDecoder::shared(DecodeTurn::Lane lane)
{
    // Never destroyed: a worker may still be decoding while the process exits. The programs end with
    // Lumra on their own.
    static ImageDecoder* const display = new ImageDecoder(decoderProgram());
    static ImageDecoder* const capture = forCapture(decoderProgram()).release();
    return lane == DecodeTurn::Lane::capture ? *capture : *display;
}

std::unique_ptr<ImageDecoder> ImageDecoder::forCapture(QString program, const QStringList& arguments)
{
    return std::make_unique<ImageDecoder>(std::move(program), capturePrograms, defaultCpuTime, arguments,
                                          captureProgramsForNewSources);
}

ImageDecoder::ImageDecoder(QString program, int programs, std::chrono::milliseconds cpuTime, const QStringList& arguments,
                           int programsForNewSources)
    : m_programs(std::make_unique<process::HelperPool>(program, arguments,
                                                        HelperProcess::Limits {readyMark, maxAnswerBytes, wallClockCap, maxResidentBytes},
                                                        programs, programsForNewSources))
    , m_cpuTime(cpuTime)
{
}

ImageDecoder::~ImageDecoder() = default;

QString ImageDecoder::installedProgram()
{
    return decoderProgram();
}

QList<pid_t> ImageDecoder::runningProcesses()
{
    return m_programs->runningProcesses();
}

int ImageDecoder::waiting()
{
    return m_programs->waiting();
}

Result<QByteArray> ImageDecoder::png(const QByteArray& bytes, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn)
{
    const DecodeRequest request = DecodeRequest::of(limits, maxPixelSize);
    // The picture goes after its header as it is: joining them would copy it.
    QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
    // A program that decoded a large picture is ended after it, so its memory goes back.
    const std::optional<QSize> size = imageDimensions(bytes);
    return exchange(std::move(message), -1, isLarge(size), bytes.size(), turn, false, bytes);
}

Result<QByteArray> ImageDecoder::png(const RegularFile& file, const DecodeLimits& limits, int maxPixelSize,
                                     std::optional<QSize> size, const DecodeTurn& turn)
{
    const DecodeRequest request = DecodeRequest::of(limits, maxPixelSize, true);
    QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
    return exchange(std::move(message), file.descriptor(), isLarge(size), file.size(), turn);
}

Result<QByteArray> ImageDecoder::pdfPage(const RegularFile& file, int page, int maxPixelSize, int* pageCount,
                                         const DecodeTurn& turn)
{
    DecodeRequest request = DecodeRequest::of(DecodeLimits(), maxPixelSize, true);
    request.pdfPage = std::max(0, page);
    QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
    Result<QByteArray> answer
        = exchange(std::move(message), file.descriptor(), file.size() > largePdfBytes, file.size(), turn, true);
    if (!answer)
        return answer;
    qint32 count = 0;
    memcpy(&count, answer->constData() + 1, sizeof count);
    if (pageCount)
        *pageCount = count;
    // Cut off in place (the start moves), never copied.
    answer.value().remove(0, 1 + pageCountBytes);
    return answer;
}

Result<QByteArray> ImageDecoder::exchange(QByteArray message, int descriptor, bool large, qint64 byteCount,
                                          const DecodeTurn& turn, bool pdf, QByteArrayView picture)
{
    QByteArray answer;
    const HelperProcess::Outcome outcome = m_programs->exchange(message, m_cpuTime, &answer, isAnswer, large,
                                                                {turn.source, turn.wanted}, descriptor, picture);
    message.clear();

    QString why;
    switch (outcome) {
    case HelperProcess::Outcome::answered:
        if (answer.startsWith('P') && !pdf)
            return answer.remove(0, 1); // in place: the start moves past the mark
        if (answer.startsWith('D') && pdf)
            return answer;
        if (!answer.startsWith('R'))
            return Result<QByteArray>::failure(QStringLiteral("The decoder answered out of turn"));
        return Result<QByteArray>::failure(QString::fromUtf8(answer.sliced(1)));
    case HelperProcess::Outcome::pastDeadline:
        why = QStringLiteral("Picture not read: decoding its %1 bytes took too long, so the decoder was stopped").arg(byteCount);
        break;
    case HelperProcess::Outcome::lost:
        why = QStringLiteral("Picture not read: the decoder failed on its %1 bytes").arg(byteCount);
        break;
    case HelperProcess::Outcome::unavailable:
        why = notStarted;
        break;
    case HelperProcess::Outcome::dropped:
        // Not worth a warning: the picture is asked for again if it is still wanted.
        return Result<QByteArray>::failure(notWanted);
    }
    qCWarning(lcImageDecoder).noquote() << why;
    if (pdf && outcome != HelperProcess::Outcome::unavailable)
        why = outcome == HelperProcess::Outcome::pastDeadline ? QStringLiteral("This PDF took too long to draw")
                                                              : QStringLiteral("This PDF can't be shown");
    return Result<QByteArray>::failure(why);
}

namespace {

// Refused here what the header already tells; the rest is the decoder program's.
Result<ImageHeader> checkedHere(const QByteArray& imageBytes, const DecodeLimits& limits)
{
    Result<ImageHeader> header = readImageHeader(imageBytes, limits);
    if (header && header->format == "svg") {
        if (Status s = checkSvgReferences(imageBytes, limits); !s)
            return Result<ImageHeader>::failure(s.error());
    }
    return header;
}

ImageDecoder& decoderOf(const DecodeTurn& turn) { return turn.decoder ? *turn.decoder : ImageDecoder::shared(turn.lane); }

} // namespace

Result<QByteArray> pngData(const QByteArray& imageBytes, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn)
{
    if (const Result<ImageHeader> header = checkedHere(imageBytes, limits); !header)
        return Result<QByteArray>::failure(header.error());
    return decoderOf(turn).png(imageBytes, limits, maxPixelSize, turn);
}

Result<QByteArray> pngData(const RegularFile& file, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn)
{
    if (file.size() > limits.maxBytes)
        return Result<QByteArray>::failure(QStringLiteral("Image file is too large (%1 MB; the limit is %2 MB).")
                                               .arg(QString::number(double(file.size()) / (1024 * 1024), 'f', 1),
                                                    QString::number(double(limits.maxBytes) / (1024 * 1024), 'f', 1)));
    const QByteArray head = file.head(fileHeadBytes);
    std::optional<QSize> size;
    if (head.size() == file.size()) {
        // Read whole: refused here as the same bytes from the clipboard would be.
        const Result<ImageHeader> header = checkedHere(head, limits);
        if (!header)
            return Result<QByteArray>::failure(header.error());
        size = header->size;
    } else {
        // A header past the head is the program's to read, and to refuse.
        QBuffer start;
        start.setData(head);
        start.open(QIODevice::ReadOnly);
        if (const Result<ImageHeader> header = readImageHeader(start, limits))
            size = header->size;
    }
    return decoderOf(turn).png(file, limits, maxPixelSize, size, turn);
}

namespace {

Result<QImage> decodedAnswer(const Result<QByteArray>& png, const DecodeLimits& limits, int maxPixelSize)
{
    if (!png)
        return Result<QImage>::failure(png.error());
    // The decoder's PNG, at the size asked; it may take more bytes than the picture it came from.
    DecodeLimits answer = limits;
    answer.maxBytes = std::numeric_limits<qint64>::max();
    return decodeImageHere(*png, answer, maxPixelSize);
}

} // namespace

Result<PdfPage> renderPdfPage(const RegularFile& file, int page, int maxPixelSize, const DecodeTurn& turn)
{
    int pageCount = 0;
    const Result<QByteArray> png = decoderOf(turn).pdfPage(file, page, maxPixelSize, &pageCount, turn);
    const Result<QImage> image = decodedAnswer(png, {}, maxPixelSize);
    if (!image)
        return Result<PdfPage>::failure(image.error());
    return PdfPage {image.value(), pageCount};
}

Result<QImage> decodeImage(const QByteArray& data, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn)
{
    return decodedAnswer(pngData(data, limits, maxPixelSize, turn), limits, maxPixelSize);
}

Result<QImage> decodeImage(const RegularFile& file, const DecodeLimits& limits, int maxPixelSize, const DecodeTurn& turn)
{
    return decodedAnswer(pngData(file, limits, maxPixelSize, turn), limits, maxPixelSize);
}

} // namespace lumra::image
