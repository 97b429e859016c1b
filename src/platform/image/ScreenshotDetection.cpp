#include "platform/image/ScreenshotDetection.h"

#include "platform/image/ImageDecoding.h"

#include <QLoggingCategory>

#include <exiv2/exiv2.hpp>

#include <mutex>

Q_LOGGING_CATEGORY(lcScreenshot, "lumra.image.metadata")

namespace lumra::image {

namespace {

// Screenshot tools write a few words; a crafted picture may inflate to gigabytes.
constexpr qsizetype maxTextBytes = 1024 * 1024;
constexpr qint64 maxMetadataBytes = DecodeLimits {}.maxBytes;

void initialiseExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
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
            if (const auto payload = pngChunkPayload(data, "eXIf")) {
                Exiv2::ExifData exif;
                Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(payload->constData()),
                                          uint32_t(payload->size()));
                return userCommentOf(exif);
            }
            // A PNG keeps EXIF only in eXIf; Exiv2 would also inflate every text chunk looking
            // for more, whatever they inflate to.
            return std::nullopt;
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
    for (PngText& text : pngTexts(data, maxTextBytes))
        values.append(std::move(text.text));
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
