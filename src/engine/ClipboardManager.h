#pragma once

#include "engine/ClipboardManagerServices.h"
#include "engine/SettingOptions.h"
#include "engine/SettingsCatalogue.h"
#include "model/ClipboardItem.h"
#include "platform/core/BackgroundWork.h"
#include "platform/core/Clock.h"
#include "platform/defaults/UserDefaults.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace lumra {

class BackupService;
class CaptureService;
class CopyReminder;
class HistoryFilter;
class HistoryReader;
struct HistoryChange;
class ItemMedia;
class PasteService;
class PersistenceController;
class SyncFolderContainer;
namespace sync {
class RowAges;
}
namespace store {
class ManagedObject;
class Predicate;
struct ChangeSet;
using ManagedObjectPtr = std::shared_ptr<ManagedObject>;
} // namespace store

// The one main-thread state object every view uses: settings, and (in the files named per section)
// history, capture, queries and editing.
class ClipboardManager : public QObject {
    Q_OBJECT
public:
    // ===================================================================== Construction (ClipboardManager.cpp)

    // The whole engine: settings, store, history, capture poll and housekeeping, in start-up order.
    explicit ClipboardManager(const ClipboardManagerServices& services, QObject* parent = nullptr);

    // Settings only (no store, no timers): reads every setting from `defaults`; when cloud sync is on
    // at launch, synchronises `cloudStore` and applies its external changes. `cloudStore` null means
    // CloudKeyValueStore::defaultStore().
    explicit ClipboardManager(UserDefaults& defaults = UserDefaults::standard(), CloudKeyValueStore* cloudStore = nullptr,
                              Clock& clock = Clock::shared(), QObject* parent = nullptr);
    ~ClipboardManager() override;

    UserDefaults& userDefaults() const { return m_defaults; }
    CloudKeyValueStore& cloudStore() const { return m_cloudStore; }
    Clock& clock() const { return m_clock; }
    const ClipboardManagerServices& services() const { return m_services; }
    // The worker threads the engine's background work runs on.
    BackgroundWork& work() const { return m_services.work ? *m_services.work : BackgroundWork::current(); }
    // Null in a settings-only manager.
    PersistenceController* persistence() const { return m_persistence.get(); }
    // The sync folder mirror the engine made (none when a container was injected, or settings only).
    SyncFolderContainer* syncFolderContainer() const { return m_syncFolder.get(); }

    // ===================================================================== Settings (ClipboardManagerSettings.cpp)

    // Registers the catalogue's defaults plus the hot-key and window-size keys; once per launch,
    // before the manager is made.
    static void registerDefaultSettings(UserDefaults& defaults = UserDefaults::standard());
    static QVariantMap registeredDefaultSettings();

    // One getter and one setter per catalogue row: `bool showTags() const`, `bool setShowTags(bool)`.
    // A setter refuses a value its check rejects (returns false, changes and runs nothing). Otherwise it
    // stores the value, writes it to the user defaults, emits settingChanged only when the value
    // changed, then runs the row's effects on every assignment, also of an equal value.
#define LUMRA_SETTING_ACCESSORS(name, Setter, Type, ...)                                                          \
    SettingCppType<SettingType::Type> name() const                                                                \
    {                                                                                                             \
        return std::get<SettingCppType<SettingType::Type>>(m_settings[size_t(Setting::name)]);                     \
    }                                                                                                             \
    bool Setter(SettingCppType<SettingType::Type> value) { return setSetting(Setting::name, SettingValue(std::move(value))); }
    LUMRA_SETTINGS(LUMRA_SETTING_ACCESSORS)
#undef LUMRA_SETTING_ACCESSORS

    // Generic access by catalogue row, for settings pages and the settings file.
    const SettingValue& setting(Setting setting) const { return m_settings[size_t(setting)]; }
    bool setSetting(Setting setting, SettingValue value);

    bool isCaptureEnabled(CaptureCategory category) const;
    // Whether a new item goes to the synced store; `byteSize` absent when the caller has no size.
    bool shouldSync(CaptureCategory category, std::optional<qint64> byteSize = std::nullopt) const;

