#pragma once

#include "engine/SettingOptions.h"
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
#include <optional>

namespace lumra {

// The one main-thread state object every view uses: settings, and (in the files named per section)
// history, capture, queries and editing.
class ClipboardManager : public QObject {
    Q_OBJECT
public:
    // ===================================================================== Construction (ClipboardManager.cpp)

    // Reads every setting from `defaults`; when cloud sync is on at launch, synchronises `cloudStore`
    // and applies its external changes. `cloudStore` null means CloudKeyValueStore::defaultStore().
    explicit ClipboardManager(UserDefaults& defaults = UserDefaults::standard(), CloudKeyValueStore* cloudStore = nullptr,
                              Clock& clock = Clock::shared(), QObject* parent = nullptr);
    ~ClipboardManager() override;

    UserDefaults& userDefaults() const { return m_defaults; }
    CloudKeyValueStore& cloudStore() const { return m_cloudStore; }
    Clock& clock() const { return m_clock; }

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

signals:
    void settingChanged(lumra::Setting setting, const QString& key);

protected:
    // ===================================================================== Setting side effects
    // Run after assignments of the settings that name them in the catalogue. The history, capture and
    // preview code provide the real work; tests override them to watch.
    virtual void applyRetention() { }
    virtual void purgeExpiredTrash() { }
    virtual void startAutoCleanTimer() { }
    virtual void clearThumbnailCache() { }
    virtual void updateFilteredItems() { }

private:
    // ===================================================================== Settings internals
    void readSettingsAtLaunch();
    void startCloudSettingsMirror();
    // The stored value by the row's read form; nullopt when absent or unreadable.
    std::optional<SettingValue> readStoredSetting(const SettingInfo& info) const;
    void runAfterWrite(const SettingInfo& info);

    UserDefaults& m_defaults;
    CloudKeyValueStore& m_cloudStore;
    Clock& m_clock;
    std::array<SettingValue, settingCount> m_settings;
};

} // namespace lumra
