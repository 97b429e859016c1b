#include "engine/BackupService.h"

#include "engine/ClipboardManager.h"
#include "engine/SettingsFile.h"
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

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

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
    QPromise<BackupService::ExportResult>& promise, int& exported)
{
    std::vector<std::unique_ptr<sql::Transaction>> reads;
    for (const store::PersistentStore* store : context.stores()) {
        if (sql::Database* db = context.database(store)) {
            // One pass over the image bytes: a small cache and no memory map, which would stay resident.
            for (const char* pragma : { "PRAGMA mmap_size=0", "PRAGMA cache_size=-512" })
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
        const Status written
            = item.richTextInStore ? writer.writeItem(withRichText(item, context)) : writer.writeItem(item);
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

BackupService::BackupService(ClipboardManager& manager, std::function<void()> announceShortcuts)
    : m_manager(manager)
    , m_announceShortcuts(std::move(announceShortcuts))
{
}

BackupService::~BackupService() = default;

void BackupService::JoinedWorks::add(QFuture<void> future)
{
    futures.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    futures.append(std::move(future));
}

BackupService::JoinedWorks::~JoinedWorks()
{
    for (QFuture<void>& future : futures)
        future.waitForFinished();
}

// ---------------------------------------------------------------------------------------------------- export

QList<ClipboardItem> BackupService::itemsForExport(const ExportFilter& filter, const QTimeZone& zone) const
{
    return backup::itemsForExport(m_manager.clipboardItems(), filter, zone);
}

std::optional<QByteArray> BackupService::exportData(const ExportFilter& filter)
{
    if (!m_manager.persistence())
        return std::nullopt;
    backup::ExportData data;
    data.items = itemsForExport(filter);
    QSet<QUuid> usedCategories;
    for (ClipboardItem& item : data.items) {
        if (item.richTextInStore)
            item = withRichText(item, m_manager.persistence()->viewContext());
        if (item.categoryId)
            usedCategories.insert(*item.categoryId);
        if (item.contentType != ClipboardContentType::image || !item.imageFileName)
            continue;
        const store::ManagedObjectPtr row = m_manager.fetchManagedItem(item.id);
        if (std::optional<QByteArray> bytes = row ? row->bytes(store::ItemAttr::imageData) : std::nullopt)
            data.images.insert(*item.imageFileName, *bytes);
    }
    data.categories = QList<ClipboardCategory>();
    for (const ClipboardCategory& category : m_manager.categories()) {
        if (usedCategories.contains(category.id))
            data.categories->append(category);
    }
    return backup::encodeBackup(data);
}

QFuture<BackupService::ExportResult> BackupService::exportToFile(
    const ExportFilter& filter, const QString& path, const QTimeZone& zone)
{
    if (!m_manager.persistence())
        return QtFuture::makeReadyFuture(ExportResult { 0, QStringLiteral("The history is not open.") });
    std::shared_ptr<store::ManagedObjectContext> context = m_manager.persistence()->newBackgroundContext();
    const QList<ClipboardItem> history = m_manager.clipboardItems(); // shares the items; nothing is copied
    const QList<ClipboardCategory> categories = m_manager.categories();
    QFuture<ExportResult> future
        = m_manager.work().run(BackgroundWork::Lane::backups, [=](QPromise<ExportResult>& promise) mutable {
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
                  promise.addResult(ExportResult {
                      0, QStringLiteral("\"%1\" could not be written: %2").arg(fileName(path), status.error()) });
                  return;
              }
              promise.addResult(ExportResult { exported, {} });
          });
    m_backupWork.add(QFuture<void>(future));
    return future;
}

// ---------------------------------------------------------------------------------------------------- import

QFuture<BackupService::OpenedBackup> BackupService::openBackup(const QString& path)
{
    const QList<ClipboardItem> history = m_manager.clipboardItems();
    QFuture<OpenedBackup> future = m_manager.work().run(BackgroundWork::Lane::backups, [history, path] {
        Result<backup::LoadedBackup> loaded = backup::readBackupFile(path);
        if (!loaded)
            return OpenedBackup { nullptr, loaded.error() };
        const backup::HistoryIndex index(history);
        return OpenedBackup {
            std::make_shared<const backup::BackupPreview>(backup::makePreview(std::move(loaded).value(), index)), {}
        };
    });
    m_backupWork.add(QFuture<void>(future));
    return future;
}

bool BackupService::isDuplicate(const ClipboardItem& item)
{
    return backup::HistoryIndex(m_manager.clipboardItems()).isDuplicate(item);
}

backup::StoreRules BackupService::importStoreRules() const
{
    return { m_manager.iCloudSyncEnabled(), m_manager.syncText(), m_manager.syncImages(),
        m_manager.syncImageMaxSizeMB(), m_manager.maxItems(), m_manager.clock().now() };
}

bool BackupService::shouldSyncImportedItem(const ClipboardItem& item, std::optional<qint64> imageSize) const
{
    return backup::shouldSyncImportedItem(importStoreRules(), item, imageSize);
}

backup::ShortcutRules BackupService::importShortcutRules() const
{
    backup::ShortcutRules rules;
    const std::optional<qint64> key = m_manager.userDefaults().readableInteger(QStringLiteral("hotKeyKeyCode"));
    const std::optional<qint64> modifiers = m_manager.userDefaults().readableInteger(QStringLiteral("hotKeyModifiers"));
    if (key && modifiers && *key >= 0 && *key <= 0xFFFF)
        rules.openPopup = QPair<quint16, quint64>(quint16(*key), KeyCodes::maskedModifierFlags(quint64(*modifiers)));
    rules.quickPasteFlag = m_manager.quickPasteModifierFlag();
    return rules;
}

Result<backup::ImportOutcome> BackupService::importData(const QList<ClipboardItem>& items,
    const QHash<QString, QByteArray>& images, const QList<ClipboardCategory>& categories)
{
    using R = Result<backup::ImportOutcome>;
    if (!m_manager.persistence())
        return R::failure(QStringLiteral("The history is not open."));
    const backup::ImportPlan plan = backup::planImport(backup::HistoryIndex(m_manager.clipboardItems()),
        m_manager.categories(), items, categories, importShortcutRules());
    R outcome = backup::applyImport(m_manager.persistence()->viewContext(), plan, images, importStoreRules(), false);
    if (!outcome)
        return outcome;
    if (outcome->categoriesCreated > 0)
        m_manager.loadCategories();
    m_manager.loadItems();
    if (plan.hasShortcuts || outcome->removed > 0)
        m_announceShortcuts();
    return outcome;
}

QFuture<BackupService::ImportResult> BackupService::startImport(const QList<ClipboardItem>& items,
    const QHash<QString, QByteArray>& images, const QList<ClipboardCategory>& categories, bool dryRun)
{
    if (!m_manager.persistence())
        return QtFuture::makeReadyFuture(ImportResult { {}, {}, QStringLiteral("The history is not open.") });
    std::shared_ptr<store::ManagedObjectContext> context = m_manager.persistence()->newBackgroundContext();
    const QList<ClipboardItem> history = m_manager.clipboardItems();
    const QList<ClipboardCategory> existing = m_manager.categories();
    const backup::ShortcutRules shortcutRules = importShortcutRules();
    const backup::StoreRules storeRules = importStoreRules();
    QFuture<ImportResult> future = m_manager.work().run(BackgroundWork::Lane::backups, [=]() mutable {
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
                m_manager.loadCategories();
            if (result.plan.hasShortcuts || result.outcome.removed > 0)
                m_announceShortcuts();
        });
        watcher->setFuture(future);
    }
    return future;
}

// ---------------------------------------------------------------------------------------------------- settings file

std::optional<QByteArray> BackupService::exportSettings() const
{
    const QByteArray bytes
        = settingsfile::encode([this](const QString& key) { return m_manager.userDefaults().object(key); });
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

BackupService::SettingsImport BackupService::importSettings(const QByteArray& data)
{
    const settingsfile::Parsed parsed = settingsfile::parse(data);
    SettingsImport result;
    result.error = parsed.error;
    result.refused = parsed.refused;
    if (!result.ok())
        return result;
    for (auto it = parsed.accepted.begin(); it != parsed.accepted.end(); ++it) {
        if (m_manager.userDefaults().set(it.key(), it.value()))
            ++result.applied;
        else
            ++result.refused;
    }
    m_manager.reloadSettingsFromDefaults();
    return result;
}

} // namespace lumra
