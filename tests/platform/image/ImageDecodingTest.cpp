#include "platform/image/ImageDecoding.h"

#include "ImageFixtures.h"
#include "LargestAllocation.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

TEST(ImageDecoding, RefusesAHeaderClaimingTenGigapixelsBeforeDecoding)
{
    const QByteArray bytes = pngHeaderClaiming(100000, 100000);

    const auto header = readImageHeader(bytes);
    ASSERT_FALSE(header.ok());
    EXPECT_TRUE(header.error().contains(QLatin1String("too large"))) << header.error().toStdString();

    const auto image = decodeImage(bytes);
    ASSERT_FALSE(image.ok());
    EXPECT_TRUE(image.error().contains(QLatin1String("100000"))) << image.error().toStdString();
    EXPECT_FALSE(pngData(bytes).ok());
}

TEST(ImageDecoding, RefusesDataOverTheByteCap)
{
    const QByteArray bytes = encode(markedImage(64, 64), "bmp");
    DecodeLimits limits;
    limits.maxBytes = bytes.size() - 1;

    const auto image = decodeImage(bytes, limits);
    ASSERT_FALSE(image.ok());
    EXPECT_TRUE(image.error().contains(QLatin1String("too large")));
    EXPECT_TRUE(decodeImage(bytes).ok());
}

TEST(ImageDecoding, RefusesAnImageJustOverThePixelCap)
{
    const QByteArray bytes = encode(markedImage(100, 100), "png");
    DecodeLimits limits;
    limits.maxPixels = 100 * 100 - 1;
    EXPECT_FALSE(decodeImage(bytes, limits).ok());
    limits.maxPixels = 100 * 100;
    EXPECT_TRUE(decodeImage(bytes, limits).ok());
}

TEST(ImageDecoding, BrokenDataGivesAnErrorNotACrash)
{
    const QByteArray png = encode(markedImage(300, 200), "png");
    QByteArray noise(4096, '\0');
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);

    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        { "empty", QByteArray() },
        { "noise", noise },
        { "signature only", png.left(8) },
        { "header only", png.left(33) },
        { "truncated pixel data", png.left(png.size() / 2) },
        { "zero width", pngHeaderClaiming(0, 10) },
        { "png signature then noise", png.left(8) + noise },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = decodeImage(c.bytes);
        EXPECT_FALSE(image.ok());
        EXPECT_FALSE(image.error().isEmpty());
        EXPECT_FALSE(pngData(c.bytes).ok());
    }
}

TEST(ImageDecoding, TruncatedJpegNeverYieldsMorePixelsThanItsHeaderSays)
{
    const QByteArray jpeg = encode(markedImage(320, 240), "jpeg");
    for (qsizetype length : { qsizetype(2), qsizetype(100), jpeg.size() / 3, jpeg.size() - 10 }) {
        const auto image = decodeImage(jpeg.left(length));
        if (image.ok())
            EXPECT_EQ(image->size(), QSize(320, 240));
    }
}

TEST(ImageDecoding, AppliesTheExifOrientation)
{
    // Orientation 6: the stored picture is shown turned 90° clockwise, so its red
    // top-left corner ends up top-right.
    const QByteArray jpeg = withExif(encode(markedImage(200, 100), "jpeg", 95), std::nullopt, 6);

    const auto image = decodeImage(jpeg);
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_EQ(image->size(), QSize(100, 200));
    EXPECT_TRUE(isReddish(image->pixel(95, 5)));
    EXPECT_FALSE(isReddish(image->pixel(5, 5)));

    // Dimensions are the stored ones, unrotated.
    EXPECT_EQ(imageDimensions(jpeg), QSize(200, 100));

    const auto png = pngData(jpeg);
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(imageDimensions(*png), QSize(100, 200));
}

TEST(ImageDecoding, PngReencodingKeepsEveryPixelAndIsStable)
{
    QImage source = markedImage(120, 80).convertToFormat(QImage::Format_ARGB32);
    source.setPixel(119, 79, qRgba(1, 2, 3, 4));
    const QByteArray original = encode(source, "png");

    const auto first = pngData(original);
    const auto second = pngData(original);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*first, *second);
    EXPECT_TRUE(first->startsWith("\x89PNG"));

    const auto back = decodeImage(*first);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->convertToFormat(QImage::Format_ARGB32), source.convertToFormat(QImage::Format_ARGB32));
}

