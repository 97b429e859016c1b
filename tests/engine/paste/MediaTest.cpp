#include "PasteTestSupport.h"

#include "engine/ItemMedia.h"
#include "platform/image/ImageDecoding.h"
#include "model/sync/SyncFolderContainer.h"
#include "platform/image/ImageFixtures.h"
#include "ui/preview/FileThumbnailCache.h"
#include "WorkerThreads.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <future>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

class MediaTest : public test::PasteTest {
protected:
    void SetUp() override
    {
        test::PasteTest::SetUp();
        waitForStartupRefresh();
    }

    // Asks, waits for the worker, asks again.
    std::optional<QImage> thumbnailOf(const ClipboardItem& item, double length)
    {
        if (auto ready = manager->media().thumbnail(item, length))
            return ready;
        QSignalSpy ready(&manager->media(), &ItemMedia::thumbnailReady);
        if (!ready.wait(10000))
            return std::nullopt;
        return manager->media().thumbnail(item, length);
    }

    std::optional<QStringList> storedStrings(const QUuid& id, int attribute)
    {
        auto text = manager->fetchManagedItem(id)->string(attribute);
        if (!text)
            return std::nullopt;
        QStringList out;
        for (const QJsonValue& v : QJsonDocument::fromJson(text->toUtf8()).array())
            out.append(v.isBool() ? (v.toBool() ? "true" : "false") : v.toString());
        return out;
    }

    std::optional<QImage> decodedImage(const ClipboardItem& item)
    {
        const auto data = manager->media().imageData(item);
        if (!data)
            return std::nullopt;
        Result<QImage> decoded = image::decodeImage(*data);
        return decoded ? std::optional(std::move(decoded).value()) : std::nullopt;
    }

    Result<bool> refresh()
    {
        auto context = manager->persistence()->newBackgroundContext();
        return ItemMedia::refreshFileBookmarkRows(*context, 2s);
    }
};

} // namespace

TEST_F(MediaTest, ThumbnailsFollowTheQualityRuleAndNeverUpscale)
{
    struct Case {
        const char* quality;
        QSize original;
        QSize expected; // at a requested length of 120
    };
    const Case cases[] = {
        {"low", {1000, 2000}, {120, 240}},     {"normal", {1000, 2000}, {200, 400}},  {"high", {1000, 2000}, {300, 600}},
        {"low", {4000, 500}, {1920, 240}},     {"normal", {4000, 500}, {2880, 360}},  {"high", {4000, 500}, {4000, 500}},
        {"normal", {100, 80}, {100, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.quality) + " " + std::to_string(c.original.width()) + "x" + std::to_string(c.original.height()));
        manager->setThumbnailQuality(c.quality);
        const ClipboardItem item = addImage(image::encodePng(test::markedImage(c.original.width(), c.original.height())).value());
        const auto thumb = thumbnailOf(item, 120);
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->size(), c.expected);
        EXPECT_EQ(manager->media().imageDimensions(item), c.original) << "filled by the thumbnail";
    }
}

TEST_F(MediaTest, ThumbnailAppliesTheOrientation)
{
    const QByteArray jpeg = test::withExif(test::encode(test::markedImage(400, 200), "JPEG", 90), std::nullopt, 6);
    const ClipboardItem item = addImage(jpeg);
    const auto thumb = thumbnailOf(item, 120);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(200, 400));
    EXPECT_EQ(manager->media().imageDimensions(item), QSize(400, 200)) << "dimensions are as stored";
}

TEST_F(MediaTest, ACachedThumbnailIsReusedUntilTheQualityChanges)
{
    manager->setThumbnailQuality("low");
    const ClipboardItem item = addImage(image::encodePng(test::markedImage(1000, 1000)).value());
    const auto first = thumbnailOf(item, 60);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSize(240, 240));
    EXPECT_EQ(manager->media().thumbnail(item, 500)->size(), QSize(240, 240));

    manager->setThumbnailQuality("high");
    EXPECT_FALSE(manager->media().thumbnail(item, 60));
    const auto fresh = thumbnailOf(item, 60);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->size(), QSize(600, 600));
}

