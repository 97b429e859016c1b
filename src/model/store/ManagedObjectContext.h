#pragma once

#include "model/store/Sqlite.h"
#include "model/store/StoreSchema.h"
#include "platform/core/Result.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace lumra::store {

// One store file and the configuration it serves ("Cloud", "Local", or "" for the single store).
struct PersistentStore {
    QString path;
    QString configuration;
    QString fileName() const;
};

class ManagedObjectContext;

// A WHERE clause over attribute names with bound values; values are never spliced into the SQL.
// Built with the factory functions and combined with &&, || and !. An empty predicate matches every row.
class Predicate {
public:
    Predicate() = default;

    template <typename V> static Predicate eq(const char* attribute, const V& v) { return compare(attribute, "=", toValue(v)); }
    template <typename V> static Predicate ne(const char* attribute, const V& v) { return compare(attribute, "!=", toValue(v)); }
    template <typename V> static Predicate lt(const char* attribute, const V& v) { return compare(attribute, "<", toValue(v)); }
    template <typename V> static Predicate le(const char* attribute, const V& v) { return compare(attribute, "<=", toValue(v)); }
    template <typename V> static Predicate gt(const char* attribute, const V& v) { return compare(attribute, ">", toValue(v)); }
    template <typename V> static Predicate ge(const char* attribute, const V& v) { return compare(attribute, ">=", toValue(v)); }
    static Predicate isNull(const char* attribute);
    static Predicate isNotNull(const char* attribute);
    static Predicate in(const char* attribute, const QList<sql::Value>& values);
    // `op` is one of = != < <= > >=; a NULL value compares with IS / IS NOT.
    static Predicate compare(const char* attribute, const char* op, sql::Value value);

    friend Predicate operator&&(const Predicate& a, const Predicate& b) { return combine(a, b, "AND"); }
    friend Predicate operator||(const Predicate& a, const Predicate& b) { return combine(a, b, "OR"); }
    friend Predicate operator!(const Predicate& a);

    bool isEmpty() const { return m_sql.isEmpty(); }
    const QString& sql() const { return m_sql; }
    const std::vector<sql::Value>& bindings() const { return m_bindings; }
    const QStringList& attributes() const { return m_attributes; }

private:
    static Predicate combine(const Predicate& a, const Predicate& b, const char* op);
    QString m_sql;
    std::vector<sql::Value> m_bindings;
    QStringList m_attributes;
};

struct SortDescriptor {
    QString attribute;
    bool ascending = true;
};

struct FetchRequest {
    EntityKind entity = EntityKind::item;
    Predicate predicate;
    std::vector<SortDescriptor> sortDescriptors;
    int fetchLimit = 0; // 0: no limit
    const PersistentStore* affectedStore = nullptr; // null: every store of the context
};

// The rows a save touched, by their `id`, so another context can refresh.
struct ChangeSet {
    QList<QUuid> inserted;
    QList<QUuid> updated;
    QList<QUuid> deleted;
    bool isEmpty() const { return inserted.isEmpty() && updated.isEmpty() && deleted.isEmpty(); }
};

// One row of CDClipboardItem or CDClipboardCategory, read and written by attribute name.
// Image bytes are read from the store on first access.
class ManagedObject : public std::enable_shared_from_this<ManagedObject> {
public:
    const Entity& entity() const { return *m_entity; }
    const PersistentStore* store() const { return m_store; }
    qint64 primaryKey() const { return m_pk; }
    bool isInserted() const { return m_inserted; }
    bool isDeleted() const { return m_deleted; }
    bool hasChanges() const { return m_inserted || m_deleted || !m_original.empty(); }

    sql::Value value(int attribute) const;
    sql::Value value(QStringView attribute) const; // NULL for an unknown name
    void setValue(int attribute, sql::Value v);
    bool setValue(QStringView attribute, sql::Value v); // false for an unknown name
    template <typename V> void set(int attribute, const V& v) { setValue(attribute, toValue(v)); }
    // An item row's receivedDate (see StoreSchema.h), written only when the row is inserted.
    void setReceivedDate(const QDateTime& date) { m_receivedDate = toValue(date); }

    std::optional<QUuid> uuid(int a) const { return uuidFrom(value(a)); }
    std::optional<QString> string(int a) const { return stringFrom(value(a)); }
    std::optional<QDateTime> date(int a) const { return dateFrom(value(a)); }
    std::optional<bool> boolean(int a) const { return boolFrom(value(a)); }
    std::optional<qint64> integer(int a) const { return integerFrom(value(a)); }
    std::optional<QByteArray> bytes(int a) const { return bytesFrom(value(a)); }
    // Whether the attribute holds bytes, without reading rich text that was not asked for yet.
    bool holdsBytes(int a) const;

