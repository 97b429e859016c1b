#pragma once

#include "model/store/PersistenceController.h"
#include "model/store/Sqlite.h"
#include "support/TempDataDir.h"

#include <QCoreApplication>
#include <QDir>

namespace lumra::test {

// A second, raw connection to a store file, to look at or damage what Lumra wrote.
inline std::unique_ptr<sql::Database> rawStore(const QString& path)
{
    auto db = std::make_unique<sql::Database>();
    EXPECT_TRUE(db->open(path, false).ok()) << path.toStdString();
    return db;
}

inline qint64 scalar(sql::Database& db, const QString& query)
{
    sql::Statement* st = db.prepare(query);
    EXPECT_NE(st, nullptr) << query.toStdString();
    if (!st || !st->step())
        return -1;
    const qint64 v = st->int64(0);
    st->reset();
    return v;
}

class StoreTest : public DataDirTest {
protected:
    QString storePath(const QString& name) const { return dataDir.supportFolder() + QLatin1Char('/') + name; }
    // Delivers queued calls (background saves reach the main thread this way).
    static void deliverQueued() { QCoreApplication::processEvents(); }
};

} // namespace lumra::test
