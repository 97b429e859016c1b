#include "model/store/StoreSchema.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace lumra::store {

namespace {
using T = AttributeType;
const sql::Value none {};

const Attribute itemAttributes[] = {
    {"id", T::uuid, none},
    {"contentType", T::string, QStringLiteral("text")},
    {"textContent", T::string, none},
    {"rtfData", T::binary, none},
    {"imageData", T::binary, none},
    {"imageFileName", T::string, none},
    {"fileURLStringsJSON", T::string, none},
    {"fileURLIsDirectoryJSON", T::string, none},
    {"fileBookmarksJSON", T::string, none},
    {"dateAdded", T::date, none},
    {"isPinned", T::boolean, qint64(0)},
    {"isPinnedToTop", T::boolean, qint64(0)},
    {"tagsJSON", T::string, none},
    {"comment", T::string, none},
    {"categoryId", T::uuid, none},
    {"shortcutKeyCode", T::int32, qint64(-1)},
    {"shortcutModifiers", T::int64, qint64(0)},
    {"isSensitive", T::boolean, qint64(0)},
    {"sourceAppBundleId", T::string, none},
    {"sourceAppName", T::string, none},
    {"ocrText", T::string, none},
    {"lastPastedDate", T::date, none},
    {"firstCopiedDate", T::date, none},
    {"isTrashed", T::boolean, qint64(0)},
    {"trashedDate", T::date, none},
};
static_assert(std::size(itemAttributes) == ItemAttr::count);

const Attribute categoryAttributes[] = {
    {"id", T::uuid, none},
    {"name", T::string, QString()},
    {"iconName", T::string, QStringLiteral("folder.fill")},
    {"isHiddenFromFooter", T::boolean, qint64(0)},
    {"sortOrder", T::int64, qint64(0)},
};
static_assert(std::size(categoryAttributes) == CategoryAttr::count);

const Entity items {EntityKind::item, "CDClipboardItem", itemAttributes};
const Entity categories {EntityKind::category, "CDClipboardCategory", categoryAttributes};

QString columnDefinition(const Attribute& a)
{
    QString def = QString::fromLatin1(a.name);
    switch (a.type) {
    case T::string: def += QStringLiteral(" TEXT"); break;
    case T::uuid:
    case T::binary: def += QStringLiteral(" BLOB"); break;
    case T::date: def += QStringLiteral(" REAL"); break;
    case T::boolean: return def + QStringLiteral(" INTEGER NOT NULL DEFAULT 0");
    case T::int32:
    case T::int64: def += QStringLiteral(" INTEGER"); break;
    }
    if (const auto* n = std::get_if<qint64>(&a.defaultValue))
        def += QStringLiteral(" DEFAULT %1").arg(*n);
    else if (const auto* s = std::get_if<QString>(&a.defaultValue))
        def += QStringLiteral(" DEFAULT '%1'").arg(*s); // fixed literals of the model, never user text
    return def;
}

QString createTable(const Entity& e, const QString& extraColumns, QString name = {})
{
    if (name.isEmpty())
        name = QString::fromLatin1(e.name);
    QStringList columns {QStringLiteral("pk INTEGER PRIMARY KEY")};
    for (const Attribute& a : e.attributes) {
        if (e.kind == EntityKind::item && std::string_view(a.name) == "imageData")
            continue;
        columns << columnDefinition(a);
    }
    if (!extraColumns.isEmpty())
        columns << extraColumns;
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(name, columns.join(QStringLiteral(", ")));
}

QString hexDigest(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().left(32));
}

constexpr qint64 referenceEpochMs = 978307200000LL; // 2001-01-01T00:00:00Z
} // namespace

int Entity::indexOf(QStringView attribute) const
{
    for (int i = 0; i < count(); ++i)
        if (attribute == QLatin1String(attributes[size_t(i)].name))
            return i;
    return -1;
}

const Entity& itemEntity() { return items; }
const Entity& categoryEntity() { return categories; }
const Entity& entity(EntityKind kind) { return kind == EntityKind::item ? items : categories; }

