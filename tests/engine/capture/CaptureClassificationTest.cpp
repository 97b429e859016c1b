#include "engine/ClipboardManager.h"
#include "engine/CaptureReading.h"

#include "platform/image/ImageFixtures.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

using namespace lumra;
using namespace lumra::test;

namespace {

struct TextCase {
    const char* text;
    CaptureCategory expected;
};

class TextCategory : public ::testing::TestWithParam<TextCase> { };

TEST_P(TextCategory, Classifies)
{
    EXPECT_EQ(captureCategoryForText(QString::fromUtf8(GetParam().text)), GetParam().expected)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Colors, TextCategory, ::testing::Values(
    TextCase {"#FFF", CaptureCategory::color},
    TextCase {"#ffffffff", CaptureCategory::color},
    TextCase {"rgb(10, 20, 30)", CaptureCategory::color},
    TextCase {"hsla(120, 50%, 50%, 0.3)", CaptureCategory::color},
    TextCase {"  #a1b2c3\n", CaptureCategory::color},
    TextCase {"#FFFFF", CaptureCategory::text},
    TextCase {"RGB(1,2,3)", CaptureCategory::text},
    TextCase {"#FFF is white", CaptureCategory::text}));

INSTANTIATE_TEST_SUITE_P(Emails, TextCategory, ::testing::Values(
    TextCase {"someone@example.com", CaptureCategory::email},
    TextCase {" \n someone@example.com\t\n", CaptureCategory::email},
    TextCase {"write to someone@example.com today", CaptureCategory::text},
    TextCase {"someone@localhost", CaptureCategory::text}));

INSTANTIATE_TEST_SUITE_P(Links, TextCategory, ::testing::Values(
    TextCase {"https://example.org/path?q=1", CaptureCategory::link},
    TextCase {"  www.example.org\n", CaptureCategory::link},
    TextCase {"example.org", CaptureCategory::link},
    TextCase {"notes.md", CaptureCategory::text},
    TextCase {"see https://example.org for more", CaptureCategory::text}));

INSTANTIATE_TEST_SUITE_P(PlainText, TextCategory, ::testing::Values(
    TextCase {"   ", CaptureCategory::text},
    TextCase {"Hello, world", CaptureCategory::text}));

// File lists against a real folder: file managers give folder URLs without a trailing slash.
class FileCategory : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir root(dir.path());
        for (const char* folder : {"Music", "Photos", "Tool.AppDir"})
            ASSERT_TRUE(root.mkdir(folder));
        for (const char* file : {"notes.txt", "Beach.PNG", "cat.jpg"}) {
            QFile f(root.filePath(file));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    QString url(const char* name) const { return QUrl::fromLocalFile(QDir(dir.path()).filePath(name)).toString(); }

    QTemporaryDir dir;
};

TEST_F(FileCategory, ClassifiesSelections)
{
    struct Case {
        const char* what;
        QStringList urls;
        CaptureCategory expected;
    };
    const Case cases[] = {
        {"two folders", {url("Music"), url("Photos")}, CaptureCategory::folder},
        {"a folder with a trailing slash", {url("Music") + "/"}, CaptureCategory::folder},
        {"a folder and a file", {url("Music"), url("notes.txt")}, CaptureCategory::file},
        {"image files, extensions in any case", {url("Beach.PNG"), url("cat.jpg")}, CaptureCategory::imageFile},
        {"an image file and a text file", {url("cat.jpg"), url("notes.txt")}, CaptureCategory::file},
        {"an image file and a folder", {url("cat.jpg"), url("Photos")}, CaptureCategory::file},
        {"an application folder", {url("Tool.AppDir")}, CaptureCategory::file},
        {"a gone folder remembered by its slash", {"file:///nowhere/gone/"}, CaptureCategory::folder},
        {"a gone file", {"file:///nowhere/gone.txt"}, CaptureCategory::file},
        {"nothing", {}, CaptureCategory::file},
    };
    for (const Case& c : cases)
        EXPECT_EQ(captureCategoryForFileURLs(c.urls), c.expected) << c.what;
}

QByteArray pngWithText(const QString& key, const QString& value)
{
    QImage image = markedImage(40, 30);
    image.setText(key, value);
    return encode(image, "png");
}

TEST(ImageCategory, ScreenshotsByMetadataOrTool)
{
    struct Case {
        const char* what;
        std::optional<QByteArray> bytes;
        std::optional<QString> source;
        CaptureCategory expected;
    };
    const QByteArray plain = encode(markedImage(40, 30), "png");
    const Case cases[] = {
        {"EXIF user comment", withExif(encode(markedImage(40, 30), "jpeg"), "Screenshot", std::nullopt),
         QString("org.mozilla.firefox"), CaptureCategory::screenshot},
        {"EXIF user comment in capitals", withExif(encode(markedImage(40, 30), "jpeg"), "A SCREEN CAPTURE", std::nullopt),
         std::nullopt, CaptureCategory::screenshot},
        {"PNG text chunk", pngWithText("Description", "Screenshot from 2026-03-01"), std::nullopt,
         CaptureCategory::screenshot},
        {"PNG text chunk about something else", pngWithText("Description", "Holiday"), std::nullopt,
         CaptureCategory::image},
        {"screenshot tool", plain, QString("org.kde.spectacle"), CaptureCategory::screenshot},
        {"screenshot tool, no bytes", std::nullopt, QString("org.flameshot.Flameshot"), CaptureCategory::screenshot},
        {"browser", plain, QString("org.mozilla.firefox"), CaptureCategory::image},
        {"unreadable bytes", QByteArray("not an image"), std::nullopt, CaptureCategory::image},
    };
    for (const Case& c : cases)
        EXPECT_EQ(image::captureCategoryForImageData(c.bytes, c.source), c.expected) << c.what;
}

TEST(RichTextData, TakesRtfAsOfferedElseConvertsHtml)
{
    const auto derived = [](std::optional<QByteArray> rtf, std::optional<QString> html) {
        PreparedCapture prepared;
        prepared.kind = ClipboardContentType::text;
        prepared.rtf = std::move(rtf);
        prepared.html = std::move(html);
        return deriveCapture(std::move(prepared), std::nullopt, [](const QString& html) { return RichText::rtfFromHtml(html); }).rtf;
    };
    EXPECT_EQ(derived(std::nullopt, std::nullopt), std::nullopt);

    const std::optional<QByteArray> fromHtml = derived(std::nullopt, QStringLiteral("<b>bold</b> words"));
    ASSERT_TRUE(fromHtml);
    EXPECT_TRUE(fromHtml->startsWith("{\\rtf1"));
    EXPECT_TRUE(fromHtml->contains("bold"));

    const QByteArray offered("{\\rtf1\\ansi offered}");
    EXPECT_EQ(derived(offered, std::nullopt), offered);
}

} // namespace