// A row asks for the device pixels it paints in: the thumbnail is made to fit them. One cached for a
// smaller row is shown until a fitting one is made; one cached for a larger row is kept.
TEST_F(MediaTest, ThumbnailsAreMadeForTheRowsBoxAndRemadeWhenItGrows)
{
    const ClipboardItem item = addImage(image::encodePng(test::markedImage(1920, 1080)).value());
    QSignalSpy ready(&manager->media(), &ItemMedia::thumbnailReady);
    ASSERT_FALSE(manager->media().thumbnail(item, 120, QSize(350, 120)));
    ASSERT_TRUE(ready.wait(10000));
    const auto small = manager->media().thumbnail(item, 120, QSize(350, 120));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size(), QSize(214, 120));

    const auto meanwhile = manager->media().thumbnail(item, 120, QSize(700, 240));
    ASSERT_TRUE(meanwhile);
    EXPECT_EQ(meanwhile->size(), QSize(214, 120)) << "the cached one is shown while a sharper one is made";
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_EQ(manager->media().thumbnail(item, 120, QSize(700, 240))->size(), QSize(427, 240));

    EXPECT_EQ(manager->media().thumbnail(item, 120, QSize(350, 120))->size(), QSize(427, 240));
    EXPECT_EQ(manager->media().thumbnail(item, 120)->size(), QSize(427, 240));
    EXPECT_FALSE(ready.wait(300)) << "nothing is made again for a smaller row";
}

TEST_F(MediaTest, AQualityChangeWhileAThumbnailIsMadeDoesNotCacheTheOldOne)
{
    manager->setThumbnailQuality("low");
    const ClipboardItem item = addImage(image::encodePng(test::markedImage(1000, 1000)).value());
    ASSERT_FALSE(manager->media().thumbnail(item, 60));
    manager->setThumbnailQuality("high");
    QSignalSpy ready(&manager->media(), &ItemMedia::thumbnailReady);
    ASSERT_TRUE(ready.wait(10000));
    const auto thumb = thumbnailOf(item, 60);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(600, 600));
}

TEST_F(MediaTest, OtherKindsHaveNoImageAndImagesNoFiles)
{
    const ClipboardItem text = addText("words");
    EXPECT_FALSE(decodedImage(text));
    EXPECT_FALSE(manager->media().imageData(text));
    EXPECT_FALSE(manager->media().thumbnail(text, 100));
    EXPECT_FALSE(manager->media().imageDimensions(text));
    const ClipboardItem picture = addImage(image::encodePng(test::markedImage(10, 10)).value());
    EXPECT_TRUE(manager->media().fileURLs(picture).isEmpty());
    EXPECT_EQ(decodedImage(picture)->size(), QSize(10, 10));
}

TEST_F(MediaTest, UnreadableImageHeaderGivesNoDimensionsAndCachesNothing)
{
    const ClipboardItem item = addImage("garbage bytes");
    EXPECT_FALSE(manager->media().imageDimensions(item));
    manager->fetchManagedItem(item.id)->set(store::ItemAttr::imageData, image::encodePng(test::markedImage(7, 5)).value());
    ASSERT_TRUE(manager->persistence()->save().ok());
    EXPECT_EQ(manager->media().imageDimensions(item), QSize(7, 5));
}

TEST_F(MediaTest, FileUrlsSkipBrokenAndMissingBookmarks)
{
    QTemporaryDir files;
    const QString kept = files.filePath("kept.txt");
    QFile(kept).open(QIODevice::WriteOnly);
    const ClipboardItem item = addFiles({"!!not base64!!", bookmark(files.filePath("deleted.txt")), bookmark(kept)},
                                        {"a", "b", fileUrl(kept)});
    const auto accesses = manager->media().fileURLs(item);
    ASSERT_EQ(accesses.size(), 1);
    EXPECT_EQ(accesses.first()->url(), QUrl::fromLocalFile(kept));
    EXPECT_TRUE(accesses.first()->startedAccess());
}