    // The stored list, else the default list (also when the stored data does not decode).
    QList<IgnoredApp> loadIgnoredApplications() const;
    void saveIgnoredApplications();

    // Reads the reloaded settings again in catalogue order and assigns each through its setter.
    // Unreadable values take the row's fallback; values the check rejects are skipped.
    void reloadSettingsFromDefaults();
    // "autoCleanMinutes" when stored, else the legacy "autoCleanHours" x 60 when stored,
    // else the registered value; nullopt when none of them reads as an integer.
    std::optional<qint64> migratedAutoCleanMinutes() const;

    using AppearancePreset = QList<QPair<QString, QVariant>>;
    static const AppearancePreset& appearancePreset(AppearanceStyle style);
    void applyAppearanceStyle(AppearanceStyle style);
    bool isAppearanceStyleActive(AppearanceStyle style) const;

    // Takes the six mirrored settings from the cloud store, in a fixed order, assigning those
    // that are readable, valid and different.
    void applyCloudSettings();

    // ===================================================================== History (ClipboardManagerHistory.cpp)

    const QList<ClipboardItem>& clipboardItems() const { return m_clipboardItems; }
    // Stores the list (observers told only when it differs), then recomputes the filtered items.
    void setClipboardItems(QList<ClipboardItem> items);
    const QList<ClipboardCategory>& categories() const { return m_categories; }
    void setCategories(QList<ClipboardCategory> categories);
    // Bumped at every change of clipboardItems, so caches keyed by it stay honest.
    quint64 historyRevision() const { return m_historyRevision; }
    // True while the stored history is read in the background: the list then holds only what was
    // copied or changed since the start, and the rest joins it when the load ends.
    bool isLoadingHistory() const { return m_loadingHistory; }

    void loadItems();
    void loadCategories();
    store::ManagedObjectPtr fetchManagedItem(const QUuid& id);
    store::ManagedObjectPtr fetchManagedCategory(const QUuid& id);
    std::optional<CaptureCategory> captureCategory(const store::ManagedObject& row) const;
    // Messages the app shows once it can (a store kept aside at start, …).
    QStringList takeStartupWarnings();

    // ===================================================================== Queries and filters (HistoryFilter.cpp)

    // The filter state, the pin and the list the popup shows.
    HistoryFilter& filters() const { return *m_filters; }


    // ===================================================================== Editing (ClipboardManagerEditing.cpp)

    // Every edit changes the item's row, saves once and then updates clipboardItems. A row that is
    // gone changes nothing and is no failure; a failed save is logged and returned.
    // `attribute` is store::ItemAttr::isPinned, isPinnedToTop or isSensitive.
    Status toggleItemFlag(const ClipboardItem& item, int attribute);
    Status togglePinned(const ClipboardItem& item);
    Status togglePinnedToTop(const ClipboardItem& item);
    Status toggleSensitive(const ClipboardItem& item);
    // Stores the edited text; a local row whose new kind is synced moves to the cloud store.
    Status updateItemContent(const ClipboardItem& item, const QString& text, const std::optional<QByteArray>& rtfData);
    // Copies the row, id and every attribute included, into the cloud store and commits, then deletes
    // the original. A crash in between leaves two rows with one id, which loading resolves. Returns the
    // row that holds the item afterwards (the given one when there is nowhere to move it).
    Result<store::ManagedObjectPtr> recreateManagedObject(const store::ManagedObjectPtr& row);
    Status setItemComment(const ClipboardItem& item, const std::optional<QString>& comment);
    Status setItemTags(const ClipboardItem& item, const QStringList& tags);
    Status setTagsForItems(const QList<QUuid>& itemIds, const QStringList& tags);
    Status setItemShortcut(const QUuid& itemId, const std::optional<ItemShortcut>& shortcut);
    // The modifier flag of the quick-paste digits; nothing while quick paste is off.
    std::optional<quint64> quickPasteModifierFlag() const;
    // Why this combination cannot be used, or nullopt when it is free.
    std::optional<QString> shortcutConflictMessage(quint16 keyCode, quint64 modifiers,
                                                   const std::optional<QUuid>& excludingItemId,
                                                   bool skipOpenPopupShortcut) const;
    void appendIgnoredApp(const QString& bundleIdentifier, const QString& name);
    void removeIgnoredAppEntry(const QString& bundleIdentifier);

