#pragma once

#include "engine/SettingOptions.h"
#include "engine/filter/FilterIndex.h"
#include "engine/filter/FilterOptions.h"
#include "engine/filter/FilterState.h"
#include "engine/filter/FilteredItems.h"
#include "engine/filter/PinnedFilters.h"
#include "engine/SettingsCatalogue.h"
#include "model/ClipboardItem.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/core/Clock.h"
#include "platform/defaults/UserDefaults.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace lumra {

class CloudContainer;
class HistoryReader;
class KeyInjector;
class Pasteboard;
class PersistenceController;
class SoundPlayer;
class TextRecognizer;
class Workspace;
namespace store {
class ManagedObject;
using ManagedObjectPtr = std::shared_ptr<ManagedObject>;
} // namespace store

// What the engine needs of the desktop. The app passes the real backends; tests pass doubles.
// Null members get the app default where one exists (a null pasteboard means no capture, a null
// key injector no synthetic paste, a null recognizer no text recognition, a null sound player no sound).
struct ClipboardManagerServices {
    UserDefaults* defaults = nullptr;              // UserDefaults::standard()
    CloudKeyValueStore* cloudKeyValueStore = nullptr; // CloudKeyValueStore::defaultStore()
    Clock* clock = nullptr;                        // Clock::shared()
    CloudContainer* cloudContainer = nullptr;      // no sync folder
    QString storeFolder;                           // Folders::supportFolder()
    Pasteboard* pasteboard = nullptr;
    Workspace* workspace = nullptr;
    KeyInjector* keyInjector = nullptr;
    TextRecognizer* textRecognizer = nullptr;
    SoundPlayer* soundPlayer = nullptr;
};

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
    // Null in a settings-only manager.
    PersistenceController* persistence() const { return m_persistence.get(); }

    // ===================================================================== Settings (ClipboardManagerSettings.cpp)

    using RetentionPeriod = lumra::RetentionPeriod;
    using AutoCleanInterval = lumra::AutoCleanInterval;
    using CombineTextsMode = lumra::CombineTextsMode;
    using ThumbnailQuality = lumra::ThumbnailQuality;
    using DividerStyle = lumra::DividerStyle;
    using SearchMode = lumra::SearchMode;
    using ReminderThreshold = lumra::ReminderThreshold;
    using CopySoundOption = lumra::CopySoundOption;
    using QuickPasteModifier = lumra::QuickPasteModifier;
    using PreviewShortcut = lumra::PreviewShortcut;
    using AppearanceStyle = lumra::AppearanceStyle;

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

    void loadItems();
    void loadCategories();
    store::ManagedObjectPtr fetchManagedItem(const QUuid& id);
    store::ManagedObjectPtr fetchManagedCategory(const QUuid& id);
    std::optional<CaptureCategory> captureCategory(const store::ManagedObject& row) const;
    // Messages the app shows once it can (a store kept aside at start, …).
    QStringList takeStartupWarnings();

    // ===================================================================== Queries and filters (ClipboardManagerFilters.cpp)

    using DateFilterOption = lumra::DateFilterOption;
    using TypeFilterOption = lumra::TypeFilterOption;
    using PinnedFilters = lumra::PinnedFilters;
    using SourceApp = lumra::SourceApp;

    // The desktop-entry id that capture records for Lumra's own windows; never offered as a source app.
    static QString ownApplicationId() { return QStringLiteral("lumra"); }

    // The filter state. Every setter stores its value and emits filtersChanged() only when it differs;
    // then, for an equal value too, it recomputes the list, and a filter switched off (false, none, or
    // values taken out of an exclusion set) is released from the pin, which is saved.
    const QString& searchText() const { return filterState().searchText; }
    // A non-empty text recomputes 0.12 s after the last change; an empty one at once.
    void setSearchText(const QString& text);
    bool showStarredOnly() const { return filterState().showStarredOnly; }
    void setShowStarredOnly(bool value);
    bool showImagesOnly() const { return filterState().showImagesOnly; }
    void setShowImagesOnly(bool value);
    bool showLinksOnly() const { return filterState().showLinksOnly; }
    void setShowLinksOnly(bool value);
    bool searchTagsOnly() const { return filterState().searchTagsOnly; }
    void setSearchTagsOnly(bool value);
    bool showPastedOnly() const { return filterState().showPastedOnly; }
    void setShowPastedOnly(bool value);
    std::optional<QUuid> selectedCategoryId() const { return filterState().selectedCategoryId; }
    void setSelectedCategoryId(std::optional<QUuid> id);
    std::optional<DateFilterOption> dateFilterOption() const { return filterState().dateFilterOption; }
    void setDateFilterOption(std::optional<DateFilterOption> option);
    // The custom period; changing it recomputes only while the date filter is custom.
    QDateTime customDateStart() const { return filterState().customDateStart; }
    void setCustomDateStart(const QDateTime& date);
    QDateTime customDateEnd() const { return filterState().customDateEnd; }
    void setCustomDateEnd(const QDateTime& date);
    std::optional<TypeFilterOption> typeFilterOption() const { return filterState().typeFilterOption; }
    void setTypeFilterOption(std::optional<TypeFilterOption> option);
    const QSet<TypeFilterOption>& excludedTypes() const { return filterState().excludedTypes; }
    void setExcludedTypes(const QSet<TypeFilterOption>& types);
    bool excludeStarred() const { return filterState().excludeStarred; }
    void setExcludeStarred(bool value);
    std::optional<DateFilterOption> excludedDateOption() const { return filterState().excludedDateOption; }
    void setExcludedDateOption(std::optional<DateFilterOption> option);
    QDateTime excludedCustomDateStart() const { return filterState().excludedCustomDateStart; }
    void setExcludedCustomDateStart(const QDateTime& date);
    QDateTime excludedCustomDateEnd() const { return filterState().excludedCustomDateEnd; }
    void setExcludedCustomDateEnd(const QDateTime& date);
    const QSet<QString>& excludedAppBundleIds() const { return filterState().excludedAppBundleIds; }
    void setExcludedAppBundleIds(const QSet<QString>& bundleIds);
    std::optional<QString> appFilterBundleId() const { return filterState().appFilterBundleId; }
    void setAppFilterBundleId(std::optional<QString> bundleId);
    // The list shows the recycle bin instead of the history. Not a setting; every assignment recomputes.
    bool showRecycleBin() const { return filterState().showRecycleBin; }
    void setShowRecycleBin(bool value);
    // Called when the popup closes, so that quick paste and the next opening never see trashed items.
    void leaveRecycleBinView() { setShowRecycleBin(false); }

    // Changes between begin and the matching end recompute the list once, at the outermost end, and
    // only when one of them asked for it.
    void beginFilterUpdateBatch();
    void endFilterUpdateBatch();
    class FilterUpdateBatch {
    public:
        explicit FilterUpdateBatch(ClipboardManager& manager) : m_manager(manager) { manager.beginFilterUpdateBatch(); }
        ~FilterUpdateBatch() { m_manager.endFilterUpdateBatch(); }
        FilterUpdateBatch(const FilterUpdateBatch&) = delete;
        FilterUpdateBatch& operator=(const FilterUpdateBatch&) = delete;

    private:
        ClipboardManager& m_manager;
    };

    // The list the popup shows, as last computed: pinned to the top first, then newest first.
    // filteredItemsChanged() is emitted only when it changed. Reading the count and single items
    // costs nothing; filteredItems() builds the whole list once per result.
    const QList<ClipboardItem>& filteredItems() const;
    qsizetype filteredItemCount() const;
    const ClipboardItem& filteredItemAt(qsizetype position) const;
    // False when the last regex search ran out of time and the list holds what it found until then.
    bool filteredItemsComplete() const { return m_filterResult.complete; }
    // How many times the list was actually computed (batched and debounced requests excluded).
    quint64 filterRecomputations() const { return m_filterRecomputations; }

    // The recycle bin, newest trash date (else date added) first.
    QList<ClipboardItem> trashedItems() const;
    // The periods of the date filter and of the date exclusion, measured now; none when off.
    std::optional<DateRange> dateFilterRange() const;
    std::optional<DateRange> excludedDateFilterRange() const;

    // The applications the history was copied from, most recent first; Lumra's own never.
    // Computed once per history revision.
    QList<SourceApp> sourceApps() const;

    // The pin. The setter only stores (pinnedFiltersChanged() when it differs); callers that replace the
    // pin ("/unpin" sets the empty one) call savePinnedFilters() themselves.
    const PinnedFilters& pinnedFilters() const { return m_pinnedFilters; }
    void setPinnedFilters(const PinnedFilters& pin);
    // Stores the pin as JSON data under "pinnedFilters.v1".
    void savePinnedFilters();
    // "/pin": the live filters that are on become the whole pin, which is saved. Nothing is recomputed.
    void pinCurrentFilters();
    // At every opening of the popup: switches off each filter that is not pinned and makes the two
    // exclusion sets equal to the pinned ones, in one recompute. The search text is the caller's.
    void resetFiltersToPinned();


    // ===================================================================== Editing (ClipboardManagerEditing.cpp)

    // ===================================================================== Housekeeping (ClipboardManagerHousekeeping.cpp)

    // Deletes the oldest unstarred, unpinned rows beyond maxItems; run after every capture and import.
    void enforceMaxItems();

    // ===================================================================== Capture (ClipboardManagerCapture.cpp, ClipboardManagerLifecycle.cpp)

    // ===================================================================== Paste (ClipboardManagerPaste.cpp)

    // ===================================================================== Media and file access (ClipboardManagerMedia.cpp)

    // ===================================================================== Sound and reminder (ClipboardManagerSound.cpp)

