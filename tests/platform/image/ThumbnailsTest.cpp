#include "platform/image/Thumbnails.h"

#include "ImageFixtures.h"
#include "platform/image/ImageFileExtensions.h"

#include <gtest/gtest.h>

using namespace lumra::image;
using namespace lumra::test;

TEST(Thumbnails, MaxPixelSizeFollowsTheQualityRule)
{
    const struct {
        const char* quality;
        double requested;
        std::optional<QSize> pixels;
        int expected;
    } cases[] = {
        { "low", 120, QSize(100, 200), 240 },
        { "low", 120, QSize(2000, 1000), 480 },
        { "normal", 120, QSize(500, 500), 400 },
        { "normal", 120, QSize(3000, 1000), 1080 },
        { "high", 120, QSize(500, 500), 600 },
        { "high", 200, QSize(500, 500), 1000 },
        { "ultra", 120, QSize(500, 500), 400 },
        { "", 200, std::nullopt, 600 },
        { "normal", 120, QSize(10, 0), 400 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.quality) + " " + std::to_string(c.requested));
        EXPECT_EQ(thumbnailMaxPixelSize(QString::fromLatin1(c.quality), c.requested, c.pixels), c.expected);
    }
}

TEST(Thumbnails, PortraitVeryWideAndSmallImagesAtEachQuality)
{
    const QByteArray portrait = encode(markedImage(1000, 3000), "png");
    const QByteArray wide = encode(markedImage(6000, 500), "png");
    const QByteArray small = encode(markedImage(100, 50), "png");
    const struct {
        const char* quality;
        const QByteArray* bytes;
        QSize expected;
    } cases[] = {
        { "low", &portrait, QSize(80, 240) },
        { "normal", &portrait, QSize(133, 400) },
        { "high", &portrait, QSize(200, 600) },
        { "low", &wide, QSize(2880, 240) },
        { "normal", &wide, QSize(4320, 360) },
        { "high", &wide, QSize(6000, 500) }, // 7200 asked: never upscaled
        { "low", &small, QSize(100, 50) },
        { "high", &small, QSize(100, 50) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quality);
        const auto thumbnail = makeThumbnail(*c.bytes, QString::fromLatin1(c.quality), 120);
        ASSERT_TRUE(thumbnail.ok()) << thumbnail.error().toStdString();
        EXPECT_EQ(thumbnail->image.size(), c.expected);
        EXPECT_TRUE(isReddish(thumbnail->image.pixel(1, 1)));
    }
}

TEST(Thumbnails, OrientationIsAppliedButReportedSizeIsTheStoredOne)
{
    const QByteArray jpeg = withExif(encode(markedImage(2000, 1000), "jpeg", 95), std::nullopt, 6);
    const auto thumbnail = makeThumbnail(jpeg, QStringLiteral("low"), 120);
    ASSERT_TRUE(thumbnail.ok()) << thumbnail.error().toStdString();
    // Stored 2:1, so the rule asks for 480 along the long side.
    EXPECT_EQ(thumbnail->image.size(), QSize(240, 480));
    EXPECT_EQ(thumbnail->pixelSize, QSize(2000, 1000));
    EXPECT_TRUE(isReddish(thumbnail->image.pixel(235, 5)));
    EXPECT_FALSE(isReddish(thumbnail->image.pixel(5, 5)));
}

TEST(Thumbnails, LongSideFitsThePaintedBoxWithinTheQualityRule)
{
    const struct {
        const char* quality;
        QSize stored;
        bool quarterTurned;
        QSize box;
        int expected;
    } cases[] = {
        { "normal", QSize(1920, 1080), false, QSize(350, 120), 214 }, // 213.3 up to a whole pixel
        { "normal", QSize(1920, 1080), false, QSize(700, 240), 427 }, // the same row at pixel ratio 2
        { "normal", QSize(6000, 500), false, QSize(350, 120), 350 },  // a panorama fills the width
        { "normal", QSize(1080, 1920), false, QSize(350, 120), 120 },
        { "normal", QSize(1920, 1080), true, QSize(350, 120), 120 },  // turned upright
        { "low", QSize(1920, 1080), false, QSize(2000, 1200), 427 },  // the quality rule's size stays a ceiling
        { "normal", QSize(100, 50), false, QSize(700, 240), 100 },    // never above its own size
        { "normal", QSize(1920, 1080), false, QSize(), 640 },         // no box: the quality rule alone
        { "normal", QSize(1920, 1080), false, QSize(0, 120), 640 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.stored.width()) + "x" + std::to_string(c.stored.height()) + " in "
                     + std::to_string(c.box.width()) + "x" + std::to_string(c.box.height()));
        EXPECT_EQ(thumbnailLongSide(QString::fromLatin1(c.quality), 120, c.stored, c.quarterTurned, c.box), c.expected);
    }
}

