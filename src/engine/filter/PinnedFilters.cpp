#include "engine/filter/PinnedFilters.h"

#include "model/ClipboardItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace lumra {

namespace {

// About ±3,000 years around 2001: beyond that a stored number cannot be a date we wrote.
constexpr double maxReferenceSeconds = 1e11;

// One JSON value as text, through QJsonDocument so strings are escaped and numbers kept exact.
QByteArray jsonText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

class Reader {
public:
    Reader(const QJsonObject& object, QString* error) : m_object(object), m_error(error) { }

    bool fail(const QString& message)
    {
        if (m_error) *m_error = message;
        return false;
    }

    bool requiredBool(const char* key, bool& out)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isBool()) return fail(QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(key)));
        out = value.toBool();
        return true;
    }

    bool requiredStrings(const char* key, QStringList& out)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isArray()) return fail(QStringLiteral("\"%1\" must be an array").arg(QLatin1String(key)));
        for (const QJsonValue& element : value.toArray()) {
            if (!element.isString()) return fail(QStringLiteral("\"%1\" must hold strings").arg(QLatin1String(key)));
            out.append(element.toString());
        }
        return true;
    }

    // False on a wrong type; a missing or null key leaves `out` empty.
    bool optionalString(const char* key, std::optional<QString>& out)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return true;
        if (!value.isString()) return fail(QStringLiteral("\"%1\" must be a string").arg(QLatin1String(key)));
        out = value.toString();
        return true;
    }

    template <typename Option>
    bool optionalOption(const char* key, std::optional<Option> (*fromRaw)(const QString&), std::optional<Option>& out)
    {
        std::optional<QString> raw;
        if (!optionalString(key, raw)) return false;
        if (!raw) return true;
        out = fromRaw(*raw);
        return out ? true : fail(QStringLiteral("\"%1\" names no option: %2").arg(QLatin1String(key), *raw));
    }

    bool optionalUuid(const char* key, std::optional<QUuid>& out)
    {
        static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
                                                            "[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
        std::optional<QString> raw;
        if (!optionalString(key, raw)) return false;
        if (!raw) return true;
        if (!form.match(*raw).hasMatch()) return fail(QStringLiteral("\"%1\" is not a UUID").arg(QLatin1String(key)));
        out = QUuid::fromString(*raw);
        return true;
    }

    bool optionalDate(const char* key, std::optional<QDateTime>& out)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return true;
        if (!value.isDouble() || !(std::abs(value.toDouble()) <= maxReferenceSeconds))
            return fail(QStringLiteral("\"%1\" must be a date in seconds since 2001").arg(QLatin1String(key)));
        out = Json::dateFromReferenceSeconds(value.toDouble());
        return true;
    }

private:
    const QJsonObject& m_object;
    QString* m_error;
};

} // namespace

QByteArray encodePinnedFilters(const PinnedFilters& pin)
{
    // Written by hand to keep the fields in their declared order.
    QList<std::pair<const char*, QJsonValue>> fields{
        {"star", pin.star}, {"pasted", pin.pasted}, {"tag", pin.tag}, {"excludeStar", pin.excludeStar}};
    auto addOptional = [&fields](const char* key, const auto& value, auto toJson) {
        if (value) fields.append({key, toJson(*value)});
    };
    auto rawValue = [](auto option) { return QJsonValue(toRawValue(option)); };
    auto date = [](const QDateTime& d) { return QJsonValue(Json::secondsSinceReferenceDate(d)); };

    addOptional("type", pin.type, rawValue);
    addOptional("appBundleId", pin.appBundleId, [](const QString& s) { return QJsonValue(s); });
    addOptional("categoryId", pin.categoryId, [](const QUuid& id) { return QJsonValue(Json::uuidString(id)); });
    addOptional("date", pin.date, rawValue);
    addOptional("customDateStart", pin.customDateStart, date);
    addOptional("customDateEnd", pin.customDateEnd, date);

    QJsonArray types;
    for (TypeFilterOption option : allTypeFilterOptions) {
        if (pin.excludedTypes.contains(option)) types.append(toRawValue(option));
    }
    QStringList apps(pin.excludedApps.begin(), pin.excludedApps.end());
    std::sort(apps.begin(), apps.end());
    fields.append({"excludedTypes", types});
    fields.append({"excludedApps", QJsonArray::fromStringList(apps)});
    addOptional("excludedDate", pin.excludedDate, rawValue);
    addOptional("excludedCustomDateStart", pin.excludedCustomDateStart, date);
    addOptional("excludedCustomDateEnd", pin.excludedCustomDateEnd, date);

    QByteArray json("{");
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) json += ',';
        json += '"' + QByteArray(fields[i].first) + "\":" + jsonText(fields[i].second);
    }
    return json + '}';
}

std::optional<PinnedFilters> decodePinnedFilters(const QByteArray& data, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error) *error = QStringLiteral("not a JSON object: %1").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    Reader read(object, error);
    PinnedFilters pin;
    QStringList types;
    QStringList apps;
    const bool ok = read.requiredBool("star", pin.star) && read.requiredBool("pasted", pin.pasted)
        && read.requiredBool("tag", pin.tag) && read.requiredBool("excludeStar", pin.excludeStar)
        && read.requiredStrings("excludedTypes", types) && read.requiredStrings("excludedApps", apps)
        && read.optionalOption("type", &typeFilterOptionFromRawValue, pin.type)
        && read.optionalString("appBundleId", pin.appBundleId) && read.optionalUuid("categoryId", pin.categoryId)
        && read.optionalOption("date", &dateFilterOptionFromRawValue, pin.date)
        && read.optionalDate("customDateStart", pin.customDateStart)
        && read.optionalDate("customDateEnd", pin.customDateEnd)
        && read.optionalOption("excludedDate", &dateFilterOptionFromRawValue, pin.excludedDate)
        && read.optionalDate("excludedCustomDateStart", pin.excludedCustomDateStart)
        && read.optionalDate("excludedCustomDateEnd", pin.excludedCustomDateEnd);
    if (!ok) return std::nullopt;
    for (const QString& raw : types) {
        const std::optional<TypeFilterOption> option = typeFilterOptionFromRawValue(raw);
        if (!option) {
            read.fail(QStringLiteral("\"excludedTypes\" names no option: %1").arg(raw));
            return std::nullopt;
        }
        pin.excludedTypes.insert(*option);
    }
    pin.excludedApps = QSet<QString>(apps.begin(), apps.end());
    return pin;
}

} // namespace lumra
