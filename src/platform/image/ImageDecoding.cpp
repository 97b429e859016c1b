#include "platform/image/ImageDecoding.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

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

qint64 cappedPixels(const DecodeLimits& limits) { return std::clamp<qint64>(limits.maxPixels, 1, qint64(1) << 40); }

quint32 be32(const uchar* p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint16 be16(const uchar* p) { return quint16(p[0] << 8 | p[1]); }
quint32 le32(const uchar* p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }
quint16 le16(const uchar* p) { return quint16(p[1] << 8 | p[0]); }

const uchar* bytesOf(const QByteArray& data) { return reinterpret_cast<const uchar*>(data.constData()); }

// Width times height of sides read from a header, saturating far above any pixel cap instead of
// overflowing.
qint64 pixelsOf(quint64 width, quint64 height)
{
    constexpr quint64 most = quint64(1) << 31;
    return qint64(std::min(width, most) * std::min(height, most));
}

} // namespace

qint64 decodeBudgetBytes(const DecodeLimits& limits)
{
    return cappedPixels(limits) * 5;
}

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
    const uchar* bytes = bytesOf(data);
    qsizetype at = pngSignatureSize;
    while (data.size() - at >= 12) {
        const quint32 length = be32(bytes + at);
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

// Inflates a zlib stream (a gzip one with `windowBits` 16 + MAX_WBITS), giving up once it would
// make more than `maxBytes`.
std::optional<QByteArray> inflateBounded(QByteArrayView compressed, qsizetype maxBytes, int windowBits = MAX_WBITS)
{
    z_stream stream {};
    if (inflateInit2(&stream, windowBits) != Z_OK)
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

Result<QByteArray> refused(const QString& why) { return Result<QByteArray>::failure(why); }

// ------------------------------------------------------------------------------------------ icons

bool isIcon(const QByteArray& data)
{
    const uchar* p = bytesOf(data);
    return data.size() >= 6 && p[0] == 0 && p[1] == 0 && (p[2] == 1 || p[2] == 2) && p[3] == 0 && le16(p + 4) > 0;
}

// Qt's icon reader hands an embedded PNG to the PNG reader as it is, text chunks and all, under
// Qt's default allocation limit, and sizes an embedded bitmap by its own header, not the
// directory's. So the PNGs lose their text here and no entry may claim more than the pixel cap.
// Anything that is no well-formed icon directory is left to Qt's reader to refuse.
Result<QByteArray> iconPrepared(const QByteArray& data, const DecodeLimits& limits)
{
    const uchar* p = bytesOf(data);
    const qsizetype count = le16(p + 4);
    const qsizetype directorySize = 6 + 16 * count;
    // Qt's reader takes what a directory claims past the end of the file as entries of its own.
    if (directorySize > data.size())
        return refused(QStringLiteral("Icon data is damaged: its directory runs past the end."));
    QByteArray directory = data.left(directorySize);
    QByteArray body;
    bool changed = false;
    for (qsizetype i = 0; i < count; ++i) {
        const uchar* entry = p + 6 + 16 * i;
        const qint64 size = le32(entry + 8);
        const qint64 offset = le32(entry + 12);
        if (offset > data.size() || size > data.size() - offset)
            return refused(QStringLiteral("Icon data is damaged: an entry runs past the end."));
        QByteArray picture = data.mid(offset, size);
        const uchar* q = bytesOf(picture);
        qint64 pixels = 0;
        if (isPng(picture)) {
            if (!pngChunksFit(picture))
                return refused(QStringLiteral("Icon data is damaged: a PNG chunk runs past the end."));
            if (picture.size() >= 24)
                pixels = pixelsOf(be32(q + 16), be32(q + 20));
            const QByteArray plain = withoutPngText(picture);
            changed = changed || plain.size() != picture.size();
            picture = plain;
        } else if (picture.size() >= 12 && le32(q) == 40) {
            // A bitmap's height counts its mask too.
            pixels = pixelsOf(std::abs(qint64(qint32(le32(q + 4)))), std::abs(qint64(qint32(le32(q + 8)))) / 2);
        }
        if (pixels > cappedPixels(limits))
            return refused(QStringLiteral("Icon is too large (an entry claims %1 megapixels; the limit is %2 megapixels).")
                               .arg(pixels / 1000000)
                               .arg(limits.maxPixels / 1000000));
        // Entries may share their bytes; written out one by one they must not outgrow the file.
        if (directory.size() + body.size() + picture.size() > data.size())
            return refused(QStringLiteral("Icon data is damaged: its entries overlap."));
        const quint32 at = quint32(directory.size() + body.size());
        uchar* out = reinterpret_cast<uchar*>(directory.data()) + 6 + 16 * i;
        for (int b = 0; b < 4; ++b) {
            out[8 + b] = uchar(quint32(picture.size()) >> (8 * b));
            out[12 + b] = uchar(at >> (8 * b));
        }
        body += picture;
    }
    return changed ? directory + body : data;
}

// -------------------------------------------------------------------------------------------- SVG

bool isGzip(const QByteArray& data) { return data.startsWith("\x1f\x8b"); }

bool isSvgFormat(const QByteArray& format) { return format == "svg" || format == "svgz"; }

// A gzipped picture (an svgz) as its reader sees it, inflated no further than the SVG bound.
Result<QByteArray> inflatedGzip(const QByteArray& data, const DecodeLimits& limits)
{
    auto inflated = inflateBounded(data, qsizetype(std::min<qint64>(limits.maxSvgBytes, 1ll << 40)), 16 + MAX_WBITS);
    if (!inflated)
        return refused(QStringLiteral("Compressed image data is damaged or inflates past %1 MB.").arg(megabytes(limits.maxSvgBytes)));
    return std::move(*inflated);
}

Status checkSvgBounds(const QByteArray& data, const DecodeLimits& limits)
{
    const auto tooLarge = [&](const QString& what) {
        return Status::failure(QStringLiteral("SVG is too large to read (%1).").arg(what));
    };
    if (data.size() > limits.maxSvgBytes)
        return tooLarge(QStringLiteral("%1 MB; the limit is %2 MB").arg(megabytes(data.size()), megabytes(limits.maxSvgBytes)));
    qint64 elements = 0;
    for (qsizetype at = data.indexOf('<'); at >= 0 && at + 1 < data.size(); at = data.indexOf('<', at + 1)) {
        const char next = data.at(at + 1);
        elements += next != '/' && next != '!' && next != '?';
    }
    // Qt's XML reader expands each reference to a declared entity to up to 4096 characters.
    constexpr qint64 entityExpansion = 4096;
    if (data.contains("<!ENTITY"))
        elements += data.count('&') * entityExpansion / 2;
    if (elements > limits.maxSvgElements)
        return tooLarge(QStringLiteral("%1 elements; the limit is %2").arg(elements).arg(limits.maxSvgElements));
    return {};
}

// A length of the root element in pixels, as Qt's SVG reader converts it there (90 dots an inch;
// points and picas taken as pixels).
std::optional<double> svgLength(QStringView text, bool* percent)
{
    text = text.trimmed();
    double factor = 1;
    static const struct {
        QLatin1StringView unit;
        double pixels;
    } units[] = { { QLatin1StringView("px"), 1 },    { QLatin1StringView("pt"), 1 },
                  { QLatin1StringView("pc"), 1 },    { QLatin1StringView("mm"), 3.543307 },
                  { QLatin1StringView("cm"), 35.43307 }, { QLatin1StringView("in"), 90 } };
    if (text.endsWith(u'%')) {
        text.chop(1);
        *percent = true;
    } else {
        for (const auto& u : units) {
            if (text.endsWith(u.unit)) {
                text.chop(2);
                factor = u.pixels;
                break;
            }
        }
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > 0) || value > 1e9)
        return std::nullopt;
    return value * factor;
}

// The size Qt's SVG reader gives a document, from its root element alone: width and height, or
// the view box where they are missing or relative.
std::optional<QSize> svgRootSize(const QByteArray& data)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) { }
    if (xml.tokenType() != QXmlStreamReader::StartElement || xml.name() != QLatin1StringView("svg"))
        return std::nullopt;
    const QXmlStreamAttributes attributes = xml.attributes();
    QSizeF box;
    const QList<QStringView> parts = attributes.value(QLatin1StringView("viewBox")).split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    if (parts.size() == 4)
        box = QSizeF(parts[2].toDouble(), parts[3].toDouble());
    bool widthPercent = false;
    bool heightPercent = false;
    const auto width = svgLength(attributes.value(QLatin1StringView("width")), &widthPercent);
    const auto height = svgLength(attributes.value(QLatin1StringView("height")), &heightPercent);
    // A side too long for an int is refused as having no size, never converted past its range.
    const auto side = [](double pixels) { return pixels >= 1 && pixels < 1e9 ? int(pixels) : 0; };
    QSize size;
    if (width && height && side(*width) > 0 && side(*height) > 0) {
        size = QSize(widthPercent ? side(std::round(0.01 * *width * box.width())) : side(*width),
                     heightPercent ? side(std::round(0.01 * *height * box.height())) : side(*height));
    } else if (box.width() > 0 && box.height() > 0 && box.width() < 1e9 && box.height() < 1e9) {
        size = box.toSize();
    }
    if (size.isEmpty())
        return std::nullopt;
    return size;
}

} // namespace

