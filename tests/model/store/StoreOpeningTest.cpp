#include "model/store/PersistenceController.h"

#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"
#include "model/store/StoreSchema.h"
#include "model/store/StoreTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumra::test {
namespace {

using namespace store;

// Root passes every file-mode check; with its override capabilities lowered on this thread (the
// one that opens the store) it is held to the modes like anyone else.
class FileModesApply {
public:
    FileModesApply()
    {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_lowered = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~FileModesApply()
    {
        if (m_lowered)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    bool holds() const { return ::geteuid() != 0 || m_lowered; }

private:
    __user_cap_header_struct m_header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] {};
    bool m_lowered = false;
};

class StoreOpeningTest : public StoreTest {
protected:
    // A store holding one row, closed again.
    void makeStore(const QString& text)
    {
        PersistenceController p(false);
        ManagedObjectPtr row = p.viewContext().insert(EntityKind::item);
        row->set(ItemAttr::id, QUuid::createUuid());
        row->set(ItemAttr::textContent, text);
        ASSERT_TRUE(p.save().ok());
    }

    qint64 rowCount() const
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        return scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem"));
    }

    QStringList folderEntries() const
    {
        return QDir(dataDir.supportFolder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // The store opened while something is in the way: the file stays where it is with its rows,
    // nothing can be written this run, and the user is told.
    void expectKeptAndWritesRefused(PersistenceController& p, const QStringList& entriesBefore)
    {
        EXPECT_EQ(folderEntries(), entriesBefore);
        EXPECT_EQ(p.cloudStore(), nullptr);
        const QStringList warnings = p.takeStartupWarnings();
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings.first().contains("Lumra.sqlite"));
        ManagedObjectPtr row = p.viewContext().insert(EntityKind::item);
        row->set(ItemAttr::id, QUuid::createUuid());
        EXPECT_FALSE(p.save().ok());
    }
};

TEST_F(StoreOpeningTest, AStoreOfTheEarlierSchemaIsUpgradedInPlaceWithEveryRow)
{
    QList<ClipboardItem> written;
    {
        PersistenceController p(false);
        for (int i = 0; i < 40; ++i) {
            ClipboardItem item;
            item.id = QUuid::createUuid();
            item.textContent = QStringLiteral("row %1").arg(i);
            item.dateAdded = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).addSecs(-60 * i);
            if (i % 7 == 0) {
                item.isTrashed = true;
                item.trashedDate = item.dateAdded.addSecs(30);
            }
            if (i % 9 == 0)
                item.shortcut = ItemShortcut {quint16(i), ItemShortcut::controlFlag};
            populateManagedItem(*p.viewContext().insert(EntityKind::item), item);
            written.append(item);
        }
        ASSERT_TRUE(p.save().ok());
    }
    {
        // As the earlier version wrote it: whole-column indexes, schema 1.
        auto db = rawStore(storePath("Lumra.sqlite"));
        for (const char* sql : {"CREATE INDEX CDClipboardItem_trashedDate ON CDClipboardItem(trashedDate)",
                                "CREATE INDEX CDClipboardItem_shortcut ON CDClipboardItem(shortcutKeyCode)",
                                "PRAGMA user_version=1"})
            ASSERT_TRUE(db->exec(QString::fromLatin1(sql)).ok()) << sql;
    }

