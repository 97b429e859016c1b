#include "EditingTestSupport.h"
#include "engine/HistoryClearing.h"

#include "model/Diagnostics.h"

#include <QDir>
#include <QFileInfo>

using namespace lumra;
using namespace lumra::test;

namespace {

constexpr qint64 minute = 60;
constexpr qint64 hour = 3600;
constexpr qint64 day = 86400;

class HousekeepingTest : public EditingTest {
protected:
    // One ordinary row and one of each kind that the automatic clean-ups must leave, all of `age`.
    struct Rows {
        ClipboardItem plain, starred, pinned, tagged, commented, categorised, shortcut;
        QList<ClipboardItem> all() const { return {plain, starred, pinned, tagged, commented, categorised, shortcut}; }
    };
    Rows rows(qint64 age)
    {
        Rows r {text("plain", age), text("starred", age), text("pinned", age), text("tagged", age),
                text("commented", age), text("categorised", age), text("shortcut", age)};
        r.starred.isPinned = true;
        r.pinned.isPinnedToTop = true;
        r.tagged.tags = {"x"};
        r.commented.comment = QStringLiteral(" ");
        r.categorised.categoryId = QUuid::createUuid();
        r.shortcut.shortcut = ItemShortcut {0, 0};
        return r;
    }
    QSet<QUuid> ids(bool trashed) const
    {
        QSet<QUuid> result;
        for (const ClipboardItem& item : manager->clipboardItems())
            if (item.isTrashed == trashed)
                result << item.id;
        return result;
    }
};

} // namespace

TEST_F(HousekeepingTest, TheLimitDeletesTheOldestOrdinaryRowsForGood)
{
    open();
    manager->setRecycleBinEnabled(true);
    manager->setMaxItems(3);
    const ClipboardItem oldest = text("1", 50), older = text("2", 40), mid = text("3", 30), newer = text("4", 20), newest = text("5", 10);
    store({newest, oldest, mid, older, newer});
    ASSERT_TRUE(manager->enforceMaxItems().ok());
    EXPECT_EQ(ids(false), QSet<QUuid>({mid.id, newer.id, newest.id}));
    EXPECT_TRUE(ids(true).isEmpty());
    reopen();
    EXPECT_EQ(ids(false), QSet<QUuid>({mid.id, newer.id, newest.id}));
}

TEST_F(HousekeepingTest, TheLimitSparesStarredAndPinnedAndIgnoresTheBin)
{
    open();
    manager->setMaxItems(3);
    ClipboardItem a = text("a", 50), b = text("b", 40), c = text("c", 30), d = text("d", 20), e = text("e", 10);
    a.isPinned = b.isPinnedToTop = c.isPinned = d.isPinned = true;
    ClipboardItem binned = text("binned", 99);
    binned.isTrashed = true;
    store({a, b, c, d, e, binned});
    ASSERT_TRUE(manager->enforceMaxItems().ok());
    EXPECT_EQ(ids(false), QSet<QUuid>({a.id, b.id, c.id, d.id}));
    EXPECT_EQ(ids(true), QSet<QUuid> {binned.id});
    EXPECT_EQ(manager->countItemsOverLimit(2), 2);
    EXPECT_EQ(manager->countItemsOverLimit(2000), 0);
    // What a lower limit would delete: the starred and pinned rows beyond it stay.
    EXPECT_EQ(*manager->itemsDeletedByLimit(2), 0);
    store({text("f", 5), text("g", 4), text("h", 3)});
    EXPECT_EQ(*manager->itemsDeletedByLimit(2), 3);
    EXPECT_EQ(*manager->itemsDeletedByLimit(6), 1);
    EXPECT_EQ(*manager->itemsDeletedByLimit(7), 0);

    // A store that cannot be read is not "nothing to delete".
    auto& context = manager->persistence()->viewContext();
    ASSERT_TRUE(context.database(context.stores().front())->exec(QStringLiteral("DROP TABLE CDClipboardItem")).ok());
    EXPECT_FALSE(manager->itemsDeletedByLimit(2).ok());
    EXPECT_FALSE(manager->itemsDeletedByRetention(1).ok());
}

TEST_F(HousekeepingTest, TheLimitCountsBothStores)
{
    open(true);
    manager->setMaxItems(2);
    const ClipboardItem oldLocal = text("local", 30), cloud = text("cloud", 20), newLocal = text("new", 10);
    store({oldLocal, newLocal}, manager->persistence()->localStore());
    store({cloud}, manager->persistence()->cloudStore());
    ASSERT_TRUE(manager->enforceMaxItems().ok());
    EXPECT_EQ(ids(false), QSet<QUuid>({cloud.id, newLocal.id}));
}

