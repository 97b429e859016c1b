#include "platform/thumbnails/SharedThumbnails.h"

#include "LargestAllocation.h"
#include "TempDataDir.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>

using namespace lumra;
using namespace lumra::thumbnails;

namespace {

QImage picture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

// An empty file made in the test's folder, and its version.
std::optional<FileVersion> newFile(const test::TempDataDir& dataDir, const QString& name)
{
    const QString path = dataDir.root() + QLatin1Char('/') + name;
    QFile(path).open(QIODevice::WriteOnly);
    return regularFileVersion(path);
}

int modeOf(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

TEST(SharedThumbnailsTest, NamesAndSizeFoldersFollowTheStandard)
{
    EXPECT_EQ(fileUri("/home/jens/photos/me.png"), "file:///home/jens/photos/me.png");
    EXPECT_EQ(entryName(fileUri("/home/jens/photos/me.png")), "c6ee772d9e49320e97ec29a7eb5b1697.png");
    EXPECT_EQ(fileUri("/tmp/a b#c.png"), "file:///tmp/a%20b%23c.png");
    // As file managers name it (g_filename_to_uri).
    EXPECT_EQ(fileUri(QStringLiteral("/tmp/it's (1) & [x];=\u00FC+@!$~#%,*:\"<>^`{|}?\\.png")),
              "file:///tmp/it's%20(1)%20&%20%5Bx%5D%3B=%C3%BC+@!$~%23%25,*:%22%3C%3E%5E%60%7B%7C%7D%3F%5C.png");
    EXPECT_NE(entryName(fileUri("/a/B.png")), entryName(fileUri("/a/b.png")));

    EXPECT_STREQ(sizeFolders[sizeFolderIndex(1)].name, "normal");
    EXPECT_STREQ(sizeFolders[sizeFolderIndex(128)].name, "normal");
    EXPECT_STREQ(sizeFolders[sizeFolderIndex(129)].name, "large");
    EXPECT_STREQ(sizeFolders[sizeFolderIndex(512)].name, "x-large");
    EXPECT_STREQ(sizeFolders[sizeFolderIndex(4000)].name, "xx-large");

    test::TempDataDir dataDir;
    EXPECT_EQ(sharedThumbnailRoot(), dataDir.cacheHome() + "/thumbnails");
}

TEST(SharedThumbnailsTest, EntriesCarryTheChunksAndCountOnlyForTheirVersion)
{
    test::TempDataDir dataDir;
    const QString root = sharedThumbnailRoot();
    const auto version = newFile(dataDir, "report final.odt");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->uri, fileUri(dataDir.root() + "/report final.odt"));
    EXPECT_FALSE(regularFileVersion(dataDir.root())) << "folders have none";

    ASSERT_TRUE(writeEntry(root, *version, 0, picture({ 400, 200 })).ok());
    const QString entry = root + "/normal/" + entryName(version->uri);
    QImageReader reader(entry);
    const QImage written = reader.read();
    EXPECT_EQ(written.size(), QSize(128, 64)) << "scaled to the folder's size";
    EXPECT_EQ(written.text("Thumb::URI"), version->uri);
    EXPECT_EQ(written.text("Thumb::MTime"), QString::number(version->mtime));
    EXPECT_EQ(written.text("Software"), "Lumra");
    EXPECT_EQ(modeOf(entry), 0600);
    EXPECT_EQ(modeOf(root), 0700);
    EXPECT_EQ(modeOf(root + "/normal"), 0700);
    EXPECT_EQ(QDir(root + "/normal").entryList(QDir::Files | QDir::Hidden), QStringList { entryName(version->uri) })
        << "no temporary file left beside it";

    EXPECT_TRUE(readEntry(root, *version, 64));
    EXPECT_TRUE(readEntry(root, *version, 128));
    EXPECT_FALSE(readEntry(root, *version, 200)) << "a smaller picture does not serve a larger size";
    ASSERT_TRUE(writeEntry(root, *version, 1, picture({ 400, 200 })).ok());
    EXPECT_EQ(readEntry(root, *version, 200)->size(), QSize(256, 128));

    FileVersion touched = *version;
    touched.mtime += 1;
    EXPECT_FALSE(readEntry(root, touched, 64)) << "Thumb::MTime no longer matches";
    FileVersion moved = *version;
    moved.uri += "x";
    moved.path += "x";
    QFile::copy(entry, root + "/normal/" + entryName(moved.uri));
    EXPECT_FALSE(readEntry(root, moved, 64)) << "Thumb::URI names another file";

    QFile::remove(root + "/normal/" + entryName(version->uri));
    QFile::remove(root + "/large/" + entryName(version->uri));
    ASSERT_TRUE(picture({ 50, 50 }).save(entry, "PNG"));
    EXPECT_FALSE(readEntry(root, *version, 64)) << "an entry without chunks is not valid";
    QImage jpeg = picture({ 50, 50 });
    jpeg.setText("Thumb::URI", version->uri);
    jpeg.setText("Thumb::MTime", QString::number(version->mtime));
    ASSERT_TRUE(jpeg.save(entry, "JPG"));
    EXPECT_FALSE(readEntry(root, *version, 64)) << "the standard's thumbnails are PNGs";
}

TEST(SharedThumbnailsTest, FailuresAreKeptPerVersionUnderLumrasName)
{
    test::TempDataDir dataDir;
    const QString root = sharedThumbnailRoot();
    const auto version = newFile(dataDir, "clip.mkv");
    ASSERT_TRUE(version);
    EXPECT_FALSE(hasFailure(root, *version));
    ASSERT_TRUE(writeFailure(root, *version).ok());
    EXPECT_TRUE(hasFailure(root, *version));
    EXPECT_TRUE(QFile::exists(root + "/fail/lumra/" + entryName(version->uri)));
    EXPECT_EQ(modeOf(root + "/fail/lumra/" + entryName(version->uri)), 0600);
    FileVersion changed = *version;
    changed.mtime += 60;
    EXPECT_FALSE(hasFailure(root, changed)) << "a new version is tried again";
    EXPECT_FALSE(readEntry(root, *version, 64)) << "a failure is no picture";
}

// Thumb::MTime counts whole seconds: a file replaced within the second its entry was written, by
// one of the same size, is told apart by the entry's own time.
TEST(SharedThumbnailsTest, AnEntryWrittenBeforeAChangeInTheSameSecondIsNotUsed)
{
    test::TempDataDir dataDir;
    const QString root = sharedThumbnailRoot();
    const auto version = newFile(dataDir, "poster.svg");
    ASSERT_TRUE(version);
    ASSERT_TRUE(writeEntry(root, *version, 0, picture({ 64, 64 })).ok());
    ASSERT_TRUE(writeFailure(root, *version).ok());
    const auto writtenAt = [&](const QString& folder, long nanoseconds) {
        const timespec times[2] = { { 0, UTIME_OMIT }, { time_t(version->mtime), nanoseconds } };
        const QByteArray entry = QFile::encodeName(root + folder + entryName(version->uri));
        ASSERT_EQ(::utimensat(AT_FDCWD, entry.constData(), times, 0), 0);
    };
    FileVersion replaced = *version;
    replaced.modifiedNs = version->mtime * 1'000'000'000 + 500'000'000;
    writtenAt("/normal/", 200'000'000);
    writtenAt("/fail/lumra/", 200'000'000);
    EXPECT_FALSE(readEntry(root, replaced, 64)) << "the entry is of the version replaced";
    EXPECT_FALSE(hasFailure(root, replaced));
    writtenAt("/normal/", 700'000'000);
    writtenAt("/fail/lumra/", 700'000'000);
    EXPECT_TRUE(readEntry(root, replaced, 64));
    EXPECT_TRUE(hasFailure(root, replaced));
}

TEST(SharedThumbnailsTest, AnEntryForAnotherVersionIsNotDecoded)
{
    test::TempDataDir dataDir;
    const QString root = sharedThumbnailRoot();
    const auto version = newFile(dataDir, "poster.svg");
    ASSERT_TRUE(version);
    // 1024 × 1024 pixels are 4 MB decoded, and a few KB as a PNG of one colour.
    ASSERT_TRUE(writeEntry(root, *version, 3, picture({ 1024, 1024 })).ok());
    FileVersion touched = *version;
    touched.mtime += 1;
    std::optional<QImage> entry;
    const auto largest = test::largestAllocationDuring([&] { entry = readEntry(root, touched, 1024); });
    EXPECT_FALSE(entry);
    test::expectLargestAllocationBelow(largest, 1024u * 1024, "its chunks are read before its pixels");
    EXPECT_EQ(readEntry(root, *version, 1024)->size(), QSize(1024, 1024));
}