TEST_F(MediaTest, KeptFileAccessIsReleasedAfterItsExpiry)
{
    std::weak_ptr<FileBookmarkAccess> first;
    std::weak_ptr<FileBookmarkAccess> second;
    {
        auto a = std::make_shared<FileBookmarkAccess>(QUrl::fromLocalFile("/a"), true);
        auto b = std::make_shared<FileBookmarkAccess>(QUrl::fromLocalFile("/b"), true);
        first = a;
        second = b;
        manager->media().keepFileAccess({a, b}, 10s);
    }
    manager->media().keepFileAccess({}, 10s);
    clock.advance(10s);
    EXPECT_FALSE(first.expired());
    clock.advance(100ms);
    EXPECT_TRUE(first.expired());
    EXPECT_TRUE(second.expired());
    EXPECT_EQ(manager->media().pendingFileAccessCount(), 0);
}

TEST_F(MediaTest, RefreshStoresMovedPathsAndDirectoryFlags)
{
    QTemporaryDir files;
    const QString renamed = files.filePath("renamed.txt");
    const QString folder = files.filePath("folder");
    QFile(renamed).open(QIODevice::WriteOnly);
    QDir().mkpath(folder);
    const QString lost = files.filePath("lost.txt");
    const ClipboardItem item = addFiles({bookmark(renamed), bookmark(folder), bookmark(lost)},
                                        {fileUrl(files.filePath("before.txt")), fileUrl(folder), fileUrl(lost)});

    const auto outcome = refresh();
    ASSERT_TRUE(outcome.ok());
    EXPECT_TRUE(*outcome);
    manager->persistence()->viewContext().refresh({{}, {item.id}, {}});
    EXPECT_EQ(storedStrings(item.id, store::ItemAttr::fileURLStringsJSON),
              (QStringList {fileUrl(renamed), fileUrl(folder), fileUrl(lost)}));
    EXPECT_EQ(storedStrings(item.id, store::ItemAttr::fileURLIsDirectoryJSON), (QStringList {"false", "true", "false"}));

    const auto again = refresh();
    ASSERT_TRUE(again.ok());
    EXPECT_FALSE(*again) << "nothing changed, nothing saved";
}

TEST_F(MediaTest, RefreshLeavesMismatchedAndTrashedRowsAlone)
{
    QTemporaryDir files;
    const QString path = files.filePath("x.txt");
    QFile(path).open(QIODevice::WriteOnly);
    const ClipboardItem mismatched = addFiles({bookmark(path)}, {"file:///old", "file:///other"});
    ClipboardItem trashedItem;
    trashedItem.contentType = ClipboardContentType::file;
    trashedItem.fileURLStrings = QStringList {"file:///old"};
    trashedItem.isTrashed = true;
    trashedItem.trashedDate = clock.now();
    addItem(trashedItem, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, jsonArray({bookmark(path)})); });

    const auto outcome = refresh();
    ASSERT_TRUE(outcome.ok());
    EXPECT_FALSE(*outcome);
    EXPECT_EQ(storedStrings(mismatched.id, store::ItemAttr::fileURLStringsJSON), (QStringList {"file:///old", "file:///other"}));
}

TEST_F(MediaTest, BackgroundRefreshReloadsTheHistory)
{
    QTemporaryDir files;
    const QString path = files.filePath("now here.txt");
    QFile(path).open(QIODevice::WriteOnly);
    const ClipboardItem item = addFiles({bookmark(path)}, {"file:///was/elsewhere.txt"});

    manager = makeManager(); // start-up runs the refresh; its result arrives through the event loop
    QSignalSpy refreshed(&manager->media(), &ItemMedia::fileBookmarksRefreshed);
    ASSERT_TRUE(refreshed.wait(10000));
    EXPECT_TRUE(refreshed.last().first().toBool());
    EXPECT_EQ(current(item.id)->fileURLStrings, QStringList {fileUrl(path)});
    EXPECT_EQ(current(item.id)->fileURLIsDirectory, QList<bool> {false});
}

