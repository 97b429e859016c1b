#pragma once

#include <QFile>
#include <QStringList>

#include <sqlite3.h>

namespace lumra::test {

// The texts a Lumra process stored, newest first, read from its store files the way any SQLite
// client would.
inline QStringList storedTexts(const QString& supportFolder)
{
    QStringList texts;
    for (const char* name : {"Lumra.sqlite", "LumraLocal.sqlite"}) {
        const QByteArray path = QFile::encodeName(supportFolder + QLatin1Char('/') + QLatin1String(name));
        if (!QFile::exists(QString::fromLocal8Bit(path)))
            continue;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 2000);
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT textContent FROM CDClipboardItem ORDER BY dateAdded DESC", -1,
                                   &statement, nullptr) == SQLITE_OK) {
                while (sqlite3_step(statement) == SQLITE_ROW) {
                    if (const auto* text = sqlite3_column_text(statement, 0))
                        texts << QString::fromUtf8(reinterpret_cast<const char*>(text));
                }
            }
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
    }
    return texts;
}

} // namespace lumra::test
