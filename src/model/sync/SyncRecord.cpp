#include "model/sync/SyncRecord.h"

#include "model/store/ManagedObjectContext.h"
#include "platform/core/JsonShape.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace lumra::sync {

using store::AttributeType;
using store::EntityKind;

namespace {

// Seconds since 1 January 2001: from 1970 to 2200.
constexpr double earliestDate = -978307200.0;
constexpr double latestDate = 6'310'000'000.0;
constexpr double maxExactInteger = 9007199254740992.0; // 2^53

bool isSynced(const store::Entity& entity, int attribute)
{
    if (entity.kind == EntityKind::category)
        return attribute != store::CategoryAttr::id;
    using namespace store::ItemAttr;
    return attribute != id && attribute != imageData && attribute != fileBookmarksJSON;
}

QString entityName(EntityKind kind) { return kind == EntityKind::item ? QStringLiteral("item") : QStringLiteral("category"); }

Status checkInteger(const QString& name, const QJsonValue& v, double low, double high)
{
    if (!v.isDouble())
        return Status::failure(name + QStringLiteral(" is not a number"));
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d || d < low || d > high)
        return Status::failure(name + QStringLiteral(" is out of range"));
    return {};
}

// `large`: the line is long enough for one string in it to pass the limit.
Status checkField(const store::Entity& entity, int attribute, const QJsonValue& v, bool large)
{
    const store::Attribute& a = entity.attribute(attribute);
    const QString name = QString::fromLatin1(a.name);
    switch (a.type) {
    case AttributeType::uuid:
        if (!v.isString() || parseUuid(v.toString()).isNull())
            return Status::failure(name + QStringLiteral(" is not a UUID"));
        return {};
    case AttributeType::string:
        if (!v.isString())
            return Status::failure(name + QStringLiteral(" is not a string"));
        if (large && v.toString().size() > maxTextBytes)
            return Status::failure(name + QStringLiteral(" is too long"));
        if (entity.kind == EntityKind::item && attribute == store::ItemAttr::contentType) {
            const QString t = v.toString();
            // Files never sync: a file row names paths on its own computer.
            if (t != u"text" && t != u"image")
                return Status::failure(QStringLiteral("unknown content type"));
        }
        return {};
    case AttributeType::binary: {
        if (!v.isString())
            return Status::failure(name + QStringLiteral(" is not Base64 text"));
        const auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() > maxRichTextBytes)
            return Status::failure(name + QStringLiteral(" is not valid Base64 or too large"));
        return {};
    }
    case AttributeType::date: {
        if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < earliestDate || v.toDouble() > latestDate)
            return Status::failure(name + QStringLiteral(" is not a date in range"));
        return {};
    }
    case AttributeType::boolean:
        if (!v.isBool())
            return Status::failure(name + QStringLiteral(" is not a Boolean"));
        return {};
    case AttributeType::int32:
    case AttributeType::int64:
        if (entity.kind == EntityKind::item && attribute == store::ItemAttr::shortcutKeyCode)
            return checkInteger(name, v, -1, 0xFFFF);
        if (entity.kind == EntityKind::item && attribute == store::ItemAttr::shortcutModifiers)
            return checkInteger(name, v, 0, 0xFFFFFFFF);
        return checkInteger(name, v, -maxExactInteger, maxExactInteger);
    }
    return Status::failure(name + QStringLiteral(" has an unknown type"));
}

