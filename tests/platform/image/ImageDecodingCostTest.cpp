#include "platform/image/ImageDecoding.h"

#include "AmplifyingImages.h"
#include "LargestAllocation.h"

#include <gtest/gtest.h>

#include <QImageReader>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

namespace {

constexpr size_t mebibyte = 1024 * 1024;

// Small caps, so each picture that amplifies is small too: 1024² pixels, 5 MiB for a decode.
DecodeLimits smallLimits()
{
    DecodeLimits limits;
    limits.maxPixels = 1024 * 1024;
    return limits;
}

// Every reader of outside pictures goes one of these ways: the header check then the PNG that
// capture stores, a thumbnail.
void readEveryWay(const QByteArray& bytes, const DecodeLimits& limits, bool accepted)
{
    EXPECT_EQ(readImageHeader(bytes, limits).ok(), accepted);
    EXPECT_EQ(decodeImageHere(bytes, limits, 64).ok(), accepted);
    EXPECT_EQ(pngDataHere(bytes, limits).ok(), accepted);
}

// A preview reads only the header of a file.
bool fileHeaderRead(const QByteArray& bytes)
{
    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    return readImageHeader(file).ok();
}

} // namespace

TEST(ImageDecodingCost, AnIconsPngTextIsNeitherInflatedNorKept)
{
    const QByteArray icon = iconWithTextChunks(3, 4 * mebibyte);
    ASSERT_LT(icon.size(), 64 * 1024);
    ASSERT_TRUE(decodeImageHere(iconHolding(encode(markedImage(4, 4), "png"))).ok()); // plug-ins loaded

    const auto largest = largestAllocationDuring([&] {
        readEveryWay(icon, {}, true);
        EXPECT_TRUE(fileHeaderRead(icon));
        const auto image = decodeImageHere(icon);
        ASSERT_TRUE(image.ok()) << image.error().toStdString();
        EXPECT_EQ(image->size(), QSize(4, 4));
        EXPECT_FALSE(image->textKeys().contains(QStringLiteral("Comment")));
    });

    if (largest)
        EXPECT_LT(*largest, mebibyte) << "no buffer for the text";

    // An entry may not claim more than the pixel cap, whatever the icon's directory says.
    const auto huge = readImageHeader(iconHolding(pngHeaderClaiming(100000, 100000)));
    ASSERT_FALSE(huge.ok());
    EXPECT_TRUE(huge.error().contains(QLatin1String("too large"))) << huge.error().toStdString();

    if (!largest)
        GTEST_SKIP() << "no sanitizer runtime: the largest allocation is not measured";
}

TEST(ImageDecodingCost, DecodersWhoseOwnBuffersPassTheBudgetAreRefusedBeforeDecoding)
{
    // At the real caps the header alone refuses the 38-byte lossless WebP of 8192² and the
    // 260 KB one-strip TIFF.
    EXPECT_FALSE(readImageHeader(losslessWebp(8192, 8192)).ok());
    EXPECT_FALSE(readImageHeader(oneStripTiff(8192, 8192)).ok());

    const DecodeLimits limits = smallLimits();
    QImage photo = markedImage(1024, 1024);
    const struct {
        const char* name;
        QByteArray bytes;
        bool accepted;
    } cases[] = {
        // The decoder's own copy beside Qt's picture: twice the picture.
        { "lossless WebP", losslessWebp(1024, 1024), false },
        { "one-strip TIFF", oneStripTiff(1024, 1024), false },
        { "progressive JPEG", progressiveJpeg(photo), false },
        // Half as many pixels fit; so does a JPEG libjpeg reads a few rows at a time.
        { "half the lossless WebP", losslessWebp(1024, 512), true },
        { "half the TIFF", oneStripTiff(1024, 512), true },
        { "baseline JPEG", encode(photo, "jpeg"), true },
    };
    // Decoded, a refused picture would take its pixel buffer; refused, it costs the header's reading.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const auto largest = largestAllocationDuring([&] { readEveryWay(c.bytes, limits, c.accepted); });
        if (!c.accepted && largest)
            EXPECT_LT(*largest, mebibyte) << "refused before any pixel buffer";
    }
    if (!largestAllocationDuring([] {}))
        GTEST_SKIP() << "no sanitizer runtime: the largest allocation is not measured";
}

