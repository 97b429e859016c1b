// Thumbnails of copied files through the desktop's shared cache and its installed thumbnailers,
// with a thumbnailer of our own installed the way a package installs one.
#include "platform/image/ImageDecoder.h"
#include "platform/thumbnails/SharedThumbnails.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListView.h"
#include "ui/preview/FileThumbnailCache.h"
#include "ui/shell/PopupPanel.h"

#include "app/ShellTestSupport.h"
#include "BytesRead.h"
#include "TestImages.h"
#include "TestThumbnailer.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QTest>

#include <sys/stat.h>

#include <thread>

namespace lumra {
namespace {

using test::TestThumbnailer;

const QColor drawn(20, 160, 60); // the test thumbnailer's picture

bool shows(const QImage& image, const QColor& colour)
{
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (image.pixelColor(x, y) == colour)
                return true;
        }
    }
    return false;
}

class FileThumbnailsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QMimeDatabase().mimeTypeForFile(QStringLiteral("a.z64"), QMimeDatabase::MatchExtension).name(),
            QString::fromLatin1(TestThumbnailer::mimeType));
        sources.sharedRoot = thumbnails::sharedThumbnailRoot();
        sources.thumbnailers = std::make_shared<const thumbnails::ThumbnailerIndex>(
            thumbnails::ThumbnailerIndex::fromDataFolders({ installed.dataFolder() }));
        sources.limits.timeout = std::chrono::milliseconds(700);
    }

    QString cartridge(const QString& name)
    {
        const QString path = dataDir.root() + QLatin1Char('/') + name;
        TestThumbnailer::writeFile(path, name.toUtf8());
        return path;
    }
    QString entryOf(const QString& path, const char* folder = "normal") const
    {
        return sources.sharedRoot + QLatin1Char('/') + QLatin1String(folder) + QLatin1Char('/')
            + thumbnails::entryName(thumbnails::fileUri(path));
    }
    // Asks a cache as a row does and waits for its answer.
    static std::optional<QImage> shown(FileThumbnailCache& cache, const QString& path, int pixels = 56)
    {
        if (auto image = cache.thumbnail(path, pixels))
            return image;
        cache.waitForWorkers();
        return cache.thumbnail(path, pixels);
    }

    test::TempDataDir dataDir;
    TestThumbnailer installed;
    FileThumbnailSources sources;
};

TEST_F(FileThumbnailsTest, AHangingThumbnailerIsKilledAndTheFileKeepsItsIcon)
{
    installed.setMode(TestThumbnailer::Mode::hang);
    const QString slow = cartridge(QStringLiteral("slow.z64"));
    {
        FileThumbnailCache cache(sources);
        EXPECT_FALSE(shown(cache, slow));
        EXPECT_EQ(cache.drawingsStarted(), 1);
    }
    EXPECT_FALSE(installed.helperAlive());
    EXPECT_TRUE(QFile::exists(sources.sharedRoot + "/fail/lumra/" + thumbnails::entryName(thumbnails::fileUri(slow))));

    // Not tried again for this version of the file, also in a later run.
    FileThumbnailCache later(sources);
    EXPECT_FALSE(shown(later, slow));
    EXPECT_EQ(later.drawingsStarted(), 0);
    EXPECT_EQ(installed.runs().size(), 1);
}

TEST_F(FileThumbnailsTest, WhatAThumbnailerWritesIsCheckedBeforeItIsShown)
{
    FileThumbnailCache cache(sources);
    installed.setMode(TestThumbnailer::Mode::garbage);
    const QString garbage = cartridge(QStringLiteral("garbage.z64"));
    EXPECT_FALSE(shown(cache, garbage));
    installed.setMode(TestThumbnailer::Mode::huge);
    const QString huge = cartridge(QStringLiteral("huge.z64"));
    EXPECT_FALSE(shown(cache, huge));
    EXPECT_FALSE(QFile::exists(entryOf(garbage)));
    EXPECT_FALSE(QFile::exists(entryOf(huge)));
    EXPECT_EQ(installed.runs().size(), 2);

    installed.setMode(TestThumbnailer::Mode::picture);
    const QString good = cartridge(QStringLiteral("good.z64"));
    const auto picture = shown(cache, good);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(56, 28));
    EXPECT_TRUE(shows(*picture, drawn));
}

