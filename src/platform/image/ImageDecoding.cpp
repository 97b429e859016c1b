#include "platform/image/ImageDecoding.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace lumra::image {

namespace {

constexpr qint64 mebibyte = 1024 * 1024;

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / mebibyte, 'f', 1);
}

// Qt refuses single allocations above this many MiB; keep it in step with the pixel cap
// (32-bit pixels) so a header that lies about its size still cannot exhaust memory.
int allocationLimitMiB(const DecodeLimits& limits)
{
    const qint64 pixels = std::min(limits.maxPixels, qint64(1) << 40);
    const qint64 mib = (pixels * 4 + mebibyte - 1) / mebibyte;
    return int(std::clamp<qint64>(mib, 1, 1 << 20));
}

// libpng allocates a chunk's declared length before it reads the chunk, so a few bytes that
// claim a 1 GB chunk cost 1 GB. A PNG whose chunks run past its end is damaged: refuse it first.
bool pngChunksFit(const QByteArray& data)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!data.startsWith(signature))
        return true;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    qsizetype at = signature.size();
    while (data.size() - at >= 12) {
        const quint32 length = quint32(bytes[at]) << 24 | quint32(bytes[at + 1]) << 16 | quint32(bytes[at + 2]) << 8
            | quint32(bytes[at + 3]);
        if (qint64(length) > qint64(data.size() - at - 12))
            return false;
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0)
            return true;
        at += 12 + qsizetype(length);
    }
    return at == data.size();
}

Status checkByteSize(const QByteArray& data, const DecodeLimits& limits)
{
    if (data.isEmpty())
        return Status::failure(QStringLiteral("No image data."));
    if (data.size() > limits.maxBytes)
        return Status::failure(QStringLiteral("Image data is too large (%1 MB; the limit is %2 MB).")
                                   .arg(megabytes(data.size()), megabytes(limits.maxBytes)));
    if (!pngChunksFit(data))
        return Status::failure(QStringLiteral("Image data is damaged: a PNG chunk runs past the end."));
    return {};
}

Status checkPixelSize(QSize size, const DecodeLimits& limits)
{
    if (size.width() <= 0 || size.height() <= 0)
        return Status::failure(QStringLiteral("Image has no pixels."));
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > limits.maxPixels)
        return Status::failure(QStringLiteral("Image is too large (%1 × %2 pixels; the limit is %3 megapixels).")
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(limits.maxPixels / 1000000));
    return {};
}

// QImageReader needs a device that outlives it; the buffer shares the caller's bytes.
struct Reader {
    explicit Reader(const QByteArray& data, const DecodeLimits& limits)
        : bytes(data)
        , buffer(&bytes)
    {
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(allocationLimitMiB(limits));
    }
    QByteArray bytes;
    QBuffer buffer;
    QImageReader reader;
};

Result<ImageHeader> headerOf(QImageReader& reader, const DecodeLimits& limits)
{
    if (!reader.canRead())
        return Result<ImageHeader>::failure(QStringLiteral("Image data is not in a format Lumra can read."));
    ImageHeader header;
    header.format = reader.format();
    header.size = reader.size();
    header.transformation = reader.transformation();
    if (!header.size.isValid())
        return Result<ImageHeader>::failure(QStringLiteral("Image data has no readable size."));
    if (Status s = checkPixelSize(header.size, limits); !s)
        return Result<ImageHeader>::failure(s.error());
    return header;
}

} // namespace

Result<ImageHeader> readImageHeader(const QByteArray& data, const DecodeLimits& limits)
{
    if (Status s = checkByteSize(data, limits); !s)
        return Result<ImageHeader>::failure(s.error());
    Reader r(data, limits);
    return headerOf(r.reader, limits);
}

Result<QImage> decodeImage(const QByteArray& data, const DecodeLimits& limits, int maxPixelSize)
{
    if (Status s = checkByteSize(data, limits); !s)
        return Result<QImage>::failure(s.error());
    Reader r(data, limits);
    const Result<ImageHeader> header = headerOf(r.reader, limits);
    if (!header)
        return Result<QImage>::failure(header.error());

    const QSize stored = header->size;
    const int longSide = std::max(stored.width(), stored.height());
    if (maxPixelSize > 0 && longSide > maxPixelSize) {
        // The reader scales before it applies the orientation, so the target is in stored
        // coordinates; the long side is the same either way.
        const double scale = double(maxPixelSize) / longSide;
        r.reader.setScaledSize(QSize(std::max(1, int(std::lround(stored.width() * scale))),
                                     std::max(1, int(std::lround(stored.height() * scale)))));
    }

    QImage image;
    if (!r.reader.read(&image) || image.isNull())
        return Result<QImage>::failure(QStringLiteral("Image data could not be decoded: %1").arg(r.reader.errorString()));
    if (Status s = checkPixelSize(image.size(), limits); !s)
        return Result<QImage>::failure(s.error());
    return image;
}

Result<QByteArray> encodePng(const QImage& image)
{
    if (image.isNull())
        return Result<QByteArray>::failure(QStringLiteral("No image to encode."));
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return Result<QByteArray>::failure(QStringLiteral("Image could not be encoded as PNG: %1").arg(writer.errorString()));
    return out;
}

Result<QByteArray> pngData(const QByteArray& imageBytes, const DecodeLimits& limits)
{
    const Result<QImage> image = decodeImage(imageBytes, limits);
    if (!image)
        return Result<QByteArray>::failure(image.error());
    return encodePng(*image);
}

QString sha256Hex(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QString imageFileName(const QByteArray& pngBytes)
{
    const QByteArray digest = QCryptographicHash::hash(pngBytes, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(16).toHex()) + QStringLiteral(".png");
}

std::optional<QSize> imageDimensions(const QByteArray& data)
{
    const DecodeLimits unbounded { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max() };
    const Result<ImageHeader> header = readImageHeader(data, unbounded);
    if (!header)
        return std::nullopt;
    return header->size;
}

} // namespace lumra::image