    // Categories: the new one goes last whatever its sortOrder says.
    Status addCategory(const ClipboardCategory& category);
    // Writes the category's name, symbol and footer flag; a category no longer stored is not made again.
    Status updateCategory(const ClipboardCategory& category);
    // A list move of `categories`, then sortOrder rewritten as 0, 1, 2, ...
    Status moveCategories(const QList<int>& sourceOffsets, int destinationOffset);
    // Writes only the footer flag of the stored category, so a rename made meanwhile stays.
    Status setCategoryHidden(const QUuid& categoryId, bool hidden);
    // Its items lose the category, or are removed (to the recycle bin when it is on).
    Status deleteCategory(const QUuid& categoryId, bool alsoDeleteItems);
    Status setItemCategory(const ClipboardItem& item, const std::optional<QUuid>& categoryId);
    static std::optional<QDateTime> latestDate(const QList<QDateTime>& dates);

    // ===================================================================== Housekeeping (ClipboardManagerHousekeeping.cpp)

    // Deletes the oldest unstarred, unpinned rows beyond maxItems; run after every capture and import.
    Status enforceMaxItems();
    // What the cleanup settings would remove now; 0 when off or when the store cannot be read.
    int countAutoCleanCandidates(int minutes);
    // One auto-clean pass now, by the stored interval (the cleanup page's "Apply").
    void autoCleanNow() { runAutoClean(); }
    int countItemsOlderThan(int days);
    int countItemsOverLimit(int limit);
    // How many items lowering a bound would delete now, counted as the deletion picks them: never
    // starred, pinned or binned ones. A store that cannot be read is a failure, never "none".
    Result<int> itemsDeletedByRetention(int days);
    Result<int> itemsDeletedByLimit(int limit);

    // To the recycle bin when it is on, else for good.
    Status deleteItem(const ClipboardItem& item);
    Status deleteItems(const QList<ClipboardItem>& items);
    Status restoreItem(const QUuid& itemId);
    Status restoreItems(const QList<ClipboardItem>& items);
    Status deleteItemPermanently(const QUuid& itemId);
    Status emptyRecycleBin();
    // The clears the cleanup settings offer (HistoryClearing.h).
    class HistoryClearing;
    HistoryClearing& clearing() const { return *m_clearing; }


    // Before Lumra's data is deleted: stops every timer and worker, takes back this computer's
    // synced settings, closes the stores and the log, and writes no setting from now on. The
    // manager records and saves nothing afterwards; the app quits next.
    void prepareForReset();

    // ===================================================================== Capture (CaptureHistory.cpp, ClipboardManagerLifecycle.cpp)

    // Reads the clipboard's changes and hands each copy back to be stored (CaptureService.cpp).
    // Null in a settings-only manager and after prepareForReset().
    CaptureService* captureService() const { return m_captureService.get(); }

    // Stops capture until resume(), or for `minutes`; zero or fewer minutes resumes at once.
    void pause(std::optional<int> minutes = std::nullopt);
    // Captures again from the next copy: what was copied during the pause is never recorded.
    void resume();
    bool isPaused() const { return m_isPaused; }
    std::optional<QDateTime> pauseResumeDate() const { return m_pauseResumeDate; }
    // The pasteboard change count last seen. The paste code sets it after its own write.
    qint64 lastChangeCount() const { return m_lastChangeCount; }
    void setLastChangeCount(qint64 changeCount) { m_lastChangeCount = changeCount; }
    QString iCloudSyncStatus() const { return m_iCloudSyncStatus; }

    // Store a capture: refresh the untrashed row with the same content or insert a new one, save,
    // apply the item limit and update the history. False when nothing could be saved.
    bool addTextItem(const QString& text, const std::optional<QByteArray>& rtfData, CaptureCategory category,
                     const std::optional<QString>& sourceAppBundleId, const std::optional<QString>& sourceAppName);
    bool addFileItem(const QStringList& fileURLStrings, CaptureCategory category,
                     const std::optional<QString>& sourceAppBundleId, const std::optional<QString>& sourceAppName);
    // Starts text recognition of a stored image; the text is written into that row only.
    // Sensitive items are never sent.
    void recognizeText(const QByteArray& pngData, const QUuid& id);

