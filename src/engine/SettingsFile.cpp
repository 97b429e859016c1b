#include "engine/SettingsFile.h"

#include "engine/SettingsCatalogue.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/KeyCodes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace lumra::settingsfile {

namespace {

const QString typeSuffix = QStringLiteral("__type");
const QString dataType = QStringLiteral("data");

// The popup's own bounds; a size outside them would be clamped at the next opening anyway.
constexpr qint64 minimumWindowSide = 200;
constexpr qint64 maximumWindowSide = 10000;

std::optional<QVariant> checkedOwnValue(const QString& key, const QJsonValue& json)
{
    const QVariant value = json.toVariant();
    if (key == QLatin1String("hotKeyEnabled")) {
        const auto flag = UserDefaults::losslessBoolFrom(value);
        return flag ? std::optional<QVariant>(*flag) : std::nullopt;
    }
    if (key == QLatin1String("clipboardWindowWidth") || key == QLatin1String("clipboardWindowHeight")) {
        // The popup stores its size in points, fractions included.
        const double side = json.isDouble() ? json.toDouble() : -1;
        if (!(side >= minimumWindowSide && side <= maximumWindowSide))
            return std::nullopt;
        return QVariant(side);
    }
    const std::optional<qint64> number = json.isDouble() ? UserDefaults::losslessIntegerFrom(value) : std::nullopt;
    if (!number)
        return std::nullopt;
    if (key == QLatin1String("hotKeyKeyCode")) {
        if (*number < 0 || *number > 0xFFFF || !KeyCodes::keysymForKeyCode(quint16(*number)))
            return std::nullopt;
    } else if (key == QLatin1String("hotKeyModifiers")) {
        // The open-popup shortcut never becomes a bare key: Ctrl, Alt or Super, and no unknown bit.
        if (*number < 0 || (quint64(*number) & ~KeyCodes::modifierFlagsMask)
            || !KeyCodes::isValidShortcutModifiers(quint64(*number)))
            return std::nullopt;
    }
    return QVariant(*number);
}

std::optional<QVariant> checkedValue(const QString& key, const QJsonObject& object)
{
    const QJsonValue json = object.value(key);
    if (json.isNull() || json.isUndefined())
        return std::nullopt;
    const std::optional<Setting> setting = settingForKey(key);
    if (!setting)
        return checkedOwnValue(key, json);
    SettingInfo info = settingInfo(*setting);
    QVariant value = json.toVariant();
    if (info.type == SettingType::IgnoredApps) {
        // Only a list that decodes replaces the current one: a bad file never empties it.
        if (object.value(key + typeSuffix) != QJsonValue(dataType) || !json.isString())
            return std::nullopt;
        auto bytes = QByteArray::fromBase64Encoding(json.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes)
            return std::nullopt;
        value = bytes.decoded;
    } else {
        info.read = SettingRule::typedObject; // the file's JSON type must be the setting's
    }
    const std::optional<SettingValue> read = settingValueFromVariant(info, value);
    if (!read || !isValidSettingValue(info, *read))
        return std::nullopt;
    return settingValueToVariant(*read);
}

} // namespace

const QStringList& keys()
{
    static const QStringList all = QStringLiteral(
        "maxItems retentionDays autoCleanMinutes doubleTapToCopy preserveFormatting pasteOnNewLines combineTextsMode "
        "enableImageOCR searchMode displayBatchSize showDateLabels showExactTimestamps showSourceAppIcon "
        "showImageDimensions showSearchHints showSettingsIcon showStarFilterIcon showImageFilterIcon showLinkFilterIcon "
        "showTextFilterIcon showFileFilterIcon showFolderFilterIcon showEmailFilterIcon showColorFilterIcon "
        "showCommandFilterIcon showPauseButton showQuitButton showCategoriesInFooter showHelpIcon showTrafficLights "
        "showSyncIcon showItemCount keepWindowOpen showTags showCategoryName dividerStyle textLineLimit "
        "previewHoverDelay imageThumbnailHeight imageFileThumbnailSize thumbnailQuality itemFontSize itemLineSpacing "
        "metadataFontSize tagsFontSize commentFontSize itemVerticalPadding copySoundOption customSoundPath "
        "reminderThreshold shortcutWindowPosition quickPasteModifier previewShortcut menuBarIcon recycleBinEnabled "
        "recycleBinDays ignoreTransientContent ignoredApplications hotKeyEnabled hotKeyKeyCode hotKeyModifiers "
        "clipboardWindowWidth clipboardWindowHeight syncText syncLinks syncEmails syncImages syncScreenshots "
        "syncColors syncImageMaxSizeMB").split(QLatin1Char(' '));
    return all;
}

QByteArray encode(const std::function<QVariant(const QString&)>& read)
{
    QJsonObject object;
    for (const QString& key : keys()) {
        const QVariant value = read(key);
        if (!value.isValid() || value.isNull())
            continue;
        if (value.typeId() == QMetaType::QByteArray) {
            object.insert(key, QString::fromLatin1(value.toByteArray().toBase64()));
            object.insert(key + typeSuffix, dataType);
            continue;
        }
        if (value.typeId() == QMetaType::QDateTime || value.typeId() == QMetaType::QDate)
            continue;
        if (value.typeId() == QMetaType::Double && !std::isfinite(value.toDouble()))
            continue;
        const QJsonValue json = QJsonValue::fromVariant(value);
        if (!json.isUndefined() && !json.isNull())
            object.insert(key, json);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

Parsed parse(const QByteArray& bytes)
{
    Parsed parsed;
    if (bytes.size() > maxFileBytes) {
        parsed.error = QStringLiteral("The file is larger than a settings file can be (%1 KB).").arg(maxFileBytes / 1024);
        return parsed;
    }
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        parsed.error = QStringLiteral("The file is not JSON (%1).").arg(error.errorString());
        return parsed;
    }
    const QJsonObject object = document.object();
    const bool anyKey = std::any_of(keys().begin(), keys().end(), [&](const QString& key) { return object.contains(key); });
    if (!document.isObject() || !anyKey) {
        parsed.error = QStringLiteral("The file is not a Lumra settings file.");
        return parsed;
    }
    for (const QString& key : keys()) {
        if (!object.contains(key))
            continue;
        if (std::optional<QVariant> value = checkedValue(key, object))
            parsed.accepted.insert(key, *value);
        else
            ++parsed.refused;
    }
    return parsed;
}

} // namespace lumra::settingsfile
