// Bytes bound to a statement reach SQLite without a copy on the caller's thread, and stay alive
// for SQLite to read until the statement is reset, whatever the caller does with its own copy.
#include "model/store/Sqlite.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>
#include <vector>

using namespace lumra;

TEST(SqliteStatement, BoundBytesAreReadInPlaceAndOutliveTheCallersCopyUntilReset)
{
    sql::Database db;
    ASSERT_TRUE(db.openInMemory().ok());
    ASSERT_TRUE(db.exec(QStringLiteral("CREATE TABLE t (k INTEGER PRIMARY KEY, v)")).ok());
    sql::Statement* insert = db.prepare(QStringLiteral("INSERT INTO t (k, v) VALUES (?, ?)"));
    ASSERT_TRUE(insert);

    constexpr qsizetype size = 8 << 20;
    const auto picture = [](char fill) { return QByteArray(size - 4, fill) + "tail"; };
    ASSERT_GT(sqlite3_memory_used(), 0) << "SQLite keeps no count of its memory";

    // Bound from a temporary that is gone before the step; SQLite takes no copy of its own.
    const sqlite3_int64 before = sqlite3_memory_used();
    insert->bind(1, qint64(1));
    insert->bind(2, picture('a'));
    EXPECT_LT(sqlite3_memory_used() - before, size / 8) << "the bytes were copied when bound";
    EXPECT_FALSE(insert->step());
    ASSERT_TRUE(insert->status().ok()) << insert->status().error().toStdString();
    insert->reset();

    // The caller's copy changes after binding: SQLite still stores what was bound.
    QByteArray changing = picture('b');
    insert->bind(1, qint64(2));
    insert->bind(2, changing);
    changing.fill('c');
    EXPECT_FALSE(insert->step());
    insert->reset();

    // Bytes only lent to the array are gone before the step: what SQLite stores is what was bound.
    std::vector<char> lent(64, 'd');
    insert->bind(1, qint64(3));
    insert->bind(2, QByteArray::fromRawData(lent.data(), qsizetype(lent.size())));
    std::memset(lent.data(), 'e', lent.size());
    EXPECT_FALSE(insert->step());
    insert->reset();

    sql::Statement* read = db.prepare(QStringLiteral("SELECT v FROM t ORDER BY k"));
    ASSERT_TRUE(read);
    std::vector<QByteArray> stored;
    while (read->step())
        stored.push_back(read->blob(0));
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_TRUE(stored[0] == picture('a'));
    EXPECT_TRUE(stored[1] == picture('b'));
    EXPECT_EQ(stored[2], QByteArray(64, 'd'));
}
