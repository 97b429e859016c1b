#include "model/store/PersistenceController.h"

#include "model/store/ItemRows.h"
#include "model/store/StoreTestSupport.h"

#include "LargestAllocation.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QThread>

#include <functional>

#include <sqlite3.h>
#include <sys/stat.h>

namespace lumra::test {
namespace {

using namespace store;

ManagedObjectPtr insertText(PersistenceController& p, const QString& text, const PersistentStore* where = nullptr)
{
    ManagedObjectPtr row = p.viewContext().insert(EntityKind::item, where);
    row->set(ItemAttr::id, QUuid::createUuid());
    row->set(ItemAttr::textContent, text);
    return row;
}

QStringList filesAside(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.unreadable-*")}, QDir::Files);
}

using PersistenceControllerTest = StoreTest;

TEST_F(PersistenceControllerTest, withoutSyncOneFileServesAsBothStores)
{
    PersistenceController p(false);
    ASSERT_NE(p.cloudStore(), nullptr);
    EXPECT_EQ(p.cloudStore(), p.localStore());
    insertText(p, QStringLiteral("a"), p.localStore());
    ASSERT_TRUE(p.save().ok());

    EXPECT_TRUE(QFileInfo::exists(storePath("Lumra.sqlite")));
    EXPECT_FALSE(QFileInfo::exists(storePath("LumraLocal.sqlite")));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(storePath("Lumra.sqlite")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
}

TEST_F(PersistenceControllerTest, switchingSyncOnOrOffKeepsEveryItemListed)
{
    const auto texts = [](PersistenceController& p) {
        FetchRequest all;
        all.sortDescriptors = {{"textContent", true}};
        QStringList found;
        const auto rows = p.viewContext().fetch(all);
        for (const ManagedObjectPtr& row : rows.value())
            found.append(row->string(ItemAttr::textContent).value_or(QString()));
        return found;
    };
    {
        PersistenceController on(true);
        insertText(on, QStringLiteral("synced"), on.cloudStore());
        insertText(on, QStringLiteral("kept here"), on.localStore());
        ASSERT_TRUE(on.save().ok());
    }
    {
        PersistenceController off(false);
        EXPECT_EQ(texts(off), (QStringList {"kept here", "synced"}));
        EXPECT_EQ(off.localStore(), off.cloudStore()) << "new items go to the one file of an unsynced history";
        insertText(off, QStringLiteral("added while off"));
        ASSERT_TRUE(off.save().ok());
        // A row of the older file is still edited where it lies.
        FetchRequest kept;
        kept.predicate = Predicate::eq("textContent", QStringLiteral("kept here"));
        ManagedObjectPtr row = off.viewContext().fetch(kept).value().value(0);
        ASSERT_TRUE(row);
        row->set(ItemAttr::isPinned, true);
        ASSERT_TRUE(off.save().ok());
    }
    EXPECT_EQ(scalar(*rawStore(storePath("LumraLocal.sqlite")), "SELECT count(*) FROM CDClipboardItem WHERE isPinned"), 1);
    PersistenceController onAgain(true);
    EXPECT_EQ(texts(onAgain), (QStringList {"added while off", "kept here", "synced"}));
}

TEST_F(PersistenceControllerTest, withSyncRowsLandInTheFileOfTheirStore)
{
    {
        PersistenceController p(true);
        ASSERT_NE(p.cloudStore(), nullptr);
        ASSERT_NE(p.localStore(), nullptr);
        EXPECT_NE(p.cloudStore(), p.localStore());
        EXPECT_EQ(p.cloudStore()->configuration, "Cloud");
        EXPECT_EQ(p.localStore()->configuration, "Local");
        insertText(p, QStringLiteral("synced"), p.cloudStore());
        insertText(p, QStringLiteral("local 1"), p.localStore());
        insertText(p, QStringLiteral("local 2"), p.localStore());
        ManagedObjectPtr category = p.viewContext().insert(EntityKind::category, p.localStore());
        category->set(CategoryAttr::id, QUuid::createUuid());
        ASSERT_TRUE(p.save().ok());
    }
    auto cloud = rawStore(storePath("Lumra.sqlite"));
    auto local = rawStore(storePath("LumraLocal.sqlite"));
    EXPECT_EQ(scalar(*cloud, "SELECT count(*) FROM CDClipboardItem"), 1);
    EXPECT_EQ(scalar(*local, "SELECT count(*) FROM CDClipboardItem"), 2);
    EXPECT_EQ(scalar(*cloud, "SELECT count(*) FROM CDClipboardCategory"), 0);
    EXPECT_EQ(scalar(*local, "SELECT count(*) FROM CDClipboardCategory"), 1);

    // Reopened, one context sees both files.
    PersistenceController again(true);
    FetchRequest all;
    all.sortDescriptors = {{"textContent", true}};
    auto rows = again.viewContext().fetch(all);
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows->size(), 3);
    EXPECT_EQ(rows->at(0)->string(ItemAttr::textContent), "local 1");
    EXPECT_EQ(rows->at(2)->string(ItemAttr::textContent), "synced");
    EXPECT_EQ(rows->at(2)->store(), again.cloudStore());
}

TEST_F(PersistenceControllerTest, newRowsReadBackTheModelDefaults)
{
    {
        PersistenceController p(false);
        p.viewContext().insert(EntityKind::item)->set(ItemAttr::id, QUuid::createUuid());
        p.viewContext().insert(EntityKind::category)->set(CategoryAttr::id, QUuid::createUuid());
        ASSERT_TRUE(p.save().ok());
    }
    PersistenceController p(false);
    auto items = p.viewContext().fetch({});
    ASSERT_TRUE(items.ok());
    ASSERT_EQ(items->size(), 1);
    const ManagedObject& item = *items->first();
    EXPECT_EQ(item.string(ItemAttr::contentType), "text");
    for (int flag : {ItemAttr::isPinned, ItemAttr::isPinnedToTop, ItemAttr::isSensitive, ItemAttr::isTrashed})
        EXPECT_EQ(item.boolean(flag), false);
    EXPECT_EQ(item.integer(ItemAttr::shortcutKeyCode), -1);
    EXPECT_EQ(item.integer(ItemAttr::shortcutModifiers), 0);

    FetchRequest categories;
    categories.entity = EntityKind::category;
    auto rows = p.viewContext().fetch(categories);
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ(rows->first()->string(CategoryAttr::name), "");
    EXPECT_EQ(rows->first()->string(CategoryAttr::iconName), "folder.fill");
    EXPECT_EQ(rows->first()->boolean(CategoryAttr::isHiddenFromFooter), false);
    EXPECT_EQ(rows->first()->integer(CategoryAttr::sortOrder), 0);
}

TEST_F(PersistenceControllerTest, predicatesBindValuesAndSortAndLimitAcrossBothStores)
{
    PersistenceController p(true);
    const QDateTime t0 = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    for (int i = 0; i < 6; ++i) {
        ManagedObjectPtr row = insertText(p, QStringLiteral("item %1").arg(i), i % 2 ? p.cloudStore() : p.localStore());
        row->set(ItemAttr::dateAdded, t0.addSecs(i * 60));
        row->set(ItemAttr::isTrashed, i == 5);
    }
    insertText(p, QStringLiteral("x' OR 1=1 --"));
    ASSERT_TRUE(p.save().ok());

    FetchRequest newest;
    newest.predicate = Predicate::eq("isTrashed", false) && Predicate::isNotNull("dateAdded");
    newest.sortDescriptors = {{"dateAdded", false}};
    newest.fetchLimit = 3;
    auto rows = p.viewContext().fetch(newest);
    ASSERT_TRUE(rows.ok());
    QStringList texts;
    for (const auto& r : *rows)
        texts << r->string(ItemAttr::textContent).value_or("?");
    EXPECT_EQ(texts, QStringList({"item 4", "item 3", "item 2"}));

    FetchRequest older;
    older.predicate = Predicate::lt("dateAdded", t0.addSecs(150));
    EXPECT_EQ(p.viewContext().count(older).value(), 3);

    FetchRequest hostile;
    hostile.predicate = Predicate::eq("textContent", QStringLiteral("x' OR 1=1 --"));
    EXPECT_EQ(p.viewContext().count(hostile).value(), 1);

    FetchRequest unknown;
    unknown.predicate = Predicate::eq("textContent; DROP TABLE CDClipboardItem", 1);
    EXPECT_FALSE(p.viewContext().fetch(unknown).ok());
    FetchRequest badSort;
    badSort.sortDescriptors = {{"imageData", true}};
    EXPECT_FALSE(p.viewContext().fetch(badSort).ok());
}

TEST_F(PersistenceControllerTest, duplicateLookupKeyFollowsTheContent)
{
    PersistenceController p(false);
    ManagedObjectPtr text = insertText(p, QStringLiteral("hello"));
    ManagedObjectPtr files = p.viewContext().insert(EntityKind::item);
    files->set(ItemAttr::id, QUuid::createUuid());
    files->set(ItemAttr::contentType, QStringLiteral("file"));
    files->set(ItemAttr::fileURLStringsJSON, QStringLiteral(R"(["file:///b","file:///a"])"));
    ASSERT_TRUE(p.save().ok());

    auto countKey = [&](const QString& key) {
        FetchRequest r;
        r.predicate = Predicate::eq(contentKeyColumn, key) && Predicate::eq("isTrashed", false);
        return p.viewContext().count(r).value();
    };
    EXPECT_EQ(countKey(contentKeyForText("hello")), 1);
    EXPECT_EQ(countKey(contentKeyForFiles({"file:///a", "file:///b"})), 1);

    text->set(ItemAttr::textContent, QStringLiteral("changed"));
    ASSERT_TRUE(p.save().ok());
    EXPECT_EQ(countKey(contentKeyForText("hello")), 0);
    EXPECT_EQ(countKey(contentKeyForText("changed")), 1);
}

TEST_F(PersistenceControllerTest, imageBytesLiveApartAndGoWithTheirRow)
{
    const QByteArray png(4096, '\x89');
    {
        PersistenceController p(false);
        ManagedObjectPtr row = insertText(p, QString());
        row->set(ItemAttr::contentType, QStringLiteral("image"));
        row->set(ItemAttr::imageData, png);
        ASSERT_TRUE(p.save().ok());
    }
    auto raw = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*raw, "SELECT length(imageData) FROM CDClipboardItemImage"), png.size());

    PersistenceController p(false);
    auto rows = p.viewContext().fetch({});
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ(rows->first()->bytes(ItemAttr::imageData), png);
    p.viewContext().deleteObject(rows->first());
    ASSERT_TRUE(p.save().ok());
    EXPECT_EQ(scalar(*raw, "SELECT count(*) FROM CDClipboardItemImage"), 0);
}

// A large picture is written into its row a piece at a time: the save makes no copy of its size, and
// the stored bytes are the picture's.
TEST_F(PersistenceControllerTest, aLargePictureIsSavedWithoutACopyOfIt)
{
    QByteArray png(24 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < png.size(); ++i)
        png[i] = char(i * 7 + i / 4099);
    PersistenceController p(false);
    ManagedObjectPtr row = insertText(p, QString());
    row->set(ItemAttr::contentType, QStringLiteral("image"));
    row->set(ItemAttr::imageData, png);
    const auto large = test::largeAllocationsDuring(size_t(png.size() / 4), [&] { ASSERT_TRUE(p.save().ok()); });
    if (large)
        EXPECT_TRUE(large->empty()) << large->size() << " buffers, the first of " << large->front() << " bytes";
    auto raw = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*raw, "SELECT length(imageData) FROM CDClipboardItemImage"), png.size());
    PersistenceController again(false);
    auto rows = again.viewContext().fetch({});
    ASSERT_EQ(rows->size(), 1);
    EXPECT_EQ(rows->first()->bytes(ItemAttr::imageData), png);
}