    // ===================================================================== Services of their own
    PasteService& paste() const { return *m_paste; }       // writes items to the clipboard and pastes them
    ItemMedia& media() const { return *m_media; }          // image bytes, thumbnails, rich text, file items' files
    BackupService& backup() const { return *m_backup; }    // backups of the history and the settings file
    CopyReminder& reminder() const { return *m_reminder; } // the copy sound and the reminder to use the history

signals:
    void settingChanged(lumra::Setting setting, const QString& key);
    void clipboardItemsChanged();
    void isLoadingHistoryChanged(bool loading);
    void categoriesChanged();
    // Capture and editing signals go below, per section (filters tell through HistoryFilter, paste
    // through PasteService).
    void pauseStateChanged();
    // Capture: pictures are lost as no decoder program could be started (CaptureService's, passed on).
    void picturesNotRecorded(const QString& message);
    void iCloudSyncStatusChanged(const QString& status);

    // Editing and housekeeping: rows that may carry a per-item shortcut were added, changed, trashed
    // or removed; also posted as Notifications::itemShortcutsChanged.
    void itemShortcutsChanged();

protected:
    // ===================================================================== Setting side effects
    // Run after assignments of the settings that name them in the catalogue. The history, capture and
    // preview code provide the real work; tests override them to watch.
    virtual void applyRetention();      // ClipboardManagerHousekeeping.cpp
    virtual void purgeExpiredTrash();   // ClipboardManagerHousekeeping.cpp
    virtual void startAutoCleanTimer(); // ClipboardManagerLifecycle.cpp
    virtual void clearThumbnailCache(); // ClipboardManager.cpp
    virtual void updateFilteredItems(); // ClipboardManager.cpp
    virtual void runAutoClean();        // ClipboardManagerHousekeeping.cpp
    // The paste code drops the item's thumbnails here when its row is deleted for good.
    virtual void evictItemCaches(const QUuid& itemId); // ClipboardManager.cpp
    // The category filter lets go of a deleted category here.
    virtual void didDeleteCategory(const QUuid& categoryId) { Q_UNUSED(categoryId); }
    // Where auto-clean runs; tests run it when they choose.
    virtual void runInBackground(std::function<void()> work);
    // Run after every stored capture (CaptureHistory.cpp); tests override them to watch.
    virtual void playCopySound();
    virtual void recordCopyForReminder(bool countsForReminder);

private:
    // ===================================================================== Settings internals
    void readSettingsAtLaunch();
    void startCloudSettingsMirror();
    // The stored value by the row's read form; nullopt when absent or unreadable.
    std::optional<SettingValue> readStoredSetting(const SettingInfo& info) const;
    void runAfterWrite(const SettingInfo& info);

    // ===================================================================== Start-up (ClipboardManager.cpp)
    void startUp();

    // ===================================================================== History internals
    QList<ClipboardItem> m_clipboardItems;
    QList<ClipboardCategory> m_categories;
    quint64 m_historyRevision = 0;
    std::unique_ptr<PersistenceController> m_persistence;
    std::unique_ptr<HistoryReader> m_reader;
    // Declared after the store: it finishes its work on the store before the store goes.
    std::unique_ptr<SyncFolderContainer> m_syncFolder;
    // Points the mirror and the mirrored settings at "syncFolderPath".
    void followSyncFolder();
    // Edits clipboardItems in place; `edit` describes what it did in the change. When something
    // changed, observers are told and the filtered list follows, at the cost of the changed items.
    void editHistory(const std::function<void(QList<ClipboardItem>&, HistoryChange&)>& edit);
    // Brings clipboardItems in line with rows another connection saved, reading only those rows.
    void mergeStoreChanges(const store::ChangeSet& changes);
    struct LoadedHistory;
    void startHistoryLoad();
    void finishHistoryLoad(LoadedHistory& loaded);
    // Retention, the recycle bin's expiry and auto-clean, once the history is loaded.
    void tidyHistoryAtStart();
    bool m_loadingHistory = false;
    bool m_reloadAfterLoad = false;
    // Rows deleted while the history loads; ids saved since then are the ones in clipboardItems.
    QSet<QUuid> m_goneWhileLoading;

