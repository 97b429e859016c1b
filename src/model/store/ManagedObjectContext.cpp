#include "model/store/ManagedObjectContext.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace lumra::store {

namespace {

// Past this a picture is written into its row in pieces.
constexpr qsizetype largeImageBytes = qsizetype(1) << 20;

bool isStoredInRow(const Entity& entity, int attribute)
{
    return !(entity.kind == EntityKind::item && attribute == ItemAttr::imageData);
}

bool isReadWhenAsked(const Entity& entity, int attribute)
{
    return entity.kind == EntityKind::item && attribute == ItemAttr::rtfData;
}

bool isContentAttribute(int attribute)
{
    return attribute == ItemAttr::contentType || attribute == ItemAttr::textContent
        || attribute == ItemAttr::imageFileName || attribute == ItemAttr::fileURLStringsJSON;
}

// Where a predicate or sort may look: a column of the entity's table.
bool isQueryable(const Entity& entity, const QString& name)
{
    if (entity.kind == EntityKind::item && (name == QLatin1String(contentKeyColumn) || name == QLatin1String(receivedDateColumn)))
        return true;
    const int index = entity.indexOf(name);
    return index >= 0 && isStoredInRow(entity, index);
}

// SQLite's order of storage classes: NULL, numbers, text, blobs.
int compareValues(const sql::Value& a, const sql::Value& b)
{
    auto rank = [](const sql::Value& v) {
        switch (v.index()) {
        case 0: return 0;
        case 1:
        case 2: return 1;
        case 3: return 2;
        default: return 3;
        }
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b) ? -1 : 1;
    switch (rank(a)) {
    case 1: {
        const double x = a.index() == 1 ? double(std::get<qint64>(a)) : std::get<double>(a);
        const double y = b.index() == 1 ? double(std::get<qint64>(b)) : std::get<double>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2: return std::get<QString>(a).compare(std::get<QString>(b));
    case 3: return std::get<QByteArray>(a).compare(std::get<QByteArray>(b));
    default: return 0;
    }
}

QString tableName(const Entity& e) { return QString::fromLatin1(e.name); }

// By attribute: whether the file keeps its values in another form than the model.
const std::vector<bool>& convertedAttributes(const Entity& e)
{
    static const auto of = [](const Entity& entity) {
        std::vector<bool> converted;
        for (const Attribute& a : entity.attributes)
            converted.push_back(isStoredDifferently(QLatin1String(a.name)));
        return converted;
    };
    static const std::vector<bool> items = of(itemEntity()), categories = of(categoryEntity());
    return e.kind == EntityKind::item ? items : categories;
}

std::optional<QUuid> rowId(const ManagedObject& o) { return uuidFrom(o.value(0)); }

sql::Statement* prepareBound(sql::Database& db, const QString& text, const Predicate& predicate, QString* error)
{
    sql::Statement* st = db.prepare(text, error);
    if (!st)
        return nullptr;
    int i = 1;
    for (const sql::Value& v : predicate.bindings())
        st->bind(i++, v);
    return st;
}

} // namespace

QString PersistentStore::fileName() const { return QFileInfo(path).fileName(); }

// MARK: Predicate

Predicate Predicate::compare(const char* attribute, const char* op, sql::Value value)
{
    Predicate p;
    const QString name = QString::fromLatin1(attribute);
    p.m_attributes << name;
    const QString o = QString::fromLatin1(op);
    value = storedValue(name, std::move(value)); // which may be NULL, for a text row's contentType
    if (sql::isNull(value) && (o == QLatin1String("=") || o == QLatin1String("!="))) {
        p.m_sql = name + (o == QLatin1String("=") ? QStringLiteral(" IS NULL") : QStringLiteral(" IS NOT NULL"));
        return p;
    }
    Q_ASSERT(QStringList({"=", "!=", "<", "<=", ">", ">="}).contains(o));
    p.m_sql = QStringLiteral("%1 %2 ?").arg(name, o);
    p.m_bindings.push_back(std::move(value));
    return p;
}

Predicate Predicate::isNull(const char* attribute) { return compare(attribute, "=", {}); }
Predicate Predicate::isNotNull(const char* attribute) { return compare(attribute, "!=", {}); }

Predicate Predicate::in(const char* attribute, const QList<sql::Value>& values)
{
    Predicate p;
    p.m_attributes << QString::fromLatin1(attribute);
    if (values.isEmpty()) {
        p.m_sql = QStringLiteral("0");
        return p;
    }
    QStringList marks;
    bool orNull = false;
    for (const sql::Value& v : values) {
        sql::Value stored = storedValue(p.m_attributes.front(), v);
        if (sql::isNull(stored)) {
            orNull = orNull || !sql::isNull(v); // a value the file keeps as NULL; a NULL itself matches nothing
            continue;
        }
        marks << QStringLiteral("?");
        p.m_bindings.push_back(std::move(stored));
    }
    const QString name = QString::fromLatin1(attribute);
    p.m_sql = marks.isEmpty() ? QStringLiteral("0") : QStringLiteral("%1 IN (%2)").arg(name, marks.join(QLatin1Char(',')));
    if (orNull)
        p.m_sql = QStringLiteral("(%1 OR %2 IS NULL)").arg(p.m_sql, name);
    return p;
}

Predicate Predicate::combine(const Predicate& a, const Predicate& b, const char* op)
{
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    Predicate p;
    p.m_sql = QStringLiteral("(%1) %2 (%3)").arg(a.m_sql, QString::fromLatin1(op), b.m_sql);
    p.m_bindings = a.m_bindings;
    p.m_bindings.insert(p.m_bindings.end(), b.m_bindings.begin(), b.m_bindings.end());
    p.m_attributes = a.m_attributes + b.m_attributes;
    return p;
}

Predicate operator!(const Predicate& a)
{
    if (a.isEmpty())
        return Predicate::in("id", {}); // NOT everything: nothing
    Predicate p = a;
    p.m_sql = QStringLiteral("NOT (%1)").arg(a.m_sql);
    return p;
}

// MARK: ManagedObject

ManagedObject::ManagedObject(const Entity& entity, const PersistentStore* store, ManagedObjectContext* context)
    : m_entity(&entity), m_store(store), m_context(context), m_values(size_t(entity.count()))
{
}

sql::Value ManagedObject::value(int attribute) const
{
    if (attribute < 0 || attribute >= m_entity->count())
        return {};
    if (!isStoredInRow(*m_entity, attribute) && !m_imageLoaded) {
        m_imageLoaded = true;
        if (m_context && m_pk > 0)
            m_context->loadImage(*this);
    }
    if (isReadWhenAsked(*m_entity, attribute) && !m_richTextLoaded) {
        m_richTextLoaded = true;
        if (m_context && m_pk > 0)
            m_context->loadRichText(*this);
    }
    return m_values[size_t(attribute)];
}

bool ManagedObject::holdsBytes(int attribute) const
{
    if (isReadWhenAsked(*m_entity, attribute) && !m_richTextLoaded)
        return m_richTextSize > 0;
    const std::optional<QByteArray> bytes = bytesFrom(value(attribute));
    return bytes && !bytes->isEmpty();
}

sql::Value ManagedObject::value(QStringView attribute) const { return value(m_entity->indexOf(attribute)); }

void ManagedObject::setValue(int attribute, sql::Value v)
{
    if (attribute < 0 || attribute >= m_entity->count())
        return;
    const sql::Value current = value(attribute);
    if (current == v)
        return;
    const bool wasPending = hasChanges();
    if (!m_inserted && !m_original.count(attribute))
        m_original.emplace(attribute, current);
    m_values[size_t(attribute)] = std::move(v);
    if (!wasPending && m_context)
        m_context->markChanged(this);
}

bool ManagedObject::setValue(QStringView attribute, sql::Value v)
{
    const int index = m_entity->indexOf(attribute);
    if (index < 0)
        return false;
    setValue(index, std::move(v));
    return true;
}

// MARK: ManagedObjectContext

ManagedObjectContext::ManagedObjectContext(std::vector<Connection> connections) : m_connections(std::move(connections)) { }

ManagedObjectContext::~ManagedObjectContext()
{
    for (auto& [key, weak] : m_registered)
        if (auto o = weak.lock()) {
            // A row kept past its context still reads as it was fetched.
            if (o->m_entity->kind == EntityKind::item)
                (void)o->value(ItemAttr::rtfData);
            o->m_context = nullptr;
        }
    for (auto& o : m_pending)
        o->m_context = nullptr;
}

std::vector<const PersistentStore*> ManagedObjectContext::stores() const
{
    std::vector<const PersistentStore*> result;
    for (const Connection& c : m_connections)
        result.push_back(c.store);
    return result;
}

sql::Database* ManagedObjectContext::database(const PersistentStore* store) const
{
    for (const Connection& c : m_connections)
        if (c.store == store)
            return c.db.get();
    return nullptr;
}

const std::vector<int>& ManagedObjectContext::columnAttributes(const Entity& entity)
{
    static const auto build = [](const Entity& e) {
        std::vector<int> columns;
        for (int i = 0; i < e.count(); ++i)
            if (isStoredInRow(e, i))
                columns.push_back(i);
        return columns;
    };
    static const std::vector<int> item = build(itemEntity());
    static const std::vector<int> category = build(categoryEntity());
    return entity.kind == EntityKind::item ? item : category;
}

const std::vector<int>& ManagedObjectContext::fetchedAttributes(const Entity& entity)
{
    static const auto build = [](const Entity& e) {
        std::vector<int> columns;
        for (int a : columnAttributes(e))
            if (!isReadWhenAsked(e, a))
                columns.push_back(a);
        return columns;
    };
    static const std::vector<int> item = build(itemEntity());
    static const std::vector<int> category = build(categoryEntity());
    return entity.kind == EntityKind::item ? item : category;
}

namespace {

QString selectList(const Entity& entity, const std::vector<int>& attributes)
{
    QStringList names {QStringLiteral("pk")};
    for (int a : attributes)
        names << QString::fromLatin1(entity.attribute(a).name);
    return names.join(QStringLiteral(", "));
}

// The fetched columns and, for items, the rich text's size.
QString fetchList(const Entity& entity)
{
    const QString list = selectList(entity, ManagedObjectContext::fetchedAttributes(entity));
    return entity.kind == EntityKind::item ? list + QStringLiteral(", length(rtfData)") : list;
}

} // namespace

QString ManagedObjectContext::selectColumns(const Entity& entity) { return selectList(entity, columnAttributes(entity)); }

Status ManagedObjectContext::validate(const FetchRequest& request) const
{
    const Entity& e = entity(request.entity);
    for (const QString& a : request.predicate.attributes())
        if (!isQueryable(e, a))
            return Status::failure(QStringLiteral("%1 has no attribute %2 to query").arg(tableName(e), a));
    for (const SortDescriptor& s : request.sortDescriptors)
        if (!isQueryable(e, s.attribute))
            return Status::failure(QStringLiteral("%1 has no attribute %2 to sort by").arg(tableName(e), s.attribute));
    if (request.affectedStore && !database(request.affectedStore))
        return Status::failure(QStringLiteral("the store %1 is not available").arg(request.affectedStore->fileName()));
    return {};
}

ManagedObjectPtr ManagedObjectContext::materialize(const Entity& e, const PersistentStore* store, sql::Statement& st)
{
    const qint64 pk = st.int64(0);
    const Key key {store, e.kind, pk};
    ManagedObjectPtr object;
    if (auto it = m_registered.find(key); it != m_registered.end())
        object = it->second.lock();
    if (object && object->hasChanges())
        return object; // unsaved edits win over what the store holds
    if (!object) {
        object = std::make_shared<ManagedObject>(e, store, this);
        object->m_pk = pk;
        m_registered[key] = object;
    }
    const std::vector<int>& columns = fetchedAttributes(e);
    const std::vector<bool>& converted = convertedAttributes(e);
    for (size_t i = 0; i < columns.size(); ++i)
        object->m_values[size_t(columns[i])] = converted[size_t(columns[i])]
            ? modelValue(e.attribute(columns[i]).name, st.value(int(i) + 1))
            : st.value(int(i) + 1);
    object->m_imageLoaded = false;
    object->m_richTextLoaded = false;
    if (e.kind == EntityKind::item) {
        object->m_values[ItemAttr::rtfData] = {};
        object->m_richTextSize = st.int64(int(columns.size()) + 1);
    }
    object->m_deleted = false;
    return object;
}

Result<QList<ManagedObjectPtr>> ManagedObjectContext::fetch(const FetchRequest& request)
{
    using R = Result<QList<ManagedObjectPtr>>;
    if (Status s = validate(request); !s)
        return R::failure(s.error());
    const Entity& e = entity(request.entity);
    QString sqlText = QStringLiteral("SELECT %1 FROM %2").arg(fetchList(e), tableName(e));
    if (!request.predicate.isEmpty())
        sqlText += QStringLiteral(" WHERE ") + request.predicate.sql();
    QStringList order;
    for (const SortDescriptor& s : request.sortDescriptors)
        order << s.attribute + (s.ascending ? QStringLiteral(" ASC") : QStringLiteral(" DESC"));
    if (!order.isEmpty())
        sqlText += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
    if (request.fetchLimit > 0)
        sqlText += QStringLiteral(" LIMIT %1").arg(request.fetchLimit);

    QList<ManagedObjectPtr> rows;
    int storesRead = 0;
    for (const Connection& c : m_connections) {
        if (request.affectedStore && c.store != request.affectedStore)
            continue;
        QString error;
        sql::Statement* st = prepareBound(*c.db, sqlText, request.predicate, &error);
        if (!st)
            return R::failure(error);
        while (st->step()) {
            ManagedObjectPtr o = materialize(e, c.store, *st);
            if (!o->isDeleted())
                rows << o;
        }
        Status s = st->status();
        st->reset();
        if (!s)
            return R::failure(s.error());
        ++storesRead;
    }
    if (storesRead > 1 && !request.sortDescriptors.empty()) {
        std::vector<int> indexes;
        for (const SortDescriptor& s : request.sortDescriptors)
            indexes.push_back(e.indexOf(s.attribute));
        std::stable_sort(rows.begin(), rows.end(), [&](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
            for (size_t k = 0; k < indexes.size(); ++k) {
                if (indexes[k] < 0)
                    continue;
                const int c = compareValues(a->value(indexes[k]), b->value(indexes[k]));
                if (c != 0)
                    return request.sortDescriptors[k].ascending ? c < 0 : c > 0;
            }
            return false;
        });
    }
    if (request.fetchLimit > 0 && rows.size() > request.fetchLimit)
        rows.resize(request.fetchLimit);
    return rows;
}

Result<int> ManagedObjectContext::count(const FetchRequest& request)
{
    if (Status s = validate(request); !s)
        return Result<int>::failure(s.error());
    const Entity& e = entity(request.entity);
    QString sqlText = QStringLiteral("SELECT count(*) FROM ") + tableName(e);
    if (!request.predicate.isEmpty())
        sqlText += QStringLiteral(" WHERE ") + request.predicate.sql();
    qint64 total = 0;
    for (const Connection& c : m_connections) {
        if (request.affectedStore && c.store != request.affectedStore)
            continue;
        if (request.predicate.isEmpty()) {
            const Result<qint64> rows = keptCount(c, e.kind, Kept::rows);
            if (!rows)
                return Result<int>::failure(rows.error());
            total += *rows;
            continue;
        }
        QString error;
        sql::Statement* st = prepareBound(*c.db, sqlText, request.predicate, &error);
        if (!st)
            return Result<int>::failure(error);
        if (!st->step())
            return Result<int>::failure(st->status().error());
        total += st->int64(0);
        st->reset();
    }
    if (request.fetchLimit > 0)
        total = std::min<qint64>(total, request.fetchLimit);
    return int(total);
}

Result<int> ManagedObjectContext::trashedItemCount()
{
    qint64 total = 0;
    for (const Connection& c : m_connections) {
        const Result<qint64> rows = keptCount(c, EntityKind::item, Kept::trashedRows);
        if (!rows)
            return Result<int>::failure(rows.error());
        total += *rows;
    }
    return int(total);
}

Result<qint64> ManagedObjectContext::keptCount(const Connection& c, EntityKind kind, Kept which)
{
    const Result<qint64> version = c.db->dataVersion();
    if (!version)
        return version;
    RowCount& known = m_rowCounts[{c.store, kind}];
    if (known.dataVersion != *version || known.totalChanges != c.db->totalChanges())
        known = {-1, -1, *version, c.db->totalChanges()};
    qint64& count = which == Kept::rows ? known.rows : known.trashedRows;
    if (count >= 0)
        return count;
    // Binned rows from two short ranges of the isTrashed index ("!=" would walk all of it).
    const QString table = tableName(entity(kind));
    const QString sql = which == Kept::rows
        ? QStringLiteral("SELECT count(*) FROM %1").arg(table)
        : QStringLiteral("SELECT (SELECT count(*) FROM %1 WHERE isTrashed > 0) + (SELECT count(*) FROM %1 WHERE isTrashed < 0)").arg(table);
    QString error;
    sql::Statement* st = c.db->prepare(sql, &error);
    if (!st)
        return Result<qint64>::failure(error);
    if (!st->step())
        return Result<qint64>::failure(st->status().error());
    count = st->int64(0);
    st->reset();
    return count;
}

ManagedObjectPtr ManagedObjectContext::fetchById(EntityKind kind, const QUuid& id)
{
    FetchRequest request;
    request.entity = kind;
    request.predicate = Predicate::eq("id", id);
    request.fetchLimit = 1;
    auto rows = fetch(request);
    return rows && !rows->isEmpty() ? rows->first() : nullptr;
}

ManagedObjectPtr ManagedObjectContext::insert(EntityKind kind, const PersistentStore* store)
{
    if ((!store || !database(store)) && !m_connections.empty())
        store = m_connections.front().store;
    const Entity& e = entity(kind);
    auto object = std::make_shared<ManagedObject>(e, store, this);
    for (int i = 0; i < e.count(); ++i)
        object->m_values[size_t(i)] = e.attribute(i).defaultValue;
    object->m_imageLoaded = true;
    object->m_richTextLoaded = true;
    object->m_inserted = true;
    m_pending.push_back(object);
    return object;
}

void ManagedObjectContext::deleteObject(const ManagedObjectPtr& object)
{
    if (!object || object->m_deleted || object->m_context != this)
        return;
    const bool wasPending = object->hasChanges();
    object->m_deleted = true;
    if (!wasPending)
        m_pending.push_back(object);
}

void ManagedObjectContext::markChanged(ManagedObject* object) { m_pending.push_back(object->shared_from_this()); }

void ManagedObjectContext::loadImage(const ManagedObject& object) const
{
    sql::Database* db = database(object.m_store);
    if (!db)
        return;
    sql::Statement* st = db->prepare(QStringLiteral("SELECT imageData FROM CDClipboardItemImage WHERE itemPk = ?"));
    if (!st)
        return;
    st->bind(1, object.m_pk);
    object.m_values[ItemAttr::imageData] = st->step() ? st->value(0) : sql::Value {};
    st->reset();
}

void ManagedObjectContext::loadRichText(const ManagedObject& object) const
{
    sql::Database* db = database(object.m_store);
    sql::Statement* st = db ? db->prepare(QStringLiteral("SELECT rtfData FROM CDClipboardItem WHERE pk = ?")) : nullptr;
    if (!st)
        return;
    st->bind(1, object.m_pk);
    object.m_values[ItemAttr::rtfData] = st->step() ? st->value(0) : sql::Value {};
    st->reset();
}

Status ManagedObjectContext::saveStore(const PersistentStore* store, const std::vector<ManagedObjectPtr>& objects,
                                       ChangeSet& changes)
{
    sql::Database* db = database(store);
    if (!db)
        return Status::failure(store ? QStringLiteral("the store %1 is not available").arg(store->fileName())
                                     : QStringLiteral("no history store could be opened"));
    sql::Transaction tx(*db);
    if (!tx.beginStatus())
        return tx.beginStatus();

    // `first`, when given, receives the first column of the first row the statement gives, if any.
    auto run = [&](const QString& text, const std::vector<sql::Value>& values, std::optional<qint64>* first = nullptr) -> Status {
        QString error;
        sql::Statement* st = db->prepare(text, &error);
        if (!st)
            return Status::failure(error);
        for (size_t i = 0; i < values.size(); ++i)
            st->bind(int(i) + 1, values[i]);
        const bool row = st->step();
        if (first)
            *first = row ? std::optional<qint64>(st->int64(0)) : std::nullopt;
        Status s = st->status();
        st->reset();
        return s;
    };
    // Whether a row counts as binned, as SQLite compares what it holds (the kept count's own test).
    const QString binned = QStringLiteral(" (isTrashed > 0 OR isTrashed < 0)");
    auto isBinned = [&](qint64 pk, bool* result) -> Status {
        std::optional<qint64> value;
        Status s = run(QStringLiteral("SELECT") + binned + QStringLiteral(" FROM CDClipboardItem WHERE pk = ?"), {pk}, &value);
        *result = value.value_or(0) != 0;
        return s;
    };
    auto keyOf = [](const ManagedObject& o) -> sql::Value {
        const QString key = contentKey(stringFrom(o.m_values[ItemAttr::contentType]).value_or(QString()),
                                       stringFrom(o.m_values[ItemAttr::textContent]),
                                       stringFrom(o.m_values[ItemAttr::imageFileName]),
                                       stringFrom(o.m_values[ItemAttr::fileURLStringsJSON]));
        return key.isNull() ? sql::Value {} : storedValue(contentKeyColumn, key);
    };
    auto stored = [](const Entity& e, int a, const sql::Value& v) { return storedValue(e.attribute(a).name, v); };
    auto writeImage = [&](qint64 pk, const sql::Value& image) -> Status {
        if (sql::isNull(image))
            return run(QStringLiteral("DELETE FROM CDClipboardItemImage WHERE itemPk = ?"), {pk});
        // A large picture goes in a piece at a time, so the store never holds a second copy of it.
        const auto* bytes = std::get_if<QByteArray>(&image);
        if (!bytes || bytes->size() < largeImageBytes)
            return run(QStringLiteral("INSERT OR REPLACE INTO CDClipboardItemImage (itemPk, imageData) VALUES (?, ?)"), {pk, image});
        if (Status s = run(QStringLiteral("INSERT OR REPLACE INTO CDClipboardItemImage (itemPk, imageData) VALUES (?, zeroblob(?))"),
                           {pk, qint64(bytes->size())});
            !s)
            return s;
        return db->writeBlob("CDClipboardItemImage", "imageData", pk, *bytes);
    };

    const qint64 changesBefore = db->totalChanges();
    std::map<EntityKind, qint64> rowsAdded;
    qint64 trashedAdded = 0;
    std::vector<std::pair<ManagedObject*, qint64>> assigned;
    for (const ManagedObjectPtr& o : objects) {
        const Entity& e = *o->m_entity;
        const bool isItem = e.kind == EntityKind::item;
        const std::optional<QUuid> id = rowId(*o);
        if (o->m_deleted) {
            if (o->m_inserted)
                continue;
            // A row comes back when one was deleted: whether it was binned.
            std::optional<qint64> deleted;
            const QString returning = isItem ? QStringLiteral(" RETURNING") + binned : QStringLiteral(" RETURNING 0");
            if (Status s = run(QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(tableName(e)) + returning, {o->m_pk}, &deleted); !s)
                return s;
            rowsAdded[e.kind] -= deleted ? 1 : 0;
            trashedAdded -= deleted.value_or(0) != 0 ? 1 : 0;
            if (id) changes.deleted << *id;
        } else if (o->m_inserted) {
            QStringList names;
            std::vector<sql::Value> values;
            for (int a : columnAttributes(e)) {
                names << QString::fromLatin1(e.attribute(a).name);
                values.push_back(stored(e, a, o->m_values[size_t(a)]));
            }
            if (isItem) {
                names << QString::fromLatin1(contentKeyColumn);
                values.push_back(keyOf(*o));
                if (!sql::isNull(o->m_receivedDate)) {
                    names << QString::fromLatin1(receivedDateColumn);
                    values.push_back(o->m_receivedDate);
                }
            }
            const QString text = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                     .arg(tableName(e), names.join(QLatin1Char(',')),
                                          QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')))
                + (isItem ? QStringLiteral(" RETURNING") + binned : QString());
            std::optional<qint64> isNowBinned;
            if (Status s = run(text, values, &isNowBinned); !s)
                return s;
            trashedAdded += isNowBinned.value_or(0) != 0 ? 1 : 0;
            const qint64 pk = db->lastInsertRowId();
            assigned.emplace_back(o.get(), pk);
            ++rowsAdded[e.kind];
            if (isItem && !sql::isNull(o->m_values[ItemAttr::imageData]))
                if (Status s = writeImage(pk, o->m_values[ItemAttr::imageData]); !s)
                    return s;
            if (id) changes.inserted << *id;
        } else if (!o->m_original.empty()) {
            QStringList sets;
            std::vector<sql::Value> values;
            bool contentChanged = false;
            for (const auto& [a, original] : o->m_original) {
                if (!isStoredInRow(e, a)) {
                    if (Status s = writeImage(o->m_pk, o->m_values[size_t(a)]); !s)
                        return s;
                    continue;
                }
                sets << QString::fromLatin1(e.attribute(a).name) + QStringLiteral(" = ?");
                values.push_back(stored(e, a, o->m_values[size_t(a)]));
                contentChanged = contentChanged || (isItem && isContentAttribute(a));
            }
            if (contentChanged) {
                sets << QString::fromLatin1(contentKeyColumn) + QStringLiteral(" = ?");
                values.push_back(keyOf(*o));
            }
            if (!sets.isEmpty()) {
                const bool binChanged = isItem && o->m_original.count(ItemAttr::isTrashed);
                bool binnedBefore = false, binnedAfter = false;
                if (binChanged)
                    if (Status s = isBinned(o->m_pk, &binnedBefore); !s)
                        return s;
                values.push_back(o->m_pk);
                if (Status s = run(QStringLiteral("UPDATE %1 SET %2 WHERE pk = ?").arg(tableName(e), sets.join(QStringLiteral(", "))), values); !s)
                    return s;
                // Removed by another connection (an auto-clean pass) since it was read: the edit
                // would vanish with it, so it is not reported as saved.
                if (db->changes() == 0)
                    return Status::failure(QStringLiteral("%1 row was removed before the change could be saved").arg(tableName(e)));
                if (binChanged)
                    if (Status s = isBinned(o->m_pk, &binnedAfter); !s)
                        return s;
                trashedAdded += int(binnedAfter) - int(binnedBefore);
            }
            if (id) changes.updated << *id;
        }
    }
    if (Status s = tx.commit(); !s)
        return s;
    if (std::any_of(rowsAdded.begin(), rowsAdded.end(), [](const auto& added) { return added.second < 0; }))
        releaseFreePages(*db);

    for (auto it = m_rowCounts.begin(); it != m_rowCounts.end();) {
        RowCount& known = it->second;
        if (it->first.first != store) {
            ++it;
        } else if (known.totalChanges == changesBefore && (known.rows >= 0 || known.trashedRows >= 0)) {
            if (known.rows >= 0)
                known.rows += rowsAdded[it->first.second];
            if (known.trashedRows >= 0 && it->first.second == EntityKind::item)
                known.trashedRows += trashedAdded;
            known.totalChanges = db->totalChanges();
            ++it;
        } else {
            it = m_rowCounts.erase(it);
        }
    }
    for (auto& [object, pk] : assigned) {
        object->m_pk = pk;
        object->m_inserted = false;
        m_registered[Key {object->m_store, object->m_entity->kind, pk}] = object->weak_from_this();
    }
    for (const ManagedObjectPtr& o : objects) {
        o->m_original.clear();
        o->m_inserted = false;
        if (o->m_deleted) {
            m_registered.erase(Key {o->m_store, o->m_entity->kind, o->m_pk});
            o->m_context = nullptr;
        }
    }
    return {};
}

void ManagedObjectContext::revert(ManagedObject& o)
{
    if (o.m_inserted) {
        // Never written: the row is gone with the failed save.
        o.m_inserted = false;
        o.m_deleted = true;
        o.m_context = nullptr;
        return;
    }
    for (auto& [a, original] : o.m_original)
        o.m_values[size_t(a)] = original;
    o.m_original.clear();
    o.m_deleted = false;
}

Status ManagedObjectContext::save()
{
    if (m_pending.empty())
        return {};
    std::vector<ManagedObjectPtr> pending;
    pending.swap(m_pending);

    std::vector<const PersistentStore*> order;
    for (const ManagedObjectPtr& o : pending)
        if (std::find(order.begin(), order.end(), o->m_store) == order.end())
            order.push_back(o->m_store);

    ChangeSet changes;
    QStringList errors;
    for (const PersistentStore* store : order) {
        std::vector<ManagedObjectPtr> objects;
        for (const ManagedObjectPtr& o : pending)
            if (o->m_store == store)
                objects.push_back(o);
        ChangeSet storeChanges;
        if (Status s = saveStore(store, objects, storeChanges); !s) {
            for (const ManagedObjectPtr& o : objects)
                revert(*o);
            errors << s.error();
            continue;
        }
        changes.inserted += storeChanges.inserted;
        changes.updated += storeChanges.updated;
        changes.deleted += storeChanges.deleted;
    }
    if (m_didSave && !changes.isEmpty())
        m_didSave(changes);
    if (!errors.isEmpty())
        return Status::failure(errors.join(QStringLiteral("; ")));
    return {};
}

void ManagedObjectContext::rollback()
{
    std::vector<ManagedObjectPtr> pending;
    pending.swap(m_pending);
    for (const ManagedObjectPtr& o : pending)
        revert(*o);
}

void ManagedObjectContext::refresh(const ChangeSet& changes)
{
    QSet<QUuid> ids;
    for (const QList<QUuid>* list : {&changes.inserted, &changes.updated, &changes.deleted})
        for (const QUuid& id : *list)
            ids.insert(id);
    for (auto it = m_registered.begin(); it != m_registered.end();) {
        ManagedObjectPtr o = it->second.lock();
        if (!o) {
            it = m_registered.erase(it);
            continue;
        }
        ++it;
        const std::optional<QUuid> id = rowId(*o);
        if (o->hasChanges() || !id || !ids.contains(*id))
            continue;
        sql::Database* db = database(o->m_store);
        const Entity& e = *o->m_entity;
        sql::Statement* st = db ? db->prepare(QStringLiteral("SELECT %1 FROM %2 WHERE pk = ?").arg(fetchList(e), tableName(e))) : nullptr;
        if (!st)
            continue;
        st->bind(1, o->m_pk);
        if (st->step())
            materialize(e, o->m_store, *st);
        else if (st->status().ok())
            o->m_deleted = true;
        st->reset();
    }
}

} // namespace lumra::store
