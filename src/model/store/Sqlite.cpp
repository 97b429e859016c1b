#include "model/store/Sqlite.h"

#include "platform/core/BackgroundWork.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumra::sql {

namespace {
QString errorText(sqlite3* db, int code)
{
    const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(msg)).arg(code);
}

// SQLite creates its files with the umask's mode; create the main file 0600 first so the
// history is never readable by others, and keep the -wal/-shm companions private the same way.
void restrictMode(const QString& path)
{
    for (const QString& p : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        const QByteArray native = QFile::encodeName(p);
        struct stat st;
        if (::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode))
            ::chmod(native.constData(), S_IRUSR | S_IWUSR);
    }
}
} // namespace

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::bind(int index, const Value& value)
{
    std::visit([&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) bindNull(index);
        else bind(index, v);
    }, value);
}

void Statement::bindNull(int index) { sqlite3_bind_null(m_stmt, index); }
void Statement::bind(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }
void Statement::bind(int index, double value) { sqlite3_bind_double(m_stmt, index, value); }

namespace {
// Bytes SQLite reads in place, each held until SQLite lets go of its binding (rebound, cleared,
// finalized), which names them by their address only. Never destroyed: a statement may be
// finalized as the program ends.
struct Lent {
    std::mutex mutex;
    std::unordered_multimap<const void*, QByteArray> bytes;
};
Lent& lent()
{
    static Lent* const held = new Lent;
    return *held;
}

const char* lend(const QByteArray& bytes)
{
    const std::lock_guard lock(lent().mutex);
    return lent().bytes.emplace(bytes.constData(), bytes)->second.constData();
}

void giveBack(void* data)
{
    QByteArray released; // let go of once the lock is
    const std::lock_guard lock(lent().mutex);
    if (const auto it = lent().bytes.find(data); it != lent().bytes.end()) {
        released = std::move(it->second);
        lent().bytes.erase(it);
    }
}
} // namespace

void Statement::bind(int index, const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, const QByteArray& value)
{
    // A null QByteArray would bind as SQL NULL; an empty blob must stay a blob.
    if (value.isEmpty()) {
        sqlite3_bind_blob(m_stmt, index, "", 0, SQLITE_STATIC);
        return;
    }
    // Bytes another owner only lends (fromRawData) may be gone before the step: those are copied.
    if (!const_cast<QByteArray&>(value).data_ptr().d_ptr()) {
        sqlite3_bind_blob(m_stmt, index, value.constData(), int(value.size()), SQLITE_TRANSIENT);
        return;
    }
    // The held reference shares the bytes; a caller that changes its own copy gets a copy of its own.
    sqlite3_bind_blob(m_stmt, index, lend(value), int(value.size()), giveBack);
}

bool Statement::step()
{
    m_lastCode = sqlite3_step(m_stmt);
    if (m_lastCode == SQLITE_ROW)
        return true;
    if (m_lastCode != SQLITE_DONE)
        m_error = errorText(sqlite3_db_handle(m_stmt), m_lastCode);
    return false;
}

Status Statement::status() const
{
    if (m_lastCode == SQLITE_ROW || m_lastCode == SQLITE_DONE || m_lastCode == 0)
        return {};
    return Status::failure(m_error);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_lastCode = 0;
    m_error.clear();
}

int Statement::columnCount() const { return sqlite3_column_count(m_stmt); }
bool Statement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
int Statement::columnType(int column) const { return sqlite3_column_type(m_stmt, column); }
qint64 Statement::int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
double Statement::real(int column) const { return sqlite3_column_double(m_stmt, column); }

QString Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
}

QByteArray Statement::blob(int column) const
{
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return size > 0 ? QByteArray(static_cast<const char*>(data), size) : QByteArray("");
}

Value Statement::value(int column) const
{
    switch (columnType(column)) {
    case SQLITE_INTEGER: return int64(column);
    case SQLITE_FLOAT: return real(column);
    case SQLITE_TEXT: return text(column);
    case SQLITE_BLOB: return blob(column);
    default: return std::monostate {};
    }
}

std::optional<std::string_view> Statement::textView(int column) const
{
    if (columnType(column) != SQLITE_TEXT)
        return std::nullopt;
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return std::string_view(data, size_t(sqlite3_column_bytes(m_stmt, column)));
}

