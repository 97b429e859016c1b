#include "engine/ClipboardManager.h"

#include "engine/HistoryFilter.h"
#include "engine/SettingsFile.h"
#include "model/store/HistoryReader.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/files/ReplacingFile.h"
#include "platform/keys/KeyCodes.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QPromise>

Q_LOGGING_CATEGORY(lcBackup, "lumra.backup")

namespace lumra {

namespace {

// How many items pass between two looks at progress and cancellation.
constexpr qsizetype progressStep = 500;

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

// The item with the rich text the history list leaves out, read through `context`.
ClipboardItem withRichText(const ClipboardItem& item, store::ManagedObjectContext& context)
{
    ClipboardItem whole = item;
    if (const store::ManagedObjectPtr row = context.fetchById(store::EntityKind::item, item.id))
        whole.rtfData = row->bytes(store::ItemAttr::rtfData);
    whole.richTextInStore = false;
    return whole;
}

// Writes the selection, the bytes of its images and its categories to `file`. Image bytes and rich
// texts come from `context` inside one read transaction per store file, so they are of one moment.
Status writeBackup(QIODevice& file, store::ManagedObjectContext& context, const QList<ClipboardItem>& history,
                   const backup::ExportSelection& selection, const QList<ClipboardCategory>& categories,
                   QPromise<ClipboardManager::ExportResult>& promise, int& exported)
{
    std::vector<std::unique_ptr<sql::Transaction>> reads;
    for (const store::PersistentStore* store : context.stores()) {
        if (sql::Database* db = context.database(store)) {
            // One pass over the image bytes: a small cache and no memory map, which would stay resident.
            for (const char* pragma : {"PRAGMA mmap_size=0", "PRAGMA cache_size=-512"})
                (void)db->exec(QString::fromLatin1(pragma));
            reads.push_back(std::make_unique<sql::Transaction>(*db));
        }
    }
    const auto selected = [&](const ClipboardItem& item) { return !item.isTrashed && selection.matches(item); };
    backup::BackupWriter writer(file);
    if (Status begun = writer.begin(); !begun)
        return begun;
    qsizetype done = 0;
    const auto step = [&] {
        if (++done % progressStep == 0)
            promise.setProgressValue(int(done));
        return !promise.isCanceled();
    };
    QSet<QUuid> usedCategories;
    for (const ClipboardItem& item : history) {
        if (!selected(item))
            continue;
        const Status written = item.richTextInStore ? writer.writeItem(withRichText(item, context)) : writer.writeItem(item);
        if (!written)
            return written;
        ++exported;
        if (item.categoryId)
            usedCategories.insert(*item.categoryId);
        if (!step())
            return Status::failure(QString());
    }
    QSet<QString> writtenImages;
    for (const ClipboardItem& item : history) {
        if (item.contentType != ClipboardContentType::image || !item.imageFileName || !selected(item)
            || writtenImages.contains(*item.imageFileName))
            continue;
        const store::ManagedObjectPtr row = context.fetchById(store::EntityKind::item, item.id);
        const std::optional<QByteArray> bytes = row ? row->bytes(store::ItemAttr::imageData) : std::nullopt;
        if (bytes && !bytes->isEmpty()) {
            if (Status written = writer.writeImage(*item.imageFileName, *bytes); !written)
                return written;
            writtenImages.insert(*item.imageFileName);
        }
        if (!step())
            return Status::failure(QString());
    }
    QList<ClipboardCategory> used;
    for (const ClipboardCategory& category : categories) {
        if (usedCategories.contains(category.id))
            used.append(category);
    }
    return writer.finish(used);
}

} // namespace

void ClipboardManager::JoinedWorks::add(QFuture<void> future)
{
    futures.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    futures.append(std::move(future));
}

ClipboardManager::JoinedWorks::~JoinedWorks()
{
    for (QFuture<void>& future : futures)
        future.waitForFinished();
}

// ---------------------------------------------------------------------------------------------------- export

QList<ClipboardItem> ClipboardManager::itemsForExport(const ExportFilter& filter, const QTimeZone& zone) const
{
    return backup::itemsForExport(m_clipboardItems, filter, zone);
}

std::optional<QByteArray> ClipboardManager::exportData(const ExportFilter& filter)
{
    if (!m_persistence)
        return std::nullopt;
    backup::ExportData data;
    data.items = itemsForExport(filter);
    QSet<QUuid> usedCategories;
    for (ClipboardItem& item : data.items) {
        if (item.richTextInStore)
            item = withRichText(item, m_persistence->viewContext());
        if (item.categoryId)
            usedCategories.insert(*item.categoryId);
        if (item.contentType != ClipboardContentType::image || !item.imageFileName)
            continue;
        const store::ManagedObjectPtr row = fetchManagedItem(item.id);
        if (std::optional<QByteArray> bytes = row ? row->bytes(store::ItemAttr::imageData) : std::nullopt)
            data.images.insert(*item.imageFileName, *bytes);
    }
    data.categories = QList<ClipboardCategory>();
    for (const ClipboardCategory& category : m_categories) {
        if (usedCategories.contains(category.id))
            data.categories->append(category);
    }
    return backup::encodeBackup(data);
}

QFuture<ClipboardManager::ExportResult> ClipboardManager::exportToFile(const ExportFilter& filter, const QString& path,
                                                                      const QTimeZone& zone)
{
    if (!m_persistence)
        return QtFuture::makeReadyFuture(ExportResult {0, QStringLiteral("The history is not open.")});
    std::shared_ptr<store::ManagedObjectContext> context = m_persistence->newBackgroundContext();
    const QList<ClipboardItem> history = m_clipboardItems; // shares the items; nothing is copied
    const QList<ClipboardCategory> categories = m_categories;
    QFuture<ExportResult> future = work().run(BackgroundWork::Lane::backups, [=](QPromise<ExportResult>& promise) mutable {
        const backup::ExportSelection selection(filter, zone);
        int exported = 0;
        promise.setProgressRange(0, int(std::min<qsizetype>(history.size(), std::numeric_limits<int>::max())));
        ReplacingFile file(path);
        Status status;
        if (!file.open())
            status = Status::failure(file.errorString());
        else
            status = writeBackup(file, *context, history, selection, categories, promise, exported);
        context.reset();
        if (promise.isCanceled()) {
            file.cancelWriting();
            return;
        }
        if (status && !file.commit())
            status = Status::failure(file.errorString());
        if (!status) {
            file.cancelWriting();
            promise.addResult(ExportResult {0, QStringLiteral("\"%1\" could not be written: %2").arg(fileName(path), status.error())});
            return;
        }
        promise.addResult(ExportResult {exported, {}});
    });
    m_backupWork.add(QFuture<void>(future));
    return future;
}

// ---------------------------------------------------------------------------------------------------- import

QFuture<ClipboardManager::OpenedBackup> ClipboardManager::openBackup(const QString& path)
{
    const QList<ClipboardItem> history = m_clipboardItems;
    QFuture<OpenedBackup> future = work().run(BackgroundWork::Lane::backups, [history, path] {
        Result<backup::LoadedBackup> loaded = backup::readBackupFile(path);
        if (!loaded)
            return OpenedBackup {nullptr, loaded.error()};
        const backup::HistoryIndex index(history);
        return OpenedBackup {std::make_shared<const backup::BackupPreview>(backup::makePreview(std::move(loaded).value(), index)),
                             {}};
    });
    m_backupWork.add(QFuture<void>(future));
    return future;
}

bool ClipboardManager::isDuplicate(const ClipboardItem& item)
{
    return backup::HistoryIndex(m_clipboardItems).isDuplicate(item);
}

backup::StoreRules ClipboardManager::importStoreRules() const
{
    return {iCloudSyncEnabled(), syncText(), syncImages(), syncImageMaxSizeMB(), maxItems()};
}

bool ClipboardManager::shouldSyncImportedItem(const ClipboardItem& item, std::optional<qint64> imageSize) const
{
    return backup::shouldSyncImportedItem(importStoreRules(), item, imageSize);
}

backup::ShortcutRules ClipboardManager::importShortcutRules() const
{
    backup::ShortcutRules rules;
    const std::optional<qint64> key = m_defaults.readableInteger(QStringLiteral("hotKeyKeyCode"));
    const std::optional<qint64> modifiers = m_defaults.readableInteger(QStringLiteral("hotKeyModifiers"));
    if (key && modifiers && *key >= 0 && *key <= 0xFFFF)
        rules.openPopup = QPair<quint16, quint64>(quint16(*key), KeyCodes::maskedModifierFlags(quint64(*modifiers)));
    rules.quickPasteFlag = quickPasteModifierFlag();
    return rules;
}

Result<backup::ImportOutcome> ClipboardManager::importData(const QList<ClipboardItem>& items,
                                                          const QHash<QString, QByteArray>& images,
                                                          const QList<ClipboardCategory>& categories)
{
    using R = Result<backup::ImportOutcome>;
    if (!m_persistence)
        return R::failure(QStringLiteral("The history is not open."));
    const backup::ImportPlan plan =
        backup::planImport(backup::HistoryIndex(m_clipboardItems), m_categories, items, categories, importShortcutRules());
    R outcome = backup::applyImport(m_persistence->viewContext(), plan, images, importStoreRules(), false);
    if (!outcome)
        return outcome;
    if (outcome->categoriesCreated > 0)
        loadCategories();
    loadItems();
    if (plan.hasShortcuts || outcome->removed > 0)
        announceShortcutsChanged();
    return outcome;
}

QFuture<ClipboardManager::ImportResult> ClipboardManager::startImport(const QList<ClipboardItem>& items,
                                                                     const QHash<QString, QByteArray>& images,
                                                                     const QList<ClipboardCategory>& categories,
                                                                     bool dryRun)
{
    if (!m_persistence)
        return QtFuture::makeReadyFuture(ImportResult {{}, {}, QStringLiteral("The history is not open.")});
    std::shared_ptr<store::ManagedObjectContext> context = m_persistence->newBackgroundContext();
    const QList<ClipboardItem> history = m_clipboardItems;
    const QList<ClipboardCategory> existing = m_categories;
    const backup::ShortcutRules shortcutRules = importShortcutRules();
    const backup::StoreRules storeRules = importStoreRules();
    QFuture<ImportResult> future = work().run(BackgroundWork::Lane::backups, [=]() mutable {
        ImportResult result;
        result.plan = backup::planImport(backup::HistoryIndex(history), existing, items, categories, shortcutRules);
        Result<backup::ImportOutcome> outcome = backup::applyImport(*context, result.plan, images, storeRules, dryRun);
        context.reset();
        if (outcome)
            result.outcome = *outcome;
        else
            result.error = outcome.error();
        return result;
    });
    m_backupWork.add(QFuture<void>(future));
    if (!dryRun) {
        // The rows reach the history through the store's change notice, posted before this ends.
        ++m_runningImports;
        auto* watcher = new QFutureWatcher<ImportResult>(this);
        connect(watcher, &QFutureWatcher<ImportResult>::finished, this, [this, watcher] {
            watcher->deleteLater();
            --m_runningImports;
            if (watcher->future().resultCount() == 0) // dropped at quit
                return;
            const ImportResult result = watcher->result();
            if (!result.error.isEmpty()) {
                qCWarning(lcBackup).noquote() << "Import failed:" << result.error;
                return;
            }
            if (result.outcome.categoriesCreated > 0)
                loadCategories();
            if (result.plan.hasShortcuts || result.outcome.removed > 0)
                announceShortcutsChanged();
        });
        watcher->setFuture(future);
    }
    return future;
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
    QFuture<void> future = work().run(BackgroundWork::Lane::backups, [context, reloaded, readAt, startRevision]() mutable {
        HistoryReader reader(*context);
        reader.setClock([readAt] { return readAt; });
        reloaded->items = reader.loadItems();
        if (reloaded->items)
            reloaded->index = FilterIndex::build(*reloaded->items, startRevision + 1);
        context.reset();
    });
    m_backupWork.add(future);
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, reloaded, startRevision] {
        watcher->deleteLater();
        m_backgroundReloadRunning = false;
        if (!reloaded->items) {
            qCWarning(lcBackup).noquote() << "Failed to fetch clipboard items:" << reloaded->items.error();
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
    watcher->setFuture(future);
}

// ---------------------------------------------------------------------------------------------------- settings file

std::optional<QByteArray> ClipboardManager::exportSettings() const
{
    const QByteArray bytes = settingsfile::encode([this](const QString& key) { return m_defaults.object(key); });
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

ClipboardManager::SettingsImport ClipboardManager::importSettings(const QByteArray& data)
{
    const settingsfile::Parsed parsed = settingsfile::parse(data);
    SettingsImport result;
    result.error = parsed.error;
    result.refused = parsed.refused;
    if (!result.ok())
        return result;
    for (auto it = parsed.accepted.begin(); it != parsed.accepted.end(); ++it) {
        if (m_defaults.set(it.key(), it.value()))
            ++result.applied;
        else
            ++result.refused;
    }
    reloadSettingsFromDefaults();
    return result;
}

} // namespace lumra