TEST_F(FileThumbnailsTest, AnEntryForAnOlderVersionOfTheFileIsMadeAgain)
{
    const QString path = cartridge(QStringLiteral("game.z64"));
    {
        FileThumbnailCache cache(sources);
        ASSERT_TRUE(shown(cache, path));
    }
    const auto firstVersion = thumbnails::regularFileVersion(path);
    EXPECT_EQ(QImageReader(entryOf(path)).read().text("Thumb::MTime"), QString::number(firstVersion->mtime));

    {
        QFile touched(path); // the time is set through an open file
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(30), QFileDevice::FileModificationTime));
    }
    FileThumbnailCache later(sources);
    ASSERT_TRUE(shown(later, path));
    EXPECT_EQ(later.drawingsStarted(), 1);
    EXPECT_EQ(installed.runs().size(), 2);
    const QImage remade = QImageReader(entryOf(path)).read();
    EXPECT_EQ(remade.text("Thumb::MTime"), QString::number(thumbnails::regularFileVersion(path)->mtime));
    EXPECT_NE(remade.text("Thumb::MTime"), QString::number(firstVersion->mtime));
}

// A picture replaced under its name shows the new picture once the file was looked at again, and
// the shared cache's entry follows; a version that had no picture does not keep the next one out.
TEST_F(FileThumbnailsTest, AFileReplacedUnderItsNameShowsItsNewPicture)
{
    const QString path = dataDir.root() + QStringLiteral("/pic.png");
    int version = 0;
    const auto replace = [&](const QByteArray& bytes) {
        TestThumbnailer::writeFile(path, bytes);
        QFile touched(path);
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(30 * ++version), QFileDevice::FileModificationTime));
    };
    FileThumbnailCache cache(sources);
    const auto shows = [&](std::optional<QColor> colour) {
        return QTest::qWaitFor([&] {
            const std::optional<QImage> image = cache.thumbnail(path, 56);
            const std::optional<QColor> shown = image ? std::optional(image->pixelColor(image->rect().center())) : std::nullopt;
            return shown == colour;
        }, 15000);
    };
    replace(test::solidPng(QSize(64, 64), Qt::red));
    EXPECT_TRUE(shows(QColor(Qt::red)));
    replace(test::solidPng(QSize(64, 64), Qt::blue));
    EXPECT_TRUE(shows(QColor(Qt::blue))) << "the old picture stayed";
    EXPECT_EQ(QImageReader(entryOf(path)).read().text("Thumb::MTime"),
              QString::number(thumbnails::regularFileVersion(path)->mtime));

    replace("not a picture");
    EXPECT_TRUE(shows(std::nullopt)) << "a file that has no picture any more shows its icon";
    replace(test::solidPng(QSize(64, 64), Qt::green));
    EXPECT_TRUE(shows(QColor(Qt::green))) << "the failure of an older version kept it out";

    // Replaced by a picture of the very same size.
    const auto bitmap = [](QColor colour) { return test::solidBitmap(QSize(64, 64), colour); };
    ASSERT_EQ(bitmap(Qt::yellow).size(), bitmap(Qt::magenta).size());
    replace(bitmap(Qt::yellow));
    EXPECT_TRUE(shows(QColor(Qt::yellow)));
    replace(bitmap(Qt::magenta));
    EXPECT_TRUE(shows(QColor(Qt::magenta))) << "a file of the same size kept the old picture";
}

