#include "engine/ClipboardManager.h"

#include "engine/HistoryFilter.h"
#include "engine/BackupService.h"
#include "model/store/HistoryReader.h"
#include "model/store/LegacyMigration.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"

#include <QFutureWatcher>
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
    const bool indexed = m_filters->releaseIndexedItems();
    HistoryChange change;
    edit(m_clipboardItems, change);
    if (change.isEmpty()) {
        if (indexed)
            m_filters->indexHistoryChange(change);
        return;
    }
    ++m_historyRevision;
    if (indexed)
        m_filters->indexHistoryChange(change);
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
    if (m_loadingHistory) {
        m_reloadAfterLoad = true; // the load under way may have read the rows before their change
        return;
    }
    auto items = m_reader->loadItems();
    if (!items) {
        qCWarning(lcHistory).noquote() << "Failed to fetch clipboard items:" << items.error();
        return;
    }
    setClipboardItems(std::move(items).value());
}

struct ClipboardManager::LoadedHistory {
    Result<QList<ClipboardItem>> items = Result<QList<ClipboardItem>>::failure(QString());
    std::shared_ptr<FilterIndex> index;
};

void ClipboardManager::startHistoryLoad()
{
    m_loadingHistory = true;
    emit isLoadingHistoryChanged(true);
    std::shared_ptr<store::ManagedObjectContext> context = m_persistence->newBackgroundContext();
    // One pass over the file needs little cache, and no memory map: both would stay resident after
    // the load (the freed cache pages as holes between the history's own allocations).
    for (const store::PersistentStore* store : context->stores()) {
        for (const char* pragma : {"PRAGMA mmap_size=0", "PRAGMA cache_size=-512"})
            (void)context->database(store)->exec(QString::fromLatin1(pragma));
    }
    auto loaded = std::make_shared<LoadedHistory>();
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, loaded] {
        watcher->deleteLater();
        finishHistoryLoad(*loaded);
    });
    const QDateTime readAt = m_clock.now(); // what a row without any date is given
    m_historyLoad.future = work().run(BackgroundWork::Lane::history, [context, loaded, readAt]() mutable {
        HistoryReader reader(*context);
        reader.setClock([readAt] { return readAt; });
        loaded->items = reader.loadItems();
        if (loaded->items)
            loaded->index = FilterIndex::build(*loaded->items, 0);
        context.reset();
    });
    watcher->setFuture(m_historyLoad.future);
}

void ClipboardManager::finishHistoryLoad(LoadedHistory& loaded)
{
    m_loadingHistory = false;
    if (!loaded.items) {
        qCWarning(lcHistory).noquote() << "Failed to fetch clipboard items:" << loaded.items.error();
    } else {
        // What was saved or deleted during the load is newer than what the load read. The index lets
        // go of its share of the list first, so that editing it copies nothing.
        loaded.index->releaseItems();
        QList<ClipboardItem> list = std::move(loaded.items).value();
        QHash<QUuid, qsizetype> live;
        live.reserve(m_clipboardItems.size());
        for (qsizetype i = 0; i < m_clipboardItems.size(); ++i)
            live.insert(m_clipboardItems[i].id, i);
        HistoryChange change;
        std::vector<bool> placed(size_t(m_clipboardItems.size()), false);
        qsizetype kept = 0;
        const bool nothingNewer = m_clipboardItems.isEmpty() && m_goneWhileLoading.isEmpty();
        for (qsizetype i = 0; i < list.size() && !nothingNewer; ++i) {
            const QUuid id = list[i].id;
            const qsizetype at = live.value(id, -1);
            if (at < 0 && m_goneWhileLoading.contains(id)) {
                change.removed.push_back(qint32(i));
                continue;
            }
            if (kept != i)
                list[kept] = std::move(list[i]);
            if (at >= 0) {
                list[kept] = m_clipboardItems[at];
                placed[size_t(at)] = true;
                change.changed.push_back(qint32(kept));
            }
            ++kept;
        }
        if (!nothingNewer)
            list.resize(kept);
        for (qsizetype i = 0; i < m_clipboardItems.size(); ++i) {
            if (!placed[size_t(i)]) {
                list.append(m_clipboardItems[i]);
                ++change.appended;
            }
        }
        m_clipboardItems = std::move(list);
        ++m_historyRevision;
        loaded.index->update(m_clipboardItems, change, m_historyRevision);
        // The last result counted positions in the list of the load's time: compute it afresh.
        m_filters->replaceIndex(std::move(loaded.index));
        emit clipboardItemsChanged();
        announceShortcutsChanged(); // per-item shortcuts of the loaded items
    }
    m_goneWhileLoading.clear();
    emit isLoadingHistoryChanged(false);
    updateFilteredItems();
    tidyHistoryAtStart();
    if (std::exchange(m_reloadAfterLoad, false))
        loadItems();
}

void ClipboardManager::tidyHistoryAtStart()
{
    applyRetention();
    purgeExpiredTrash();
    runAutoClean();
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
        if (m_backup->isImporting())
            reloadItemsInBackground();
        else
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

void ClipboardManager::reloadItemsInBackground()
{
    if (!m_persistence)
        return;
    if (m_loadingHistory) {
        m_reloadAfterLoad = true;
        return;
    }
    if (m_backgroundReloadRunning) {
        m_backgroundReloadAgain = true;
        return;
    }
    m_backgroundReloadRunning = true;
    std::shared_ptr<store::ManagedObjectContext> context = m_persistence->newBackgroundContext();
    for (const store::PersistentStore* store : context->stores()) {
        for (const char* pragma : {"PRAGMA mmap_size=0", "PRAGMA cache_size=-512"})
            (void)context->database(store)->exec(QString::fromLatin1(pragma));
    }
    struct Reloaded {
        Result<QList<ClipboardItem>> items = Result<QList<ClipboardItem>>::failure(QString());
        std::shared_ptr<FilterIndex> index;
    };
    auto reloaded = std::make_shared<Reloaded>();
    const quint64 startRevision = m_historyRevision;
    const QDateTime readAt = m_clock.now();
    m_backgroundReload.future = work().run(BackgroundWork::Lane::backups, [context, reloaded, readAt, startRevision]() mutable {
        HistoryReader reader(*context);
        reader.setClock([readAt] { return readAt; });
        reloaded->items = reader.loadItems();
        if (reloaded->items)
            reloaded->index = FilterIndex::build(*reloaded->items, startRevision + 1);
        context.reset();
    });
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, reloaded, startRevision] {
        watcher->deleteLater();
        m_backgroundReloadRunning = false;
        if (!reloaded->items) {
            qCWarning(lcHistory).noquote() << "Failed to fetch clipboard items:" << reloaded->items.error();
        } else if (m_historyRevision != startRevision || m_loadingHistory) {
            loadItems(); // the history moved on meanwhile: the read is out of date
        } else {
            m_clipboardItems = std::move(reloaded->items).value();
            m_historyRevision = startRevision + 1;
            m_filters->replaceIndex(std::move(reloaded->index));
            emit clipboardItemsChanged();
            announceShortcutsChanged();
            updateFilteredItems();
        }
        if (std::exchange(m_backgroundReloadAgain, false))
            reloadItemsInBackground();
    });
    watcher->setFuture(m_backgroundReload.future);
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
    m_filters->clearUnknownCategorySelection();
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
