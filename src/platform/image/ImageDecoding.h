#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>
#include <QString>

#include <optional>

namespace lumra::image {

// Bounds for image bytes that come from another application. The pixel cap is checked
// against the header before any pixel is decoded; the byte cap before the header is read.
struct DecodeLimits {
    qint64 maxBytes = 256ll * 1024 * 1024;
    qint64 maxPixels = 8192ll * 8192; // room for two 8K screens side by side
};

struct ImageHeader {
    QSize size; // as stored, before any EXIF orientation
    QByteArray format;
    QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone;
};

// Reads only the header. Refuses data over the byte cap and sizes over the pixel cap.
Result<ImageHeader> readImageHeader(const QByteArray& data, const DecodeLimits& limits = {});

// Decodes with the EXIF orientation applied. `maxPixelSize` > 0 decodes downscaled so that
// neither side exceeds it; an image is never scaled up.
Result<QImage> decodeImage(const QByteArray& data, const DecodeLimits& limits = {}, int maxPixelSize = 0);

// The bytes re-encoded as PNG (orientation applied), so identical pictures hash alike.
Result<QByteArray> pngData(const QByteArray& imageBytes, const DecodeLimits& limits = {});
Result<QByteArray> encodePng(const QImage& image);

// Lower-case hexadecimal SHA-256 digest (64 digits).
QString sha256Hex(const QByteArray& data);
// An image's stored file name: the first 16 bytes of the SHA-256 of its PNG data as 32
// lower-case hexadecimal digits, then ".png".
QString imageFileName(const QByteArray& pngBytes);

// Pixel width and height from the header, without decoding and without applying the
// orientation; none when the data is no readable image.
std::optional<QSize> imageDimensions(const QByteArray& data);

} // namespace lumra::image