QJsonValue jsonOf(const store::ManagedObject& row, int attribute)
{
    const store::Attribute& a = row.entity().attribute(attribute);
    switch (a.type) {
    case AttributeType::uuid:
        if (auto id = row.uuid(attribute))
            return uuidText(*id);
        return QJsonValue::Null;
    case AttributeType::string:
        if (auto s = row.string(attribute))
            return *s;
        return QJsonValue::Null;
    case AttributeType::binary:
        if (auto b = row.bytes(attribute))
            return QString::fromLatin1(b->toBase64());
        return QJsonValue::Null;
    case AttributeType::date:
        if (auto d = row.date(attribute))
            return store::secondsFromDate(*d);
        return QJsonValue::Null;
    case AttributeType::boolean:
        if (auto b = row.boolean(attribute))
            return *b;
        return QJsonValue::Null;
    case AttributeType::int32:
    case AttributeType::int64:
        if (auto n = row.integer(attribute))
            return double(*n);
        return QJsonValue::Null;
    }
    return QJsonValue::Null;
}

sql::Value valueOf(const store::Attribute& a, const QJsonValue& v)
{
    switch (a.type) {
    case AttributeType::uuid:
        return store::toValue(parseUuid(v.toString()));
    case AttributeType::string:
        return store::toValue(v.toString());
    case AttributeType::binary:
        return store::toValue(QByteArray::fromBase64(v.toString().toLatin1()));
    case AttributeType::date:
        return store::toValue(store::dateFromSeconds(v.toDouble()));
    case AttributeType::boolean:
        return store::toValue(v.toBool());
    case AttributeType::int32:
    case AttributeType::int64:
        return store::toValue(qint64(v.toDouble()));
    }
    return {};
}

} // namespace

bool SyncRecord::supersedes(qint64 otherMtime, const QUuid& otherDevice) const
{
    if (mtime != otherMtime)
        return mtime > otherMtime;
    return uuidText(device) > uuidText(otherDevice);
}