Status checkSvgReferences(const QByteArray& svg, const DecodeLimits& limits)
{
    if (isGzip(svg)) {
        const Result<QByteArray> inflated = inflatedGzip(svg, limits);
        if (!inflated)
            return Status::failure(inflated.error());
        // Once only: what is still gzipped inside is no SVG to Qt either.
        return isGzip(*inflated) ? Status::failure(QStringLiteral("SVG is not well-formed: it is compressed twice."))
                                 : checkSvgReferences(*inflated, limits);
    }
    const auto refused = [](const QString& what) {
        return Status::failure(QStringLiteral("SVG refers to something outside itself (%1).").arg(what));
    };
    // A fragment is '#' and a name, nothing around it: Qt takes anything else for a file name.
    static const QRegularExpression fragment(QStringLiteral("^#[\\w.:-]+$"), QRegularExpression::UseUnicodePropertiesOption);
    const auto outside = [](QStringView reference) { return !fragment.match(reference).hasMatch(); };
    static const QRegularExpression url(QStringLiteral("url\\s*\\(([^)]*)"), QRegularExpression::CaseInsensitiveOption);
    const auto namesOutside = [&](QStringView text) {
        if (text.contains(QLatin1StringView("@import"), Qt::CaseInsensitive))
            return true;
        for (auto match = url.globalMatch(text); match.hasNext();) {
            // CSS allows blanks and quotes around what url() names, not within it.
            QStringView reference = match.next().capturedView(1).trimmed();
            if (reference.size() >= 2 && (reference.front() == u'"' || reference.front() == u'\'')
                && reference.back() == reference.front())
                reference = reference.sliced(1, reference.size() - 2);
            if (outside(reference))
                return true;
        }
        return false;
    };
    QXmlStreamReader xml(svg);
    int inStyle = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            for (const QXmlStreamEntityDeclaration& entity : xml.entityDeclarations()) {
                if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty() || !entity.notationName().isEmpty())
                    return refused(QStringLiteral("an external entity"));
            }
            break;
        case QXmlStreamReader::StartElement:
            inStyle += xml.name() == QLatin1StringView("style");
            for (const QXmlStreamAttribute& attribute : xml.attributes()) {
                if (attribute.name() == QLatin1StringView("href") && outside(attribute.value()))
                    return refused(QStringLiteral("a link"));
                if (namesOutside(attribute.value()))
                    return refused(QStringLiteral("a url() in an attribute"));
            }
            break;
        case QXmlStreamReader::EndElement:
            inStyle -= inStyle > 0 && xml.name() == QLatin1StringView("style");
            break;
        case QXmlStreamReader::Characters:
            if (inStyle > 0 && namesOutside(xml.text()))
                return refused(QStringLiteral("a url() in a style sheet"));
            break;
        default:
            break;
        }
    }
    // What the reader cannot follow, the renderer is not handed.
    if (xml.hasError())
        return Status::failure(QStringLiteral("SVG is not well-formed: %1").arg(xml.errorString()));
    return {};
}

