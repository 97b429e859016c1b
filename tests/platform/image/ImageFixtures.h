#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <array>
#include <optional>

// Builders for the image bytes the tests feed to the decoders: real encoder output,
// edited with exiv2 or with hand-made PNG chunks.
namespace lumra::test {

inline quint32 crc32(const QByteArray& bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t {};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

inline QByteArray pngChunk(const QByteArray& type, const QByteArray& payload)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), out.data());
    out += type + payload;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32(type + payload), crc.data());
    return out + crc;
}

// A picture with a distinct top-left corner, so orientation can be told apart.
inline QImage markedImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 4, height / 4, Qt::red);
    return image;
}

inline QByteArray encode(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Inserts chunks right after IHDR (8-byte signature + 25-byte IHDR chunk).
inline QByteArray withChunksAfterHeader(const QByteArray& png, const QByteArray& chunks)
{
    return png.left(33) + chunks + png.mid(33);
}

// A valid PNG signature and IHDR that claim the given size, followed by nothing useful.
inline QByteArray pngHeaderClaiming(quint32 width, quint32 height)
{
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(width, ihdr.data());
    qToBigEndian<quint32>(height, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 6; // RGBA
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", QByteArray(16, '\0'));
}

inline QByteArray exifBlob(std::optional<std::string> userComment, std::optional<uint16_t> orientation)
{
    Exiv2::ExifData exif;
    if (userComment)
        exif["Exif.Photo.UserComment"] = "charset=Ascii " + *userComment;
    if (orientation)
        exif["Exif.Image.Orientation"] = *orientation;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
}

// Encoder output with EXIF written into it by exiv2.
inline QByteArray withExif(const QByteArray& bytes, std::optional<std::string> userComment,
                           std::optional<uint16_t> orientation)
{
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
    image->readMetadata();
    if (userComment)
        image->exifData()["Exif.Photo.UserComment"] = "charset=Ascii " + *userComment;
    if (orientation)
        image->exifData()["Exif.Image.Orientation"] = *orientation;
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    Exiv2::DataBuf buf = io.read(long(io.size()));
    return QByteArray(reinterpret_cast<const char*>(buf.pData_), qsizetype(buf.size_));
}

inline bool isReddish(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 80 && qBlue(pixel) < 80;
}

} // namespace lumra::test