namespace {

// Only what a query needs: lookups by id and by content, and the ranges by the bin flag and date (the
// oldest rows at the limit, retention, auto-clean, counting and purging the bin). The bin purge goes
// through the flag and shortcuts are looked up in memory, so the trash-date and shortcut indexes of
// earlier schemas went in schema 4.
const QString itemIndexes[] = {
    QStringLiteral("CREATE UNIQUE INDEX CDClipboardItem_id ON CDClipboardItem(id)"),
    QStringLiteral("CREATE INDEX CDClipboardItem_trash_date ON CDClipboardItem(isTrashed, dateAdded)"),
    QStringLiteral("CREATE INDEX CDClipboardItem_contentKey ON CDClipboardItem(contentKey)"),
};
const QString categoryIndex = QStringLiteral("CREATE UNIQUE INDEX CDClipboardCategory_id ON CDClipboardCategory(id)");
const QString itemExtraColumns = QStringLiteral("contentKey INTEGER, receivedDate REAL");
const QString createJournal = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS LumraCaptureJournal (pk INTEGER PRIMARY KEY, kind TEXT NOT NULL, copiedAt REAL, "
    "sourceAppBundleId TEXT, sourceAppName TEXT, itemId BLOB, mediaType TEXT, payload BLOB NOT NULL, "
    "tries INTEGER NOT NULL DEFAULT 0)");

bool isIdColumn(QAnyStringView column) { return column == u"id" || column == u"categoryId"; }
bool isContentTypeColumn(QAnyStringView column) { return column == u"contentType"; }
const char* const convertedColumns[] = {"id", "categoryId", "contentType", contentKeyColumn};

QStringList columnNames(const Entity& e)
{
    QStringList names {QStringLiteral("pk")};
    for (const Attribute& a : e.attributes)
        if (!(e.kind == EntityKind::item && std::string_view(a.name) == "imageData"))
            names << QString::fromLatin1(a.name);
    return names;
}

// Rewrites a table in this schema's form with every row, its primary key kept (the image table refers
// to it): the old rows through storedValue(), then the old table goes. Foreign keys are off meanwhile,
// or dropping the old table would take the images with it.
Status rebuildTable(sql::Database& db, const Entity& e, const QString& extraColumns)
{
    const QString name = QString::fromLatin1(e.name);
    QStringList columns = columnNames(e);
    if (!extraColumns.isEmpty())
        columns << QString::fromLatin1(contentKeyColumn);
    QStringList converted;
    for (const QString& c : columns)
        converted << (isStoredDifferently(c) ? QStringLiteral("lumra_stored_%1(%1)").arg(c) : c);
    const QString temporary = name + QStringLiteral("_upgrade");
    for (const QString& statement :
         {createTable(e, extraColumns, temporary),
          QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4").arg(temporary, columns.join(QStringLiteral(", ")),
                                                                    converted.join(QStringLiteral(", ")), name),
          QStringLiteral("DROP TABLE %1").arg(name), QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(temporary, name)}) {
        if (Status r = db.exec(statement); !r)
            return r;
    }
    return {};
}

// lumra_stored_<column>(value): storedValue() in SQL, for the columns it may change.
Status defineConversions(sql::Database& db)
{
    for (const char* column : convertedColumns) {
        const QString name = QString::fromLatin1(column);
        if (Status r = db.defineFunction(("lumra_stored_" + name).toLatin1().constData(),
                                         [name](const sql::Value& v) { return storedValue(name, v); });
            !r)
            return r;
    }
    return {};
}

Status createIndexes(sql::Database& db)
{
    for (const QString& index : itemIndexes)
        if (Status r = db.exec(index); !r)
            return r;
    return db.exec(categoryIndex);
}

QString journalMode(sql::Database& db, const char* mode)
{
    sql::Statement* st = db.prepare(QStringLiteral("PRAGMA journal_mode=%1").arg(QLatin1String(mode)));
    const QString now = st && st->step() ? st->text(0) : QString();
    if (st)
        st->reset();
    return now;
}