TEST_F(HousekeepingTest, RetentionDeletesOldOrdinaryRowsAndLogsIt)
{
    open();
    manager->setRecycleBinEnabled(false);
    manager->setRetentionDays(0);
    const ClipboardItem recent = text("recent", 6 * day);
    const Rows old = rows(8 * day);
    ClipboardItem oldBinned = text("old binned", 8 * day);
    oldBinned.isTrashed = true;
    store(old.all() + QList<ClipboardItem> {recent, oldBinned});
    manager->applyRetention();
    EXPECT_EQ(manager->clipboardItems().size(), 9);

    Diagnostics& log = Diagnostics::shared();
    QDir().mkpath(QFileInfo(log.logPath()).path());
    log.setEnabled(true);
    log.writeDiagnosticsLog();
    EXPECT_EQ(manager->countItemsOlderThan(7), 5);
    EXPECT_EQ(*manager->itemsDeletedByRetention(7), 5);
    manager->setRetentionDays(7);
    log.flush();
    const QString written = log.readDiagnosticsLog().value_or(QString());
    log.setEnabled(false);

    // Tags, comments, categories and shortcuts do not keep a row from expiring; only the star and the pin do.
    EXPECT_EQ(ids(false), QSet<QUuid>({old.starred.id, old.pinned.id, recent.id}));
    EXPECT_EQ(ids(true), QSet<QUuid> {oldBinned.id});
    EXPECT_TRUE(written.contains(QStringLiteral("[INFO] [Retention] Removed 5 item(s) older than 7 day(s)"))) << qPrintable(written);
    reopen();
    EXPECT_EQ(manager->clipboardItems().size(), 4);
}

TEST_F(HousekeepingTest, AutoCleanSparesWhatTheUserTouchedAndHonoursTheBin)
{
    for (const bool bin : {true, false}) {
        SCOPED_TRACE(bin);
        open();
        manager->setRecycleBinEnabled(bin);
        const Rows old = rows(2 * hour);
        ClipboardItem pastedLately = text("pasted lately", 2 * hour);
        pastedLately.lastPastedDate = clock.now().addSecs(-30 * minute);
        ClipboardItem pastedLongAgo = text("pasted long ago", 2 * hour);
        pastedLongAgo.lastPastedDate = clock.now().addSecs(-90 * minute);
        const ClipboardItem fresh = text("fresh", 30 * minute);
        store(old.all() + QList<ClipboardItem> {pastedLately, pastedLongAgo, fresh});
        // An empty tag list and an unreadable one are no decoration.
        const ClipboardItem emptyTags = text("empty tags", 2 * hour), junkTags = text("junk tags", 2 * hour);
        store({emptyTags, junkTags});
        for (const auto& [id, json] : {std::pair {emptyTags.id, "[]"}, std::pair {junkTags.id, "[1,"}}) {
            manager->fetchManagedItem(id)->set(store::ItemAttr::tagsJSON, QString::fromLatin1(json));
            ASSERT_TRUE(manager->persistence()->save().ok());
        }

        EXPECT_EQ(manager->countAutoCleanCandidates(60), 4);
        EXPECT_EQ(manager->countAutoCleanCandidates(0), 0);
        manager->setAutoCleanMinutes(60);
        manager->runAutoClean();
        manager->finishBackgroundWork();

        const QSet<QUuid> removed {old.plain.id, pastedLongAgo.id, emptyTags.id, junkTags.id};
        EXPECT_EQ(ids(true), bin ? removed : QSet<QUuid> {});
        EXPECT_EQ(ids(false).size(), 8);
        EXPECT_FALSE(ids(false).intersects(removed));
        if (bin)
            EXPECT_EQ(find(old.plain.id)->trashedDate, clock.now());
        expectHistoryMatchesStore();
        manager->setAutoCleanMinutes(0); // the next start would run a pass of its own
        manager.reset();
        QDir(dataDir.supportFolder()).removeRecursively();
    }
}