// Pictures the file manager already made are used as they are; a slow thumbnailer busy with
// another file does not hold them up.
TEST_F(FileThumbnailsTest, CachedPicturesArriveWhileAThumbnailerIsStillBusy)
{
    // The thumbnailers hang for a minute and the cache would let them run for ten: a cache that
    // waited for them would see them end on their own, which they only do when let be.
    sources.limits.timeout = std::chrono::minutes(10);
    QStringList cached;
    for (int i = 0; i < 8; ++i) {
        cached << cartridge(QStringLiteral("cached %1.z64").arg(i));
        QImage byFileManager(256, 256, QImage::Format_RGB32);
        byFileManager.fill(Qt::magenta);
        ASSERT_TRUE(
            thumbnails::writeEntry(sources.sharedRoot, *thumbnails::regularFileVersion(cached.last()), 1, byFileManager)
                .ok());
    }
    installed.setMode(TestThumbnailer::Mode::hang);
    const QString slow1 = cartridge(QStringLiteral("slow1.z64"));
    const QString slow2 = cartridge(QStringLiteral("slow2.z64"));

    {
        FileThumbnailCache cache(sources);
        EXPECT_FALSE(cache.thumbnail(slow1, 56));
        EXPECT_FALSE(cache.thumbnail(slow2, 56));
        ASSERT_TRUE(QTest::qWaitFor([&] { return installed.runs().size() == 2; }, 20000));
        for (const QString& path : cached)
            cache.thumbnail(path, 56);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return std::all_of(cached.cbegin(), cached.cend(),
                    [&](const QString& path) { return cache.thumbnail(path, 56).has_value(); });
            },
            60000));
        EXPECT_TRUE(installed.helperAlive()) << "the thumbnailers were still running";
        EXPECT_EQ(shown(cache, cached.first())->size(), QSize(56, 56));
        EXPECT_EQ(cache.drawingsStarted(), 2);
        // Quitting does not wait for them.
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !installed.helperAlive(); }, 20000));
    EXPECT_FALSE(installed.hangWaitedOut()) << "quitting waited for the hung thumbnailers";
    EXPECT_EQ(installed.runs().size(), 2);
}

// A FIFO named like a picture is never opened: no worker blocks on it and quitting is not held.
TEST_F(FileThumbnailsTest, AFifoNamedLikeAPictureKeepsItsIconAndHoldsNothing)
{
    const QString fifo = dataDir.root() + QStringLiteral("/x.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    {
        FileThumbnailCache cache(sources);
        EXPECT_FALSE(shown(cache, fifo));
        EXPECT_FALSE(shown(cache, fifo, 512));
        EXPECT_EQ(cache.drawingsStarted(), 0);
    }
    EXPECT_LT(timer.elapsed(), 30000); // a worker held by the FIFO would hold it for good
    EXPECT_FALSE(QFile::exists(sources.sharedRoot + "/fail")) << "nothing to record for a FIFO";
}

// A copied picture file is the decoder's to read: however large, Lumra reads its header only. A
// link named like a picture is not followed.
TEST_F(FileThumbnailsTest, ALargePictureFileIsReadByTheDecoderAndALinkIsNotFollowed)
{
    const QString path = dataDir.root() + QStringLiteral("/large.png");
    TestThumbnailer::writeFile(path, test::solidPng(QSize(64, 64), Qt::red));
    ASSERT_TRUE(QFile::resize(path, 250ll * 1024 * 1024)); // sparse: no room taken on disk
    FileThumbnailResult made;
    const qint64 read = test::bytesReadDuring([&] { made = makeFileThumbnail(sources, path, 56); });
    ASSERT_EQ(made.outcome, FileThumbnailResult::Outcome::made);
    EXPECT_EQ(made.image.pixelColor(made.image.rect().center()), QColor(Qt::red));
    EXPECT_LT(read, 4 * 1024 * 1024);

    const QString link = dataDir.root() + QStringLiteral("/link.png");
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_EQ(makeFileThumbnail(sources, link, 56).outcome, FileThumbnailResult::Outcome::none);
}

