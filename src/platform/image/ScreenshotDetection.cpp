#include "platform/image/ScreenshotDetection.h"

#include "platform/image/ImageDecoding.h"

#include <QLoggingCategory>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <mutex>

Q_LOGGING_CATEGORY(lcScreenshot, "lumra.image.metadata")

namespace lumra::image {

namespace {

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";
// Text chunks are short in practice; compressed ones beyond this are not inflated, which
// bounds what a crafted chunk can make us allocate.
constexpr int maxCompressedTextChunk = 64 * 1024;
constexpr qint64 maxMetadataBytes = DecodeLimits {}.maxBytes;

void initialiseExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

bool isPng(const QByteArray& data)
{
    return data.startsWith(QByteArray::fromRawData(pngSignature, 8));
}

struct PngChunk {
    QByteArray type;
    QByteArray payload;
};

// Walks the chunk list; stops quietly at the first chunk that runs past the end.
QList<PngChunk> pngChunks(const QByteArray& data)
{
    QList<PngChunk> chunks;
    qsizetype offset = 8;
    while (offset + 12 <= data.size()) {
        const quint32 length = qFromBigEndian<quint32>(data.constData() + offset);
        const QByteArray type = data.mid(offset + 4, 4);
        if (qint64(length) > data.size() - offset - 12)
            break;
        chunks.append({ type, data.mid(offset + 8, length) });
        if (type == "IEND")
            break;
        offset += 12 + qsizetype(length);
    }
    return chunks;
}

std::optional<QByteArray> inflate(const QByteArray& compressed)
{
    if (compressed.size() > maxCompressedTextChunk)
        return std::nullopt;
    // qUncompress wants the expected size up front; it is only a first guess.
    QByteArray framed(4, '\0');
    qToBigEndian<quint32>(quint32(compressed.size() * 4), framed.data());
    framed += compressed;
    QByteArray out = qUncompress(framed);
    if (out.isEmpty() && !compressed.isEmpty())
        return std::nullopt;
    return out;
}

std::optional<QString> textOfChunk(const PngChunk& chunk)
{
    const qsizetype keywordEnd = chunk.payload.indexOf('\0');
    if (keywordEnd < 0)
        return std::nullopt;
    const QByteArray rest = chunk.payload.mid(keywordEnd + 1);
    if (chunk.type == "tEXt")
        return QString::fromLatin1(rest);
    if (chunk.type == "zTXt") {
        if (rest.isEmpty() || rest.at(0) != 0)
            return std::nullopt;
        const auto text = inflate(rest.mid(1));
        return text ? std::optional(QString::fromLatin1(*text)) : std::nullopt;
    }
    if (chunk.type == "iTXt") {
        // compression flag, method, language tag \0, translated keyword \0, text
        if (rest.size() < 2)
            return std::nullopt;
        const bool compressed = rest.at(0) != 0;
        const qsizetype languageEnd = rest.indexOf('\0', 2);
        const qsizetype translatedEnd = languageEnd < 0 ? -1 : rest.indexOf('\0', languageEnd + 1);
        if (translatedEnd < 0)
            return std::nullopt;
        const QByteArray body = rest.mid(translatedEnd + 1);
        if (!compressed)
            return QString::fromUtf8(body);
        const auto text = inflate(body);
        return text ? std::optional(QString::fromUtf8(*text)) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> userCommentOf(const Exiv2::ExifData& exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    if (it == exif.end())
        return std::nullopt;
    if (const auto* comment = dynamic_cast<const Exiv2::CommentValue*>(&it->value()))
        return QString::fromStdString(comment->comment());
    return QString::fromStdString(it->toString());
}

bool mentionsScreenshot(const QString& text)
{
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("screenshot")) || lower.contains(QLatin1String("screen capture"));
}

} // namespace

const QStringList& screenshotToolIds()
{
    static const QStringList ids {
        QStringLiteral("org.gnome.Screenshot"),
        QStringLiteral("org.kde.spectacle"),
        QStringLiteral("org.flameshot.Flameshot"),
        QStringLiteral("xfce4-screenshooter"),
    };
    return ids;
}

std::optional<QString> exifUserComment(const QByteArray& data)
{
    if (data.isEmpty() || data.size() > maxMetadataBytes)
        return std::nullopt;
    initialiseExiv2();
    try {
        if (isPng(data)) {
            for (const PngChunk& chunk : pngChunks(data)) {
                if (chunk.type != "eXIf")
                    continue;
                Exiv2::ExifData exif;
                Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(chunk.payload.constData()),
                                          uint32_t(chunk.payload.size()));
                return userCommentOf(exif);
            }
        }
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(data.constData()), long(data.size()));
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        return userCommentOf(image->exifData());
    } catch (const std::exception& e) {
        qCDebug(lcScreenshot) << "unreadable EXIF:" << e.what();
    } catch (...) {
        qCDebug(lcScreenshot) << "unreadable EXIF";
    }
    return std::nullopt;
}

QStringList pngTextValues(const QByteArray& data)
{
    QStringList values;
    if (!isPng(data))
        return values;
    for (const PngChunk& chunk : pngChunks(data)) {
        if (auto text = textOfChunk(chunk))
            values.append(*text);
    }
    return values;
}

bool isScreenshotImage(const QByteArray& data)
{
    if (const auto comment = exifUserComment(data); comment && mentionsScreenshot(*comment))
        return true;
    const QStringList texts = pngTextValues(data);
    return std::any_of(texts.begin(), texts.end(), mentionsScreenshot);
}

CaptureCategory captureCategoryForImageData(const std::optional<QByteArray>& data,
                                            const std::optional<QString>& sourceAppBundleId)
{
    if (data && isScreenshotImage(*data))
        return CaptureCategory::screenshot;
    if (sourceAppBundleId && screenshotToolIds().contains(*sourceAppBundleId))
        return CaptureCategory::screenshot;
    return CaptureCategory::image;
}

} // namespace lumra::image