    // ===================================================================== Queries internals
    std::unique_ptr<HistoryFilter> m_filters;

    // ===================================================================== Editing and housekeeping internals
    struct AutoCleanResult;
    // Brings clipboardItems in line with rows just saved (or rolled back), without reading the store.
    // `goneIds`: rows no longer in the store (a live row of the same id among `rows` wins).
    void mergeSavedRows(const QList<store::ManagedObjectPtr>& rows, const QList<QUuid>& goneIds = {});
    // Saves, updates the history from `rows`, and tells the hot-key side when one of them held a shortcut.
    Status commitRows(const QList<store::ManagedObjectPtr>& rows, const char* operation, bool hadShortcut = false);
    Status commitCategories(const char* operation);
    void announceShortcutsChanged();
    // Trashes or deletes each row by the bin setting (or for good when `permanently`).
    void removeRow(const store::ManagedObjectPtr& row, bool permanently);
    Status removeMatchingRows(const store::Predicate& predicate, bool permanently, const char* operation);
    Status deleteMatching(const store::Predicate& predicate, const char* operation, int* removed = nullptr);
    Result<QList<store::ManagedObjectPtr>> fetchItemRows(const store::Predicate& predicate);
    // Marks the oldest ordinary rows beyond maxItems deleted, unsaved. `captured` (its row may
    // not be stored yet) is counted and never chosen.
    Result<QList<store::ManagedObjectPtr>> markRowsBeyondLimit(const store::ManagedObjectPtr& captured = nullptr);
    void applyAutoCleanResult(const AutoCleanResult& result);
    // What the sync tells of each synced row's age while it is on; null while it is off.
    std::shared_ptr<sync::RowAges> syncedRowAges() const;
    // The passes handed to the housekeeping lane since the first, waited for before the store goes.
    std::optional<BackgroundWork::Tasks> m_housekeeping;
    std::unique_ptr<HistoryClearing> m_clearing;

    // ===================================================================== Capture internals
    void migrateLegacyStorage();        // ClipboardManagerHistory.cpp
    void startMonitoring();             // CaptureHistory.cpp
    void installObservers();            // ClipboardManagerLifecycle.cpp

    // What the capture service stores through (CaptureHistory.cpp).
    class CaptureHistory;
    void setPaused(bool paused, std::optional<QDateTime> resumeDate);

    std::unique_ptr<CaptureHistory> m_captureHistory;
    std::unique_ptr<CaptureService> m_captureService; // after the history it stores to
    std::unique_ptr<Timer> m_autoCleanTimer;
    bool m_retentionDeferred = false; // until the sync state says how old each synced row is
    std::unique_ptr<Timer> m_pauseTimer;
    qint64 m_lastChangeCount = 0;
    bool m_isPaused = false;
    std::optional<QDateTime> m_pauseResumeDate;
    QString m_iCloudSyncStatus;

    // ===================================================================== Services' internals
    std::unique_ptr<PasteService> m_paste;
    // Declared after the store: a bookmark refresh it waits for works on the store.
    std::unique_ptr<ItemMedia> m_media;
    // Waits for the work on destruction: its context must not outlive the store.
    BackgroundWork::Joined m_historyLoad;
    // Declared after the store: its exports and imports finish before the store goes.
    std::unique_ptr<BackupService> m_backup;
    // A bulk change an import saves is read back on a worker, not on the main thread.
    bool m_backgroundReloadRunning = false;
    bool m_backgroundReloadAgain = false;
    BackgroundWork::Joined m_backgroundReload;
    // Reads the whole history on a worker and puts it in place when nothing changed meanwhile
    // (else reads it again on the main thread).
    void reloadItemsInBackground();
    std::unique_ptr<CopyReminder> m_reminder;

    ClipboardManagerServices m_services;
    UserDefaults& m_defaults;
    CloudKeyValueStore& m_cloudStore;
    Clock& m_clock;
    std::array<SettingValue, settingCount> m_settings;
};

} // namespace lumra
