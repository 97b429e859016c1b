#pragma once

#include "model/backup/BackupImport.h"
#include "model/ClipboardItem.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>

namespace lumra {

class ClipboardManager;

// Backups of the history and the settings file: export, import and their checks. The manager owns
// it and lends it its history, store, settings and worker threads.
class BackupService : public QObject {
    Q_OBJECT
public:
    // `announceShortcuts` tells the hot-key side that imported rows may carry shortcuts.
    BackupService(ClipboardManager& manager, std::function<void()> announceShortcuts);
    ~BackupService() override;

    using ExportFilter = backup::ExportFilter;
    // Items outside the recycle bin that the filter keeps, in history order; days in `zone`.
    QList<ClipboardItem> itemsForExport(
        const ExportFilter& filter, const QTimeZone& zone = QTimeZone::systemTimeZone()) const;
    // The whole backup document in memory; none when there is no store.
    std::optional<QByteArray> exportData(const ExportFilter& filter);
    // Streams the backup to `path` on a worker: the selection is taken now, image bytes are read in
    // one read transaction, the file is written atomically with mode 0600. Progress counts items;
    // cancelling the future leaves no file. The result is the number of items written.
    struct ExportResult {
        int exported = 0;
        QString error; // empty on success; "" with canceled() when cancelled
    };
    QFuture<ExportResult> exportToFile(
        const ExportFilter& filter, const QString& path, const QTimeZone& zone = QTimeZone::systemTimeZone());

    // Reads, checks and cleans a backup file on a worker, and works out once which of its items the
    // history already holds.
    struct OpenedBackup {
        std::shared_ptr<const backup::BackupPreview> preview; // null on failure
        QString error;
    };
    QFuture<OpenedBackup> openBackup(const QString& path);

    bool isDuplicate(const ClipboardItem& item);
    bool shouldSyncImportedItem(const ClipboardItem& item, std::optional<qint64> imageSize) const;
    backup::StoreRules importStoreRules() const;
    backup::ShortcutRules importShortcutRules() const;

    // Imports on the main thread, in one save: duplicates skipped, categories in use created, ids
    // kept unique, the item limit applied. The history is reloaded before it returns.
    Result<backup::ImportOutcome> importData(const QList<ClipboardItem>& items,
        const QHash<QString, QByteArray>& images, const QList<ClipboardCategory>& categories);
    // The same on a worker. With `dryRun` nothing is written: the outcome says what the item limit would
    // remove. The history follows once the future has finished (a large import is read back on a worker,
    // so it shows shortly after).
    struct ImportResult {
        backup::ImportOutcome outcome;
        backup::ImportPlan plan;
        QString error; // empty on success
    };
    QFuture<ImportResult> startImport(const QList<ClipboardItem>& items, const QHash<QString, QByteArray>& images,
        const QList<ClipboardCategory>& categories, bool dryRun);
    // Imports under way: a bulk change they save is read back on a worker, not on the main thread.
    bool isImporting() const { return m_runningImports > 0; }

    // The settings file: the settings-file keys as stored or registered, sorted, pretty-printed.
    std::optional<QByteArray> exportSettings() const;
    struct SettingsImport {
        int applied = 0;
        int refused = 0; // values the settings' own checks turned down (the current ones stay)
        QString error; // not a settings file: nothing changed
        bool ok() const { return error.isEmpty(); }
    };
    SettingsImport importSettings(const QByteArray& data);

private:
    ClipboardManager& m_manager;
    std::function<void()> m_announceShortcuts;
    int m_runningImports = 0;
    // Exports and imports under way; their contexts must not outlive the store.
    struct JoinedWorks {
        QList<QFuture<void>> futures;
        void add(QFuture<void> future);
        ~JoinedWorks();
    } m_backupWork;
};

} // namespace lumra
