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