    PersistenceController p(false);
    EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
    ASSERT_NE(p.cloudStore(), nullptr);
    auto loaded = HistoryReader(p).loadItems();
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(*loaded, written);
    auto db = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA user_version")), schemaVersion);
    sql::Statement* indexes = db->prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"));
    QStringList names;
    while (indexes && indexes->step())
        names << indexes->text(0);
    EXPECT_EQ(names, QStringList({"CDClipboardCategory_id", "CDClipboardItem_contentKey", "CDClipboardItem_id", "CDClipboardItem_trash_date"}));
}

// Every value of every row, as the model sees it, keyed by table and primary key.
std::map<std::pair<QString, qint64>, std::vector<sql::Value>> storedRows(sql::Database& db)
{
    std::map<std::pair<QString, qint64>, std::vector<sql::Value>> rows;
    for (const char* table : {"CDClipboardItem", "CDClipboardCategory", "CDClipboardItemImage"}) {
        sql::Statement* st = db.prepare(QStringLiteral("SELECT * FROM ") + QLatin1String(table));
        EXPECT_NE(st, nullptr);
        while (st && st->step()) {
            std::vector<sql::Value> values;
            for (int c = 0; c < st->columnCount(); ++c)
                values.push_back(st->value(c));
            rows[{QLatin1String(table), st->int64(0)}] = values;
        }
    }
    return rows;
}

QStringList columnsOf(sql::Database& db, const char* table)
{
    QStringList names;
    sql::Statement* st = db.prepare(QStringLiteral("SELECT name FROM pragma_table_info('%1') ORDER BY cid").arg(QLatin1String(table)));
    while (st && st->step())
        names << st->text(0);
    return names;
}

// A store file as it was committed, the way an earlier version of Lumra left it.
class StoreUpgradeTest : public StoreOpeningTest {
protected:
    struct Snapshot {
        std::map<std::pair<QString, qint64>, std::vector<sql::Value>> rows;
        QMap<QString, QStringList> columns;
    };

    void install(const char* file)
    {
        QDir().mkpath(dataDir.supportFolder());
        ASSERT_TRUE(QFile::copy(QStringLiteral(LUMRA_TEST_DATA_DIR "/store/") + QLatin1String(file), storePath("Lumra.sqlite")));
        QFile::setPermissions(storePath("Lumra.sqlite"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    Snapshot snapshot(int expectedVersion)
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA user_version")), expectedVersion);
        Snapshot s {storedRows(*db), {}};
        s.columns[QStringLiteral("CDClipboardItemImage")] = QStringList {"itemPk", "imageData"};
        for (const char* table : {"CDClipboardItem", "CDClipboardCategory"})
            s.columns[QLatin1String(table)] = columnsOf(*db, table);
        return s;
    }

    // The upgraded file is sound, in this schema's form, with every row of `before` in the same columns,
    // each value as `expected` says the file keeps the old one: nothing lost, nothing moved.
    void expectEveryValueKept(const Snapshot& before, const std::function<sql::Value(const QString&, const sql::Value&)>& expected)
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA user_version")), schemaVersion);
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM pragma_foreign_key_check")), 0);
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM pragma_integrity_check WHERE integrity_check != 'ok'")), 0);
        EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA page_size")), 16384);
        EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA auto_vacuum")), 2); // incremental
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index'")), 4);
        const Snapshot after = snapshot(schemaVersion);
        // Schema 6 added when an imported row was received: no earlier row was imported so.
        QMap<QString, QStringList> columns = before.columns;
        columns[QStringLiteral("CDClipboardItem")] << QString::fromLatin1(receivedDateColumn);
        EXPECT_EQ(after.columns, columns);
        ASSERT_EQ(after.rows.size(), before.rows.size());
        for (const auto& [key, values] : before.rows) {
            ASSERT_TRUE(after.rows.count(key)) << key.first.toStdString() << " " << key.second;
            if (key.first == QLatin1String("CDClipboardItem"))
                EXPECT_TRUE(sql::isNull(after.rows.at(key).back()));
            const QStringList& names = before.columns[key.first];
            for (size_t c = 0; c < values.size(); ++c)
                EXPECT_EQ(after.rows.at(key)[c], expected(names[qsizetype(c)], values[c]))
                    << key.first.toStdString() << " " << key.second << " " << names[qsizetype(c)].toStdString();
        }
    }

    // Lookups by content find the text, the image and the files.
    static void expectContentLookups(ManagedObjectContext& context)
    {
        for (const QString& key : {contentKeyForText(QStringLiteral("Rich text")), contentKeyForImage(QStringLiteral("0123456789abcdef0123456789abcdef.png")),
                                   contentKeyForFiles({QStringLiteral("file:///home/u/a"), QStringLiteral("file:///home/u/b.txt")})}) {
            FetchRequest duplicate;
            duplicate.predicate = Predicate::eq(contentKeyColumn, key);
            EXPECT_EQ(context.count(duplicate).value(), 1) << key.toStdString();
        }
        ManagedObjectPtr image = context.fetchById(EntityKind::item, QUuid("{A1B2C3D4-0003-4000-8000-000000000003}"));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->bytes(ItemAttr::imageData), QByteArray("\x89PNG\r\n\x1a\nnot really an image"));
    }
};

// A history written by schema 2 (ids and content keys as text): categories, tags, a comment, a shortcut,
// rich text, an image with its bytes and recognised text, files, a binned sensitive row and a row whose
// id is no UUID.
TEST_F(StoreUpgradeTest, FromSchema2EveryRowAndValueSurvivesAndIdsAndKeysTakeTheirCompactForm)
{
    install("schema2-history.sqlite");
    const Snapshot before = snapshot(2);
    ASSERT_EQ(before.rows.size(), 8u + 2u + 1u);

    PersistenceController p(false);
    EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
    ASSERT_NE(p.cloudStore(), nullptr);
    expectEveryValueKept(before, [](const QString& column, const sql::Value& v) { return storedValue(column, v); });
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE typeof(id) = 'blob' AND length(id) = 16")), 7);
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE typeof(contentKey) = 'integer'")), 8);
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE typeof(categoryId) = 'blob'")), 2);
        EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE contentType IS NULL")), 6);
    }

