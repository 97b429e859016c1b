#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

namespace lumra::sql {

// One SQLite value in its storage class; monostate is NULL.
using Value = std::variant<std::monostate, qint64, double, QString, QByteArray>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// A prepared statement owned by its Database's cache. Bindings are 1-based, columns 0-based.
class Statement {
public:
    explicit Statement(sqlite3_stmt* stmt) : m_stmt(stmt) { }
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const Value& value);
    void bindNull(int index);
    void bind(int index, qint64 value);
    void bind(int index, double value);
    void bind(int index, const QString& value);
    void bind(int index, const QByteArray& value);

    // True while a row is available; a failure ends the walk and is kept in error().
    bool step();
    Status status() const;
    void reset();

    int columnCount() const;
    bool isNull(int column) const;
    int columnType(int column) const; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
    qint64 int64(int column) const;
    double real(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;
    Value value(int column) const;
    // The UTF-8 bytes of a text column, valid until the next step; none for any other type.
    std::optional<std::string_view> textView(int column) const;
    // A UUID stored as its 16 bytes or as text, read without a detour through QString; none for anything else.
    std::optional<QUuid> uuid(int column) const;

private:
    sqlite3_stmt* m_stmt;
    int m_lastCode = 0;
    QString m_error;
};

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating when asked) with WAL, synchronous=FULL and a busy timeout. A new file is made 0600.
    Status open(const QString& path, bool create = true);
    // A private in-memory database (tests, scratch).
    Status openInMemory();
    void close();
    bool isOpen() const { return m_db != nullptr; }
    QString path() const { return m_path; }

    Status exec(const QString& sql);
    // Writes `bytes` into the blob of `column` in row `rowid` of `table`, which already holds that many
    // (zeroblob()), a piece at a time: a blob bound whole is first copied into one record of its size.
    Status writeBlob(const char* table, const char* column, qint64 rowid, QByteArrayView bytes);
    // A cached statement, reset and with its bindings cleared; null with `error` set when it does not compile.
    Statement* prepare(const QString& sql, QString* error = nullptr);

    Result<int> userVersion();
    Status setUserVersion(int version);
    qint64 lastInsertRowId() const;
    int changes() const;
    // Rows this connection has inserted, updated or deleted since it opened.
    qint64 totalChanges() const;
    // Changes whenever another connection commits to the file (never for this connection's own commits).
    Result<qint64> dataVersion();
    QString lastError() const;
    // The extended SQLite result code of the last failure: the connection's while open, else
    // that of the last open() that failed.
    int errorCode() const;

    // Checkpoints the write-ahead log once it holds about `bytes` of pages, whatever the page size: the
    // log file stays that large between checkpoints.
    void limitWriteAheadLog(qint64 bytes = 4 << 20);
    // The same limit, but the checkpoint runs on a thread of its own with a connection of its own: it
    // copies and syncs megabytes, which a connection on the window's thread must not wait for (copies
    // made meanwhile would be missed). Kept until the connection closes.
    void checkpointInBackground(qint64 bytes = 4 << 20);

    Status begin();
    Status commit();
    void rollback();

    // Makes `function` callable from this connection's SQL as name(value); deterministic.
    Status defineFunction(const char* name, std::function<Value(const Value&)> function);

    // The one integer a pragma such as "PRAGMA page_size" answers.
    Result<qint64> integerPragma(const QString& pragma);

private:

    struct BackgroundCheckpoint;
    static int walCommitted(void* checkpoint, sqlite3* db, const char* name, int pages);

    sqlite3* m_db = nullptr;
    QString m_path;
    std::shared_ptr<BackgroundCheckpoint> m_checkpoint;
    int m_openFailure = 0;
    std::unordered_map<std::string, std::unique_ptr<Statement>> m_cache;
};

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(Database& db) : m_db(db) { m_status = db.begin(); m_open = m_status.ok(); }
    ~Transaction() { if (m_open) m_db.rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    const Status& beginStatus() const { return m_status; }
    Status commit()
    {
        if (!m_open) return Status::failure(QStringLiteral("no open transaction"));
        Status s = m_db.commit();
        if (s.ok()) m_open = false;
        return s;
    }

private:
    Database& m_db;
    Status m_status;
    bool m_open = false;
};

} // namespace lumra::sql
