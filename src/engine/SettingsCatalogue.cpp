#include "engine/SettingsCatalogue.h"

#include "model/NotificationCenter.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/files/FileChecks.h"

#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace lumra {

namespace {

using namespace SettingRule;

struct NotRegisteredTag { };
constexpr NotRegisteredTag NotRegistered;
constexpr bool yes = true;
constexpr bool no = false;
const QString none;
const QString& showTrafficLightsChanged = Notifications::showTrafficLightsChanged;
const QString& keepWindowOpenChanged = Notifications::keepWindowOpenChanged;
const QString& quickPasteChanged = Notifications::quickPasteChanged;
const QString& menuBarIconChanged = Notifications::menuBarIconChanged;

template <SettingType T, typename V>
SettingValue makeValue(const V& v)
{
    using C = SettingCppType<T>;
    if constexpr (std::is_same_v<C, QString>)
        return SettingValue(std::in_place_index<size_t(T)>, QString::fromUtf8(v));
    else
        return SettingValue(std::in_place_index<size_t(T)>, C(v));
}

template <SettingType T>
std::optional<SettingValue> makeRegistered(NotRegisteredTag)
{
    return std::nullopt;
}

template <SettingType T, typename V>
std::optional<SettingValue> makeRegistered(const V& v)
{
    return makeValue<T>(v);
}

const std::array<SettingInfo, settingCount>& rows()
{
#define LUMRA_SETTING_ROW(name, Setter, Type, registered, fallback, read, check, effects, notification, reload)          \
    SettingInfo { Setting::name, QStringLiteral(#name), SettingType::Type, makeRegistered<SettingType::Type>(registered), \
                  makeValue<SettingType::Type>(fallback), read, check, unsigned(effects), notification, reload },
    static const std::array<SettingInfo, settingCount> table { { LUMRA_SETTINGS(LUMRA_SETTING_ROW) } };
#undef LUMRA_SETTING_ROW
    return table;
}

template <typename T>
bool inRange(const SettingValue& value, T low, T high)
{
    const T v = std::get<T>(value);
    return v >= low && v <= high; // false for NaN
}

} // namespace

std::span<const SettingInfo> settingsCatalogue() { return rows(); }

const SettingInfo& settingInfo(Setting setting) { return rows()[size_t(setting)]; }

std::optional<Setting> settingForKey(const QString& key)
{
    static const QHash<QString, Setting> byKey = [] {
        QHash<QString, Setting> map;
        for (const SettingInfo& info : rows())
            map.insert(info.key, info.setting);
        return map;
    }();
    auto it = byKey.constFind(key);
    return it == byKey.constEnd() ? std::nullopt : std::optional(*it);
}

bool isValidSettingValue(const SettingInfo& info, const SettingValue& value)
{
    if (value.index() != size_t(info.type))
        return false;
    constexpr qint64 hundredYearsOfDays = 36'500;
    switch (info.check) {
    case any: return info.type != SettingType::Double || std::isfinite(std::get<double>(value));
    case itemCount: return inRange<qint64>(value, 1, 1'000'000);
    case days: return inRange<qint64>(value, 0, hundredYearsOfDays);
    case minutes: return inRange<qint64>(value, 0, hundredYearsOfDays * 24 * 60);
    case megabytes: return inRange<qint64>(value, 0, 1'048'576);
    case batchSize: return inRange<qint64>(value, 1, 10'000);
    case fontSize: return inRange<double>(value, 0.0, 512.0) && std::get<double>(value) > 0.0;
    case spacing: return inRange<double>(value, 0.0, 512.0);
    case soundFile: {
        const QString& path = std::get<QString>(value);
        return path.isEmpty() || (QDir::isAbsolutePath(path) && isRegularFile(path));
    }
    }
    return false;
}

QVariant settingValueToVariant(const SettingValue& value)
{
    return std::visit(
        [](const auto& v) -> QVariant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QList<IgnoredApp>>)
                return encodeIgnoredApplications(v);
            else
                return QVariant::fromValue(v);
        },
        value);
}

std::optional<SettingValue> settingValueFromVariant(const SettingInfo& info, const QVariant& value)
{
    auto wrap = [](const auto& optional) -> std::optional<SettingValue> {
        if (!optional)
            return std::nullopt;
        return SettingValue(*optional);
    };
    switch (info.read) {
    case plainBool: return SettingValue(UserDefaults::booleanFrom(value));
    case integer: return wrap(UserDefaults::readableIntegerFrom(value));
    case string: return wrap(UserDefaults::stringFrom(value));
    case migratedMinutes: return wrap(UserDefaults::losslessIntegerFrom(value));
    case ignoredAppsData:
        if (value.typeId() != QMetaType::QByteArray)
            return std::nullopt;
        return wrap(decodeIgnoredApplications(value.toByteArray()));
    case typedObject:
        switch (info.type) {
        case SettingType::Bool: return wrap(UserDefaults::losslessBoolFrom(value));
        case SettingType::Int: return wrap(UserDefaults::losslessIntegerFrom(value));
        case SettingType::Double: return wrap(UserDefaults::losslessDoubleFrom(value));
        case SettingType::String:
            return value.typeId() == QMetaType::QString ? std::optional(SettingValue(value.toString())) : std::nullopt;
        case SettingType::IgnoredApps: return std::nullopt;
        }
    }
    return std::nullopt;
}

QByteArray encodeIgnoredApplications(const QList<IgnoredApp>& apps)
{
    QJsonArray array;
    for (const IgnoredApp& app : apps)
        array.append(Json::encode(app));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<IgnoredApp>> decodeIgnoredApplications(const QByteArray& data)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<IgnoredApp> apps;
    for (const QJsonValue& element : document.array()) {
        auto app = Json::decodeIgnoredApp(element);
        if (!app)
            return std::nullopt;
        apps.append(*app);
    }
    return apps;
}

QList<IgnoredApp> defaultIgnoredApplications()
{
    return {
        { QStringLiteral("org.keepassxc.KeePassXC"), QStringLiteral("KeePassXC") },
        { QStringLiteral("org.gnome.seahorse.Application"), QStringLiteral("Passwords and Keys") },
    };
}

} // namespace lumra
