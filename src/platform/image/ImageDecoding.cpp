#include "platform/image/ImageDecoding.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <zlib.h>

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

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype pngSignatureSize = 8;

} // namespace

bool isPng(const QByteArray& data)
{
    return data.startsWith(QByteArrayView(pngSignature, pngSignatureSize));
}

namespace {

struct PngChunk {
    qsizetype start; // of the length field
    qsizetype size; // length, type, payload and CRC
    QByteArrayView type;
    QByteArrayView payload;
};

// Calls `visit` for each chunk of a PNG up to IEND, while it returns true. False when a chunk runs
// past the end or a fragment of one is left over.
template <typename Visit>
bool forEachPngChunk(const QByteArray& data, Visit visit)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    qsizetype at = pngSignatureSize;
    while (data.size() - at >= 12) {
        const quint32 length = quint32(bytes[at]) << 24 | quint32(bytes[at + 1]) << 16 | quint32(bytes[at + 2]) << 8
            | quint32(bytes[at + 3]);
        if (qint64(length) > qint64(data.size() - at - 12))
            return false;
        const PngChunk chunk { at, 12 + qsizetype(length), QByteArrayView(data.constData() + at + 4, 4),
                               QByteArrayView(data.constData() + at + 8, qsizetype(length)) };
        if (!visit(chunk) || chunk.type == "IEND")
            return true;
        at += chunk.size;
    }
    return at == data.size();
}

bool isTextChunk(const PngChunk& chunk)
{
    return chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt";
}

// libpng allocates a chunk's declared length before it reads the chunk, so a few bytes that
// claim a 1 GB chunk cost 1 GB. A PNG whose chunks run past its end is damaged: refuse it first.
bool pngChunksFit(const QByteArray& data)
{
    return !isPng(data) || forEachPngChunk(data, [](const PngChunk&) { return true; });
}

// Inflates a zlib stream, giving up once it would make more than `maxBytes`.
std::optional<QByteArray> inflateBounded(QByteArrayView compressed, qsizetype maxBytes)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = uInt(compressed.size());
    QByteArray out;
    int rc = Z_OK;
    while (rc == Z_OK && out.size() <= maxBytes) {
        // One byte past the room left tells a stream that is too long from one that just fits.
        const qsizetype step = std::min<qsizetype>(maxBytes - out.size() + 1, 64 * 1024);
        const qsizetype had = out.size();
        out.resize(had + step);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + had);
        stream.avail_out = uInt(step);
        rc = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - qsizetype(stream.avail_out));
    }
    inflateEnd(&stream);
    if (rc != Z_STREAM_END || out.size() > maxBytes)
        return std::nullopt;
    return out;
}