TEST(ImageDecodingCost, AProgressiveJpegsRepeatedScansAreCountedNotDecoded)
{
    const QByteArray jpeg = progressiveJpeg(markedImage(512, 512));
    ASSERT_TRUE(decodeImageHere(jpeg).ok());
    const QByteArray repeated = withLastScanRepeated(jpeg, 6000);

    // libjpeg decodes repeated scans without complaint: a decode refused for its scans was counted.
    const auto header = readImageHeader(repeated);
    ASSERT_FALSE(header.ok());
    EXPECT_TRUE(header.error().contains(QLatin1String("scans"))) << header.error().toStdString();
    const auto decoded = decodeImageHere(repeated, {}, 64);
    ASSERT_FALSE(decoded.ok()) << "the scans were decoded, not counted";
    EXPECT_TRUE(decoded.error().contains(QLatin1String("scans"))) << decoded.error().toStdString();

    // Under the scan count, the passes over the picture's blocks are bounded too.
    const QByteArray some = withLastScanRepeated(jpeg, 40);
    DecodeLimits limits;
    EXPECT_TRUE(readImageHeader(some, limits).ok());
    limits.maxJpegBlockScans = 40 * 4096;
    EXPECT_FALSE(readImageHeader(some, limits).ok());
}

TEST(ImageDecodingCost, AnSvgIsBoundedBeforeItIsParsed)
{
    const QByteArray many = svgOfRects(60000);
    const QByteArray compressed = gzipped(svgOfRects(200000));
    const QByteArray padded = svgOfRects(10) + QByteArray(5 * mebibyte, ' ');
    ASSERT_LT(compressed.size(), 100 * 1024);

    // Qt's SVG reader builds a node for each element it parses: parsed, the smallest of them would
    // cost more allocations than it has elements. Counted, it costs a few dozen for the readers.
    const auto allocations = allocationsDuring([&] {
        readEveryWay(many, {}, false);
        EXPECT_FALSE(fileHeaderRead(many));
        readEveryWay(compressed, {}, false);
        EXPECT_FALSE(fileHeaderRead(compressed));
        readEveryWay(padded, {}, false);
    });
    if (allocations)
        EXPECT_LT(*allocations, 60000u / 4) << "nothing was parsed";
    const auto header = readImageHeader(many);
    EXPECT_TRUE(header.error().contains(QLatin1String("60001 elements"))) << header.error().toStdString();

    // Within the bounds it reads, and a popup row's size hint never parses it.
    const QByteArray fine = svgOfRects(40000, 300);
    readEveryWay(fine, {}, true);
    EXPECT_TRUE(fileHeaderRead(fine));
    std::optional<QSize> size;
    const auto sizing = allocationsDuring([&] { size = imageDimensions(fine); });
    EXPECT_EQ(size, QSize(300, 300));
    if (!sizing)
        GTEST_SKIP() << "no sanitizer runtime: the allocations are not counted";
    EXPECT_LT(*sizing, 40000u / 4) << "the size came from a parse";
}

// A gzipped SVG is inflated no further than the SVG bound: one that inflates to a little more is
// refused as it inflates, not once its whole is in memory.
TEST(ImageDecodingCost, AnSvgzIsInflatedNoFurtherThanTheSvgBound)
{
    DecodeLimits limits;
    limits.maxSvgBytes = mebibyte;
    for (const qsizetype inflated : {limits.maxSvgBytes * 5 / 4, limits.maxSvgBytes * 2 - 1024}) {
        SCOPED_TRACE(inflated);
        const QByteArray svgz = gzipped(svgOfRects(10) + QByteArray(inflated, ' '));
        const auto header = readImageHeader(svgz, limits);
        ASSERT_FALSE(header.ok());
        EXPECT_TRUE(header.error().contains(QLatin1String("inflates past"))) << header.error().toStdString();
    }
    const QByteArray fits = gzipped(svgOfRects(10) + QByteArray(limits.maxSvgBytes / 2, ' '));
    EXPECT_TRUE(readImageHeader(fits, limits).ok());
}

TEST(ImageDecodingCost, AnSvgsSizeFromItsRootAgreesWithQtsReader)
{
    const char* roots[] = {
        R"(width="120" height="80")",
        R"(width="2in" height="72pt")",
        R"(width="10.6mm" height="3cm" viewBox="0 0 5 5")",
        R"(viewBox="0 0 640 480")",
        R"(width="50%" height="25%" viewBox="0 0 400 200")",
        R"(width="300" viewBox="0, 0, 90, 60")",
    };
    for (const char* root : roots) {
        SCOPED_TRACE(root);
        const QByteArray svg = QByteArray("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" ") + root
            + "><rect width=\"3\" height=\"4\"/></svg>";
        QBuffer buffer;
        buffer.setData(svg);
        buffer.open(QIODevice::ReadOnly);
        const QSize qt = QImageReader(&buffer).size();
        EXPECT_EQ(imageDimensions(svg), std::optional<QSize>(qt));
        const auto image = decodeImageHere(svg);
        ASSERT_TRUE(image.ok()) << image.error().toStdString();
        EXPECT_EQ(image->size(), qt);
    }
}