namespace {

// ------------------------------------------------------------------------------------------- JPEG

struct JpegScans {
    int scans = 0;
    bool progressive = false;
    qint64 coefficientBytes = 0; // a buffer for every block of the first frame
};

bool isStartOfFrame(uchar marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

qint64 jpegCoefficientBytes(const uchar* frame, int length)
{
    if (length < 6)
        return 0;
    const qint64 height = be16(frame + 1);
    const qint64 width = be16(frame + 3);
    const int components = std::min<int>(frame[5], (length - 6) / 3);
    int hMax = 1;
    int vMax = 1;
    for (int c = 0; c < components; ++c) {
        hMax = std::max(hMax, frame[7 + 3 * c] >> 4);
        vMax = std::max(vMax, frame[7 + 3 * c] & 15);
    }
    qint64 blocks = 0;
    for (int c = 0; c < components; ++c) {
        const int h = std::max(1, frame[7 + 3 * c] >> 4);
        const int v = std::max(1, frame[7 + 3 * c] & 15);
        const qint64 across = ((width * h + hMax - 1) / hMax + 7) / 8;
        const qint64 down = ((height * v + vMax - 1) / vMax + 7) / 8;
        blocks += (across + h - 1) / h * h * ((down + v - 1) / v * v);
    }
    return blocks * 64 * 2;
}

// Walks a JPEG's segments and the entropy-coded data of its scans, decoding nothing; stops
// counting past `stopAfter` scans.
JpegScans jpegScans(const QByteArray& data, int stopAfter)
{
    JpegScans found;
    const uchar* p = bytesOf(data);
    const qsizetype n = data.size();
    bool framed = false;
    qsizetype at = 2;
    while (at < n) {
        if (p[at] != 0xff) { // stray bytes between segments are skipped by libjpeg too
            ++at;
            continue;
        }
        while (at < n && p[at] == 0xff)
            ++at;
        if (at >= n)
            break;
        const uchar marker = p[at++];
        if (marker == 0xd9)
            break;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8))
            continue;
        if (n - at < 2)
            break;
        const qsizetype length = be16(p + at);
        if (length < 2 || length > n - at)
            break;
        if (isStartOfFrame(marker) && !framed) {
            framed = true;
            found.progressive = marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
            found.coefficientBytes = jpegCoefficientBytes(p + at + 2, int(length - 2));
        }
        at += length;
        if (marker != 0xda)
            continue;
        if (++found.scans > stopAfter)
            break;
        // Entropy-coded data runs to the next marker that is neither a stuffed zero nor a restart.
        while (at < n) {
            const auto* ff = static_cast<const uchar*>(std::memchr(p + at, 0xff, size_t(n - at)));
            if (!ff || ff + 1 >= p + n) {
                at = n;
                break;
            }
            at = ff - p;
            const uchar next = p[at + 1];
            if (next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
                at += 2;
                continue;
            }
            if (next == 0xff) {
                ++at;
                continue;
            }
            break;
        }
    }
    return found;
}