bool isImageHash(QStringView name)
{
    if (name.size() != 64)
        return false;
    for (QChar c : name)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

QByteArray encodeRecord(const SyncRecord& record)
{
    QJsonObject o;
    o.insert(QStringLiteral("v"), recordVersion);
    o.insert(QStringLiteral("op"), record.op == SyncRecord::Op::put ? QStringLiteral("put") : QStringLiteral("delete"));
    o.insert(QStringLiteral("entity"), entityName(record.entity));
    o.insert(QStringLiteral("id"), uuidText(record.id));
    o.insert(QStringLiteral("mtime"), double(record.mtime));
    o.insert(QStringLiteral("device"), uuidText(record.device));
    if (!record.writer.isEmpty())
        o.insert(QStringLiteral("w"), record.writer);
    if (record.op == SyncRecord::Op::remove && !record.ageRule.isEmpty()) {
        o.insert(QStringLiteral("rule"), record.ageRule);
        o.insert(QStringLiteral("threshold"), double(record.ageThreshold));
    }
    if (record.op == SyncRecord::Op::remove && record.before > 0)
        o.insert(QStringLiteral("before"), double(record.before));
    if (record.op == SyncRecord::Op::remove && !record.held.isEmpty())
        o.insert(QStringLiteral("held"), QString::fromLatin1(record.held.toHex()));
    if (record.op == SyncRecord::Op::put) {
        o.insert(QStringLiteral("fields"), record.fields);
        if (!record.imageHash.isEmpty())
            o.insert(QStringLiteral("image"), record.imageHash);
        QJsonObject stamps;
        for (auto it = record.stamps.begin(); it != record.stamps.end(); ++it)
            if (it.value() != record.mtime)
                stamps.insert(it.key(), double(it.value()));
        if (!stamps.isEmpty())
            o.insert(QStringLiteral("stamps"), stamps);
        QJsonObject was, after;
        for (auto it = record.was.begin(); it != record.was.end(); ++it)
            was.insert(it.key(), double(it.value()));
        if (!was.isEmpty())
            o.insert(QStringLiteral("was"), was);
        for (auto it = record.after.begin(); it != record.after.end(); ++it)
            if (it.value() > 0 && record.was.contains(it.key()))
                after.insert(it.key(), double(it.value()));
        if (!after.isEmpty())
            o.insert(QStringLiteral("after"), after);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

namespace {

// A record's map of field names to stamps, each within the accepted range and at most `latest`.
Status readStamps(const QJsonObject& o, const QString& key, const QString& what, EntityKind entity, qint64 latest,
                  QMap<QString, qint64>& out, qint64 lowest = earliestMtime)
{
    const QJsonValue value = o.value(key);
    if (value.isUndefined())
        return {};
    if (!value.isObject())
        return Status::failure(QStringLiteral("bad ") + what + u's');
    const QStringList& names = mergedFields(entity);
    const QJsonObject stamps = value.toObject();
    for (auto it = stamps.begin(); it != stamps.end(); ++it) {
        if (!names.contains(it.key()))
            return Status::failure(what + QStringLiteral(" of an unknown field ") + it.key().left(40));
        if (Status st = checkInteger(what, it.value(), double(lowest), double(latest)); !st)
            return st;
        out.insert(it.key(), qint64(it.value().toDouble()));
    }
    return {};
}

} // namespace

Result<SyncRecord> decodeRecord(QByteArrayView line)
{
    using R = Result<SyncRecord>;
    if (line.size() > maxLineBytes)
        return R::failure(QStringLiteral("line too long"));
    // A record is one object of a few dozen values; any other shape is refused before it is built.
    if (Status shape = checkJsonShape(line, maxRecordValues, 2); !shape)
        return R::failure(QStringLiteral("not a record: ") + shape.error());
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return R::failure(QStringLiteral("not a JSON object"));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("v")).toDouble(-1) != recordVersion)
        return R::failure(QStringLiteral("unknown record version"));

    SyncRecord r;
    const QString op = o.value(QStringLiteral("op")).toString();
    if (op == u"put")
        r.op = SyncRecord::Op::put;
    else if (op == u"delete")
        r.op = SyncRecord::Op::remove;
    else
        return R::failure(QStringLiteral("unknown operation"));

    const QString entity = o.value(QStringLiteral("entity")).toString();
    if (entity == u"item")
        r.entity = EntityKind::item;
    else if (entity == u"category")
        r.entity = EntityKind::category;
    else
        return R::failure(QStringLiteral("unknown entity"));

    r.id = parseUuid(o.value(QStringLiteral("id")).toString());
    r.device = parseUuid(o.value(QStringLiteral("device")).toString());
    if (r.id.isNull() || r.device.isNull())
        return R::failure(QStringLiteral("id or device is not a UUID"));
    if (Status s = checkInteger(QStringLiteral("mtime"), o.value(QStringLiteral("mtime")), earliestMtime, latestMtime); !s)
        return R::failure(s.error());
    r.mtime = qint64(o.value(QStringLiteral("mtime")).toDouble());
    const QJsonValue writer = o.value(QStringLiteral("w"));
    if (!writer.isUndefined()) {
        if (!writer.isString() || writer.toString().size() > 64)
            return R::failure(QStringLiteral("bad writer tag"));
        r.writer = writer.toString();
    }
    if (r.op == SyncRecord::Op::remove) {
        // An age rule's name is kept whatever it is: a rule this build does not know never agrees.
        const QJsonValue rule = o.value(QStringLiteral("rule"));
        if (!rule.isUndefined()) {
            if (!rule.isString() || rule.toString().isEmpty() || rule.toString().size() > 32)
                return R::failure(QStringLiteral("bad age rule"));
            r.ageRule = rule.toString();
            const QJsonValue threshold = o.value(QStringLiteral("threshold"));
            if (!threshold.isUndefined()) {
                if (Status s = checkInteger(QStringLiteral("threshold"), threshold, 0, maxExactInteger); !s)
                    return R::failure(s.error());
                r.ageThreshold = qint64(threshold.toDouble());
            }
        }
        const QJsonValue before = o.value(QStringLiteral("before"));
        if (!before.isUndefined()) {
            if (Status s = checkInteger(QStringLiteral("earlier stamp"), before, earliestMtime, latestMtime); !s)
                return R::failure(s.error());
            r.before = qint64(before.toDouble());
        }
        const QJsonValue held = o.value(QStringLiteral("held"));
        if (!held.isUndefined()) {
            const QString hex = held.toString();
            const bool isHex = std::all_of(hex.cbegin(), hex.cend(), [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
            if (!held.isString() || hex.size() != 32 || !isHex)
                return R::failure(QStringLiteral("bad digest of the row deleted"));
            r.held = QByteArray::fromHex(hex.toLatin1());
        }
        return r;
    }

    const QJsonValue fields = o.value(QStringLiteral("fields"));
    if (!fields.isObject())
        return R::failure(QStringLiteral("fields missing"));
    const store::Entity& e = store::entity(r.entity);
    const QJsonObject f = fields.toObject();
    for (auto it = f.begin(); it != f.end(); ++it) {
        const int attribute = e.indexOf(it.key());
        if (attribute < 0 || !isSynced(e, attribute))
            return R::failure(QStringLiteral("unknown field ") + it.key().left(40));
        if (it.value().isNull())
            continue;
        if (Status s = checkField(e, attribute, it.value(), line.size() > maxTextBytes); !s)
            return R::failure(s.error());
    }
    // Files never sync, under any content type: file URLs name paths on their writer's computer.
    if (r.entity == EntityKind::item)
        for (const int attribute : {store::ItemAttr::fileURLStringsJSON, store::ItemAttr::fileURLIsDirectoryJSON})
            if (!f.value(QString::fromLatin1(e.attribute(attribute).name)).isNull()
                && !f.value(QString::fromLatin1(e.attribute(attribute).name)).isUndefined())
                return R::failure(QStringLiteral("file URLs in a record that is not a file"));
    r.fields = f;
    const QJsonValue image = o.value(QStringLiteral("image"));
    if (!image.isUndefined()) {
        if (r.entity != EntityKind::item || !image.isString() || !isImageHash(image.toString()))
            return R::failure(QStringLiteral("bad image name"));
        r.imageHash = image.toString();
    }
    if (Status st = readStamps(o, QStringLiteral("stamps"), QStringLiteral("stamp"), r.entity, r.mtime, r.stamps); !st)
        return R::failure(st.error());
    if (Status st = readStamps(o, QStringLiteral("was"), QStringLiteral("earlier stamp"), r.entity, latestMtime, r.was); !st)
        return R::failure(st.error());
    if (Status st = readStamps(o, QStringLiteral("after"), QStringLiteral("change count"), r.entity, maxChangesAfter, r.after, 1); !st)
        return R::failure(st.error());
    for (auto it = r.after.cbegin(); it != r.after.cend(); ++it)
        if (!r.was.contains(it.key()))
            return R::failure(QStringLiteral("change count of a field not stamped again: ") + it.key());
    return r;
}

QJsonObject fieldsOfRow(const store::ManagedObject& row, QString* imageHash)
{
    const store::Entity& e = row.entity();
    QJsonObject fields;
    for (int a = 0; a < e.count(); ++a) {
        if (!isSynced(e, a))
            continue;
        // Values at the model's default are left out: applying a record puts the default back.
        if (row.value(a) == e.attribute(a).defaultValue)
            continue;
        const QJsonValue v = jsonOf(row, a);
        if (!v.isNull())
            fields.insert(QString::fromLatin1(e.attribute(a).name), v);
    }
    if (imageHash) {
        imageHash->clear();
        if (e.kind == EntityKind::item)
            if (auto bytes = row.bytes(store::ItemAttr::imageData); bytes && !bytes->isEmpty())
                *imageHash = QString::fromLatin1(QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256).toHex());
    }
    return fields;
}

void applyFields(store::ManagedObject& row, const QJsonObject& fields)
{
    const store::Entity& e = row.entity();
    for (int a = 0; a < e.count(); ++a) {
        if (!isSynced(e, a))
            continue;
        const QJsonValue v = fields.value(QString::fromLatin1(e.attribute(a).name));
        row.setValue(a, v.isUndefined() || v.isNull() ? e.attribute(a).defaultValue : valueOf(e.attribute(a), v));
    }
}

QByteArray contentDigest(const QJsonObject& fields, const QString& imageHash)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QJsonDocument(fields).toJson(QJsonDocument::Compact)); // keys come out sorted
    hash.addData(imageHash.toLatin1());
    return hash.result().left(16);
}

