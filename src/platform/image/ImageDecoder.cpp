#include "platform/image/ImageDecoder.h"

#include "platform/process/HelperProcess.h"

#include <QLoggingCategory>

#include <algorithm>
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

bool isAnswer(const QByteArray& answer)
{
    return (answer.startsWith('P') && isPng(answer.sliced(1))) || answer.startsWith('R');
}

} // namespace

ImageDecoder& ImageDecoder::shared()
{
    // Never destroyed: a worker may still be decoding while the process exits. The programs end with
    // Lumra on their own.
    static ImageDecoder* const decoder = new ImageDecoder(decoderProgram());
    return *decoder;
}

ImageDecoder::ImageDecoder(QString program, int programs, std::chrono::milliseconds cpuTime)
    : m_programs(std::make_unique<process::HelperPool>(program, QStringList(),
                                                        HelperProcess::Limits {readyMark, maxAnswerBytes, wallClockCap, maxResidentBytes},
                                                        programs))
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

Result<QByteArray> ImageDecoder::png(const QByteArray& bytes, const DecodeLimits& limits, int maxPixelSize)
{
    const DecodeRequest request = DecodeRequest::of(limits, maxPixelSize);
    QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
    message += bytes;

    // A program that decoded a large picture is ended after it, so its memory goes back.
    const std::optional<QSize> size = imageDimensions(bytes);
    const bool large = !size || qint64(size->width()) * size->height() > restartAbovePixels;
    QByteArray answer;
    const HelperProcess::Outcome outcome = m_programs->exchange(message, m_cpuTime, &answer, isAnswer, large);
    message.clear();

    QString why;
    switch (outcome) {
    case HelperProcess::Outcome::answered:
        if (answer.startsWith('P'))
            return answer.sliced(1);
        return Result<QByteArray>::failure(QString::fromUtf8(answer.sliced(1)));
    case HelperProcess::Outcome::pastDeadline:
        why = QStringLiteral("Picture not read: decoding its %1 bytes took too long, so the decoder was stopped").arg(bytes.size());
        break;
    case HelperProcess::Outcome::lost:
        why = QStringLiteral("Picture not read: the decoder failed on its %1 bytes").arg(bytes.size());
        break;
    case HelperProcess::Outcome::unavailable:
        why = QStringLiteral("Picture not read: the picture decoder could not be started");
        break;
    }
    qCWarning(lcImageDecoder).noquote() << why;
    return Result<QByteArray>::failure(why);
}

Result<QByteArray> pngData(const QByteArray& imageBytes, const DecodeLimits& limits, int maxPixelSize)
{
    // Refused here what the header already tells; the rest is the decoder program's.
    const Result<ImageHeader> header = readImageHeader(imageBytes, limits);
    if (!header)
        return Result<QByteArray>::failure(header.error());
    if (header->format == "svg") {
        if (Status s = checkSvgReferences(imageBytes, limits); !s)
            return Result<QByteArray>::failure(s.error());
    }
    return ImageDecoder::shared().png(imageBytes, limits, maxPixelSize);
}

Result<QImage> decodeImage(const QByteArray& data, const DecodeLimits& limits, int maxPixelSize)
{
    const Result<QByteArray> png = pngData(data, limits, maxPixelSize);
    if (!png)
        return Result<QImage>::failure(png.error());
    // The decoder's PNG, at the size asked; it may take more bytes than the picture it came from.
    DecodeLimits answer = limits;
    answer.maxBytes = std::numeric_limits<qint64>::max();
    return decodeImageHere(*png, answer, maxPixelSize);
}

} // namespace lumra::image