std::optional<QUuid> Statement::uuid(int column) const
{
    if (columnType(column) == SQLITE_BLOB) {
        if (sqlite3_column_bytes(m_stmt, column) != 16)
            return std::nullopt;
        return QUuid::fromRfc4122(QByteArrayView(static_cast<const char*>(sqlite3_column_blob(m_stmt, column)), 16));
    }
    if (columnType(column) != SQLITE_TEXT)
        return std::nullopt;
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const QLatin1String text(data, sqlite3_column_bytes(m_stmt, column));
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

Database::~Database() { close(); }

Status Database::open(const QString& path, bool create)
{
    close();
    m_openFailure = 0;
    const QByteArray native = QFile::encodeName(path);
    if (create && !QFileInfo::exists(path)) {
        const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(native.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString err = errorText(m_db, rc);
        m_openFailure = m_db ? sqlite3_extended_errcode(m_db) : rc;
        close();
        return Status::failure(err);
    }
    // SQLite falls back to reading a file it may not write; Lumra would then lose every change.
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        m_openFailure = SQLITE_READONLY;
        close();
        return Status::failure(QStringLiteral("the file cannot be written"));
    }
    m_path = path;
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 1);
    // Reading the schema is what notices a file that is not a database. The page cache is small and
    // nothing is memory-mapped: what one connection read once would otherwise stay resident and grow
    // with the history, while capture and lookups touch only a few pages.
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON",
                               "PRAGMA cache_size=-2048", "PRAGMA mmap_size=0"}) {
        Statement* st = prepare(QString::fromLatin1(pragma));
        if (!st) {
            const QString err = lastError();
            m_openFailure = sqlite3_extended_errcode(m_db);
            close();
            return Status::failure(err);
        }
        while (st->step()) { }
        if (Status s = st->status(); !s) {
            m_openFailure = sqlite3_extended_errcode(m_db);
            close();
            return s;
        }
        st->reset();
    }
    limitWriteAheadLog();
    restrictMode(path);
    return {};
}

struct Database::BackgroundCheckpoint : std::enable_shared_from_this<BackgroundCheckpoint> {
    QByteArray path;
    int pages = 0;
    qint64 limitBytes = 0;
    std::atomic<bool> running {false};
};

void Database::limitWriteAheadLog(qint64 bytes)
{
    const Result<qint64> pageSize = integerPragma(QStringLiteral("PRAGMA page_size"));
    if (!pageSize || *pageSize <= 0)
        return;
    const int pages = int(std::clamp<qint64>(bytes / *pageSize, 64, 1 << 20));
    // A checkpoint that falls behind lets the file grow past the target, and SQLite keeps a log file
    // at its peak size unless told otherwise.
    (void)exec(QStringLiteral("PRAGMA journal_size_limit=%1").arg(qint64(pages) * *pageSize));
    if (m_checkpoint) {
        m_checkpoint->pages = pages;
        sqlite3_wal_hook(m_db, &Database::walCommitted, m_checkpoint.get());
    } else {
        (void)exec(QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(pages));
    }
}

void Database::checkpointInBackground(qint64 bytes)
{
    if (!m_db || m_path == QLatin1String(":memory:"))
        return;
    m_checkpoint = std::make_shared<BackgroundCheckpoint>();
    m_checkpoint->path = QFile::encodeName(m_path);
    m_checkpoint->limitBytes = bytes;
    limitWriteAheadLog(bytes);
}

// Runs after each commit on the connection's own thread: it only hands the work on.
int Database::walCommitted(void* context, sqlite3*, const char*, int pages)
{
    auto* checkpoint = static_cast<BackgroundCheckpoint*>(context);
    if (pages < checkpoint->pages || checkpoint->running.exchange(true))
        return SQLITE_OK;
    // The job keeps its own reference: the connection may close while it runs.
    const bool started = BackgroundWork::current().start(BackgroundWork::Lane::checkpoints, [self = checkpoint->shared_from_this()] {
        const QByteArray& path = self->path;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 2000);
            // A checkpoint that copies the whole log cuts the file back to the limit.
            const QByteArray limit = "PRAGMA journal_size_limit=" + QByteArray::number(self->limitBytes);
            (void)sqlite3_exec(db, limit.constData(), nullptr, nullptr, nullptr);
            // A new connection opens the log only with its first read. Passive: it never waits for or
            // holds up the writer; what it could not copy waits for the next one.
            if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) == SQLITE_OK)
                (void)sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        sqlite3_close_v2(db);
        self->running.store(false);
    });
    if (!started) // quitting: the next start checkpoints
        checkpoint->running.store(false);
    return SQLITE_OK;
}

Status Database::openInMemory()
{
    close();
    const int rc = sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const QString err = errorText(m_db, rc);
        close();
        return Status::failure(err);
    }
    m_path = QStringLiteral(":memory:");
    return {};
}