// tEXt: keyword \0 text. zTXt: keyword \0 method, zlib data. iTXt: keyword \0 compressed, method,
// language \0 translated keyword \0 text (zlib data when compressed).
std::optional<PngText> textOf(const PngChunk& chunk, qsizetype maxTextBytes)
{
    const qsizetype keywordEnd = chunk.payload.indexOf('\0');
    if (keywordEnd < 0)
        return std::nullopt;
    PngText text { chunk.payload.first(keywordEnd).toByteArray(), {} };
    const QByteArrayView rest = chunk.payload.sliced(keywordEnd + 1);
    QByteArrayView body = rest;
    bool compressed = false;
    bool utf8 = false;
    if (chunk.type == "zTXt") {
        if (rest.isEmpty() || rest.at(0) != 0)
            return std::nullopt;
        body = rest.sliced(1);
        compressed = true;
    } else if (chunk.type == "iTXt") {
        const qsizetype languageEnd = rest.size() < 2 ? -1 : rest.indexOf('\0', 2);
        const qsizetype translatedEnd = languageEnd < 0 ? -1 : rest.indexOf('\0', languageEnd + 1);
        if (translatedEnd < 0)
            return std::nullopt;
        body = rest.sliced(translatedEnd + 1);
        compressed = rest.at(0) != 0;
        utf8 = true;
    }
    QByteArray raw;
    if (compressed) {
        auto inflated = inflateBounded(body, maxTextBytes);
        if (!inflated)
            return std::nullopt;
        raw = std::move(*inflated);
    } else if (body.size() <= maxTextBytes) {
        raw = body.toByteArray();
    } else {
        return std::nullopt;
    }
    text.text = utf8 ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
    return text;
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

// QImageReader needs a device that outlives it; the buffer shares the caller's bytes unless
// their text chunks had to go.
struct Reader {
    explicit Reader(const QByteArray& data, const DecodeLimits& limits)
        : bytes(withoutPngText(data))
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

Result<ImageHeader> readImageHeader(QIODevice& file, const DecodeLimits& limits)
{
    if (file.peek(pngSignatureSize) != QByteArrayView(pngSignature, pngSignatureSize)) {
        QImageReader reader(&file);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(allocationLimitMiB(limits));
        return headerOf(reader, limits);
    }
    // A PNG's header is everything up to its pixel data; its text chunks are skipped unread, so a
    // file of any size costs the few chunks before its first IDAT.
    constexpr qint64 maxHeaderBytes = 8 * mebibyte;
    QByteArray header = file.read(pngSignatureSize);
    for (;;) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return Result<ImageHeader>::failure(QStringLiteral("Image data is damaged: it ends before its pixels."));
        const auto* bytes = reinterpret_cast<const uchar*>(head.constData());
        const qint64 length = qint64(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
        const QByteArrayView type = QByteArrayView(head).sliced(4);
        if (type == "IDAT") {
            // An empty IDAT and IEND close it: the reader stops at the pixels anyway.
            header += QByteArrayView("\0\0\0\0IDAT\x35\xaf\x06\x1e\0\0\0\0IEND\xae\x42\x60\x82", 24);
            return readImageHeader(header, limits);
        }
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            if (file.skip(length + 4) != length + 4)
                return Result<ImageHeader>::failure(QStringLiteral("Image data is damaged: a PNG chunk runs past the end."));
            continue;
        }
        if (header.size() + 12 + length > maxHeaderBytes)
            return Result<ImageHeader>::failure(QStringLiteral("Image data is damaged: its header is too large."));
        const QByteArray rest = file.read(length + 4);
        if (rest.size() != length + 4)
            return Result<ImageHeader>::failure(QStringLiteral("Image data is damaged: a PNG chunk runs past the end."));
        header += head + rest;
    }
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

QList<PngText> pngTexts(const QByteArray& data, qsizetype maxTextBytes)
{
    // Each chunk costs a zlib stream; a picture has a handful, not thousands.
    constexpr int maxChunks = 256;
    QList<PngText> texts;
    if (!isPng(data))
        return texts;
    qsizetype left = maxTextBytes;
    int seen = 0;
    forEachPngChunk(data, [&](const PngChunk& chunk) {
        if (!isTextChunk(chunk))
            return true;
        auto text = textOf(chunk, left);
        if (!text)
            return ++seen < maxChunks;
        left -= text->text.size();
        texts.append(std::move(*text));
        return ++seen < maxChunks && left > 0;
    });
    return texts;
}

std::optional<QByteArray> pngChunkPayload(const QByteArray& data, QByteArrayView type)
{
    std::optional<QByteArray> payload;
    if (isPng(data)) {
        forEachPngChunk(data, [&](const PngChunk& chunk) {
            if (chunk.type == type)
                payload = chunk.payload.toByteArray();
            return !payload;
        });
    }
    return payload;
}

QByteArray withoutPngText(const QByteArray& data)
{
    if (!isPng(data))
        return data;
    bool any = false;
    forEachPngChunk(data, [&](const PngChunk& chunk) { return !(any = isTextChunk(chunk)); });
    if (!any)
        return data;
    // Whole chunks go, so every chunk left keeps its own CRC.
    QByteArray kept = data.left(pngSignatureSize);
    qsizetype end = pngSignatureSize;
    forEachPngChunk(data, [&](const PngChunk& chunk) {
        if (!isTextChunk(chunk))
            kept.append(data.constData() + chunk.start, chunk.size);
        end = chunk.start + chunk.size;
        return true;
    });
    // Whatever follows the last chunk read stays, so damage is still seen as damage.
    kept.append(data.constData() + end, data.size() - end);
    return kept;
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