const QStringList& mergedFields(EntityKind kind)
{
    static const auto names = [](EntityKind k) {
        const store::Entity& e = store::entity(k);
        QStringList list;
        for (int a = 0; a < e.count(); ++a)
            if (isSynced(e, a))
                list.append(QString::fromLatin1(e.attribute(a).name));
        if (k == EntityKind::item)
            list.append(QString::fromLatin1(imageField));
        return list;
    };
    static const QStringList item = names(EntityKind::item);
    static const QStringList category = names(EntityKind::category);
    return kind == EntityKind::item ? item : category;
}

quint64 fieldHash(const QJsonValue& value)
{
    // FNV-1a over a type tag and the value: stable across computers and Qt versions.
    quint64 h = 1469598103934665603ULL;
    auto add = [&h](const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            h ^= p[i];
            h *= 1099511628211ULL;
        }
    };
    switch (value.type()) {
    case QJsonValue::Undefined:
    case QJsonValue::Null:
        return 0;
    case QJsonValue::Bool: {
        const char b[2] = {'b', char(value.toBool() ? 1 : 0)};
        add(b, 2);
        break;
    }
    case QJsonValue::Double: {
        const double d = value.toDouble();
        add("d", 1);
        add(&d, sizeof d);
        break;
    }
    case QJsonValue::String: {
        const QByteArray utf8 = value.toString().toUtf8();
        add("s", 1);
        add(utf8.constData(), size_t(utf8.size()));
        break;
    }
    default: {
        const QByteArray json = QJsonDocument(value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray())).toJson(QJsonDocument::Compact);
        add("j", 1);
        add(json.constData(), size_t(json.size()));
        break;
    }
    }
    return h == 0 ? 1 : h;
}