// Pages of 16 KB leave less unused at their ends than 4 KB ones (texts of a few KB fill a 4 KB page
// with one or two rows, about a tenth less file), and with incremental auto-vacuum the pages a large
// removal frees can be given back. Both take effect only through a VACUUM outside WAL mode: a store
// another connection holds open keeps its pages.
void compact(sql::Database& db)
{
    const bool leftWal = journalMode(db, "DELETE") == QLatin1String("delete");
    if (leftWal) {
        (void)db.exec(QStringLiteral("PRAGMA page_size=16384"));
        (void)db.exec(QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"));
    }
    (void)db.exec(QStringLiteral("VACUUM"));
    if (leftWal)
        (void)journalMode(db, "WAL");
    db.limitWriteAheadLog();
}

// The nullable columns added within schema 5 (see schemaVersion), with their types.
const char* const addedItemColumns[][2] = {{receivedDateColumn, "REAL"}};

QStringList missingItemColumns(sql::Database& db)
{
    QStringList present;
    sql::Statement* st = db.prepare(QStringLiteral("SELECT name FROM pragma_table_info('CDClipboardItem')"));
    while (st && st->step())
        present << st->text(0);
    QStringList missing;
    for (const auto& [name, type] : addedItemColumns)
        if (!present.contains(QLatin1String(name)))
            missing << QStringLiteral("%1 %2").arg(QLatin1String(name), QLatin1String(type));
    return missing;
}

Status addMissingColumns(sql::Database& db)
{
    for (const QString& column : missingItemColumns(db))
        if (Status r = db.exec(QStringLiteral("ALTER TABLE CDClipboardItem ADD COLUMN ") + column); !r)
            return r;
    return {};
}

// A store of this schema that an earlier build wrote (no added column yet) or that says
// receivedDateSchemaVersion: the same tables, brought to what this build writes. Writes only
// when something is missing, so a store that is not writable opens as it is.
Status completeSchema(sql::Database& db, int version)
{
    if (version == schemaVersion && missingItemColumns(db).isEmpty())
        return {};
    sql::Transaction tx(db);
    if (!tx.beginStatus())
        return tx.beginStatus();
    if (Status r = addMissingColumns(db); !r)
        return r;
    if (Status r = db.setUserVersion(schemaVersion); !r)
        return r;
    return tx.commit();
}

Status upgradeInTransaction(sql::Database& db, int version)
{
    sql::Transaction tx(db);
    if (!tx.beginStatus())
        return tx.beginStatus();
    if (version < 3) {
        // Every table and index in this schema's form; the indexes went with the old tables.
        if (Status r = defineConversions(db); !r)
            return r;
        if (Status r = rebuildTable(db, items, itemExtraColumns); !r)
            return r;
        if (Status r = rebuildTable(db, categories, {}); !r)
            return r;
        if (Status r = createIndexes(db); !r)
            return r;
        sql::Statement* check = db.prepare(QStringLiteral("PRAGMA foreign_key_check"));
        if (!check)
            return Status::failure(db.lastError());
        const bool dangling = check->step();
        check->reset();
        if (dangling)
            return Status::failure(QStringLiteral("an image row lost its item in the upgrade"));
    } else if (version < 4) {
        // The 64-bit digest's first 32 bits (>> keeps the sign) are the 32-bit digest of the same key.
        for (const QString& statement :
             {QStringLiteral("UPDATE CDClipboardItem SET contentKey = contentKey >> 32 WHERE typeof(contentKey) = 'integer'"),
              QStringLiteral("UPDATE CDClipboardItem SET contentType = NULL WHERE contentType = 'text'"),
              QStringLiteral("DROP INDEX IF EXISTS CDClipboardItem_trashedDate"),
              QStringLiteral("DROP INDEX IF EXISTS CDClipboardItem_shortcut")})
            if (Status r = db.exec(statement); !r)
                return r;
    }
    if (Status r = addMissingColumns(db); !r)
        return r;
    if (Status r = db.exec(createJournal); !r)
        return r;
    if (Status r = db.setUserVersion(schemaVersion); !r)
        return r;
    return tx.commit();
}

// Brings a store of an earlier schema to this one in place, in one transaction: every row stays.
Status upgradeSchema(sql::Database& db, int version)
{
    if (Status r = db.exec(QStringLiteral("PRAGMA foreign_keys=OFF")); !r)
        return r;
    Status upgraded = upgradeInTransaction(db, version);
    (void)db.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    // The old tables' pages are free now; give them back to the file system. Nothing is lost if not.
    // From schema 4 on only a table was added: nothing to give back.
    if (upgraded && version < 4)
        compact(db);
    return upgraded;
}

} // namespace