TEST(ImageDecoding, StoredPngIsCompressedAtZlibsFastestLevel)
{
    // A photo's capture is mostly its compression: the fastest level that still compresses.
    QImage gradient(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y) {
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, qRgb(x * 255 / 300, y * 255 / 200, 90));
    }
    const auto png = encodePng(gradient);
    ASSERT_TRUE(png.ok());
    const auto pixels = pngChunkPayload(*png, "IDAT");
    ASSERT_TRUE(pixels && pixels->size() >= 2);
    // The zlib header's FLEVEL: 0 for levels 0 and 1, 2 for the default level.
    EXPECT_EQ(uchar(pixels->at(1)) >> 6, 0);
    EXPECT_LT(png->size(), 300 * 200 * 3 / 4) << "still compressed";
}

TEST(ImageDecoding, ImageFileNameIsTheFirstHalfOfTheSha256)
{
    EXPECT_EQ(sha256Hex("abc"), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(imageFileName("abc"), QStringLiteral("ba7816bf8f01cfea414140de5dae2223.png"));

    const auto png = pngData(encode(markedImage(10, 10), "png"));
    ASSERT_TRUE(png.ok());
    const QString name = imageFileName(*png);
    EXPECT_EQ(name.size(), 36);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{32}\\.png$")).match(name).hasMatch());
}

TEST(ImageDecoding, DimensionsComeFromTheHeaderAlone)
{
    // Claims 5000 × 4000 but carries no decodable pixels.
    EXPECT_EQ(imageDimensions(pngHeaderClaiming(5000, 4000)), QSize(5000, 4000));
    EXPECT_EQ(imageDimensions(QByteArray("not an image")), std::nullopt);
    EXPECT_EQ(imageDimensions(QByteArray()), std::nullopt);
}

TEST(ImageDecoding, TextChunksThatInflateToMegabytesAreNeitherInflatedNorKept)
{
    // 4 × 4 pixels and eight zTXt chunks of 4 MB of text each, some 35 KB in all.
    const QByteArray text = qCompress(QByteArray(4 * 1024 * 1024, 'a'), 9).mid(4);
    QByteArray chunks;
    for (int i = 0; i < 8; ++i)
        chunks += pngChunk("zTXt", QByteArray("Comment\0\0", 9) + text);
    const QByteArray plain = encode(markedImage(4, 4), "png");
    const QByteArray bytes = withChunksAfterHeader(plain, chunks);
    ASSERT_TRUE(decodeImage(plain).ok()); // image plug-ins loaded before anything is measured

    const auto largest = largestAllocationDuring([&] {
        EXPECT_TRUE(readImageHeader(bytes).ok());
        QBuffer file;
        file.setData(bytes);
        file.open(QIODevice::ReadOnly);
        const auto header = readImageHeader(file);
        ASSERT_TRUE(header.ok()) << header.error().toStdString();
        EXPECT_EQ(header->size, QSize(4, 4));
        const auto image = decodeImage(bytes);
        ASSERT_TRUE(image.ok()) << image.error().toStdString();
        EXPECT_EQ(image->size(), QSize(4, 4));
        EXPECT_TRUE(image->textKeys().isEmpty());
        EXPECT_EQ(pngData(bytes).value(), pngData(plain).value());
    });
    expectLargestAllocationBelow(largest, 1024u * 1024, "no buffer for the text");
    EXPECT_TRUE(pngTexts(bytes, 1024 * 1024).isEmpty()) << "each chunk alone is over the bound";

    const QByteArray small = withChunksAfterHeader(plain,
        pngChunk("tEXt", QByteArray("Title\0Sea", 9)) + chunks.left(chunks.size() / 8)
            + pngChunk("zTXt", QByteArray("Author\0\0", 8) + qCompress("J\xf6rg").mid(4))
            + pngChunk("iTXt", QByteArray("Place\0\0\0de\0Ort\0", 15) + QString::fromUtf8("K\xc3\xb6ln").toUtf8()));
    const QList<PngText> texts = pngTexts(small, 1024 * 1024);
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts[0].keyword, "Title");
    EXPECT_EQ(texts[0].text, "Sea");
    EXPECT_EQ(texts[1].text, QString::fromLatin1("J\xf6rg"));
    EXPECT_EQ(texts[2].text, QString::fromUtf8("K\xc3\xb6ln"));
}
