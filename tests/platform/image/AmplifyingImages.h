#pragma once

#include "ImageFixtures.h"

#include <QImageWriter>
#include <QtEndian>

#include <zlib.h>

// Small inputs that cost a decoder far more than their size: each built by hand or from real
// encoder output, at whatever size the test asks for.
namespace lumra::test {

// A zTXt chunk whose text inflates to `textBytes` of one letter.
inline QByteArray zTxtChunk(qsizetype textBytes)
{
    return pngChunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(textBytes, 'a'), 9).mid(4));
}

// A one-entry icon holding `png` as its picture.
inline QByteArray iconHolding(const QByteArray& png, int side = 4)
{
    QByteArray icon("\0\0\1\0\1\0", 6);
    QByteArray entry(16, '\0');
    entry[0] = char(side);
    entry[1] = char(side);
    entry[4] = 1; // planes
    entry[6] = 32; // bits a pixel
    qToLittleEndian<quint32>(quint32(png.size()), entry.data() + 8);
    qToLittleEndian<quint32>(22, entry.data() + 12);
    return icon + entry + png;
}

// A 4 × 4 icon whose PNG carries `chunks` zTXt chunks of `textBytes` each.
inline QByteArray iconWithTextChunks(int chunks, qsizetype textBytes)
{
    const QByteArray chunk = zTxtChunk(textBytes);
    QByteArray all;
    for (int i = 0; i < chunks; ++i)
        all += chunk;
    return iconHolding(withChunksAfterHeader(encode(markedImage(4, 4), "png"), all));
}

// A lossless WebP of one colour claiming `width` × `height`: a picture of one colour costs no bits a
// pixel, so the same bit stream decodes at any size its header gives.
inline QByteArray losslessWebp(int width, int height)
{
    QImage one(16, 16, QImage::Format_RGB32);
    one.fill(qRgb(10, 200, 30));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "webp");
    writer.setQuality(100); // lossless
    if (!writer.write(one))
        return {};
    const qsizetype at = bytes.indexOf("VP8L");
    if (at < 0)
        return {};
    // After the chunk's size and the signature byte: 14 bits width - 1, 14 bits height - 1, then flags.
    auto* header = reinterpret_cast<uchar*>(bytes.data() + at + 9);
    const quint32 old = qFromLittleEndian<quint32>(header);
    const quint32 sides = quint32(width - 1) | quint32(height - 1) << 14;
    qToLittleEndian<quint32>((old & 0xf0000000u) | sides, header);
    return bytes;
}

// A TIFF of `width` × `height` RGBA pixels in one Deflate strip, written by hand.
inline QByteArray oneStripTiff(quint32 width, quint32 height)
{
    // The strip's data: that many zero bytes, compressed piece by piece.
    z_stream stream {};
    deflateInit(&stream, 9);
    QByteArray strip;
    const QByteArray zeros(1 << 20, '\0');
    qint64 left = qint64(width) * height * 4;
    QByteArray out(1 << 16, '\0');
    while (true) {
        const qsizetype now = qsizetype(std::min<qint64>(left, zeros.size()));
        left -= now;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
        stream.avail_in = uInt(now);
        int rc = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = uInt(out.size());
            rc = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            strip.append(out.constData(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0 || (left == 0 && rc != Z_STREAM_END));
        if (left == 0)
            break;
    }
    deflateEnd(&stream);

    struct Tag {
        quint16 tag, type;
        quint32 count, value;
    };
    const quint32 entries = 11;
    const quint32 ifdSize = 2 + entries * 12 + 4;
    const quint32 bitsAt = 8 + ifdSize;
    const quint32 stripAt = bitsAt + 8;
    const Tag tags[entries] = {
        { 256, 4, 1, width }, { 257, 4, 1, height }, { 258, 3, 4, bitsAt }, { 259, 3, 1, 8 },
        { 262, 3, 1, 2 }, { 273, 4, 1, stripAt }, { 277, 3, 1, 4 }, { 278, 4, 1, height },
        { 279, 4, 1, quint32(strip.size()) }, { 284, 3, 1, 1 }, { 338, 3, 1, 2 },
    };
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    QByteArray ifd(int(ifdSize), '\0');
    auto* p = reinterpret_cast<uchar*>(ifd.data());
    qToLittleEndian<quint16>(quint16(entries), p);
    for (quint32 i = 0; i < entries; ++i) {
        uchar* e = p + 2 + 12 * i;
        qToLittleEndian<quint16>(tags[i].tag, e);
        qToLittleEndian<quint16>(tags[i].type, e + 2);
        qToLittleEndian<quint32>(tags[i].count, e + 4);
        if (tags[i].type == 3 && tags[i].count == 1)
            qToLittleEndian<quint16>(quint16(tags[i].value), e + 8);
        else
            qToLittleEndian<quint32>(tags[i].value, e + 8);
    }
    return tiff + ifd + QByteArray("\x08\0\x08\0\x08\0\x08\0", 8) + strip;
}

// Qt's progressive JPEG of `image`.
inline QByteArray progressiveJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return bytes;
}

// The JPEG with its last scan (from its SOS marker to the end of its data) repeated `times` more.
inline QByteArray withLastScanRepeated(const QByteArray& jpeg, int times)
{
    const qsizetype scan = jpeg.lastIndexOf("\xff\xda");
    const qsizetype end = jpeg.lastIndexOf("\xff\xd9");
    if (scan < 0 || end < scan)
        return {};
    return jpeg.left(end) + jpeg.mid(scan, end - scan).repeated(times) + jpeg.mid(end);
}

// An SVG of `rects` small rectangles on a `side`-pixel canvas.
inline QByteArray svgOfRects(qsizetype rects, int side = 100)
{
    QByteArray svg = QByteArrayLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"") + QByteArray::number(side)
        + "\" height=\"" + QByteArray::number(side) + "\">";
    svg += QByteArray("<rect width=\"3\" height=\"4\"/>").repeated(rects);
    return svg + "</svg>";
}

// 35 bytes of GIF: one 1×1 frame on an 8000×8000 screen, which a decoder gives at full size.
inline QByteArray gifWithLargeScreen()
{
    QByteArray gif("GIF89a", 6);
    gif += QByteArray("\x40\x1f\x40\x1f\x80\x00\x00", 7) + QByteArray(6, '\0');
    gif += QByteArray("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3b", 16);
    return gif;
}

// The bytes in gzip's own framing around a raw deflate stream, as svgz files carry them.
inline QByteArray gzipped(const QByteArray& bytes)
{
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray gz(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(gz.data());
    stream.avail_out = uInt(gz.size());
    deflate(&stream, Z_FINISH);
    gz.resize(gz.size() - stream.avail_out);
    deflateEnd(&stream);
    return gz;
}

} // namespace lumra::test