// A picture file, or a thumbnailer's picture, waits for a display decoder program no longer than a
// row is shown: behind a slow picture the file keeps its icon, and it is not taken for a file with
// no picture, so the next ask shows it.
TEST_F(FileThumbnailsTest, APictureBehindASlowOneKeepsItsIconAndIsAskedAgain)
{
    const QString gate = dataDir.root() + QStringLiteral("/gate");
    image::ImageDecoder held(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1, image::ImageDecoder::defaultCpuTime,
                             {QStringLiteral("hold-svg"), gate});
    std::thread slow([&] { (void)held.png("<svg width='10' height='10'/>", {}, 0); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QDir(dataDir.root()).entryList({"gate-held-*"}).isEmpty(); }, 30000));
    sources.decoder = &held;
    const QString picture = dataDir.root() + QStringLiteral("/photo.png");
    TestThumbnailer::writeFile(picture, test::solidPng(QSize(64, 64), Qt::red));
    const QStringList files {picture, cartridge(QStringLiteral("a.z64"))};
    FileThumbnailCache cache(sources);

    for (const QString& file : files) {
        EXPECT_FALSE(shown(cache, file)) << "drawn only once the slow picture's program was stopped";
        EXPECT_FALSE(thumbnails::hasFailure(sources.sharedRoot, *thumbnails::regularFileVersion(file)));
    }
    QFile(gate).open(QIODevice::WriteOnly);
    slow.join();
    for (const QString& file : files) {
        const std::optional<QImage> later = shown(cache, file);
        ASSERT_TRUE(later && !later->isNull()) << qPrintable(file);
        EXPECT_EQ(later->pixelColor(later->rect().center()), file == picture ? QColor(Qt::red) : drawn);
    }
}

class FileThumbnailRowTest : public test::ShellTest { };

// The whole road on the shared cache: a row of a copied file the test thumbnailer draws shows its
// picture, and the picture is kept in the shared cache as the standard says, for others to use.
TEST_F(FileThumbnailRowTest, AThumbnailersPictureAppearsInTheRowAndInTheSharedCache)
{
    TestThumbnailer installed;
    test::DataDirsScope dataDirs(installed.dataFolder());
    const QString path = dataDir.root() + QStringLiteral("/Space Race.z64");
    TestThumbnailer::writeFile(path, "cartridge");

    auto manager = makeManager();
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.dateAdded = QDateTime(QDate(2026, 2, 1), QTime(12, 0), Qt::UTC);
    item.contentType = ClipboardContentType::file;
    item.fileURLStrings = QStringList { QUrl::fromLocalFile(path).toString() };
    manager->setClipboardItems({ item });
    ASSERT_TRUE(manager->showFileThumbnails());

    auto* panel = new PopupPanel(QSize(360, 300));
    auto* view = new ContentView(*manager, nullptr);
    view->setPanel(panel);
    panel->setContentWidget(view);
    panel->present(QPoint(0, 0));
    processEvents();
    const bool arrived = QTest::qWaitFor(
        [&] {
            processEvents();
            return shows(view->listView()->viewport()->grab().toImage(), drawn);
        },
        10000);
    const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    QDir().mkpath(folder);
    panel->grab().save(folder + QStringLiteral("/popup-file-thumbnail.png"));
    delete panel;
    EXPECT_TRUE(arrived) << "the row kept its icon";

    const QString entry = thumbnails::sharedThumbnailRoot() + QStringLiteral("/normal/")
        + thumbnails::entryName(thumbnails::fileUri(path));
    QImageReader reader(entry);
    const QImage kept = reader.read();
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(kept.size(), QSize(128, 64));
    EXPECT_EQ(kept.text("Thumb::URI"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    EXPECT_EQ(kept.text("Thumb::MTime"), QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch()));
    EXPECT_EQ(kept.text("Software"), QStringLiteral("Lumra"));
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(entry).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(installed.runs().size(), 1);
}

} // namespace
} // namespace lumra