// ------------------------------------------------------------------------------------------- TIFF

// The buffer libtiff fills for one strip or tile of the first picture, as its tags declare it.
qint64 tiffStripBytes(const QByteArray& data)
{
    const uchar* p = bytesOf(data);
    const qsizetype n = data.size();
    if (n < 16)
        return 0;
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M'))
        return 0;
    const auto u16 = [&](qsizetype at) -> quint64 { return at + 2 <= n ? (little ? le16(p + at) : be16(p + at)) : 0; };
    const auto u32 = [&](qsizetype at) -> quint64 { return at + 4 <= n ? (little ? le32(p + at) : be32(p + at)) : 0; };
    const auto u64 = [&](qsizetype at) -> quint64 {
        return little ? u32(at) | u32(at + 4) << 32 : u32(at) << 32 | u32(at + 4);
    };
    const bool big = u16(2) == 43;
    if (!big && u16(2) != 42)
        return 0;
    const quint64 ifd = big ? u64(8) : u32(4);
    if (ifd >= quint64(n))
        return 0;
    const qsizetype first = qsizetype(ifd);
    const quint64 count = big ? u64(first) : u16(first);
    const qsizetype entrySize = big ? 20 : 12;
    const qsizetype entries = first + (big ? 8 : 2);
    quint64 width = 0, height = 0, bits = 1, samples = 1, rowsPerStrip = ~quint64(0), tileWidth = 0, tileLength = 0,
            planar = 1;
    for (quint64 i = 0; i < count && entries + qsizetype(i + 1) * entrySize <= n; ++i) {
        const qsizetype e = entries + qsizetype(i) * entrySize;
        const quint64 tag = u16(e);
        const quint64 type = u16(e + 2);
        const quint64 values = big ? u64(e + 4) : u32(e + 4);
        const qsizetype inlineAt = e + (big ? 12 : 8);
        const qsizetype typeSize = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
        if (typeSize == 0 || values == 0)
            continue;
        // The first value; further ones (bits per sample of each channel) are alike.
        const qsizetype at = values * typeSize <= quint64(big ? 8 : 4) ? inlineAt
                                                                        : qsizetype(std::min<quint64>(big ? u64(inlineAt) : u32(inlineAt), quint64(n)));
        const quint64 value = typeSize == 2 ? u16(at) : typeSize == 4 ? u32(at) : u64(at);
        switch (tag) {
        case 256: width = value; break;
        case 257: height = value; break;
        case 258: bits = value; break;
        case 277: samples = value; break;
        case 278: rowsPerStrip = value; break;
        case 284: planar = value; break;
        case 322: tileWidth = value; break;
        case 323: tileLength = value; break;
        default: break;
        }
    }
    // Beyond any pixel cap; what is kept here only has to not overflow.
    constexpr quint64 most = quint64(1) << 24;
    width = std::min(width, most);
    height = std::min(height, most);
    bits = std::min<quint64>(bits, 64);
    samples = std::min<quint64>(samples, 64);
    const quint64 perRow = planar == 2 ? 1 : samples;
    quint64 bytes = 0;
    if (tileWidth > 0 && tileLength > 0)
        bytes = (std::min(tileWidth, most) * perRow * bits + 7) / 8 * std::min(tileLength, most);
    else
        bytes = (width * perRow * bits + 7) / 8 * std::min(rowsPerStrip, height);
    // Separate planes are read into one buffer for all of them.
    if (planar == 2)
        bytes *= samples;
    return qint64(std::min<quint64>(bytes, quint64(1) << 50));
}