// A paste stamps its row and the list takes the row back: neither may read megabytes of rich text.
TEST_F(PersistenceControllerTest, richTextIsReadOnlyWhenAskedForAndStaysWithARowKeptPastItsContext)
{
    constexpr qsizetype size = 8 << 20;
    const QByteArray rtf = QByteArray(R"({\rtf1 )") + QByteArray(size, 'x') + '}';
    PersistenceController p(false);
    ManagedObjectPtr row = insertText(p, QStringLiteral("Quarterly report"));
    row->set(ItemAttr::rtfData, rtf);
    const QUuid id = *row->uuid(ItemAttr::id);
    ASSERT_TRUE(p.save().ok());

    auto context = p.newBackgroundContext();
    sqlite3_memory_highwater(1);
    const sqlite3_int64 before = sqlite3_memory_used();
    ManagedObjectPtr fetched = context->fetchById(EntityKind::item, id);
    ASSERT_NE(fetched, nullptr);
    const std::optional<ClipboardItem> listed = makeListItem(*fetched);
    ASSERT_TRUE(listed);
    EXPECT_TRUE(listed->hasRichText());
    EXPECT_LT(sqlite3_memory_highwater(0) - before, size / 2) << "the rich text was read without being asked for";

    EXPECT_EQ(makeClipboardItem(*fetched)->rtfData, rtf);
    fetched->set(ItemAttr::lastPastedDate, QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(context->save().ok());

    ManagedObjectPtr kept = context->fetchById(EntityKind::item, id);
    context.reset();
    EXPECT_EQ(kept->bytes(ItemAttr::rtfData), rtf);
}

TEST_F(PersistenceControllerTest, aFailedSaveLeavesNothingHalfWrittenAndSaysSo)
{
    PersistenceController p(false);
    ManagedObjectPtr kept = insertText(p, QStringLiteral("before"));
    ASSERT_TRUE(p.save().ok());

    auto raw = rawStore(storePath("Lumra.sqlite"));
    ASSERT_TRUE(raw->exec("CREATE TRIGGER refuse BEFORE INSERT ON CDClipboardItem "
                          "WHEN NEW.textContent = 'poison' BEGIN SELECT RAISE(ABORT, 'disk says no'); END").ok());

    kept->set(ItemAttr::textContent, QStringLiteral("after"));
    ManagedObjectPtr fine = insertText(p, QStringLiteral("fine"));
    ManagedObjectPtr poison = insertText(p, QStringLiteral("poison"));
    Status s = p.save();
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("disk says no"));

    EXPECT_FALSE(p.viewContext().hasChanges());
    EXPECT_EQ(kept->string(ItemAttr::textContent), "before");
    EXPECT_EQ(scalar(*raw, "SELECT count(*) FROM CDClipboardItem"), 1);
    EXPECT_EQ(scalar(*raw, "SELECT count(*) FROM CDClipboardItem WHERE textContent = 'before'"), 1);

    // The context is usable again afterwards.
    insertText(p, QStringLiteral("later"));
    EXPECT_TRUE(p.save().ok());
    EXPECT_EQ(scalar(*raw, "SELECT count(*) FROM CDClipboardItem"), 2);
}

