#include "EditingTestSupport.h"
#include "engine/HistoryClearing.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

using namespace lumra;
using namespace lumra::test;

namespace {

class RecycleBinTest : public EditingTest {
protected:
    QSet<QUuid> trashedIds() const
    {
        QSet<QUuid> result;
        for (const ClipboardItem& item : manager->clipboardItems())
            if (item.isTrashed)
                result << item.id;
        return result;
    }
    // A clear by kind returns at once and finishes through the event loop.
    Status clearByKind(const std::function<Status(ClipboardManager::HistoryClearing::ClearDone)>& clear)
    {
        std::optional<Status> outcome;
        EXPECT_TRUE(clear([&](Status s) { outcome = s; }).ok());
        EXPECT_FALSE(outcome) << "the kinds were worked out on the main thread";
        QDeadlineTimer deadline(10000);
        while (!outcome && !deadline.hasExpired()) {
            manager->finishBackgroundWork();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return outcome.value_or(Status::failure("the clear never finished"));
    }
    // A file's kind is looked up on disk: a name no other program can have made into a folder.
    QString ownFileUrl(const QString& name) const { return QUrl::fromLocalFile(dataDir.root() + u'/' + name).toString(); }
    QSet<QUuid> allIds() const
    {
        QSet<QUuid> result;
        for (const ClipboardItem& item : manager->clipboardItems())
            result << item.id;
        return result;
    }
};

} // namespace

TEST_F(RecycleBinTest, DeletingFollowsTheBinSwitch)
{
    open();
    const ClipboardItem a = text("a"), b = text("b"), c = text("c");
    store({a, b, c});
    manager->setRecycleBinEnabled(true);
    clock.advance(std::chrono::minutes(5));
    ASSERT_TRUE(manager->deleteItems({a, b}).ok());
    EXPECT_EQ(trashedIds(), QSet<QUuid>({a.id, b.id}));
    EXPECT_EQ(find(a.id)->trashedDate, clock.now());
    manager->setRecycleBinEnabled(false);
    ASSERT_TRUE(manager->deleteItem(c).ok());
    EXPECT_FALSE(find(c.id));
    reopen();
    EXPECT_EQ(trashedIds(), QSet<QUuid>({a.id, b.id}));
    EXPECT_EQ(allIds().size(), 2);
}

TEST_F(RecycleBinTest, RestoringClearsTheTrashDate)
{
    open();
    manager->setRecycleBinEnabled(true);
    const ClipboardItem a = text("a"), b = text("b");
    store({a, b});
    ASSERT_TRUE(manager->deleteItems({a, b}).ok());
    ASSERT_TRUE(manager->restoreItem(a.id).ok());
    ASSERT_TRUE(manager->restoreItems({*find(b.id)}).ok());
    ASSERT_TRUE(manager->restoreItems({}).ok());
    reopen();
    EXPECT_TRUE(trashedIds().isEmpty());
    EXPECT_FALSE(find(a.id)->trashedDate);
}

TEST_F(RecycleBinTest, PermanentDeleteEvictsCachesAndLeavesSharedImagesAlone)
{
    open();
    // Two rows may name the same image file; each keeps its own bytes.
    const ClipboardItem first = image("same.png"), second = image("same.png");
    store({first, second}, nullptr, QByteArray("PNG-BYTES"));
    const QUuid missing = QUuid::createUuid();
    ASSERT_TRUE(manager->deleteItemPermanently(first.id).ok());
    ASSERT_TRUE(manager->deleteItemPermanently(missing).ok());
    EXPECT_EQ(manager->evicted, QList<QUuid>({first.id, missing}));
    reopen();
    EXPECT_EQ(allIds(), QSet<QUuid> {second.id});
    EXPECT_EQ(manager->fetchManagedItem(second.id)->bytes(store::ItemAttr::imageData), QByteArray("PNG-BYTES"));
}

TEST_F(RecycleBinTest, EmptyingTheBinDeletesOnlyTrashedRows)
{
    open();
    manager->setRecycleBinEnabled(true);
    const ClipboardItem a = text("a"), b = text("b");
    store({a, b});
    ASSERT_TRUE(manager->deleteItem(a).ok());
    ASSERT_TRUE(manager->emptyRecycleBin().ok());
    reopen();
    EXPECT_EQ(allIds(), QSet<QUuid> {b.id});
}

TEST_F(RecycleBinTest, ClearsPickRowsByStarPinDateAndKind)
{
    ClipboardItem plain, starred, pinned, imageRow, fileRow, binned, older;
    auto fill = [&] {
        open();
        manager->setRecycleBinEnabled(true);
        plain = text("plain", 10 * 60);
        starred = text("starred", 10 * 60);
        starred.isPinned = true;
        pinned = text("pinned", 10 * 60);
        pinned.isPinnedToTop = true;
        imageRow = image("i.png", 10 * 60);
        fileRow = file(ownFileUrl("a.txt"), 10 * 60);
        binned = text("binned", 10 * 60);
        binned.isTrashed = true;
        binned.trashedDate = clock.now().addDays(-3);
        older = text("older", 2 * 3600);
        store({plain, starred, pinned, imageRow, fileRow, binned, older});
    };
    using Kinds = ClipboardManager::HistoryClearing::CaptureKinds;
    const struct {
        const char* name;
        std::function<Status(ClipboardManager&)> clear;
        std::function<QSet<QUuid>()> cleared;
    } cases[] = {
        {"unpinned", [](ClipboardManager& m) { return m.clearing().clearUnpinnedHistory(false); },
         [&] { return QSet<QUuid> {plain.id, imageRow.id, fileRow.id, older.id}; }},
        {"all", [](ClipboardManager& m) { return m.clearing().clearAllHistory(false); },
         [&] { return QSet<QUuid> {plain.id, starred.id, pinned.id, imageRow.id, fileRow.id, older.id}; }},
        {"images only", [this](ClipboardManager& m) {
             return clearByKind([&](auto done) { return m.clearing().clearAllHistory(false, Kinds(QSet {CaptureCategory::image}), done); });
         },
         [&] { return QSet<QUuid> {imageRow.id}; }},
        {"no kinds", [this](ClipboardManager& m) {
             return clearByKind([&](auto done) { return m.clearing().clearAllHistory(false, Kinds(QSet<CaptureCategory> {}), done); });
         },
         [&] { return QSet<QUuid> {}; }},
        {"recent with starred", [this](ClipboardManager& m) { return m.clearing().clearRecentItems(clock.now().addSecs(-10 * 60), true, false); },
         [&] { return QSet<QUuid> {plain.id, starred.id, pinned.id, imageRow.id, fileRow.id}; }},
        {"recent without starred", [this](ClipboardManager& m) { return m.clearing().clearRecentItems(clock.now().addSecs(-10 * 60), false, false); },
         [&] { return QSet<QUuid> {plain.id, imageRow.id, fileRow.id}; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fill();
        const QDateTime binnedDate = *binned.trashedDate;
        ASSERT_TRUE(c.clear(*manager).ok());
        EXPECT_EQ(trashedIds(), c.cleared() + QSet<QUuid> {binned.id});
        EXPECT_EQ(find(binned.id)->trashedDate, binnedDate);
        expectHistoryMatchesStore();
        manager.reset();
        QDir(dataDir.supportFolder()).removeRecursively();
    }
}

TEST_F(RecycleBinTest, PermanentClearsSkipTheBin)
{
    open();
    manager->setRecycleBinEnabled(true);
    const ClipboardItem a = text("a"), f = file(ownFileUrl("x"));
    ClipboardItem binned = text("binned");
    binned.isTrashed = true;
    store({a, f, binned});
    ASSERT_TRUE(clearByKind([&](auto done) {
        return manager->clearing().clearAllHistory(true, ClipboardManager::HistoryClearing::CaptureKinds(QSet {CaptureCategory::file}), done);
    }).ok());
    EXPECT_EQ(allIds(), QSet<QUuid>({a.id, binned.id}));
    ASSERT_TRUE(manager->clearing().clearUnpinnedHistory(true).ok());
    reopen();
    EXPECT_EQ(allIds(), QSet<QUuid> {binned.id});
}
