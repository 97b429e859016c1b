#pragma once

#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <functional>

namespace lumra::test {

// Opens each store file of a Lumra process read-only, the way any SQLite client would.
inline void forEachStore(const QString& supportFolder, const std::function<void(sqlite3*)>& read)
{
    for (const char* name : {"Lumra.sqlite", "LumraLocal.sqlite"}) {
        const QByteArray path = QFile::encodeName(supportFolder + QLatin1Char('/') + QLatin1String(name));
        if (!QFile::exists(QString::fromLocal8Bit(path)))
            continue;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 2000);
            read(db);
        }
        sqlite3_close(db);
    }
}

// The texts a Lumra process stored, newest first.
inline QStringList storedTexts(const QString& supportFolder)
{
    QStringList texts;
    forEachStore(supportFolder, [&](sqlite3* db) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT textContent FROM CDClipboardItem ORDER BY dateAdded DESC", -1, &statement,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                if (const auto* text = sqlite3_column_text(statement, 0))
                    texts << QString::fromUtf8(reinterpret_cast<const char*>(text));
            }
        }
        sqlite3_finalize(statement);
    });
    return texts;
}

// Whether any stored item's `column` holds `text`.
inline bool storedColumnContains(const QString& supportFolder, const char* column, const char* text)
{
    bool found = false;
    forEachStore(supportFolder, [&](sqlite3* db) {
        const QByteArray query = QByteArray("SELECT count(*) FROM CDClipboardItem WHERE instr(") + column + ", ?1) > 0";
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, query.constData(), -1, &statement, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(statement, 1, text, -1, SQLITE_STATIC);
            if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_int(statement, 0) > 0)
                found = true;
        }
        sqlite3_finalize(statement);
    });
    return found;
}

} // namespace lumra::test