TEST_F(PersistenceControllerTest, anUnreadableStoreIsKeptAsideAndAFreshOneOpens)
{
    QDir().mkpath(dataDir.supportFolder());
    const QByteArray garbage = QByteArray("this is not a database ").repeated(300);
    {
        QFile f(storePath("Lumra.sqlite"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    PersistenceController p(false);
    ASSERT_NE(p.cloudStore(), nullptr);
    const QStringList aside = filesAside(dataDir.supportFolder());
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dataDir.supportFolder() + QLatin1Char('/') + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), garbage);

    const QStringList warnings = p.takeStartupWarnings();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(aside.first()));
    EXPECT_TRUE(p.takeStartupWarnings().isEmpty());

    insertText(p, QStringLiteral("new life"));
    EXPECT_TRUE(p.save().ok());
}

// The newer build still reads it where it left it: no empty history takes its place.
TEST_F(PersistenceControllerTest, aStoreFromANewerLumraIsLeftInPlaceNotReplaced)
{
    QDir().mkpath(dataDir.supportFolder());
    {
        sql::Database db;
        ASSERT_TRUE(db.open(storePath("LumraLocal.sqlite")).ok());
        ASSERT_TRUE(db.exec("CREATE TABLE future (x)").ok());
        ASSERT_TRUE(db.setUserVersion(99).ok());
    }
    {
        PersistenceController p(true);
        EXPECT_EQ(p.localStore(), nullptr);
        EXPECT_NE(p.cloudStore(), nullptr);
        EXPECT_TRUE(filesAside(dataDir.supportFolder()).isEmpty());
        const QStringList warnings = p.takeStartupWarnings();
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings.first().contains("LumraLocal.sqlite") && warnings.first().contains("newer"));
    }
    auto db = rawStore(storePath("LumraLocal.sqlite"));
    EXPECT_EQ(scalar(*db, "PRAGMA user_version"), 99);
    EXPECT_EQ(scalar(*db, "SELECT count(*) FROM sqlite_master WHERE name = 'future'"), 1);
}

