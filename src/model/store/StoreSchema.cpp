#include "model/store/StoreSchema.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

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
    case T::uuid:
    case T::string: def += QStringLiteral(" TEXT"); break;
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

QString createTable(const Entity& e, const QString& extraColumns)
{
    QStringList columns {QStringLiteral("pk INTEGER PRIMARY KEY")};
    for (const Attribute& a : e.attributes) {
        if (e.kind == EntityKind::item && std::string_view(a.name) == "imageData")
            continue;
        columns << columnDefinition(a);
    }
    if (!extraColumns.isEmpty())
        columns << extraColumns;
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(QString::fromLatin1(e.name), columns.join(QStringLiteral(", ")));
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

const QString sparseIndexes[] = {
    QStringLiteral("CREATE INDEX CDClipboardItem_trashedDate ON CDClipboardItem(trashedDate) WHERE trashedDate IS NOT NULL"),
    QStringLiteral("CREATE INDEX CDClipboardItem_shortcut ON CDClipboardItem(shortcutKeyCode) WHERE shortcutKeyCode >= 0"),
};

// Brings a store of an earlier schema to this one in place, in one transaction: every row stays.
Status upgradeSchema(sql::Database& db, int version)
{
    sql::Transaction tx(db);
    if (!tx.beginStatus())
        return tx.beginStatus();
    if (version < 2) {
        for (const char* index : {"CDClipboardItem_trashedDate", "CDClipboardItem_shortcut"})
            if (Status r = db.exec(QStringLiteral("DROP INDEX IF EXISTS %1").arg(QLatin1String(index))); !r)
                return r;
        for (const QString& index : sparseIndexes)
            if (Status r = db.exec(index); !r)
                return r;
    }
    if (Status r = db.setUserVersion(schemaVersion); !r)
        return r;
    return tx.commit();
}

} // namespace

Status prepareSchema(sql::Database& db, bool* notLumraStore)
{
    auto foreign = [&](const QString& reason) {
        if (notLumraStore)
            *notLumraStore = true;
        return Status::failure(reason);
    };
    Result<int> version = db.userVersion();
    if (!version)
        return version.status();
    if (*version > schemaVersion)
        return foreign(QStringLiteral("the store was written by a newer Lumra (schema %1)").arg(*version));
    if (*version == schemaVersion)
        return {};
    if (*version > 0) {
        // An earlier schema reads and writes as this one does; a store that cannot be upgraded
        // now (read-only) is used as it is and upgraded at a later start.
        if (Status r = upgradeSchema(db, *version); !r)
            qWarning().noquote() << "Store kept at schema" << *version << "for now:" << r.error();
        return {};
    }

    sql::Statement* st = db.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (!st || !st->step())
        return Status::failure(db.lastError());
    const qint64 objects = st->int64(0);
    st->reset();
    if (objects != 0)
        return foreign(QStringLiteral("the file is not a Lumra store"));

    const QStringList statements {
        createTable(items, QStringLiteral("contentKey TEXT")),
        QStringLiteral("CREATE TABLE CDClipboardItemImage (itemPk INTEGER PRIMARY KEY "
                       "REFERENCES CDClipboardItem(pk) ON DELETE CASCADE, imageData BLOB)"),
        createTable(categories, {}),
        QStringLiteral("CREATE UNIQUE INDEX CDClipboardItem_id ON CDClipboardItem(id)"),
        QStringLiteral("CREATE INDEX CDClipboardItem_trash_date ON CDClipboardItem(isTrashed, dateAdded)"),
        sparseIndexes[0],
        sparseIndexes[1],
        QStringLiteral("CREATE INDEX CDClipboardItem_contentKey ON CDClipboardItem(contentKey)"),
        QStringLiteral("CREATE UNIQUE INDEX CDClipboardCategory_id ON CDClipboardCategory(id)"),
    };
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

sql::Value toValue(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }
sql::Value toValue(const QDateTime& date) { return date.isValid() ? sql::Value(secondsFromDate(date)) : sql::Value(); }
sql::Value toValue(bool flag) { return qint64(flag ? 1 : 0); }
sql::Value toValue(const QString& text) { return text; }
sql::Value toValue(const QByteArray& bytes) { return bytes; }
sql::Value toValue(qint64 number) { return number; }

std::optional<QUuid> uuidFrom(const sql::Value& v)
{
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