TEST_F(HousekeepingTest, AutoCleanKeepsAnEditMadeWhileItWasUnderWay)
{
    open();
    manager->setRecycleBinEnabled(false);
    manager->setAutoCleanMinutes(60);
    const ClipboardItem item = text("about to be tagged", 2 * hour);
    store({item});
    manager->runAutoClean();
    // The pass was asked for while the row was undecorated; the user tags it before it runs.
    ASSERT_TRUE(manager->setItemTags(item, {"keep me"}).ok());
    manager->finishBackgroundWork();
    reopen();
    ASSERT_TRUE(find(item.id));
    EXPECT_EQ(find(item.id)->tags, QStringList {"keep me"});
}

TEST_F(HousekeepingTest, AutoCleanRunsOffTheMainThreadAndReportsBack)
{
    open(true);
    manager->runBackgroundInline = true;
    manager->setRecycleBinEnabled(true);
    manager->setAutoCleanMinutes(60);
    const ClipboardItem local = text("local", 2 * hour), cloud = text("cloud", 2 * hour);
    store({local}, manager->persistence()->localStore());
    store({cloud}, manager->persistence()->cloudStore());
    QSignalSpy changed(manager.get(), &ClipboardManager::clipboardItemsChanged);
    manager->runAutoClean();
    ASSERT_TRUE(changed.wait(10000));
    EXPECT_EQ(ids(true), QSet<QUuid>({local.id, cloud.id}));
    expectHistoryMatchesStore();
}

TEST_F(HousekeepingTest, ExpiredTrashIsPurgedByTrashDateElseByDateAdded)
{
    open();
    manager->setRecycleBinEnabled(true);
    manager->setRecycleBinDays(30);
    auto trashedItem = [&](const char* name, qint64 added, std::optional<qint64> trashed) {
        ClipboardItem item = text(name, added);
        item.isTrashed = true;
        if (trashed)
            item.trashedDate = clock.now().addSecs(-*trashed);
        return item;
    };
    const ClipboardItem expired = trashedItem("expired", 40 * day, 31 * day);
    const ClipboardItem recent = trashedItem("recent", 40 * day, 29 * day);
    const ClipboardItem undatedOld = trashedItem("undated old", 31 * day, std::nullopt);
    const ClipboardItem undatedNew = trashedItem("undated new", 29 * day, std::nullopt);
    const ClipboardItem active = text("active", 100 * day);
    store({expired, recent, undatedOld, undatedNew, active});

    manager->setRecycleBinEnabled(false);
    manager->purgeExpiredTrash();
    EXPECT_EQ(manager->clipboardItems().size(), 5);
    manager->setRecycleBinEnabled(true);
    manager->setRecycleBinDays(0);
    manager->purgeExpiredTrash();
    EXPECT_EQ(manager->clipboardItems().size(), 5);

    manager->setRecycleBinDays(30);
    manager->purgeExpiredTrash();
    EXPECT_EQ(ids(true), QSet<QUuid>({recent.id, undatedNew.id}));
    EXPECT_EQ(ids(false), QSet<QUuid> {active.id});
    reopen();
    EXPECT_EQ(manager->clipboardItems().size(), 3);
}

// Clearing most of a large history on the worker hands the freed pages back: the file shrinks.
TEST_F(HousekeepingTest, ClearingMostOfTheHistoryShrinksTheStore)
{
    open();
    QList<ClipboardItem> items;
    for (int i = 0; i < 1000; ++i)
        items << text(QStringLiteral("%1 ").arg(i) + QString(2000, QLatin1Char('x')), 10 + i);
    store(items);
    auto& context = manager->persistence()->viewContext();
    sql::Database* db = context.database(context.stores().front());
    auto pages = [db](const char* pragma) {
        sql::Statement* st = db->prepare(QStringLiteral("PRAGMA %1").arg(QLatin1String(pragma)));
        const qint64 n = st && st->step() ? st->int64(0) : -1;
        if (st)
            st->reset();
        return n;
    };
    const qint64 full = pages("page_count");
    EXPECT_GT(full, 100);

    QList<QUuid> ids;
    for (qsizetype i = 10; i < items.size(); ++i)
        ids << items[i].id;
    std::optional<int> removed;
    manager->clearing().clearItems(ids, false, true, [&](Status status, int n) {
        EXPECT_TRUE(status.ok());
        removed = n;
    });
    manager->finishBackgroundWork();
    ASSERT_EQ(removed, 990);
    EXPECT_LT(pages("page_count"), full / 10);
    EXPECT_EQ(pages("freelist_count"), 0);
    EXPECT_EQ(manager->clipboardItems().size(), 10);
}