TEST_F(PersistenceControllerTest, withNoStoreAtAllWritesAreRefused)
{
    const QString blocked = dataDir.root() + QStringLiteral("/not-a-folder");
    {
        QFile f(blocked);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    PersistenceController p(false, nullptr, blocked);
    EXPECT_EQ(p.cloudStore(), nullptr);
    EXPECT_FALSE(p.takeStartupWarnings().isEmpty());
    insertText(p, QStringLiteral("nowhere to go"));
    EXPECT_FALSE(p.save().ok());
    EXPECT_FALSE(p.viewContext().hasChanges());
}

TEST_F(PersistenceControllerTest, backgroundSavesReachTheMainContextQueued)
{
    PersistenceController p(false);
    ManagedObjectPtr row = insertText(p, QStringLiteral("original"));
    const QUuid id = *row->uuid(ItemAttr::id);
    ASSERT_TRUE(p.save().ok());

    QSignalSpy spy(&p, &PersistenceController::remoteChange);
    {
        auto background = p.newBackgroundContext();
        ManagedObjectPtr theirs = background->fetchById(EntityKind::item, id);
        ASSERT_NE(theirs, nullptr);
        theirs->set(ItemAttr::textContent, QStringLiteral("edited elsewhere"));
        ASSERT_TRUE(background->save().ok());
    }
    EXPECT_EQ(spy.count(), 0); // delivered on the main thread's turn, not inside the save
    deliverQueued();
    ASSERT_EQ(spy.count(), 1);
    const auto changes = spy.first().first().value<ChangeSet>();
    EXPECT_EQ(changes.updated, QList<QUuid>({id}));
    EXPECT_EQ(row->string(ItemAttr::textContent), "edited elsewhere");
}

// The whole-table count is kept as the context saves, and is taken afresh after any write it did
// not make itself: another connection's commit, a raw statement on its own connection, a failed save.
TEST_F(PersistenceControllerTest, theRowCountFollowsEveryWriterOfTheFile)
{
    PersistenceController p(false);
    ManagedObjectContext& context = p.viewContext();
    auto rows = [&] { return context.count({}).value(); };
    EXPECT_EQ(rows(), 0);
    ManagedObjectPtr first = insertText(p, QStringLiteral("one"));
    insertText(p, QStringLiteral("two"));
    ASSERT_TRUE(p.save().ok());
    EXPECT_EQ(rows(), 2);
    context.deleteObject(first);
    insertText(p, QStringLiteral("three"));
    insertText(p, QStringLiteral("four"));
    ASSERT_TRUE(p.save().ok());
    EXPECT_EQ(rows(), 3);

    {
        auto background = p.newBackgroundContext();
        for (int i = 0; i < 2; ++i)
            background->insert(EntityKind::item)->set(ItemAttr::id, QUuid::createUuid());
        ASSERT_TRUE(background->save().ok());
    }
    EXPECT_EQ(rows(), 5);
    auto other = rawStore(p.cloudStore()->path);
    ASSERT_TRUE(other->exec(QStringLiteral("DELETE FROM CDClipboardItem WHERE textContent = 'two'")).ok());
    EXPECT_EQ(rows(), 4);

    sql::Database* own = context.database(p.cloudStore());
    ASSERT_TRUE(own->exec(QStringLiteral("DELETE FROM CDClipboardItem WHERE textContent = 'three'")).ok());
    EXPECT_EQ(rows(), 3);

    ASSERT_TRUE(other->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON CDClipboardItem "
                                           "WHEN NEW.textContent = 'refused' BEGIN SELECT RAISE(ABORT, 'no'); END")).ok());
    insertText(p, QStringLiteral("five"));
    insertText(p, QStringLiteral("refused"));
    EXPECT_FALSE(p.save().ok());
    EXPECT_EQ(rows(), 3);
    FetchRequest one;
    one.affectedStore = p.cloudStore();
    EXPECT_EQ(context.count(one).value(), 3);
    EXPECT_EQ(scalar(*other, QStringLiteral("SELECT count(*) FROM CDClipboardItem")), 3);
}

