// Image bytes from the clipboard or a sync folder: header, bounded decoding, re-encoding, and the
// metadata that tells a screenshot.
#include "FuzzSupport.h"

#include "platform/image/ImageDecoding.h"
#include "platform/image/ScreenshotDetection.h"

#include <algorithm>

using namespace lumra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Unfolded: a chunk repeated thousands of times is how a few KB claim gigabytes.
    const QByteArray bytes = fuzz::unfold(data, size);
    // Small caps keep each input cheap; the checks against them are what is under test.
    image::DecodeLimits limits;
    limits.maxPixels = 2048ll * 2048;
    limits.maxBytes = 4 * 1024 * 1024;

    const auto header = image::readImageHeader(bytes, limits);
    if (header) {
        FUZZ_CHECK(qint64(header->size.width()) * header->size.height() <= limits.maxPixels);
        const auto decoded = image::decodeImageHere(bytes, limits, 256);
        if (decoded) {
            FUZZ_CHECK(decoded->width() <= 256 && decoded->height() <= 256);
            // No text of the picture's own is kept; Qt's readers note some of theirs ("_q_icoOrigDepth").
            const QStringList keys = decoded->textKeys();
            FUZZ_CHECK(std::all_of(keys.begin(), keys.end(), [](const QString& key) { return key.startsWith(QLatin1String("_q_")); }));
        }
        const auto png = image::pngDataHere(bytes, limits);
        if (png) {
            // What capture stores decodes again, to the same picture size.
            const auto again = image::readImageHeader(*png, limits);
            FUZZ_CHECK(again.ok());
            FUZZ_CHECK(image::imageFileName(*png).size() == 36);
        }
    }
    (void)image::imageDimensions(bytes);
    (void)image::exifUserComment(bytes);
    (void)image::pngTextValues(bytes);
    qsizetype text = 0;
    for (const image::PngText& chunk : image::pngTexts(bytes, 64 * 1024))
        text += chunk.text.size();
    FUZZ_CHECK(text <= 64 * 1024);
    (void)image::captureCategoryForImageData(bytes, std::nullopt);
    return 0;
}