// ------------------------------------------------------------------------------------------- WebP

// libwebp decodes a lossless picture (and lossless alpha) whole into buffers of its own before
// Qt's picture gets a pixel; an animation keeps a canvas besides.
qint64 webpScratchBytes(const QByteArray& data, QSize canvas)
{
    if (!data.startsWith("RIFF") || data.mid(8, 4) != "WEBP")
        return 0;
    const qint64 pixels = qint64(canvas.width()) * canvas.height();
    qint64 perPixel = 0;
    if (data.contains("VP8L"))
        perPixel += 4;
    if (data.contains("ALPH"))
        perPixel += 2;
    if (data.contains("ANMF"))
        perPixel += 4;
    return pixels * perPixel;
}

// ------------------------------------------------------------------------------------------- costs

// What decoding the whole picture would allocate and repeat, read from the bytes alone, refused
// before the decoder starts.
Status checkDecodeCost(const QByteArray& data, const ImageHeader& header, const DecodeLimits& limits)
{
    qint64 scratch = 0;
    if (header.format == "jpeg") {
        const JpegScans jpeg = jpegScans(data, limits.maxJpegScans);
        if (jpeg.scans > limits.maxJpegScans)
            return Status::failure(QStringLiteral("JPEG has too many scans (more than %1).").arg(limits.maxJpegScans));
        const qint64 blocks = jpeg.coefficientBytes / (64 * 2);
        if (qint64(jpeg.scans) * blocks > limits.maxJpegBlockScans)
            return Status::failure(QStringLiteral("JPEG has too many scans for its size (%1 scans over %2 blocks).")
                                       .arg(jpeg.scans)
                                       .arg(blocks));
        if (jpeg.progressive || jpeg.scans > 1)
            scratch = jpeg.coefficientBytes;
    } else if (header.format == "tiff") {
        scratch = tiffStripBytes(data);
    } else if (header.format == "webp") {
        scratch = webpScratchBytes(data, header.size);
    }
    const qint64 total = qint64(header.size.width()) * header.size.height() * 4 + scratch;
    if (total > decodeBudgetBytes(limits))
        return Status::failure(QStringLiteral("Image would take %1 MB to decode (the limit is %2 MB).")
                                   .arg(megabytes(total), megabytes(decodeBudgetBytes(limits))));
    return {};
}