// Binned rows are counted like the whole table: kept through the context's own saves (inserts,
// binning, restoring, deletes), taken afresh after any other write, with SQLite's reading of the flag.
TEST_F(PersistenceControllerTest, theBinnedCountFollowsEveryWriterOfTheFile)
{
    PersistenceController p(false);
    ManagedObjectContext& context = p.viewContext();
    auto other = rawStore(p.cloudStore()->path);
    const auto binned = [&](const QString& text, bool flag) {
        ManagedObjectPtr row = insertText(p, text);
        row->set(ItemAttr::isTrashed, flag);
        return row;
    };
    ManagedObjectPtr kept = binned(QStringLiteral("kept"), false);
    ManagedObjectPtr bin = binned(QStringLiteral("bin"), true);
    ManagedObjectPtr later = binned(QStringLiteral("later"), false);

    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"a first save", [&] { ASSERT_TRUE(p.save().ok()); }},
        {"binning a row", [&] { later->set(ItemAttr::isTrashed, true); ASSERT_TRUE(p.save().ok()); }},
        {"restoring it", [&] { later->set(ItemAttr::isTrashed, false); ASSERT_TRUE(p.save().ok()); }},
        {"an edit that leaves the flag", [&] { bin->set(ItemAttr::comment, QStringLiteral("c")); ASSERT_TRUE(p.save().ok()); }},
        {"deleting a binned row and adding one in one save", [&] {
             context.deleteObject(bin);
             binned(QStringLiteral("new bin"), true);
             ASSERT_TRUE(p.save().ok());
         }},
        {"a flag given as the text 0", [&] { later->setValue(ItemAttr::isTrashed, QStringLiteral("0")); ASSERT_TRUE(p.save().ok()); }},
        {"another connection's commit", [&] {
             ASSERT_TRUE(other->exec(QStringLiteral("UPDATE CDClipboardItem SET isTrashed = -1 WHERE textContent = 'kept'")).ok());
         }},
        {"a flag that is text", [&] {
             ASSERT_TRUE(other->exec(QStringLiteral("UPDATE CDClipboardItem SET isTrashed = 'yes' WHERE textContent = 'later'")).ok());
         }},
        {"a background context", [&] {
             auto background = p.newBackgroundContext();
             ManagedObjectPtr row = background->insert(EntityKind::item);
             row->set(ItemAttr::id, QUuid::createUuid());
             row->set(ItemAttr::isTrashed, true);
             ASSERT_TRUE(background->save().ok());
         }},
        {"a raw statement on the context's own connection", [&] {
             ASSERT_TRUE(context.database(p.cloudStore())->exec(QStringLiteral("UPDATE CDClipboardItem SET isTrashed = 0")).ok());
         }},
        {"a save that fails", [&] {
             ASSERT_TRUE(other->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON CDClipboardItem "
                                                    "WHEN NEW.textContent = 'refused' BEGIN SELECT RAISE(ABORT, 'no'); END")).ok());
             binned(QStringLiteral("fine"), true);
             binned(QStringLiteral("refused"), true);
             EXPECT_FALSE(p.save().ok());
         }},
        {"binning after the failure", [&] { kept->set(ItemAttr::isTrashed, true); ASSERT_TRUE(p.save().ok()); }},
    };
    EXPECT_EQ(context.trashedItemCount().value(), 0);
    for (const auto& [step, run] : steps) {
        run();
        EXPECT_EQ(context.trashedItemCount().value(), scalar(*other, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE isTrashed != 0")))
            << "after " << step;
    }
    EXPECT_EQ(context.trashedItemCount().value(), 1);
}

// A text row keeps no contentType in the file (a NULL costs one byte, "text" five), yet reads and
// matches as "text"; the duplicate key is a 32-bit integer.
TEST_F(PersistenceControllerTest, aTextRowStoresNoContentTypeYetReadsAndMatchesAsText)
{
    PersistenceController p(false);
    const QUuid textId = insertText(p, QStringLiteral("hello"))->uuid(ItemAttr::id).value();
    ManagedObjectPtr file = insertText(p, QString());
    file->set(ItemAttr::contentType, QStringLiteral("file"));
    file->set(ItemAttr::fileURLStringsJSON, QStringLiteral(R"(["file:///a"])"));
    ASSERT_TRUE(p.save().ok());

    auto db = rawStore(p.cloudStore()->path);
    EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE contentType IS NULL")), 1);
    EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE contentType = 'file'")), 1);
    EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem "
                                         "WHERE typeof(contentKey) = 'integer' AND contentKey BETWEEN -2147483648 AND 2147483647")), 2);

    PersistenceController reopened(false);
    ManagedObjectContext& context = reopened.viewContext();
    ManagedObjectPtr text = context.fetchById(EntityKind::item, textId);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->value(ItemAttr::contentType), sql::Value(QStringLiteral("text")));
    const std::vector<std::pair<Predicate, int>> cases = {
        {Predicate::eq("contentType", "text"), 1},
        {Predicate::ne("contentType", "text"), 1},
        {Predicate::eq("contentType", "file"), 1},
        {Predicate::in("contentType", {QStringLiteral("text")}), 1},
        {Predicate::in("contentType", {QStringLiteral("text"), QStringLiteral("file")}), 2},
        {Predicate::in("contentType", {QStringLiteral("image")}), 0},
        {!Predicate::eq("contentType", "text"), 1},
        {Predicate::in("comment", {sql::Value {}}), 0}, // as in SQL, a NULL in the list matches nothing
    };
    for (const auto& [predicate, expected] : cases) {
        FetchRequest request;
        request.predicate = predicate;
        EXPECT_EQ(context.count(request).value(), expected) << predicate.sql().toStdString();
    }
}

