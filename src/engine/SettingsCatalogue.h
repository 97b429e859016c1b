#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>
#include <span>
#include <variant>

namespace lumra {

// Every user setting, one row each. The key is the name, stored under it in the user defaults.
// Columns:
//   name, Setter      the typed accessors ClipboardManager gets
//   Type              Bool, Int (64-bit), Double, String (option raw values, words, paths), IgnoredApps
//   registered        what a fresh installation reads (registerDefaultSettings), or NotRegistered
//   fallback          what a key with no usable stored or registered value starts as
//   read              how the stored value is read at launch, reload and from the cloud store
//   check             the one validation every entry path applies; invalid values are refused, never clamped
//   effects           what runs after each assignment (also of an equal value), in this order:
//                     cloud mirror, retention + trash purge, auto-clean timer, thumbnail cache, filter
//   notification      posted on the default notification center after the effects
//   reload            whether reloadSettingsFromDefaults reads it
// Rows stand in the order in which reloadSettingsFromDefaults assigns them.
#define LUMRA_SETTINGS(X)                                                                                                      \
    X(maxItems, setMaxItems, Int, 2000, 2000, integer, itemCount, mirror, none, yes)                                           \
    X(retentionDays, setRetentionDays, Int, 150, 0, typedObject, days, mirror | retention, none, yes)                         \
    X(autoCleanMinutes, setAutoCleanMinutes, Int, 0, 0, migratedMinutes, minutes, mirror | autoCleanTimer, none, yes)         \
    X(doubleTapToCopy, setDoubleTapToCopy, Bool, false, false, plainBool, any, 0, none, yes)                                   \
    X(preserveFormatting, setPreserveFormatting, Bool, true, true, typedObject, any, 0, none, yes)                             \
    X(pasteOnNewLines, setPasteOnNewLines, Bool, true, false, plainBool, any, 0, none, yes)                                    \
    X(combineTextsMode, setCombineTextsMode, String, "vertical", "off", string, any, 0, none, yes)                             \
    X(enableImageOCR, setEnableImageOCR, Bool, true, true, typedObject, any, 0, none, yes)                                     \
    X(searchMode, setSearchMode, String, "contains", "contains", string, any, filter, none, yes)                              \
    X(displayBatchSize, setDisplayBatchSize, Int, 50, 50, typedObject, batchSize, 0, none, yes)                                \
    X(showDateLabels, setShowDateLabels, Bool, true, true, typedObject, any, 0, none, yes)                                     \
    X(showExactTimestamps, setShowExactTimestamps, Bool, false, false, typedObject, any, 0, none, yes)                         \
    X(showSourceAppIcon, setShowSourceAppIcon, Bool, true, true, typedObject, any, 0, none, yes)                               \
    X(showImageDimensions, setShowImageDimensions, Bool, true, true, typedObject, any, 0, none, yes)                           \
    X(showSearchHints, setShowSearchHints, Bool, true, true, typedObject, any, 0, none, yes)                                   \
    X(showSettingsIcon, setShowSettingsIcon, Bool, true, true, typedObject, any, 0, none, yes)                                 \
    X(showStarFilterIcon, setShowStarFilterIcon, Bool, true, true, typedObject, any, 0, none, yes)                             \
    X(showImageFilterIcon, setShowImageFilterIcon, Bool, true, true, typedObject, any, 0, none, yes)                           \
    X(showLinkFilterIcon, setShowLinkFilterIcon, Bool, true, false, typedObject, any, 0, none, yes)                            \
    X(showTextFilterIcon, setShowTextFilterIcon, Bool, true, false, typedObject, any, 0, none, yes)                            \
    X(showFileFilterIcon, setShowFileFilterIcon, Bool, false, false, typedObject, any, 0, none, yes)                           \
    X(showFolderFilterIcon, setShowFolderFilterIcon, Bool, false, false, typedObject, any, 0, none, yes)                       \
    X(showEmailFilterIcon, setShowEmailFilterIcon, Bool, true, false, typedObject, any, 0, none, yes)                          \
    X(showColorFilterIcon, setShowColorFilterIcon, Bool, false, false, typedObject, any, 0, none, yes)                         \
    X(showCommandFilterIcon, setShowCommandFilterIcon, Bool, false, false, typedObject, any, 0, none, yes)                     \
    X(showPauseButton, setShowPauseButton, Bool, true, true, typedObject, any, 0, none, yes)                                   \
    X(showQuitButton, setShowQuitButton, Bool, true, true, typedObject, any, 0, none, yes)                                     \
    X(showCategoriesInFooter, setShowCategoriesInFooter, Bool, true, true, typedObject, any, 0, none, yes)                     \
    X(showHelpIcon, setShowHelpIcon, Bool, true, true, typedObject, any, 0, none, yes)                                         \
    X(showTrafficLights, setShowTrafficLights, Bool, true, true, typedObject, any, 0, showTrafficLightsChanged, yes)            \
    X(showSyncIcon, setShowSyncIcon, Bool, true, true, typedObject, any, 0, none, yes)                                         \
    X(showItemCount, setShowItemCount, Bool, true, true, typedObject, any, 0, none, yes)                                       \
    X(keepWindowOpen, setKeepWindowOpen, Bool, false, false, typedObject, any, 0, keepWindowOpenChanged, yes)                  \
    X(showTags, setShowTags, Bool, true, true, typedObject, any, 0, none, yes)                                                 \
    X(showCategoryName, setShowCategoryName, Bool, true, true, typedObject, any, 0, none, yes)                                 \
    X(dividerStyle, setDividerStyle, String, "fullWidth", "inset", string, any, 0, none, yes)                                  \
    X(textLineLimit, setTextLineLimit, Int, 3, 2, typedObject, any, 0, none, yes)                                              \
    X(previewHoverDelay, setPreviewHoverDelay, Int, 0, 0, typedObject, any, 0, none, yes)                                      \
    X(imageThumbnailHeight, setImageThumbnailHeight, String, "big", "default", string, any, 0, none, yes)                      \
    X(imageFileThumbnailSize, setImageFileThumbnailSize, String, "default", "default", string, any, 0, none, yes)              \
    X(thumbnailQuality, setThumbnailQuality, String, "low", "normal", string, any, thumbnailCache, none, yes)                  \
    X(itemFontSize, setItemFontSize, Double, 16.0, 13.0, typedObject, fontSize, 0, none, yes)                                  \
    X(itemLineSpacing, setItemLineSpacing, Double, 3.0, 2.0, typedObject, spacing, 0, none, yes)                               \
    X(metadataFontSize, setMetadataFontSize, Double, 10.0, 10.0, typedObject, fontSize, 0, none, yes)                          \
    X(tagsFontSize, setTagsFontSize, Double, 10.0, 10.0, typedObject, fontSize, 0, none, yes)                                  \
    X(commentFontSize, setCommentFontSize, Double, 10.0, 10.0, typedObject, fontSize, 0, none, yes)                            \
    X(itemVerticalPadding, setItemVerticalPadding, Double, 14.0, 6.0, typedObject, spacing, 0, none, yes)                      \
    X(copySoundOption, setCopySoundOption, String, "Pop", "Pop", string, any, 0, none, yes)                                    \
    X(customSoundPath, setCustomSoundPath, String, "", "", string, soundFile, 0, none, yes)                                    \
    X(reminderThreshold, setReminderThreshold, Int, 3, 10, typedObject, any, 0, none, yes)                                     \
    X(shortcutWindowPosition, setShortcutWindowPosition, String, "center", "mouse", string, any, 0, none, yes)                 \
    X(quickPasteModifier, setQuickPasteModifier, String, "disabled", "disabled", string, any, 0, quickPasteChanged, yes)       \
    X(previewShortcut, setPreviewShortcut, String, "spaceBar", "shiftCommand", string, any, 0, none, yes)                      \
    X(menuBarIcon, setMenuBarIcon, String, "doc.on.clipboard.fill", "doc.on.clipboard.fill", string, any, 0,                   \
      menuBarIconChanged, yes)                                                                                                 \
    X(recycleBinEnabled, setRecycleBinEnabled, Bool, false, true, typedObject, any, mirror, none, yes)                         \
    X(recycleBinDays, setRecycleBinDays, Int, 2, 30, typedObject, days, mirror, none, yes)                                     \
    X(ignoreTransientContent, setIgnoreTransientContent, Bool, true, true, typedObject, any, 0, none, yes)                     \
    X(ignoredApplications, setIgnoredApplications, IgnoredApps, NotRegistered, defaultIgnoredApplications(),                   \
      ignoredAppsData, any, 0, none, yes)                                                                                      \
    X(syncText, setSyncText, Bool, true, true, typedObject, any, 0, none, yes)                                                 \
    X(syncLinks, setSyncLinks, Bool, true, true, typedObject, any, 0, none, yes)                                               \
    X(syncEmails, setSyncEmails, Bool, true, true, typedObject, any, 0, none, yes)                                             \
    X(syncImages, setSyncImages, Bool, true, true, typedObject, any, 0, none, yes)                                             \
    X(syncScreenshots, setSyncScreenshots, Bool, true, true, typedObject, any, 0, none, yes)                                   \
    X(syncColors, setSyncColors, Bool, true, true, typedObject, any, 0, none, yes)                                             \
    X(syncImageMaxSizeMB, setSyncImageMaxSizeMB, Int, 5, 5, typedObject, megabytes, mirror, none, yes)                         \
    X(iCloudSyncEnabled, setICloudSyncEnabled, Bool, NotRegistered, true, typedObject, any, 0, none, no)                       \
    X(captureText, setCaptureText, Bool, NotRegistered, true, typedObject, any, 0, none, no)                                   \
    X(captureLinks, setCaptureLinks, Bool, NotRegistered, true, typedObject, any, 0, none, no)                                 \
    X(captureEmails, setCaptureEmails, Bool, NotRegistered, true, typedObject, any, 0, none, no)                               \
    X(captureImages, setCaptureImages, Bool, NotRegistered, true, typedObject, any, 0, none, no)                               \
    X(captureImageFiles, setCaptureImageFiles, Bool, NotRegistered, true, typedObject, any, 0, none, no)                       \
    X(captureScreenshots, setCaptureScreenshots, Bool, NotRegistered, true, typedObject, any, 0, none, no)                     \
    X(captureColors, setCaptureColors, Bool, NotRegistered, true, typedObject, any, 0, none, no)                               \
    X(captureFiles, setCaptureFiles, Bool, NotRegistered, true, typedObject, any, 0, none, no)                                 \
    X(captureFolders, setCaptureFolders, Bool, NotRegistered, true, typedObject, any, 0, none, no)                             \
    X(showTimeSavedCelebration, setShowTimeSavedCelebration, Bool, NotRegistered, true, typedObject, any, 0, none, no)         \
    X(showFileThumbnails, setShowFileThumbnails, Bool, NotRegistered, true, typedObject, any, 0, none, no)                     \
    X(footerSize, setFooterSize, Double, NotRegistered, 11.0, typedObject, fontSize, 0, none, no)                           \
    X(syncFolderPath, setSyncFolderPath, String, NotRegistered, "", string, any, syncFolder, none, no)

enum class Setting {
#define LUMRA_SETTING_ENUM(name, ...) name,
    LUMRA_SETTINGS(LUMRA_SETTING_ENUM)
#undef LUMRA_SETTING_ENUM
};

enum class SettingType { Bool, Int, Double, String, IgnoredApps };

// Held in the alternative of the setting's type (index == SettingType).
using SettingValue = std::variant<bool, qint64, double, QString, QList<IgnoredApp>>;
template <SettingType T>
using SettingCppType = std::variant_alternative_t<size_t(T), SettingValue>;

namespace SettingRule {
enum ReadForm {
    typedObject, // a number that converts without loss (booleans from 0 or 1); strings for String settings
    plainBool, // boolean read: absent or unreadable is false
    integer, // integer read: numbers and numeric strings
    string, // strings, and numbers in text form
    migratedMinutes, // minutes, else legacy "autoCleanHours" x 60
    ignoredAppsData, // JSON array of IgnoredApp stored as bytes
};
// soundFile: empty, or an absolute path to a regular file Lumra can read (a settings file may name
// anything, a FIFO or a device among them, and the sound player would open it).
enum Check { any, itemCount, days, minutes, megabytes, batchSize, fontSize, spacing, soundFile };
enum Effect : unsigned { mirror = 1, retention = 2, autoCleanTimer = 4, thumbnailCache = 8, filter = 16, syncFolder = 32 };
} // namespace SettingRule

struct SettingInfo {
    Setting setting;
    QString key;
    SettingType type;
    std::optional<SettingValue> registered;
    SettingValue fallback;
    SettingRule::ReadForm read;
    SettingRule::Check check;
    unsigned effects;
    QString notification; // empty: none
    bool reloaded;
};

inline constexpr size_t settingCount = 0
#define LUMRA_SETTING_COUNT(name, ...) +1
    LUMRA_SETTINGS(LUMRA_SETTING_COUNT)
#undef LUMRA_SETTING_COUNT
    ;

// All rows, in catalogue order (index == Setting).
std::span<const SettingInfo> settingsCatalogue();
const SettingInfo& settingInfo(Setting setting);
std::optional<Setting> settingForKey(const QString& key);

// Whether a value of the right type passes the setting's check.
bool isValidSettingValue(const SettingInfo& info, const SettingValue& value);
// The user-defaults form of a value (ignored applications as their JSON bytes).
QVariant settingValueToVariant(const SettingValue& value);
// A value of the setting's type from a variant, by the setting's read form; nullopt when it cannot be read.
std::optional<SettingValue> settingValueFromVariant(const SettingInfo& info, const QVariant& value);

// The JSON array form of an ignored-applications list, and back (nullopt when it does not decode).
QByteArray encodeIgnoredApplications(const QList<IgnoredApp>& apps);
std::optional<QList<IgnoredApp>> decodeIgnoredApplications(const QByteArray& data);
// Password managers of this platform, whose copies are not recorded unless the user says otherwise.
QList<IgnoredApp> defaultIgnoredApplications();

} // namespace lumra
