#include "platform/thumbnails/SharedThumbnails.h"
#include "ui/preview/FileThumbnailCache.h"
#include "ui/settings/AppearanceTables.h"
#include "ui/preview/PreviewContent.h"
#include "ui/preview/PreviewFiles.h"
#include "ui/preview/PreviewFrame.h"

#include "TempDataDir.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

using namespace lumra;

namespace {

QList<QUrl> files(std::initializer_list<const char*> paths)
{
    QList<QUrl> urls;
    for (const char* path : paths)
        urls << QUrl::fromLocalFile(QString::fromUtf8(path));
    return urls;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray pngOf(QSize size, QColor colour) { return lumra::test::solidPng(size, colour); }

} // namespace

TEST(PreviewFrameTest, CommonParentFolderComparesWholeComponents)
{
    const struct {
        QList<QUrl> urls;
        QString expected;
    } cases[] = {
        {{}, QString()},
        {files({"/a/x/1.txt", "/a/x/2.txt"}), "/a/x"},
        {files({"/a/x/1.txt", "/a/y/2.txt"}), "/a"},
        {files({"/a/b/1.txt", "/a/bc/2.txt"}), "/a"},
        {files({"/a/bc/1.txt", "/a/b/2.txt"}), "/a"},
        {files({"/1.txt", "/2.txt"}), "/"},
        {files({"/home/u/Pictures/x/", "/home/u/Pictures/y/"}), "/home/u/Pictures"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PreviewFrame::commonParentFolder(c.urls), c.expected) << c.expected.toStdString();
}

TEST(PreviewFrameTest, ContentFrameScalesToTheScreenAndKeepsTheMinimum)
{
    PreviewFrame::Screens screens{{QRect(0, 0, 1600, 1000)}, QRect(0, 0, 1600, 1000)};
    EXPECT_EQ(PreviewFrame::previewWindowSize(2000, 1510, screens), QRect(300, 100, 1000, 800));
    EXPECT_EQ(PreviewFrame::previewWindowSize(100, 50, screens)->size(), QSize(520, 420));
    EXPECT_FALSE(PreviewFrame::previewWindowSize(0, 50, screens));

    // Nothing saved, a damaged or too small frame: the default, centred.
    const QRect fallback(420, 220, 760, 560);
    EXPECT_EQ(PreviewFrame::restoredPreviewWindowFrame(std::nullopt, screens), fallback);
    EXPECT_EQ(PreviewFrame::restoredPreviewWindowFrame(QStringLiteral("{{10, 10}, {500, 400}}"), screens), fallback);
    EXPECT_EQ(PreviewFrame::restoredPreviewWindowFrame(QStringLiteral("garbage"), screens), fallback);
    // A frame on a screen that is gone comes back onto the main one, shrunk to fit.
    EXPECT_EQ(PreviewFrame::restoredPreviewWindowFrame(QStringLiteral("{{3000, 50}, {1800, 700}}"), screens),
              QRect(0, 50, 1600, 700));
    const QRect frame(12, 34, 800, 600);
    EXPECT_EQ(PreviewFrame::parseFrameString(PreviewFrame::frameString(frame)), frame);
}

TEST(PreviewFilesTest, OnlyDigestNamesPassOthersGetAFreshName)
{
    const struct {
        const char* name;
        bool accepted;
    } cases[] = {
        {"0123456789abcdef0123456789abcdef.png", true},
        {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef.png", true},
        {"0123456789ABCDEF0123456789ABCDEF.png", false},
        {"0123456789abcdef.png", false},
        {"../../0123456789abcdef0123456789abcdef.png", false},
        {"0123456789abcdef0123456789abcdef.png/x", false},
        {"photo.png", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        EXPECT_EQ(PreviewFiles::isAcceptedPngFileName(name), c.accepted) << c.name;
        const QString checked = PreviewFiles::checkedPngFileName(name);
        EXPECT_TRUE(PreviewFiles::isAcceptedPngFileName(checked)) << checked.toStdString();
        EXPECT_EQ(checked == name, c.accepted) << c.name;
    }
}

TEST(PreviewFilesTest, AFolderThatIsALinkIsRemovedAsALinkAndNeverWalkedInto)
{
    test::TempDataDir dataDir;
    const QString target = dataDir.root() + QStringLiteral("/target");
    ASSERT_TRUE(QDir().mkpath(target));
    writeFile(target + QStringLiteral("/precious.txt"), "keep");
    const QString base = dataDir.cacheHome() + QStringLiteral("/Lumra");
    ASSERT_TRUE(QDir().mkpath(base));
    ASSERT_TRUE(QFile::link(target, base + QStringLiteral("/file-thumbnails")));
    ASSERT_TRUE(QFile::link(target, base + QStringLiteral("/preview-tmp")));

    auto thumbnails = PreviewFiles::thumbnailFolder();
    ASSERT_TRUE(thumbnails.ok()) << thumbnails.error().toStdString();
    ASSERT_TRUE(PreviewFiles::resetWorkingFolders().ok());
    EXPECT_FALSE(QFileInfo(thumbnails.value()).isSymLink());
    EXPECT_FALSE(QFileInfo(base + QStringLiteral("/preview-tmp")).isSymLink());
    EXPECT_TRUE(QFile::exists(target + QStringLiteral("/precious.txt")));

    // A stale drag file is gone after the reset; the folder itself stays.
    auto drag = PreviewFiles::dragFolder();
    ASSERT_TRUE(drag.ok());
    writeFile(drag.value() + QStringLiteral("/0123456789abcdef0123456789abcdef.png"), "old");
    ASSERT_TRUE(PreviewFiles::resetWorkingFolders().ok());
    EXPECT_TRUE(QDir(drag.value()).isEmpty());
}

TEST(FileThumbnailCacheTest, KeysChangeWithTheFileAndTheSize)
{
    const QString key = thumbnailCacheKey(QStringLiteral("/a/b.png"), 10, 1000, 64);
    EXPECT_NE(key, thumbnailCacheKey(QStringLiteral("/a/B.png"), 10, 1000, 64));
    EXPECT_NE(key, thumbnailCacheKey(QStringLiteral("/a/b.png"), 11, 1000, 64));
    EXPECT_NE(key, thumbnailCacheKey(QStringLiteral("/a/b.png"), 10, 1001, 64));
    EXPECT_NE(key, thumbnailCacheKey(QStringLiteral("/a/b.png"), 10, 1000, 128));
    EXPECT_EQ(thumbnailCacheFileName(key), thumbnailCacheFileName(key));
    EXPECT_TRUE(PreviewFiles::isAcceptedPngFileName(thumbnailCacheFileName(key)));
}

TEST(FileThumbnailCacheTest, EntriesAreWrittenReusedAndRemadeWhenDamagedOrStale)
{
    test::TempDataDir dataDir;
    FileThumbnailSources sources;
    sources.sharedRoot = dataDir.cacheHome() + QStringLiteral("/thumbnails");
    const QString picture = dataDir.root() + QStringLiteral("/picture.png");
    writeFile(picture, pngOf(QSize(400, 200), Qt::red));

    FileThumbnailResult first = loadOrMakeFileThumbnail(sources, picture, 64);
    ASSERT_FALSE(first.image.isNull());
    EXPECT_EQ(first.image.size(), QSize(64, 32));
    const QString entry = sources.sharedRoot + QStringLiteral("/normal/")
        + thumbnails::entryName(QUrl::fromLocalFile(picture).toString(QUrl::FullyEncoded));
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_EQ(QImage(entry).size(), QSize(128, 64)) << "kept at the shared cache's size";

    writeFile(entry, "not a png"); // damaged entry: made again
    FileThumbnailResult again = loadOrMakeFileThumbnail(sources, picture, 64);
    EXPECT_EQ(again.outcome, FileThumbnailResult::Outcome::made);
    EXPECT_EQ(again.image.size(), QSize(64, 32));
    EXPECT_EQ(QImage(entry).size(), QSize(128, 64));
    EXPECT_EQ(loadOrMakeFileThumbnail(sources, picture, 64).outcome, FileThumbnailResult::Outcome::found);

    writeFile(picture, pngOf(QSize(100, 300), Qt::blue)); // the file changed: a new entry
    {
        QFile touched(picture); // the time is set through an open file
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    }
    FileThumbnailResult changed = loadOrMakeFileThumbnail(sources, picture, 64);
    EXPECT_EQ(changed.outcome, FileThumbnailResult::Outcome::made);
    EXPECT_EQ(changed.image.size(), QSize(21, 64));

    EXPECT_TRUE(loadOrMakeFileThumbnail(sources, dataDir.root(), 64).image.isNull()); // folders keep their icon
    writeFile(dataDir.root() + QStringLiteral("/notes.bin"), "x");
    EXPECT_TRUE(loadOrMakeFileThumbnail(sources, dataDir.root() + QStringLiteral("/notes.bin"), 64).image.isNull());
}

// A PDF's thumbnail is its first page on white paper, also where an older cache kept it transparent.
// A PDF from outside is as untrusted as a picture: the decoder program draws the page from the open
// file, and the library that parses PDFs is never loaded into Lumra's process.
TEST(FileThumbnailCacheTest, PdfPagesAreLaidOnPaperOutsideLumra)
{
    test::TempDataDir dataDir;
    FileThumbnailSources ownOnly;
    ownOnly.ownFolder = dataDir.cacheHome();
    const QString pdf = dataDir.root() + QStringLiteral("/letter.pdf");
    {
        QPdfWriter writer(pdf);
        QPainter painter(&writer);
        painter.drawText(QRect(0, 0, writer.width(), writer.height() / 4), Qt::AlignCenter, QStringLiteral("Dear reader"));
    }
    const auto isPaper = [](const QImage& image) {
        return !image.isNull() && image.pixelColor(1, 1) == QColor(Qt::white) && !image.hasAlphaChannel();
    };
    const FileThumbnailResult first = loadOrMakeFileThumbnail(ownOnly, pdf, 64);
    EXPECT_TRUE(isPaper(first.image));

    QImage stale(first.image.size(), QImage::Format_ARGB32);
    stale.fill(Qt::transparent);
    const QFileInfo info(pdf);
    const QString entry = ownOnly.ownFolder + QLatin1Char('/')
        + thumbnailCacheFileName(thumbnailCacheKey(pdf, info.size(), info.lastModified().toMSecsSinceEpoch(), 64));
    ASSERT_TRUE(QFile::exists(entry));
    ASSERT_TRUE(stale.save(entry, "PNG"));
    EXPECT_TRUE(isPaper(loadOrMakeFileThumbnail(ownOnly, pdf, 64).image));

    const QString poster = dataDir.root() + QStringLiteral("/poster.pdf");
    {
        QPdfWriter writer(poster);
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), QColor(200, 30, 30));
    }
    const FileThumbnailResult made = loadOrMakeFileThumbnail(ownOnly, poster, 64);
    ASSERT_EQ(made.outcome, FileThumbnailResult::Outcome::made);
    EXPECT_EQ(made.image.height(), 64);
    const QColor middle = made.image.pixelColor(made.image.width() / 2, made.image.height() / 2);
    EXPECT_NEAR(middle.red(), 200, 8);
    EXPECT_NEAR(middle.green(), 30, 8);
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("libQt6Pdf"));

    // Without a thumbnailer for it, a video keeps its icon.
    const QString video = dataDir.root() + QStringLiteral("/clip.mp4");
    writeFile(video, "not decoded for thumbnails");
    EXPECT_TRUE(loadOrMakeFileThumbnail(ownOnly, video, 64).image.isNull());
    for (const SwitchSpec& row : AppearanceTables::displaySwitches()) {
        if (row.setting == Setting::showFileThumbnails)
            EXPECT_TRUE(row.description.contains(QLatin1String("(image content, video frames, document pages)")))
                << row.description.toStdString();
    }
}

TEST(PreviewListingTest, FoldersFirstByNaturalNameAndCappedWithTheRestCounted)
{
    test::TempDataDir dataDir;
    const QString folder = dataDir.root() + QStringLiteral("/list");
    QDir().mkpath(folder + QStringLiteral("/z"));
    for (const char* name : {"b", "a10", "a9", ".hidden"})
        writeFile(folder + QLatin1Char('/') + QLatin1String(name), "12345");

    PreviewListing all = listFolderForPreview(folder);
    QStringList names;
    for (const PreviewEntry& entry : all.entries)
        names << entry.name;
    EXPECT_EQ(names, QStringList({"z", "a9", "a10", "b"}));
    EXPECT_EQ(all.moreCount, 0);
    EXPECT_FALSE(all.entries[0].size);
    EXPECT_EQ(all.entries[1].size, 5);

    PreviewListing capped = listFolderForPreview(folder, 2);
    ASSERT_EQ(capped.entries.size(), 2);
    EXPECT_EQ(capped.entries[1].name, QStringLiteral("a9"));
    EXPECT_EQ(capped.moreCount, 2);
    EXPECT_EQ(moreEntriesText(capped.moreCount), QStringLiteral("and 2 more"));

    PreviewListing described = describeFilesForPreview(files({"/x/1", "/x/2", "/x/3"}), 2);
    EXPECT_EQ(described.entries.size(), 2);
    EXPECT_EQ(described.moreCount, 1);
}

TEST(PreviewContentTest, LabelsOfTextsAndBundles)
{
    ClipboardItem item;
    item.textContent = QString();
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("0 characters"));
    item.textContent = QStringLiteral("é");
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("1 characters"));
    item.textContent = QString::fromUtf8("a\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"); // a thumbs-up with a skin tone
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("2 characters"));
    item.rtfData = QByteArray("{\\rtf1 x}");
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("Rich Text · 2 characters"));
    item.leaveOutRichText(); // as the history list holds it
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("Rich Text · 2 characters"));
    item.textContent.reset();
    EXPECT_EQ(textDisplayPath(item), QStringLiteral("Rich Text"));

    EXPECT_EQ(bundleKindFor(3, 0), PreviewBundleKind::multipleFiles);
    EXPECT_EQ(bundleKindFor(3, 3), PreviewBundleKind::multipleFolders);
    EXPECT_EQ(bundleKindFor(3, 2), PreviewBundleKind::mixed);
    EXPECT_EQ(bundleTitle(PreviewBundleKind::mixed), QStringLiteral("Files & Folders"));

    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.PDF")), PreviewLayer::pdf);
    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.jpg")), PreviewLayer::image);
    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.mp3")), PreviewLayer::media);
    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.webm")), PreviewLayer::media);
    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.txt")), PreviewLayer::textFile);
    EXPECT_EQ(layerForFile(QStringLiteral("/x/a.bin")), PreviewLayer::fallback);
    EXPECT_EQ(byteCountText(345), QStringLiteral("345 bytes"));
    EXPECT_EQ(byteCountText(12'300), QStringLiteral("12 KB"));
    EXPECT_EQ(byteCountText(1'500'000), QStringLiteral("1.5 MB"));
}
