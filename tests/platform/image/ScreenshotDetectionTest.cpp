#include "platform/image/ScreenshotDetection.h"

#include "ImageFixtures.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::image;
using namespace lumra::test;

namespace {

QByteArray plainPng()
{
    return encode(markedImage(40, 30), "png");
}

QByteArray pngWith(const QByteArray& chunks)
{
    return withChunksAfterHeader(plainPng(), chunks);
}

QByteArray zlibStream(const QByteArray& text)
{
    return qCompress(text).mid(4); // drop Qt's length prefix
}

QByteArray jpegWithComment(const std::string& comment)
{
    return withExif(encode(markedImage(40, 30), "jpeg"), comment, std::nullopt);
}

struct Case {
    const char* name;
    QByteArray bytes;
    bool screenshot;
};

} // namespace

TEST(ScreenshotDetection, ReadsEveryKindOfMetadataThatCanSaySoInAnyCase)
{
    const Case cases[] = {
        { "EXIF user comment", jpegWithComment("Screenshot"), true },
        { "EXIF user comment, other case", jpegWithComment("my SCREEN CAPTURE of the game"), true },
        { "EXIF user comment, holiday", jpegWithComment("Holiday in Lisbon"), false },
        { "JPEG without EXIF", encode(markedImage(40, 30), "jpeg"), false },
        { "PNG tEXt", pngWith(pngChunk("tEXt", QByteArray("Software\0gnome-screenshot", 25))), true },
        { "PNG tEXt, unrelated", pngWith(pngChunk("tEXt", QByteArray("Comment\0a sunset", 16))), false },
        { "PNG keyword alone does not count", pngWith(pngChunk("tEXt", QByteArray("Screenshot\0yes", 14))), false },
        { "PNG zTXt", pngWith(pngChunk("zTXt", QByteArray("Comment\0\0", 9) + zlibStream("Made with Screenshot tool"))), true },
        { "PNG iTXt", pngWith(pngChunk("iTXt", QByteArray("Title\0\0\0en\0\0", 12) + QByteArray("Screen Capture 2026"))), true },
        { "PNG iTXt compressed", pngWith(pngChunk("iTXt", QByteArray("Title\0\1\0\0\0", 10) + zlibStream("Bildschirm screenshot"))), true },
        { "PNG eXIf user comment", pngWith(pngChunk("eXIf", exifBlob("Screenshot", std::nullopt))), true },
        { "PNG without text", plainPng(), false },
        { "garbage", QByteArray("definitely not an image"), false },
        { "empty", QByteArray(), false },
        { "PNG chunk longer than the data", plainPng().left(33) + QByteArray("\x7f\xff\xff\xfftEXt", 8), false },
        { "broken zTXt", pngWith(pngChunk("zTXt", QByteArray("Comment\0\0garbage", 16))), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isScreenshotImage(c.bytes), c.screenshot);
    }
}

TEST(ScreenshotDetection, TextChunksAfterThePixelDataCountToo)
{
    const QByteArray png = plainPng();
    const QByteArray iend = png.right(12);
    const QByteArray bytes = png.chopped(12) + pngChunk("tEXt", QByteArray("Software\0Spectacle screenshot", 29)) + iend;
    EXPECT_TRUE(isScreenshotImage(bytes));
    EXPECT_EQ(pngTextValues(bytes), QStringList { QStringLiteral("Spectacle screenshot") });
}

TEST(ScreenshotDetection, CategoryFromMetadataOrFromTheScreenshotTool)
{
    const QByteArray marked = jpegWithComment("Screenshot");
    const QByteArray plain = plainPng();
    const struct {
        const char* name;
        std::optional<QByteArray> bytes;
        std::optional<QString> source;
        CaptureCategory expected;
    } cases[] = {
        { "metadata, no source", marked, std::nullopt, CaptureCategory::screenshot },
        { "metadata, a browser", marked, QStringLiteral("org.mozilla.firefox"), CaptureCategory::screenshot },
        { "GNOME Screenshot", plain, QStringLiteral("org.gnome.Screenshot"), CaptureCategory::screenshot },
        { "Spectacle", plain, QStringLiteral("org.kde.spectacle"), CaptureCategory::screenshot },
        { "Flameshot without bytes", std::nullopt, QStringLiteral("org.flameshot.Flameshot"), CaptureCategory::screenshot },
        { "xfce4-screenshooter", plain, QStringLiteral("xfce4-screenshooter"), CaptureCategory::screenshot },
        { "id compared exactly", plain, QStringLiteral("org.kde.Spectacle"), CaptureCategory::image },
        { "a browser", plain, QStringLiteral("org.mozilla.firefox"), CaptureCategory::image },
        { "no source", plain, std::nullopt, CaptureCategory::image },
        { "nothing at all", std::nullopt, std::nullopt, CaptureCategory::image },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(captureCategoryForImageData(c.bytes, c.source), c.expected);
    }
}

TEST(ScreenshotDetection, UserCommentDropsTheCharsetPrefix)
{
    EXPECT_EQ(exifUserComment(jpegWithComment("hello")), QStringLiteral("hello"));
    EXPECT_EQ(exifUserComment(plainPng()), std::nullopt);
}
