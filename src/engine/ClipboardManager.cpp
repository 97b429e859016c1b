#include "engine/ClipboardManager.h"

#include "engine/BackupService.h"
#include "engine/CaptureReading.h"
#include "engine/CaptureHistory.h"
#include "engine/CaptureService.h"
#include "engine/HistoryClearing.h"
#include "engine/HistoryFilter.h"
#include "engine/ItemMedia.h"
#include "engine/CopyReminder.h"
#include "engine/PasteService.h"
#include "model/Diagnostics.h"
#include "model/store/HistoryReader.h"
#include "model/store/PersistenceController.h"
#include "model/sync/SyncFolderContainer.h"
#include "platform/cloud/CloudContainer.h"
#include "platform/cloud/SyncFolderKeyValueStore.h"
#include "platform/image/ScreenshotDetection.h"
#include "platform/richtext/RtfCodec.h"

namespace lumra {

namespace {

ClipboardManagerServices withDefaults(ClipboardManagerServices services)
{
    if (!services.defaults)
        services.defaults = &UserDefaults::standard();
    if (!services.cloudKeyValueStore)
        services.cloudKeyValueStore = &CloudKeyValueStore::defaultStore();
    if (!services.clock)
        services.clock = &Clock::shared();
    if (!services.htmlToRtf)
        services.htmlToRtf = [](const QString& html) { return RichText::rtfFromHtml(html); };
    return services;
}

} // namespace

ClipboardManager::ClipboardManager(UserDefaults& defaults, CloudKeyValueStore* cloudStore, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_cloudStore(cloudStore ? *cloudStore : CloudKeyValueStore::defaultStore())
    , m_clock(clock)
{
    m_services.defaults = &m_defaults;
    m_services.cloudKeyValueStore = &m_cloudStore;
    m_services.clock = &m_clock;
    m_paste = std::make_unique<PasteService>(
        *this, [this](const QList<store::ManagedObjectPtr>& rows, const char* operation) { return commitRows(rows, operation); });
    m_clearing = std::make_unique<HistoryClearing>(*this);
    m_filters = std::make_unique<HistoryFilter>(*this, [this] { updateFilteredItems(); });
    m_media = std::make_unique<ItemMedia>(*this);
    m_backup = std::make_unique<BackupService>(*this, [this] { announceShortcutsChanged(); });
    m_reminder = std::make_unique<CopyReminder>(*this);
    readSettingsAtLaunch();
    startCloudSettingsMirror();
}

ClipboardManager::ClipboardManager(const ClipboardManagerServices& services, QObject* parent)
    : QObject(parent)
    , m_services(withDefaults(services))
    , m_defaults(*m_services.defaults)
    , m_cloudStore(*m_services.cloudKeyValueStore)
    , m_clock(*m_services.clock)
{
    m_paste = std::make_unique<PasteService>(
        *this, [this](const QList<store::ManagedObjectPtr>& rows, const char* operation) { return commitRows(rows, operation); });
    m_clearing = std::make_unique<HistoryClearing>(*this);
    m_filters = std::make_unique<HistoryFilter>(*this, [this] { updateFilteredItems(); });
    m_media = std::make_unique<ItemMedia>(*this);
    m_backup = std::make_unique<BackupService>(*this, [this] { announceShortcutsChanged(); });
    m_reminder = std::make_unique<CopyReminder>(*this);
    readSettingsAtLaunch();
    startUp();
}

ClipboardManager::~ClipboardManager()
{
    // No new read: what it stored would reach observers being torn down.
    if (m_captureService)
        m_captureService->storeCapturesAtQuit(false);
    if (m_housekeeping)
        m_housekeeping->wait();
    if (m_syncFolder)
        m_syncFolder->detach();
}

void ClipboardManager::prepareForReset()
{
    m_captureService.reset();
    m_autoCleanTimer.reset();
    m_pauseTimer.reset();
    if (m_housekeeping)
        m_housekeeping->wait();
    // The sync worker first: a pass still running could write this computer's files again.
    if (m_syncFolder)
        m_syncFolder->detach();
    m_cloudStore.forgetThisComputer();
    m_defaults.stopWriting();
    m_reader.reset();
    m_persistence.reset();
    Diagnostics::shared().flush();
    Diagnostics::shared().setEnabled(false);
}

void ClipboardManager::startUp()
{
    // The setting as read at launch (a fresh install has no value: the synced store stack).
    const bool cloud = iCloudSyncEnabled();
    if (!m_services.cloudContainer) {
        m_syncFolder = std::make_unique<SyncFolderContainer>(m_clock, nullptr, &work());
        m_syncFolder->setAgeRules([this] {
            return sync::AgeRules {retentionDays(), autoCleanMinutes(), recycleBinEnabled() ? recycleBinDays() : 0};
        });
        // Retention waits for the sync state to say how old each synced row is.
        m_syncFolder->setOnOpened([this] {
            if (m_retentionDeferred)
                applyRetention();
        });
    }
    m_persistence = std::make_unique<PersistenceController>(
        cloud, m_services.cloudContainer ? m_services.cloudContainer : m_syncFolder.get(), m_services.storeFolder);
    // The age rules' deletes are noted on disk from the first one, sync on or off: switched on later,
    // the sync publishes them as the rules', not as the user's.
    if (m_syncFolder)
        m_syncFolder->ageRuleDeletes()->keepIn(sync::ageRuleLedgerPath(m_persistence->folder()));
    m_reader = std::make_unique<HistoryReader>(
        *m_persistence, HistoryReader::Classifiers {
                            &captureCategoryForText,
                            [](const QByteArray& data, const std::optional<QString>& bundleId) {
                                return image::captureCategoryForImageData(data, bundleId);
                            },
                            &captureCategoryForFileURLs,
                        });
    m_reader->setClock([this] { return m_clock.now(); });
    migrateLegacyStorage();
    if (m_services.loadHistoryInBackground)
        startHistoryLoad();
    else
        loadItems();
    loadCategories();
    if (!m_loadingHistory)
        tidyHistoryAtStart();
    m_media->refreshFileBookmarksInBackground();
    m_filters->loadPinnedFilters();
    m_filters->applyPinnedFilters();
    updateFilteredItems();
    startMonitoring();
    startAutoCleanTimer();
    installObservers();
    if (m_syncFolder) {
        m_syncFolder->setFolder(syncFolderPath());
        m_syncFolder->attach(*m_persistence, qobject_cast<SyncFolderKeyValueStore*>(&m_cloudStore));
    }
    if (cloud)
        startCloudSettingsMirror();
}

void ClipboardManager::updateFilteredItems() { m_filters->updateFilteredItems(); }

void ClipboardManager::clearThumbnailCache() { m_media->clearThumbnailCache(); }

void ClipboardManager::evictItemCaches(const QUuid& itemId) { m_media->evictItemCaches(itemId); }

void ClipboardManager::followSyncFolder()
{
    if (m_syncFolder)
        m_syncFolder->setFolder(syncFolderPath());
}

} // namespace lumra