// The bytes as Qt's readers may see them: a PNG without its text chunks, an icon whose PNGs are
// without theirs, a gzipped SVG inflated within the SVG bound.
Result<QByteArray> prepared(const QByteArray& data, const DecodeLimits& limits)
{
    if (isPng(data))
        return withoutPngText(data);
    if (isIcon(data))
        return iconPrepared(data, limits);
    if (isGzip(data))
        return inflatedGzip(data, limits);
    return data;
}

// QImageReader needs a device that outlives it.
struct Reader {
    explicit Reader(QByteArray prepared, const DecodeLimits& limits)
        : bytes(std::move(prepared))
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

// `bytes`: what the reader reads, for the checks that must see them; none for a header read from
// a file, which reads nothing but the header.
Result<ImageHeader> headerOf(QImageReader& reader, const QByteArray* bytes, const DecodeLimits& limits)
{
    if (!reader.canRead())
        return Result<ImageHeader>::failure(QStringLiteral("Image data is not in a format Lumra can read."));
    ImageHeader header;
    header.format = reader.format();
    if (isSvgFormat(header.format)) {
        // Qt's SVG reader parses the whole document for its size.
        if (!bytes)
            return Result<ImageHeader>::failure(QStringLiteral("SVG must be read whole."));
        if (Status s = checkSvgBounds(*bytes, limits); !s)
            return Result<ImageHeader>::failure(s.error());
        header.size = svgRootSize(*bytes).value_or(QSize());
    } else {
        header.size = reader.size();
        header.transformation = reader.transformation();
    }
    if (!header.size.isValid())
        return Result<ImageHeader>::failure(QStringLiteral("Image data has no readable size."));
    if (Status s = checkPixelSize(header.size, limits); !s)
        return Result<ImageHeader>::failure(s.error());
    if (bytes) {
        if (Status s = checkDecodeCost(*bytes, header, limits); !s)
            return Result<ImageHeader>::failure(s.error());
    }
    return header;
}

Result<ImageHeader> headerOf(Reader& r, const DecodeLimits& limits) { return headerOf(r.reader, &r.bytes, limits); }

} // namespace