    // The model sees the same texts and ids as before; lookups by id, category and content find their rows.
    auto items = HistoryReader(p).loadItems();
    ASSERT_TRUE(items.ok());
    EXPECT_EQ(items->size(), 7);
    ManagedObjectContext& context = p.viewContext();
    const QUuid work("{3B0E4C1A-8D2F-4E6B-9A71-5C3D2E1F0A11}");
    ManagedObjectPtr tagged = context.fetchById(EntityKind::item, QUuid("{A1B2C3D4-0001-4000-8000-000000000001}"));
    ASSERT_NE(tagged, nullptr);
    EXPECT_EQ(tagged->value(ItemAttr::id), sql::Value(QStringLiteral("A1B2C3D4-0001-4000-8000-000000000001")));
    EXPECT_EQ(tagged->uuid(ItemAttr::categoryId), work);
    EXPECT_EQ(tagged->string(ItemAttr::tagsJSON), QStringLiteral("[\"work\", \"q3 numbers\"]"));
    ASSERT_NE(context.fetchById(EntityKind::category, work), nullptr);
    FetchRequest inCategory;
    inCategory.predicate = Predicate::eq("categoryId", work);
    EXPECT_EQ(context.count(inCategory).value(), 1);
    expectContentLookups(context);
}

// The same history as schema 3 left it (ids in 16 bytes, 64-bit content keys, 4 KB pages).
TEST_F(StoreUpgradeTest, FromSchema3EveryRowAndValueSurvivesAndKeysAndTypesTakeTheirShorterForm)
{
    install("schema3-history.sqlite");
    const Snapshot before = snapshot(3);
    ASSERT_EQ(before.rows.size(), 8u + 2u + 1u);
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_EQ(scalar(*db, QStringLiteral("PRAGMA page_size")), 4096);
    }

    PersistenceController p(false);
    EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
    ASSERT_NE(p.cloudStore(), nullptr);
    // A 64-bit key keeps its first 32 bits; every other value is what this version keeps for it.
    expectEveryValueKept(before, [](const QString& column, const sql::Value& v) {
        return column == QLatin1String(contentKeyColumn) ? sql::Value(std::get<qint64>(v) >> 32) : storedValue(column, v);
    });

    // The model reads the same history, and lookups by content find each kind of row.
    auto items = HistoryReader(p).loadItems();
    ASSERT_TRUE(items.ok());
    EXPECT_EQ(items->size(), 7);
    QMap<ClipboardContentType, int> kinds;
    for (const ClipboardItem& item : *items)
        ++kinds[item.contentType];
    EXPECT_EQ(kinds, (QMap<ClipboardContentType, int> {{ClipboardContentType::text, 5}, {ClipboardContentType::image, 1},
                                                       {ClipboardContentType::file, 1}}));
    ManagedObjectContext& context = p.viewContext();
    expectContentLookups(context);
    EXPECT_EQ(context.trashedItemCount().value(), 1);
}

