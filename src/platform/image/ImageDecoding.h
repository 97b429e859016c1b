#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QImage>
#include <QImageIOHandler>
#include <QList>
#include <QSize>
#include <QString>

#include <chrono>

#include <optional>

namespace lumra {
class RegularFile;
}

namespace lumra::image {

class ImageDecoder;

// Bounds for image bytes that come from another application. The pixel cap is checked
// against the header before any pixel is decoded; the byte cap before the header is read.
struct DecodeLimits {
    qint64 maxBytes = 256ll * 1024 * 1024;
    qint64 maxPixels = 8192ll * 8192; // room for two 8K screens side by side
    // An SVG is parsed whole before its size is known, at some hundred bytes a node, and a
    // gzipped one is inflated first: both are bounded before Qt sees them.
    qint64 maxSvgBytes = 4ll * 1024 * 1024;
    qint64 maxSvgElements = 50000;
    // Each scan of a progressive JPEG passes over the blocks of the picture again.
    int maxJpegScans = 100;
    qint64 maxJpegBlockScans = 1ll << 24; // scans × 8 × 8 blocks: some half second

};

// Everything a decode may allocate, Qt's picture and the decoder's own buffers together
// (libtiff's strips, libjpeg's coefficients, libwebp's lossless pixels): the picture at the
// pixel cap and a quarter of that again for the decoder.
qint64 decodeBudgetBytes(const DecodeLimits& limits);

struct ImageHeader {
    QSize size; // as stored, before any EXIF orientation
    QByteArray format;
    QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone;
};

// Reads only the header. Refuses data over the byte cap, sizes over the pixel cap, and what a
// decoder would spend past decodeBudgetBytes() or the scan and SVG bounds.
Result<ImageHeader> readImageHeader(const QByteArray& data, const DecodeLimits& limits = {});

// The same for an open file, reading no more of it than the header takes.
Result<ImageHeader> readImageHeader(QIODevice& file, const DecodeLimits& limits = {});

// Every picture from outside Lumra (clipboard offers, sync and backup pictures, files the user
// copies, icons) is decoded by the decoder program (ImageDecoder.h), never in Lumra's process: a
// decoder can be made to read what a picture names, to block or to spend seconds and gigabytes, and
// only a process can be stopped at its deadline. These check the header here first, then hand the
// bytes over.
//
// Whose picture it is. A copy being stored goes to the capture's own decoder programs, served per
// copying application, newest first, so no copy waits behind another application's pictures; the
// rest (thumbnails, previews, icons, imports) go to others. Display work still waiting for a
// program when it is no longer wanted is dropped undecoded.
struct DecodeTurn {
    enum class Lane { display, capture };
    Lane lane = Lane::display;
    QString source; // the application that copied the picture
    QDeadlineTimer wanted {QDeadlineTimer::Forever};
    ImageDecoder* decoder = nullptr; // null: the lane's shared one

    static DecodeTurn capture(const QString& source, ImageDecoder* decoder = nullptr)
    {
        return {Lane::capture, source, QDeadlineTimer::Forever, decoder};
    }
    static DecodeTurn shownWithin(std::chrono::milliseconds wait, ImageDecoder* decoder = nullptr)
    {
        return {Lane::display, {}, QDeadlineTimer(wait), decoder};
    }
};

// Decodes with the EXIF orientation applied. `maxPixelSize` > 0 decodes downscaled so that
// neither side exceeds it; an image is never scaled up. Only the decoder program's PNG is decoded
// here, at the size asked.
Result<QImage> decodeImage(const QByteArray& data, const DecodeLimits& limits = {}, int maxPixelSize = 0,
                           const DecodeTurn& turn = {});

// The bytes re-encoded as PNG by the decoder program (orientation applied, downscaled as above),
// so identical pictures hash alike.
Result<QByteArray> pngData(const QByteArray& imageBytes, const DecodeLimits& limits = {}, int maxPixelSize = 0,
                           const DecodeTurn& turn = {});

// The same for a picture file the user copied or previews: the decoder program reads it from the
// open file, so Lumra reads no more of it than its header, whatever its size.
Result<QImage> decodeImage(const RegularFile& file, const DecodeLimits& limits = {}, int maxPixelSize = 0,
                           const DecodeTurn& turn = {});
Result<QByteArray> pngData(const RegularFile& file, const DecodeLimits& limits = {}, int maxPixelSize = 0,
                           const DecodeTurn& turn = {});
Result<QByteArray> encodePng(const QImage& image);

// The same in this process: for the decoder program itself, and for the PNG it answers with.
Result<QImage> decodeImageHere(const QByteArray& data, const DecodeLimits& limits = {}, int maxPixelSize = 0);
Result<QByteArray> pngDataHere(const QByteArray& imageBytes, const DecodeLimits& limits = {}, int maxPixelSize = 0);

// An SVG that names anything outside itself (an href that is no fragment, a url() or @import, an
// external entity) is refused: rendering would open it. A gzipped one is read inflated, within the
// SVG bound.
Status checkSvgReferences(const QByteArray& svg, const DecodeLimits& limits = {});

// A picture's MIME type and file-name suffix, from its header; none when it is in no format Lumra
// reads.
struct PictureType {
    const char* mimeType;
    const char* suffix;
};
std::optional<PictureType> pictureType(const QByteArray& data);

// Lower-case hexadecimal SHA-256 digest (64 digits).
QString sha256Hex(const QByteArray& data);
// An image's stored file name: the first 16 bytes of the SHA-256 of its PNG data as 32
// lower-case hexadecimal digits, then ".png".
QString imageFileName(const QByteArray& pngBytes);

// Whether the data starts with the PNG signature.
bool isPng(const QByteArray& data);

// A PNG's text chunk (tEXt, zTXt or iTXt): the keyword and its text, inflated when compressed.
struct PngText {
    QByteArray keyword;
    QString text;
};

// The text chunks of a PNG in file order, read without Qt: inflating stops at `maxTextBytes` for
// all chunks together, and chunks past that bound are left out. Empty for anything but a PNG.
QList<PngText> pngTexts(const QByteArray& data, qsizetype maxTextBytes);

// The payload of a PNG's first chunk of `type` ("eXIf"); none when it has none or is no PNG.
std::optional<QByteArray> pngChunkPayload(const QByteArray& data, QByteArrayView type);

// The PNG without its text chunks, so a reader that would inflate them all sees none; other
// data as it is. Qt's PNG reader gathers every text chunk into one string while it reads the
// header, whatever they inflate to, and nothing Lumra shows needs that text.
QByteArray withoutPngText(const QByteArray& data);

// Pixel width and height from the header, without decoding and without applying the
// orientation; none when the data is no readable image. An SVG's come from its root element's
// attributes, so the document is never parsed for them: cheap enough for a row's size hint.
std::optional<QSize> imageDimensions(const QByteArray& data);

} // namespace lumra::image
