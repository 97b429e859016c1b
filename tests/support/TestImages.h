#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>

namespace lumra::test {

// The bytes of a picture in `format`, as a capture or a file would hold them.
inline QByteArray encodedImage(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QByteArray pngBytes(const QImage& image) { return encodedImage(image, "PNG"); }

inline QByteArray solidPng(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return pngBytes(image);
}

// Uncompressed: as many bytes in every colour.
inline QByteArray solidBitmap(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return encodedImage(image, "BMP");
}

} // namespace lumra::test