Result<ImageHeader> readImageHeader(const QByteArray& data, const DecodeLimits& limits)
{
    if (Status s = checkByteSize(data, limits); !s)
        return Result<ImageHeader>::failure(s.error());
    Result<QByteArray> bytes = prepared(data, limits);
    if (!bytes)
        return Result<ImageHeader>::failure(bytes.error());
    Reader r(std::move(bytes).value(), limits);
    return headerOf(r, limits);
}

Result<ImageHeader> readImageHeader(QIODevice& file, const DecodeLimits& limits)
{
    if (file.peek(pngSignatureSize) != QByteArrayView(pngSignature, pngSignatureSize)) {
        QImageReader reader(&file);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(allocationLimitMiB(limits));
        if (!reader.canRead() || !isSvgFormat(reader.format()))
            return headerOf(reader, nullptr, limits);
        // An SVG is read whole, no further than its bound.
        return readImageHeader(file.read(std::min(limits.maxBytes, limits.maxSvgBytes) + 1), limits);
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

Result<QImage> decodeImageHere(const QByteArray& data, const DecodeLimits& limits, int maxPixelSize)
{
    if (Status s = checkByteSize(data, limits); !s)
        return Result<QImage>::failure(s.error());
    Result<QByteArray> bytes = prepared(data, limits);
    if (!bytes)
        return Result<QImage>::failure(bytes.error());
    Reader r(std::move(bytes).value(), limits);
    const Result<ImageHeader> header = headerOf(r, limits);
    if (!header)
        return Result<QImage>::failure(header.error());
    // Read whole only to be drawn: a row's size hint never walks the document.
    if (isSvgFormat(header->format)) {
        if (Status s = checkSvgReferences(r.bytes, limits); !s)
            return Result<QImage>::failure(s.error());
    }

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
    // zlib's fastest level: at its default, compressing a photo took nine tenths of its capture,
    // for a PNG hardly smaller. Qt takes quality q for level (100 - q) * 9 / 91.
    writer.setQuality(80);
    if (!writer.write(image))
        return Result<QByteArray>::failure(QStringLiteral("Image could not be encoded as PNG: %1").arg(writer.errorString()));
    return out;
}

Result<QByteArray> pngDataHere(const QByteArray& imageBytes, const DecodeLimits& limits, int maxPixelSize)
{
    const Result<QImage> image = decodeImageHere(imageBytes, limits, maxPixelSize);
    if (!image)
        return Result<QByteArray>::failure(image.error());
    return encodePng(*image);
}

std::optional<PictureType> pictureType(const QByteArray& data)
{
    static const std::map<QByteArray, PictureType> types {
        {"png", {"image/png", "png"}},   {"jpeg", {"image/jpeg", "jpg"}}, {"gif", {"image/gif", "gif"}},
        {"webp", {"image/webp", "webp"}}, {"bmp", {"image/bmp", "bmp"}},  {"tiff", {"image/tiff", "tif"}},
        {"svg", {"image/svg+xml", "svg"}}, {"svgz", {"image/svg+xml-compressed", "svgz"}},
        {"ico", {"image/vnd.microsoft.icon", "ico"}},
    };
    const DecodeLimits unbounded {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    const Result<ImageHeader> header = readImageHeader(data, unbounded);
    if (!header)
        return std::nullopt;
    const auto found = types.find(header->format);
    return found != types.end() ? std::optional(found->second) : std::nullopt;
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
    // An SVG keeps its own bounds: its size comes from the root element, never from a parse.
    const DecodeLimits unbounded { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max() };
    const Result<ImageHeader> header = readImageHeader(data, unbounded);
    if (!header)
        return std::nullopt;
    return header->size;
}

} // namespace lumra::image