QList<quint64> fieldHashes(EntityKind entity, const QJsonObject& fields, const QString& imageHash)
{
    const QStringList& names = mergedFields(entity);
    QList<quint64> hashes;
    hashes.reserve(names.size());
    for (const QString& name : names)
        hashes.append(name == QLatin1String(imageField) ? (imageHash.isEmpty() ? 0 : fieldHash(imageHash)) : fieldHash(fields.value(name)));
    return hashes;
}

JournalChunk readJournal(QByteArrayView data, qint64 offset, qint64 firstLine, const QUuid& device, qint64 maxLine)
{
    JournalChunk chunk;
    chunk.nextOffset = offset;
    chunk.nextLine = firstLine;
    while (chunk.nextOffset < data.size()) {
        const qsizetype end = data.indexOf('\n', chunk.nextOffset);
        if (end < 0)
            break; // torn: the writer has not finished this line yet
        const qint64 start = chunk.nextOffset;
        const QByteArrayView line = data.sliced(start, end - start);
        const qint64 number = ++chunk.nextLine;
        chunk.nextOffset = end + 1;
        if (line.trimmed().isEmpty())
            continue;
        if (line.size() > maxLine) {
            chunk.problems.append({number, QStringLiteral("record longer than %1 bytes").arg(maxLine)});
            continue;
        }
        Result<SyncRecord> record = decodeRecord(line);
        if (!record) {
            chunk.problems.append({number, record.error()});
            continue;
        }
        if (record.value().device != device) {
            chunk.problems.append({number, QStringLiteral("record of another device")});
            continue;
        }
        chunk.records.append({number, start, std::move(record).value()});
    }
    return chunk;
}

} // namespace lumra::sync
