#include "model/store/PersistenceController.h"

#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"
#include "model/store/StoreSchema.h"
#include "model/store/StoreTestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

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
        for (const char* sql : {"DROP INDEX CDClipboardItem_trashedDate", "DROP INDEX CDClipboardItem_shortcut",
                                "CREATE INDEX CDClipboardItem_trashedDate ON CDClipboardItem(trashedDate)",
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
    EXPECT_EQ(scalar(*db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql LIKE '%WHERE%'")), 2);
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