    ManagedObject(const Entity& entity, const PersistentStore* store, ManagedObjectContext* context);

private:
    friend class ManagedObjectContext;
    const Entity* m_entity;
    const PersistentStore* m_store;
    ManagedObjectContext* m_context;
    qint64 m_pk = 0;
    bool m_inserted = false;
    bool m_deleted = false;
    mutable bool m_imageLoaded = false;
    mutable bool m_richTextLoaded = false;
    qint64 m_richTextSize = 0; // as fetched
    mutable std::vector<sql::Value> m_values;
    std::map<int, sql::Value> m_original; // saved values of changed attributes
    sql::Value m_receivedDate;
};
using ManagedObjectPtr = std::shared_ptr<ManagedObject>;

// Rows of one or two store files seen through one connection per file. Used on one thread only;
// background work makes its own context (PersistenceController::newBackgroundContext).
// Fetches read saved rows: save before fetching what you just inserted.
class ManagedObjectContext {
public:
    struct Connection {
        const PersistentStore* store;
        std::unique_ptr<sql::Database> db;
    };
    explicit ManagedObjectContext(std::vector<Connection> connections);
    ~ManagedObjectContext();
    ManagedObjectContext(const ManagedObjectContext&) = delete;
    ManagedObjectContext& operator=(const ManagedObjectContext&) = delete;

    Result<QList<ManagedObjectPtr>> fetch(const FetchRequest& request);
    Result<int> count(const FetchRequest& request);
    // Item rows of every store whose isTrashed is set (neither 0 nor NULL), kept like a whole table's
    // row count: counted again only after another connection committed.
    Result<int> trashedItemCount();
    // The first row whose `id` is `id`, or null (also on a fetch error).
    ManagedObjectPtr fetchById(EntityKind entity, const QUuid& id);

    // A new row with the model's defaults, placed in `store` (the first open store when that is null or
    // not open). With no open store at all the row is still made, and save() refuses it.
    ManagedObjectPtr insert(EntityKind entity, const PersistentStore* store = nullptr);
    void deleteObject(const ManagedObjectPtr& object);

    bool hasChanges() const { return !m_pending.empty(); }
    // Writes every pending change, one transaction per store. A store whose transaction fails keeps
    // nothing of it: its changes are undone in the context as well, and the failure is returned.
    Status save();
    // Drops every unsaved change.
    void rollback();
    // Re-reads unchanged rows with these ids (after another connection saved them).
    void refresh(const ChangeSet& changes);

    void setDidSaveHandler(std::function<void(const ChangeSet&)> handler) { m_didSave = std::move(handler); }

    std::vector<const PersistentStore*> stores() const;
    sql::Database* database(const PersistentStore* store) const;

    // The SELECT list of an entity's table, without image bytes: "pk, id, contentType, ...".
    static QString selectColumns(const Entity& entity);
    // Column i of that list (after pk) holds attribute columnAttributes(entity)[i].
    static const std::vector<int>& columnAttributes(const Entity& entity);
    // What a fetch reads up front: the row's columns less the rich text, read when first asked for
    // (a stamp on a row must not read megabytes of RTF).
    static const std::vector<int>& fetchedAttributes(const Entity& entity);

private:
    friend class ManagedObject;
    using Key = std::tuple<const PersistentStore*, EntityKind, qint64>;

    void markChanged(ManagedObject* object);
    void loadImage(const ManagedObject& object) const;
    void loadRichText(const ManagedObject& object) const;
    Status saveStore(const PersistentStore* store, const std::vector<ManagedObjectPtr>& objects, ChangeSet& changes);
    void revert(ManagedObject& object);
    Status validate(const FetchRequest& request) const;
    ManagedObjectPtr materialize(const Entity& entity, const PersistentStore* store, sql::Statement& st);
    enum class Kept { rows, trashedRows };
    Result<qint64> keptCount(const Connection& connection, EntityKind entity, Kept which);

    std::vector<Connection> m_connections;
    std::map<Key, std::weak_ptr<ManagedObject>> m_registered;
    std::vector<ManagedObjectPtr> m_pending;
    std::function<void(const ChangeSet&)> m_didSave;

    // Row counts of whole tables (and of their binned rows), kept up to date by this context's saves
    // so that a limit check per capture never walks the table or an index. One holds while no other
    // connection has committed and this connection wrote nothing but those saves.
    struct RowCount {
        qint64 rows = -1; // not counted yet
        qint64 trashedRows = -1;
        qint64 dataVersion = 0;
        qint64 totalChanges = 0;
    };
    std::map<std::pair<const PersistentStore*, EntityKind>, RowCount> m_rowCounts;
};

} // namespace lumra::store