namespace {

constexpr char laneChildVariable[] = "LUMRA_TEST_ENGINE_LANES_CHILD";

class EngineLanesProcess : public MediaTest {
protected:
    void SetUp() override {}
};

// Child mode only: the history read at start, the bookmark refresh, thumbnails, capture, a
// housekeeping pass, a sync pass and a copied file's picture run on the lanes' threads, which
// `ps -L` names: they need no thread of Qt's shared pool (held busy here) and start none of their own.
TEST_F(EngineLanesProcess, BackgroundWorkRunsOnLaneThreadsOnly)
{
    if (!qEnvironmentVariableIsSet(laneChildVariable))
        GTEST_SKIP() << "runs as the child of EngineLanesTest.BackgroundWorkRunsOnLaneThreadsOnly";
    QThreadPool& shared = *QThreadPool::globalInstance();
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    for (int i = shared.maxThreadCount(); i > 0; --i)
        shared.start([released] { released.wait(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return shared.activeThreadCount() == shared.maxThreadCount(); }, 10000));

    QTemporaryDir syncFolder;
    openDefaults(true).set(QStringLiteral("syncFolderPath"), syncFolder.path());
    manager = start([this](ClipboardManagerServices& services) {
        services.pasteboard = &pasteboard;
        services.loadHistoryInBackground = true;
    });
    QSignalSpy refreshed(&manager->media(), &ItemMedia::fileBookmarksRefreshed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager->isLoadingHistory() && refreshed.count() > 0; }, 10000));
    const QMap<int, QString> before = test::threadsOfThisProcess();
    const ClipboardItem item = addImage(image::encodePng(test::markedImage(300, 200)).value());
    EXPECT_TRUE(thumbnailOf(item, 60));
    // Copies read, journalled, and made into rich text and a picture.
    const QList<QList<PasteboardRepresentation>> copies {
        {{QString::fromLatin1(PasteboardMime::textUtf8), QByteArray("a page")},
         {QString::fromLatin1(PasteboardMime::html), QByteArray("<b>a page</b>")}},
        {{QStringLiteral("image/png"), image::encodePng(test::markedImage(120, 80)).value()}},
    };
    for (const QList<PasteboardRepresentation>& copy : copies) {
        clock.advance(1s);
        pasteboard.setContents(copy);
        manager->captureService()->checkClipboard();
        test::finishPendingCaptures(*manager);
    }
    EXPECT_EQ(manager->clipboardItems().size(), 3);

    SyncFolderContainer& sync = *manager->syncFolderContainer();
    sync.syncNow();
    EXPECT_TRUE(sync.waitForIdle());
    EXPECT_GT(sync.passesStarted(), 0);
    // Auto-clean waits for the sync to have read how old each row is.
    const ClipboardItem old = addText(QStringLiteral("a day old"));
    manager->setAutoCleanMinutes(60);
    manager->autoCleanNow();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QList<ClipboardItem>& items = manager->clipboardItems();
        return std::none_of(items.begin(), items.end(), [&](const ClipboardItem& i) { return i.id == old.id && !i.isTrashed; });
    }, 10000));

    QTemporaryDir files;
    const QString picture = files.filePath(QStringLiteral("copied.png"));
    ASSERT_TRUE(test::markedImage(300, 200).save(picture));
    FileThumbnailCache thumbnails(FileThumbnailSources {files.filePath(QStringLiteral("own")), files.filePath(QStringLiteral("shared"))});
    QSignalSpy drawn(&thumbnails, &FileThumbnailCache::thumbnailReady);
    EXPECT_FALSE(thumbnails.thumbnail(picture, 56));
    EXPECT_TRUE(drawn.wait(10000));
    EXPECT_EQ(thumbnails.drawingsStarted(), 1);
    EXPECT_TRUE(thumbnails.thumbnail(picture, 56));

    EXPECT_EQ(test::threadsOutsideTheLanesSince(before).join(QStringLiteral(", ")).toStdString(), "");
    release.set_value();
}

TEST(EngineLanesTest, BackgroundWorkRunsOnLaneThreadsOnly)
{
    const test::ChildRun child = test::runThisProgram(laneChildVariable, "EngineLanesProcess.*");
    EXPECT_EQ(child.exitCode, 0) << child.output.constData();
}

} // namespace