signals:
    void settingChanged(lumra::Setting setting, const QString& key);
    void clipboardItemsChanged();
    void categoriesChanged();
    void filteredItemsChanged();
    // Queries and filters: any filter property or the search text changed; the pin changed.
    void filtersChanged();
    void pinnedFiltersChanged();
    // Capture, paste and editing signals go below, per section.

protected:
    // ===================================================================== Setting side effects
    // Run after assignments of the settings that name them in the catalogue. The history, capture and
    // preview code provide the real work; tests override them to watch.
    virtual void applyRetention();      // ClipboardManagerHousekeeping.cpp
    virtual void purgeExpiredTrash();   // ClipboardManagerHousekeeping.cpp
    virtual void startAutoCleanTimer(); // ClipboardManagerLifecycle.cpp
    virtual void clearThumbnailCache() { }
    virtual void updateFilteredItems(); // ClipboardManagerFilters.cpp
    virtual void runAutoClean();        // ClipboardManagerHousekeeping.cpp

private:
    // ===================================================================== Settings internals
    void readSettingsAtLaunch();
    void startCloudSettingsMirror();
    // The stored value by the row's read form; nullopt when absent or unreadable.
    std::optional<SettingValue> readStoredSetting(const SettingInfo& info) const;
    void runAfterWrite(const SettingInfo& info);

    // ===================================================================== Start-up (ClipboardManager.cpp)
    void startUp();
    bool readCloudFlag() const;

    // ===================================================================== History internals
    QList<ClipboardItem> m_clipboardItems;
    QList<ClipboardCategory> m_categories;
    quint64 m_historyRevision = 0;
    std::unique_ptr<PersistenceController> m_persistence;
    std::unique_ptr<HistoryReader> m_reader;

    // ===================================================================== Queries internals
    // The live filters; the custom periods are fixed from the clock at first use.
    const FilterState& filterState() const;
    FilterState& mutableFilterState();
    // Stores a filter value; true (and filtersChanged()) when it differed.
    template <typename T>
    bool storeFilter(T FilterState::*field, T value);
    // Applies `release` to a copy of the pin; a changed pin is stored and saved.
    void releasePinned(const std::function<void(PinnedFilters&)>& release);
    // Clears a selected category that the loaded categories no longer hold (its pin goes with it).
    void clearUnknownCategorySelection();
    const FilterIndex& currentFilterIndex();

    mutable FilterState m_filterState;
    mutable bool m_filterDatesFixed = false;
    int m_filterUpdateBatchDepth = 0;
    bool m_needsRecomputeAfterBatch = false;
    std::unique_ptr<Timer> m_searchDebounceTimer;
    PinnedFilters m_pinnedFilters;
    std::shared_ptr<const FilterIndex> m_filterIndex;
    FilterResult m_filterResult;
    mutable std::optional<QList<ClipboardItem>> m_filteredItemsList;
    quint64 m_filterRecomputations = 0;
    mutable std::optional<quint64> m_sourceAppsRevision;
    mutable QList<SourceApp> m_sourceApps;

    // ===================================================================== Editing and housekeeping internals

    // ===================================================================== Capture internals
    void migrateLegacyStorage();        // ClipboardManagerHistory.cpp
    void refreshFileBookmarksInBackground(); // ClipboardManagerMedia.cpp
    void loadPinnedFilters();           // ClipboardManagerFilters.cpp
    void applyPinnedFilters();          // ClipboardManagerFilters.cpp
    void startMonitoring();             // ClipboardManagerCapture.cpp
    void installObservers();            // ClipboardManagerLifecycle.cpp

    // ===================================================================== Paste internals

    // ===================================================================== Media internals

    // ===================================================================== Sound internals

    ClipboardManagerServices m_services;
    UserDefaults& m_defaults;
    CloudKeyValueStore& m_cloudStore;
    Clock& m_clock;
    std::array<SettingValue, settingCount> m_settings;
};

} // namespace lumra