Status prepareSchema(sql::Database& db, bool* notLumraStore, bool* newer)
{
    auto foreign = [&](const QString& reason) {
        if (notLumraStore)
            *notLumraStore = true;
        return Status::failure(reason);
    };
    Result<int> version = db.userVersion();
    if (!version)
        return version.status();
    if (*version > schemaVersion && *version != receivedDateSchemaVersion) {
        if (newer)
            *newer = true;
        return Status::failure(QStringLiteral("the store was written by a newer Lumra (schema %1)").arg(*version));
    }
    if (*version >= schemaVersion) {
        if (Status r = completeSchema(db, *version); !r)
            return Status::failure(QStringLiteral("the store could not be completed: %1").arg(r.error()));
        return {};
    }
    if (*version > 0) {
        // An earlier schema keeps ids as text, which this one neither looks up nor writes: a store that
        // cannot be upgraded now (busy, a full disk) is left as it is, whole, until a later start.
        if (Status r = upgradeSchema(db, *version); !r)
            return Status::failure(QStringLiteral("the store could not be upgraded from schema %1: %2").arg(*version).arg(r.error()));
        return {};
    }

    sql::Statement* st = db.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (!st || !st->step())
        return Status::failure(db.lastError());
    const qint64 objects = st->int64(0);
    st->reset();
    if (objects != 0)
        return foreign(QStringLiteral("the file is not a Lumra store"));
    compact(db);

    QStringList statements {
        createTable(items, itemExtraColumns),
        QStringLiteral("CREATE TABLE CDClipboardItemImage (itemPk INTEGER PRIMARY KEY "
                       "REFERENCES CDClipboardItem(pk) ON DELETE CASCADE, imageData BLOB)"),
        createTable(categories, {}),
        categoryIndex,
        createJournal,
    };
    for (const QString& index : itemIndexes)
        statements << index;
    sql::Transaction tx(db);
    if (!tx.beginStatus())
        return tx.beginStatus();
    for (const QString& s : statements)
        if (Status r = db.exec(s); !r)
            return r;
    if (Status r = db.setUserVersion(schemaVersion); !r)
        return r;
    return tx.commit();
}

void releaseFreePages(sql::Database& db)
{
    auto pragma = [&db](const char* name) -> qint64 {
        sql::Statement* st = db.prepare(QStringLiteral("PRAGMA %1").arg(QLatin1String(name)));
        const qint64 value = st && st->step() ? st->int64(0) : 0;
        if (st)
            st->reset();
        return value;
    };
    const qint64 freePages = pragma("freelist_count");
    if (freePages * 4 < pragma("page_count") || freePages * pragma("page_size") < (1 << 20) || pragma("auto_vacuum") != 2)
        return;
    (void)db.exec(QStringLiteral("PRAGMA incremental_vacuum"));
}

QString contentKeyForText(const QString& text) { return QStringLiteral("t:") + hexDigest(text.toUtf8()); }
QString contentKeyForImage(const QString& imageFileName) { return QStringLiteral("i:") + imageFileName; }

QString contentKeyForFiles(QStringList urls)
{
    urls.sort();
    return QStringLiteral("f:") + hexDigest(urls.join(QChar(0)).toUtf8());
}