// A new store has 16 KB pages, a write-ahead log kept to about 4 MB and incremental auto-vacuum:
// after a large removal the file shrinks.
TEST_F(PersistenceControllerTest, aLargeRemovalGivesItsPagesBack)
{
    PersistenceController p(false);
    auto db = rawStore(p.cloudStore()->path);
    EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA page_size")), 16384);
    EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA auto_vacuum")), 2);
    // The window's connection leaves checkpoints to a thread of its own (see below).
    EXPECT_EQ(scalar(*p.viewContext().database(p.cloudStore()), QStringLiteral("PRAGMA wal_autocheckpoint")), 0);
    QList<ManagedObjectPtr> rows;
    for (int i = 0; i < 1000; ++i)
        rows << insertText(p, QStringLiteral("%1 ").arg(i) + QString(2000, QLatin1Char('x')));
    ASSERT_TRUE(p.save().ok());
    const qint64 full = scalar(*db, QStringLiteral("PRAGMA page_count"));
    EXPECT_GT(full, 100);

    for (int i = 10; i < rows.size(); ++i)
        p.viewContext().deleteObject(rows[i]);
    ASSERT_TRUE(p.save().ok());
    EXPECT_LT(scalar(*db, QStringLiteral("PRAGMA page_count")), full / 10);
    EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA freelist_count")), 0);
    EXPECT_EQ(p.viewContext().count({}).value(), 10);
}