TEST(Thumbnails, AreDecodedAtThePaintedSize)
{
    const QByteArray landscape = encode(markedImage(1920, 1080), "png");
    const auto row = makeThumbnail(landscape, QStringLiteral("normal"), 120, QSize(350, 120));
    ASSERT_TRUE(row.ok()) << row.error().toStdString();
    EXPECT_EQ(row->image.size(), QSize(214, 120));
    EXPECT_EQ(row->pixelSize, QSize(1920, 1080));
    EXPECT_TRUE(isReddish(row->image.pixel(1, 1)));

    const auto sharp = makeThumbnail(landscape, QStringLiteral("normal"), 120, QSize(700, 240));
    ASSERT_TRUE(sharp.ok());
    EXPECT_EQ(sharp->image.size(), QSize(427, 240));

    const QByteArray turned = withExif(encode(markedImage(2000, 1000), "jpeg", 95), std::nullopt, 6);
    const auto upright = makeThumbnail(turned, QStringLiteral("normal"), 120, QSize(350, 120));
    ASSERT_TRUE(upright.ok());
    EXPECT_EQ(upright->image.size(), QSize(60, 120));
}

// Sixteen bits a channel decode to eight bytes a pixel; a thumbnail keeps four.
TEST(Thumbnails, DeepColourPicturesGiveThirtyTwoBitThumbnails)
{
    QImage deep(800, 400, QImage::Format_RGBA64);
    deep.fill(QColor(230, 30, 30));
    const QByteArray png = encode(deep, "png");
    ASSERT_EQ(decodeImage(png)->depth(), 64) << "the fixture is a 16-bit PNG";
    const auto thumbnail = makeThumbnail(png, QStringLiteral("normal"), 120, QSize(200, 120));
    ASSERT_TRUE(thumbnail.ok());
    EXPECT_EQ(thumbnail->image.size(), QSize(200, 100));
    EXPECT_EQ(thumbnail->image.depth(), 32);
    EXPECT_TRUE(isReddish(thumbnail->image.pixel(5, 5)));
}

TEST(Thumbnails, RefusesOversizeAndBrokenImages)
{
    EXPECT_FALSE(makeThumbnail(pngHeaderClaiming(100000, 100000), QStringLiteral("normal"), 120).ok());
    EXPECT_FALSE(makeThumbnail(QByteArray("garbage"), QStringLiteral("normal"), 120).ok());
}

TEST(ThumbnailCache, EvictsTheLeastRecentlyUsedBeyondTheCountLimit)
{
    ThumbnailCache cache(2, 1 << 20);
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
    const QImage image(4, 4, QImage::Format_ARGB32);
    cache.insert(a, image);
    cache.insert(b, image);
    ASSERT_TRUE(cache.object(a).has_value()); // a is now the most recent
    cache.insert(c, image);

    EXPECT_TRUE(cache.object(a).has_value());
    EXPECT_FALSE(cache.object(b).has_value());
    EXPECT_TRUE(cache.object(c).has_value());
    EXPECT_EQ(cache.totalCost(), 2 * 64);
}

TEST(ThumbnailCache, KeepsTotalCostWithinItsLimit)
{
    ThumbnailCache cache(300, 10 * 10 * 4 * 2); // room for two 10 × 10 images
    QList<QUuid> ids;
    for (int i = 0; i < 3; ++i) {
        ids.append(QUuid::createUuid());
        cache.insert(ids.last(), QImage(10, 10, QImage::Format_ARGB32));
    }
    EXPECT_EQ(cache.count(), 2);
    EXPECT_FALSE(cache.object(ids[0]).has_value());

    cache.insert(QUuid::createUuid(), QImage(20, 20, QImage::Format_ARGB32)); // alone above the limit
    EXPECT_EQ(cache.count(), 2);
    EXPECT_LE(cache.totalCost(), 800);

    cache.insert(ids[2], QImage(5, 5, QImage::Format_ARGB32)); // replacing keeps the cost right
    cache.remove(ids[1]);
    EXPECT_EQ(cache.totalCost(), 100);
    cache.clear();
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(cache.totalCost(), 0);
}

// The cost is what the pictures take in memory, whatever their format, so many rows of deep-colour
// pictures never hold more than the limit.
TEST(ThumbnailCache, ManyPicturesOfAnyFormatStayWithinTheByteLimit)
{
    constexpr qint64 limit = 1 << 20;
    ThumbnailCache cache(300, limit);
    const QImage::Format formats[] = { QImage::Format_RGBA64, QImage::Format_ARGB32, QImage::Format_Grayscale8,
                                       QImage::Format_RGBA32FPx4, QImage::Format_RGB888 };
    QList<QUuid> ids;
    for (int i = 0; i < 200; ++i) {
        ids.append(QUuid::createUuid());
        cache.insert(ids.last(), QImage(120 + i % 7, 90, formats[i % std::size(formats)]));
        qint64 held = 0;
        for (const QUuid& id : ids)
            if (const auto image = cache.object(id))
                held += image->sizeInBytes();
        ASSERT_LE(held, limit) << "after " << i + 1 << " pictures";
        ASSERT_LE(cache.totalCost(), limit);
    }
    EXPECT_GT(cache.count(), 5);
}
