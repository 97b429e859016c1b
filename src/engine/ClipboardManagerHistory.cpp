#include "engine/ClipboardManager.h"

#include "model/store/HistoryReader.h"
#include "model/store/LegacyMigration.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcHistory, "lumra.history")

namespace lumra {

void ClipboardManager::setClipboardItems(QList<ClipboardItem> items)
{
    const bool changed = items != m_clipboardItems;
    m_clipboardItems = std::move(items);
    if (changed) {
        ++m_historyRevision;
        emit clipboardItemsChanged();
    }
    updateFilteredItems();
}

void ClipboardManager::editHistory(const std::function<void(QList<ClipboardItem>&, HistoryChange&)>& edit)
{
    // The index holds a share of the list: letting go of it first spares copying the whole history.
    const bool indexed = m_filterIndex && m_filterIndex->revision() == m_historyRevision;
    if (indexed)
        m_filterIndex->releaseItems();
    HistoryChange change;
    edit(m_clipboardItems, change);
    if (change.isEmpty()) {
        if (indexed)
            m_filterIndex->update(m_clipboardItems, change, m_historyRevision);
        return;
    }
    ++m_historyRevision;
    if (indexed)
        indexHistoryChange(change);
    emit clipboardItemsChanged();
    updateFilteredItems();
}

void ClipboardManager::setCategories(QList<ClipboardCategory> categories)
{
    if (categories == m_categories)
        return;
    m_categories = std::move(categories);
    emit categoriesChanged();
}

void ClipboardManager::loadItems()
{
    if (!m_reader)
        return;
    auto items = m_reader->loadItems();
    if (!items) {
        qCWarning(lcHistory).noquote() << "Failed to fetch clipboard items:" << items.error();
        return;
    }
    setClipboardItems(std::move(items).value());
}

void ClipboardManager::mergeStoreChanges(const store::ChangeSet& changes)
{
    QSet<QUuid> ids;
    for (const QList<QUuid>* list : {&changes.inserted, &changes.updated, &changes.deleted})
        ids.unite(QSet<QUuid>(list->begin(), list->end()));
    if (ids.isEmpty() || !m_persistence)
        return;
    // A row read by its id costs several times its share of a whole read: past an eighth of the
    // history, reading it all is cheaper.
    constexpr qsizetype alwaysMerged = 64;
    if (ids.size() > alwaysMerged && ids.size() * 8 > m_clipboardItems.size()) {
        loadItems();
        return;
    }
    constexpr qsizetype idsPerFetch = 500;
    const QList<QUuid> wanted(ids.begin(), ids.end());
    QList<store::ManagedObjectPtr> rows;
    for (qsizetype first = 0; first < wanted.size(); first += idsPerFetch) {
        QList<sql::Value> values;
        for (const QUuid& id : wanted.mid(first, idsPerFetch))
            values.append(store::toValue(id));
        store::FetchRequest request;
        request.predicate = store::Predicate::in("id", values);
        auto fetched = m_persistence->viewContext().fetch(request);
        if (!fetched) {
            qCWarning(lcHistory).noquote() << "Changed items not read, reading the whole history:" << fetched.error();
            loadItems();
            return;
        }
        rows += *fetched;
    }
    // As at a load: store by store, in row order, and an id held by both stores from the earlier one.
    const std::vector<const store::PersistentStore*> stores = m_persistence->viewContext().stores();
    const auto placeOf = [&stores](const store::ManagedObjectPtr& row) {
        return std::pair(std::find(stores.begin(), stores.end(), row->store()) - stores.begin(), row->primaryKey());
    };
    std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return placeOf(a) < placeOf(b); });
    QList<store::ManagedObjectPtr> live;
    for (const store::ManagedObjectPtr& row : std::as_const(rows)) {
        const std::optional<QUuid> id = row->uuid(store::ItemAttr::id);
        if (id && ids.remove(*id))
            live.append(row);
    }
    mergeSavedRows(live, QList<QUuid>(ids.begin(), ids.end()));
}

void ClipboardManager::loadCategories()
{
    if (!m_reader)
        return;
    auto categories = m_reader->loadCategories();
    if (!categories) {
        qCWarning(lcHistory).noquote() << "Failed to fetch categories:" << categories.error();
        return;
    }
    setCategories(std::move(categories).value());
    clearUnknownCategorySelection();
}

store::ManagedObjectPtr ClipboardManager::fetchManagedItem(const QUuid& id)
{
    if (!m_persistence)
        return nullptr;
    return m_persistence->viewContext().fetchById(store::EntityKind::item, id);
}

store::ManagedObjectPtr ClipboardManager::fetchManagedCategory(const QUuid& id)
{
    return m_reader ? m_reader->fetchManagedCategory(id) : nullptr;
}

std::optional<CaptureCategory> ClipboardManager::captureCategory(const store::ManagedObject& row) const
{
    return m_reader ? m_reader->captureCategory(row) : std::nullopt;
}

QStringList ClipboardManager::takeStartupWarnings()
{
    return m_persistence ? m_persistence->takeStartupWarnings() : QStringList();
}

void ClipboardManager::migrateLegacyStorage()
{
    const QString key = legacyMigrationCompleteKey;
    LegacyMigrationFlag flag {
        [this, key] { return m_defaults.boolean(key); },
        [this, key] { m_defaults.set(key, true); },
    };
    if (Status status = lumra::migrateLegacyStorage(*m_persistence, flag); !status)
        qCWarning(lcHistory).noquote() << "Legacy history not migrated:" << status.error();
}

} // namespace lumra
