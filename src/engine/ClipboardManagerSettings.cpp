#include "engine/ClipboardManager.h"

#include "model/Diagnostics.h"
#include "model/NotificationCenter.h"
#include "platform/cloud/CloudKeyValueStore.h"

#include <QLoggingCategory>

#include <limits>

Q_LOGGING_CATEGORY(lcSettings, "lumra.settings")

namespace lumra {

namespace {

const QString ignoredApplicationsKey = QStringLiteral("ignoredApplications");
const QString autoCleanMinutesKey = QStringLiteral("autoCleanMinutes");
const QString legacyAutoCleanHoursKey = QStringLiteral("autoCleanHours");

bool sameSettingValue(const SettingValue& a, const SettingValue& b)
{
    if (a.index() == size_t(SettingType::String) && b.index() == size_t(SettingType::String))
        return std::get<QString>(a).normalized(QString::NormalizationForm_C)
            == std::get<QString>(b).normalized(QString::NormalizationForm_C);
    return a == b; // doubles: NaN never equal, 0.0 == -0.0
}

QString describe(const QVariant& value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return QStringLiteral("%1 bytes").arg(value.toByteArray().size());
    return value.toString().left(40);
}

void warnRefused(const SettingInfo& info, const QVariant& value, const QString& source)
{
    Diagnostics::shared().warn(QStringLiteral("Settings"),
                               QStringLiteral("Ignored %1 = %2 from %3: out of range").arg(info.key, describe(value), source));
}

} // namespace

// ----------------------------------------------------------------------------------------------------- defaults

QVariantMap ClipboardManager::registeredDefaultSettings()
{
    QVariantMap defaults;
    for (const SettingInfo& info : settingsCatalogue()) {
        if (info.registered)
            defaults.insert(info.key, settingValueToVariant(*info.registered));
    }
    // Read by their owners (hot keys, popup window), not held by the manager.
    defaults.insert(QStringLiteral("hotKeyEnabled"), true);
    defaults.insert(QStringLiteral("hotKeyKeyCode"), qint64(9)); // V
    defaults.insert(QStringLiteral("hotKeyModifiers"), qint64(0x180000)); // Ctrl+Alt
    defaults.insert(QStringLiteral("clipboardWindowWidth"), qint64(551));
    defaults.insert(QStringLiteral("clipboardWindowHeight"), qint64(621));
    return defaults;
}

void ClipboardManager::registerDefaultSettings(UserDefaults& defaults) { defaults.registerDefaults(registeredDefaultSettings()); }

// ----------------------------------------------------------------------------------------------------- reading

std::optional<SettingValue> ClipboardManager::readStoredSetting(const SettingInfo& info) const
{
    if (info.read == SettingRule::migratedMinutes) {
        const auto minutes = migratedAutoCleanMinutes();
        return minutes ? std::optional(SettingValue(*minutes)) : std::nullopt;
    }
    return settingValueFromVariant(info, m_defaults.object(info.key));
}

void ClipboardManager::readSettingsAtLaunch()
{
    for (const SettingInfo& info : settingsCatalogue()) {
        SettingValue& slot = m_settings[size_t(info.setting)];
        if (info.type == SettingType::IgnoredApps) {
            slot = loadIgnoredApplications();
            continue;
        }
        const auto stored = readStoredSetting(info);
        if (!stored) {
            slot = info.fallback;
        } else if (isValidSettingValue(info, *stored)) {
            slot = *stored;
        } else {
            warnRefused(info, settingValueToVariant(*stored), QStringLiteral("the settings"));
            slot = info.registered.value_or(info.fallback);
            m_defaults.set(info.key, settingValueToVariant(slot));
        }
    }
}

std::optional<qint64> ClipboardManager::migratedAutoCleanMinutes() const
{
    if (m_defaults.hasStoredValue(autoCleanMinutesKey)) {
        if (auto minutes = m_defaults.losslessInteger(autoCleanMinutesKey))
            return minutes;
    }
    // An interval from before minutes existed beats the registered default of 0 (off).
    if (auto hours = m_defaults.losslessInteger(legacyAutoCleanHoursKey)) {
        qint64 minutes = 0;
        if (__builtin_mul_overflow(*hours, qint64(60), &minutes))
            minutes = *hours < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        return minutes;
    }
    return UserDefaults::losslessIntegerFrom(m_defaults.registeredValue(autoCleanMinutesKey));
}

QList<IgnoredApp> ClipboardManager::loadIgnoredApplications() const
{
    const auto data = m_defaults.data(ignoredApplicationsKey);
    if (!data)
        return defaultIgnoredApplications();
    if (auto apps = decodeIgnoredApplications(*data))
        return *apps;
    // Falling back to an empty list would start recording password managers.
    Diagnostics::shared().warn(QStringLiteral("Settings"),
                               QStringLiteral("The ignored applications could not be read; using the default list"));
    return defaultIgnoredApplications();
}

void ClipboardManager::saveIgnoredApplications()
{
    m_defaults.set(ignoredApplicationsKey, encodeIgnoredApplications(ignoredApplications()));
}

// ----------------------------------------------------------------------------------------------------- assignment

bool ClipboardManager::setSetting(Setting setting, SettingValue value)
{
    const SettingInfo& info = settingInfo(setting);
    if (!isValidSettingValue(info, value)) {
        qCWarning(lcSettings) << "refused" << info.key << "=" << settingValueToVariant(value);
        return false;
    }
    SettingValue& slot = m_settings[size_t(setting)];
    const bool changed = !sameSettingValue(slot, value);
    slot = std::move(value);

    if (info.type == SettingType::IgnoredApps)
        saveIgnoredApplications();
    else
        m_defaults.set(info.key, settingValueToVariant(slot));
    if (changed)
        emit settingChanged(setting, info.key);
    runAfterWrite(info);
    return true;
}

void ClipboardManager::runAfterWrite(const SettingInfo& info)
{
    using namespace SettingRule;
    if ((info.effects & mirror) && iCloudSyncEnabled()) {
        m_cloudStore.setObject(info.key, settingValueToVariant(setting(info.setting)));
        m_cloudStore.synchronize();
    }
    if (info.effects & retention) {
        applyRetention();
        purgeExpiredTrash();
    }
    if (info.effects & autoCleanTimer)
        startAutoCleanTimer();
    if (info.effects & thumbnailCache)
        clearThumbnailCache();
    if (info.effects & filter)
        updateFilteredItems();
    if (info.effects & syncFolder)
        followSyncFolder();
    if (!info.notification.isEmpty())
        NotificationCenter::defaultCenter().post(info.notification);
}

// ----------------------------------------------------------------------------------------------------- decisions

bool ClipboardManager::isCaptureEnabled(CaptureCategory category) const
{
    switch (category) {
    case CaptureCategory::text: return captureText();
    case CaptureCategory::link: return captureLinks();
    case CaptureCategory::email: return captureEmails();
    case CaptureCategory::color: return captureColors();
    case CaptureCategory::image: return captureImages();
    case CaptureCategory::screenshot: return captureScreenshots();
    case CaptureCategory::imageFile: return captureImageFiles();
    case CaptureCategory::file: return captureFiles();
    case CaptureCategory::folder: return captureFolders();
    }
    return false;
}

bool ClipboardManager::shouldSync(CaptureCategory category, std::optional<qint64> byteSize) const
{
    if (!iCloudSyncEnabled())
        return false;
    bool kindSyncs = false;
    switch (category) {
    case CaptureCategory::text: return syncText();
    case CaptureCategory::link: return syncLinks();
    case CaptureCategory::email: return syncEmails();
    case CaptureCategory::color: return syncColors();
    case CaptureCategory::image: kindSyncs = syncImages(); break;
    case CaptureCategory::screenshot: kindSyncs = syncScreenshots(); break;
    case CaptureCategory::imageFile:
    case CaptureCategory::file:
    case CaptureCategory::folder: return false;
    }
    if (!kindSyncs)
        return false;
    if (!byteSize)
        return true;
    qint64 limit = 0;
    if (__builtin_mul_overflow(syncImageMaxSizeMB(), qint64(1'048'576), &limit))
        limit = syncImageMaxSizeMB() < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return limit >= *byteSize;
}

// ----------------------------------------------------------------------------------------------------- reload

void ClipboardManager::reloadSettingsFromDefaults()
{
    for (const SettingInfo& info : settingsCatalogue()) {
        if (!info.reloaded)
            continue;
        const auto stored = readStoredSetting(info);
        if (info.type == SettingType::IgnoredApps) {
            if (stored)
                setSetting(info.setting, *stored);
            else if (m_defaults.object(info.key).isValid())
                Diagnostics::shared().warn(QStringLiteral("Settings"),
                                           QStringLiteral("The ignored applications could not be read; kept the current list"));
            continue;
        }
        if (!stored) {
            setSetting(info.setting, info.fallback);
        } else if (!setSetting(info.setting, *stored)) {
            // The file must not keep a value the next start would refuse for the registered default.
            warnRefused(info, settingValueToVariant(*stored), QStringLiteral("the settings"));
            m_defaults.set(info.key, settingValueToVariant(setting(info.setting)));
        }
    }
}

// ----------------------------------------------------------------------------------------------------- appearance

const ClipboardManager::AppearancePreset& ClipboardManager::appearancePreset(AppearanceStyle style)
{
    struct Row {
        const char* key;
        QVariant standard;
        QVariant minimal;
    };
    auto s = [](const char* text) { return QVariant(QString::fromLatin1(text)); };
    auto n = [](qint64 value) { return QVariant(value); };
    static const Row rows[] = {
        { "dividerStyle", s("fullWidth"), s("none") },
        { "imageThumbnailHeight", s("bigger"), s("default") },
        { "imageFileThumbnailSize", s("default"), s("default") },
        { "thumbnailQuality", s("low"), s("low") },
        { "previewShortcut", s("spaceBar"), s("spaceBar") },
        { "previewHoverDelay", n(0), n(0) },
        { "itemFontSize", 15.0, 14.0 },
        { "itemLineSpacing", 3.0, 0.0 },
        { "itemVerticalPadding", 14.0, 4.0 },
        { "metadataFontSize", 10.0, 10.0 },
        { "commentFontSize", 10.0, 10.0 },
        { "tagsFontSize", 10.0, 9.0 },
        { "textLineLimit", n(3), n(1) },
        { "showDateLabels", true, false },
        { "showExactTimestamps", false, false },
        { "showImageDimensions", true, false },
        { "showSourceAppIcon", false, true },
        { "showCategoryName", false, false },
        { "showCategoriesInFooter", true, false },
        { "showTags", true, true },
        { "showSearchHints", false, false },
        { "showSettingsIcon", false, false },
        { "showHelpIcon", true, true },
        { "showTrafficLights", true, false },
        { "showSyncIcon", true, false },
        { "showItemCount", true, false },
        { "showPauseButton", true, false },
        { "showQuitButton", true, false },
        { "showTextFilterIcon", true, false },
        { "showLinkFilterIcon", true, false },
        { "showImageFilterIcon", true, false },
        { "showFileFilterIcon", true, false },
        { "showFolderFilterIcon", false, false },
        { "showEmailFilterIcon", false, false },
        { "showColorFilterIcon", false, false },
        { "showCommandFilterIcon", false, false },
        { "showStarFilterIcon", true, false },
    };
    auto build = [](QVariant Row::*column) {
        AppearancePreset preset;
        for (const Row& row : rows)
            preset.append({ QString::fromLatin1(row.key), row.*column });
        return preset;
    };
    static const AppearancePreset standard = build(&Row::standard);
    static const AppearancePreset minimal = build(&Row::minimal);
    return style == AppearanceStyle::minimal ? minimal : standard;
}

void ClipboardManager::applyAppearanceStyle(AppearanceStyle style)
{
    for (const auto& [key, value] : appearancePreset(style))
        m_defaults.set(key, value);
    reloadSettingsFromDefaults();
}

bool ClipboardManager::isAppearanceStyleActive(AppearanceStyle style) const
{
    auto isNumeric = [](const QVariant& v) {
        const int t = v.typeId();
        return t == QMetaType::Bool || t == QMetaType::LongLong || t == QMetaType::Double;
    };
    for (const auto& [key, expected] : appearancePreset(style)) {
        const QVariant stored = m_defaults.object(key);
        if (!stored.isValid())
            return false;
        if (expected.typeId() == QMetaType::QString) {
            if (stored.typeId() != QMetaType::QString || stored.toString() != expected.toString())
                return false;
        } else if (!isNumeric(stored) || stored.toDouble() != expected.toDouble()) {
            return false;
        }
    }
    return true;
}

// ----------------------------------------------------------------------------------------------------- cloud

void ClipboardManager::startCloudSettingsMirror()
{
    if (!iCloudSyncEnabled())
        return;
    m_cloudStore.synchronize();
    connect(&m_cloudStore, &CloudKeyValueStore::didChangeExternally, this, [this] { applyCloudSettings(); });
}

void ClipboardManager::applyCloudSettings()
{
    // recycleBinDays before retentionDays: the purge that follows retention sees the new days.
    static constexpr Setting order[] = { Setting::recycleBinEnabled, Setting::recycleBinDays, Setting::retentionDays,
                                         Setting::autoCleanMinutes, Setting::maxItems, Setting::syncImageMaxSizeMB };
    for (Setting s : order) {
        SettingInfo asNumber = settingInfo(s);
        asNumber.read = SettingRule::typedObject; // numbers only; "500" is not 500 here
        const QVariant raw = m_cloudStore.object(asNumber.key);
        const auto value = settingValueFromVariant(asNumber, raw);
        if (!value || sameSettingValue(*value, setting(s)))
            continue;
        if (!isValidSettingValue(asNumber, *value)) {
            warnRefused(asNumber, raw, QStringLiteral("sync"));
            continue;
        }
        setSetting(s, *value);
    }
}

} // namespace lumra