QString contentKey(const QString& contentType, const std::optional<QString>& text,
                   const std::optional<QString>& imageFileName, const std::optional<QString>& fileURLStringsJSON)
{
    if (contentType == QLatin1String("image"))
        return imageFileName ? contentKeyForImage(*imageFileName) : QString();
    if (contentType == QLatin1String("file")) {
        if (!fileURLStringsJSON)
            return {};
        const QJsonDocument doc = QJsonDocument::fromJson(fileURLStringsJSON->toUtf8());
        if (!doc.isArray())
            return {};
        QStringList urls;
        for (const QJsonValue& v : doc.array())
            urls << v.toString();
        return contentKeyForFiles(urls);
    }
    return text ? contentKeyForText(*text) : QString();
}

QDateTime dateFromSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(referenceEpochMs + std::llround(seconds * 1000.0), Qt::UTC);
}

double secondsFromDate(const QDateTime& date) { return double(date.toMSecsSinceEpoch() - referenceEpochMs) / 1000.0; }

sql::Value storedValue(QAnyStringView column, sql::Value value)
{
    const auto* text = std::get_if<QString>(&value);
    if (!text)
        return value;
    if (isIdColumn(column)) {
        if (const std::optional<QUuid> id = uuidFrom(value))
            return id->toRfc4122();
        return value;
    }
    if (column == QAnyStringView(contentKeyColumn)) {
        const QByteArray digest = QCryptographicHash::hash(text->toUtf8(), QCryptographicHash::Sha256);
        return qint64(qint32(qFromBigEndian<quint32>(digest.constData())));
    }
    if (isContentTypeColumn(column) && *text == QLatin1String("text"))
        return {};
    return value;
}

bool isStoredDifferently(QAnyStringView column)
{
    return std::any_of(std::begin(convertedColumns), std::end(convertedColumns),
                       [&](const char* c) { return column == QLatin1String(c); });
}

sql::Value modelValue(QAnyStringView column, sql::Value stored)
{
    if (isIdColumn(column) && std::holds_alternative<QByteArray>(stored))
        if (const std::optional<QUuid> id = uuidFrom(stored))
            return toValue(*id);
    if (isContentTypeColumn(column) && sql::isNull(stored))
        return QStringLiteral("text");
    return stored;
}

sql::Value toValue(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }
sql::Value toValue(const QDateTime& date) { return date.isValid() ? sql::Value(secondsFromDate(date)) : sql::Value(); }
sql::Value toValue(bool flag) { return qint64(flag ? 1 : 0); }
sql::Value toValue(const QString& text) { return text; }
sql::Value toValue(const QByteArray& bytes) { return bytes; }
sql::Value toValue(qint64 number) { return number; }

std::optional<QUuid> uuidFrom(const sql::Value& v)
{
    if (const auto* bytes = std::get_if<QByteArray>(&v))
        return bytes->size() == 16 ? std::optional<QUuid>(QUuid::fromRfc4122(*bytes)) : std::nullopt;
    const auto* s = std::get_if<QString>(&v);
    if (!s)
        return std::nullopt;
    const QUuid id = QUuid::fromString(*s);
    if (id.isNull() && *s != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

std::optional<QDateTime> dateFrom(const sql::Value& v)
{
    if (const auto* d = std::get_if<double>(&v))
        return dateFromSeconds(*d);
    if (const auto* n = std::get_if<qint64>(&v))
        return dateFromSeconds(double(*n));
    return std::nullopt;
}

std::optional<bool> boolFrom(const sql::Value& v)
{
    if (const auto* n = std::get_if<qint64>(&v))
        return *n != 0;
    return std::nullopt;
}

std::optional<QString> stringFrom(const sql::Value& v)
{
    if (const auto* s = std::get_if<QString>(&v))
        return *s;
    return std::nullopt;
}

std::optional<QByteArray> bytesFrom(const sql::Value& v)
{
    if (const auto* b = std::get_if<QByteArray>(&v))
        return *b;
    return std::nullopt;
}

std::optional<qint64> integerFrom(const sql::Value& v)
{
    if (const auto* n = std::get_if<qint64>(&v))
        return *n;
    return std::nullopt;
}

} // namespace lumra::store