// A checkpoint copies and syncs megabytes; on the window's thread it held up the noting of copies made
// meanwhile. The window's connections hand it to a thread of their own, and the log is still copied
// into the store once it holds about 4 MB.
TEST_F(PersistenceControllerTest, theLogIsCheckpointedOffTheSavingThread)
{
    PersistenceController p(false);
    const QString path = p.cloudStore()->path;
    ASSERT_EQ(scalar(*p.viewContext().database(p.cloudStore()), QStringLiteral("PRAGMA wal_autocheckpoint")), 0);
    const qint64 before = QFileInfo(path).size();
    for (int save = 0; save < 40; ++save) {
        for (int i = 0; i < 50; ++i)
            insertText(p, QStringLiteral("%1 %2 ").arg(save).arg(i) + QString(3000, QLatin1Char('x')));
        ASSERT_TRUE(p.save().ok());
    }
    // Some 6 MB went through the log: the store file grows only when a checkpoint copies it there.
    bool copied = false;
    for (int i = 0; i < 200 && !copied; ++i) {
        copied = QFileInfo(path).size() > before + (2 << 20);
        if (!copied)
            QThread::msleep(50);
    }
    EXPECT_TRUE(copied) << QFileInfo(path).size();
    EXPECT_EQ(p.viewContext().count({}).value(), 2000);
}

// Rows with large rich text push the log past its target before a checkpoint catches up; the file
// goes back to about the target once the log starts over, instead of keeping its peak for good.
TEST_F(PersistenceControllerTest, theLogFileGoesBackToItsTargetAfterLargeRows)
{
    PersistenceController p(false);
    const QString wal = p.cloudStore()->path + QStringLiteral("-wal");
    for (int save = 0; save < 12; ++save) {
        insertText(p, QStringLiteral("%1 ").arg(save) + QString(1 << 20, QLatin1Char('a' + save)));
        ASSERT_TRUE(p.save().ok());
    }
    const qint64 target = 4 << 20;
    bool back = false;
    for (int i = 0; i < 200 && !back; ++i) {
        insertText(p, QStringLiteral("small %1").arg(i));
        ASSERT_TRUE(p.save().ok());
        back = QFileInfo(wal).size() <= target + (1 << 20);
        if (!back)
            QThread::msleep(50);
    }
    EXPECT_TRUE(back) << QFileInfo(wal).size();
}

} // namespace
} // namespace lumra::test