void Database::close()
{
    m_cache.clear();
    if (m_db && m_checkpoint)
        sqlite3_wal_hook(m_db, nullptr, nullptr);
    m_checkpoint.reset();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

Status Database::writeBlob(const char* table, const char* column, qint64 rowid, QByteArrayView bytes)
{
    if (!m_db)
        return Status::failure(QStringLiteral("database not open"));
    sqlite3_blob* blob = nullptr;
    int rc = sqlite3_blob_open(m_db, "main", table, column, rowid, 1, &blob);
    constexpr qsizetype piece = 1 << 20;
    for (qsizetype at = 0; rc == SQLITE_OK && at < bytes.size(); at += piece)
        rc = sqlite3_blob_write(blob, bytes.data() + at, int(std::min(piece, bytes.size() - at)), int(at));
    const int closed = sqlite3_blob_close(blob);
    if (rc == SQLITE_OK)
        rc = closed;
    if (rc != SQLITE_OK)
        return Status::failure(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(sqlite3_errmsg(m_db))).arg(rc));
    return {};
}

Status Database::exec(const QString& sql)
{
    if (!m_db)
        return Status::failure(QStringLiteral("database not open"));
    char* msg = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) {
        QString err = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(msg ? msg : sqlite3_errstr(rc))).arg(rc);
        sqlite3_free(msg);
        return Status::failure(err);
    }
    return {};
}

Statement* Database::prepare(const QString& sql, QString* error)
{
    if (!m_db) {
        if (error) *error = QStringLiteral("database not open");
        return nullptr;
    }
    std::string key = sql.toStdString();
    if (auto it = m_cache.find(key); it != m_cache.end()) {
        it->second->reset();
        return it->second.get();
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(m_db, key.c_str(), int(key.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK || !stmt) {
        if (error) *error = errorText(m_db, rc);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    auto* raw = new Statement(stmt);
    m_cache.emplace(std::move(key), std::unique_ptr<Statement>(raw));
    return raw;
}

Result<int> Database::userVersion()
{
    Result<qint64> v = integerPragma(QStringLiteral("PRAGMA user_version"));
    return v ? Result<int>(int(*v)) : Result<int>::failure(v.error());
}

Status Database::setUserVersion(int version) { return exec(QStringLiteral("PRAGMA user_version=%1").arg(version)); }

qint64 Database::lastInsertRowId() const { return m_db ? sqlite3_last_insert_rowid(m_db) : 0; }
int Database::changes() const { return m_db ? sqlite3_changes(m_db) : 0; }
qint64 Database::totalChanges() const { return m_db ? sqlite3_total_changes64(m_db) : 0; }

Result<qint64> Database::dataVersion() { return integerPragma(QStringLiteral("PRAGMA data_version")); }

Result<qint64> Database::integerPragma(const QString& pragma)
{
    QString err;
    Statement* st = prepare(pragma, &err);
    if (!st)
        return Result<qint64>::failure(err);
    if (!st->step())
        return Result<qint64>::failure(st->status().error());
    const qint64 v = st->int64(0);
    st->reset();
    return v;
}
int Database::errorCode() const { return m_db ? sqlite3_extended_errcode(m_db) : m_openFailure; }
QString Database::lastError() const { return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("database not open"); }

Status Database::begin() { return exec(QStringLiteral("BEGIN IMMEDIATE")); }

Status Database::commit()
{
    Status s = exec(QStringLiteral("COMMIT"));
    if (!s)
        rollback();
    return s;
}

namespace {
Value argumentValue(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return qint64(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_TEXT:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
    case SQLITE_BLOB: {
        const int size = sqlite3_value_bytes(v);
        return size > 0 ? QByteArray(static_cast<const char*>(sqlite3_value_blob(v)), size) : QByteArray("");
    }
    default: return std::monostate {};
    }
}

void setResult(sqlite3_context* context, const Value& value)
{
    std::visit([context](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
            sqlite3_result_null(context);
        } else if constexpr (std::is_same_v<T, qint64>) {
            sqlite3_result_int64(context, v);
        } else if constexpr (std::is_same_v<T, double>) {
            sqlite3_result_double(context, v);
        } else if constexpr (std::is_same_v<T, QString>) {
            const QByteArray utf8 = v.toUtf8();
            sqlite3_result_text(context, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_result_blob(context, v.isNull() ? "" : v.constData(), int(v.size()), SQLITE_TRANSIENT);
        }
    }, value);
}
} // namespace

Status Database::defineFunction(const char* name, std::function<Value(const Value&)> function)
{
    if (!m_db)
        return Status::failure(QStringLiteral("database not open"));
    using Function = std::function<Value(const Value&)>;
    auto call = [](sqlite3_context* context, int, sqlite3_value** arguments) {
        const auto& f = *static_cast<const Function*>(sqlite3_user_data(context));
        setResult(context, f(argumentValue(arguments[0])));
    };
    auto release = [](void* f) { delete static_cast<Function*>(f); };
    const int rc = sqlite3_create_function_v2(m_db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                              new Function(std::move(function)), call, nullptr, nullptr, release);
    if (rc != SQLITE_OK)
        return Status::failure(errorText(m_db, rc));
    return {};
}

void Database::rollback()
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        (void)exec(QStringLiteral("ROLLBACK"));
}

} // namespace lumra::sql