// Two ids the earlier version kept apart (by letter case) are one id in 16 bytes: the upgrade cannot
// finish, so it leaves the file exactly as it was and the user is told; nothing is written this run.
TEST_F(StoreUpgradeTest, AnUpgradeThatCannotFinishLeavesTheStoreAsItWas)
{
    install("schema2-history.sqlite");
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(db->exec(QStringLiteral("INSERT INTO CDClipboardItem (id, textContent) "
                                            "VALUES ('a1b2c3d4-0001-4000-8000-000000000001', 'lower-case twin')")).ok());
    }
    QFile file(storePath("Lumra.sqlite"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    const QStringList entries = folderEntries();
    {
        PersistenceController p(false);
        expectKeptAndWritesRefused(p, entries);
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    auto db = rawStore(storePath("Lumra.sqlite"));
    EXPECT_EQ(scalar(*db, QStringLiteral("PRAGMA user_version")), 2);
    EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItemImage")), 1);
}

// The item ids a store yields to the build before receivedDate (schema 5), as that build opens it:
// a version above 5 is refused (and the file set aside), any other than 5 rewritten, 5 read as it is,
// each item by its attributes' names. None when it would not read the file as it is.
std::optional<QList<QUuid>> itemsAsTheBuildBeforeReadsThem(const QString& path)
{
    constexpr int itsSchema = 5;
    auto db = rawStore(path);
    if (scalar(*db, QStringLiteral("PRAGMA user_version")) != itsSchema)
        return std::nullopt;
    QStringList columns {QStringLiteral("pk")};
    const Entity& item = itemEntity();
    for (int i = 0; i < item.count(); ++i)
        if (i != ItemAttr::imageData)
            columns << QString::fromLatin1(item.attribute(i).name);
    sql::Statement* st = db->prepare(QStringLiteral("SELECT %1 FROM CDClipboardItem").arg(columns.join(u',')));
    if (!st)
        return std::nullopt;
    QList<QUuid> ids;
    while (st->step())
        ids << uuidFrom(modelValue(u"id", st->value(1 + ItemAttr::id))).value_or(QUuid());
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Stores go back and forth between this build and the one before: a column this build adds within
// schema 5 is added where missing, and the version stays what the build before opens.
TEST_F(StoreOpeningTest, EveryStoreThisBuildWritesOpensInTheBuildBeforeWithEveryItem)
{
    QList<QUuid> ids;
    {
        PersistenceController p(false);
        for (int i = 0; i < 12; ++i) {
            ManagedObjectPtr row = p.viewContext().insert(EntityKind::item);
            ids << QUuid::createUuid();
            row->set(ItemAttr::id, ids.last());
            row->set(ItemAttr::textContent, QStringLiteral("row %1").arg(i));
        }
        ASSERT_TRUE(p.save().ok());
    }
    std::sort(ids.begin(), ids.end());
    auto received = [&] {
        auto db = rawStore(storePath("Lumra.sqlite"));
        return scalar(*db, QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE receivedDate = 800000000"));
    };
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(db->exec(QStringLiteral("UPDATE CDClipboardItem SET receivedDate = 800000000 WHERE pk <= 3")).ok());
    }
    // Made afresh here.
    EXPECT_EQ(itemsAsTheBuildBeforeReadsThem(storePath("Lumra.sqlite")), ids);

    // Opened here again: every item and what was received kept, and still the build before's.
    {
        PersistenceController p(false);
        EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
        EXPECT_EQ(HistoryReader(p).loadItems().value().size(), 12);
    }
    EXPECT_EQ(received(), 3);
    EXPECT_EQ(itemsAsTheBuildBeforeReadsThem(storePath("Lumra.sqlite")), ids);

    // Made by the build before (no such column): the column is added, the version kept.
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(db->exec(QStringLiteral("ALTER TABLE CDClipboardItem DROP COLUMN receivedDate")).ok());
    }
    {
        PersistenceController p(false);
        EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
        EXPECT_EQ(HistoryReader(p).loadItems().value().size(), 12);
    }
    EXPECT_EQ(received(), 0);
    EXPECT_EQ(itemsAsTheBuildBeforeReadsThem(storePath("Lumra.sqlite")), ids);

    // Marked 6 by the one build that raised the version for the column: opened, and handed back as 5.
    {
        auto db = rawStore(storePath("Lumra.sqlite"));
        ASSERT_TRUE(db->exec(QStringLiteral("UPDATE CDClipboardItem SET receivedDate = 800000000 WHERE pk <= 3")).ok());
        ASSERT_TRUE(db->setUserVersion(receivedDateSchemaVersion).ok());
    }
    ASSERT_EQ(itemsAsTheBuildBeforeReadsThem(storePath("Lumra.sqlite")), std::nullopt);
    {
        PersistenceController p(false);
        EXPECT_TRUE(p.takeStartupWarnings().isEmpty());
        EXPECT_EQ(HistoryReader(p).loadItems().value().size(), 12);
    }
    EXPECT_EQ(received(), 3);
    EXPECT_EQ(itemsAsTheBuildBeforeReadsThem(storePath("Lumra.sqlite")), ids);
    EXPECT_EQ(folderEntries(), QStringList({"Lumra.sqlite"}));
}

TEST_F(StoreOpeningTest, AStoreLockedByAnotherConnectionIsLeftAlone)
{
    makeStore("kept");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(storePath("Lumra.sqlite")).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                                  "UPDATE CDClipboardItem SET textContent = textContent",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const QStringList before = folderEntries();
    {
        PersistenceController p(false);
        expectKeptAndWritesRefused(p, before);
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(StoreOpeningTest, AStoreThatCannotBeOpenedForNowIsLeftAlone)
{
    makeStore("kept");
    // The write-ahead log cannot be opened: an I/O failure, not a damaged history.
    ASSERT_TRUE(QDir().mkpath(storePath("Lumra.sqlite-wal")));
    const QStringList before = folderEntries();
    {
        PersistenceController p(false);
        expectKeptAndWritesRefused(p, before);
    }
    ASSERT_TRUE(QDir().rmdir(storePath("Lumra.sqlite-wal")));
    EXPECT_EQ(rowCount(), 1);
}

// (Lumra's own folder is made private, 0700, whatever mode it had: a read-only one is mended.)
TEST_F(StoreOpeningTest, AReadOnlyStoreIsLeftAloneAndWritesAreRefused)
{
    FileModesApply modes;
    ASSERT_TRUE(modes.holds()) << "file modes cannot be made to apply to this process";
    makeStore("kept");
    const QByteArray native = QFile::encodeName(storePath("Lumra.sqlite"));
    ASSERT_EQ(::chmod(native.constData(), 0400), 0);
    const QStringList before = folderEntries();
    {
        PersistenceController p(false);
        expectKeptAndWritesRefused(p, before);
    }
    ASSERT_EQ(::chmod(native.constData(), 0600), 0);
    EXPECT_EQ(rowCount(), 1);
}

} // namespace
} // namespace lumra::test
