#include "engine/SettingOptions.h"

namespace lumra {

namespace {

QString countWithUnit(qint64 count, const char* unit)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
}

} // namespace

QString displayName(RetentionPeriod period)
{
    const qint64 days = rawValue(period);
    if (days == 0)
        return QStringLiteral("Unlimited");
    return days % 30 == 0 ? countWithUnit(days / 30, "month") : countWithUnit(days / 7, "week");
}

QString displayName(AutoCleanInterval interval)
{
    const qint64 minutes = rawValue(interval);
    if (minutes == 0)
        return QStringLiteral("Disable");
    if (minutes < 60)
        return countWithUnit(minutes, "minute");
    if (minutes <= 1440)
        return countWithUnit(minutes / 60, "hour");
    if (minutes < 43200)
        return countWithUnit(minutes / 1440, "day");
    return countWithUnit(minutes / 43200, "month");
}

QString displayName(CopySoundOption option)
{
    switch (option) {
    case CopySoundOption::none: return QStringLiteral("None");
    case CopySoundOption::custom: return QStringLiteral("Custom...");
    default: return rawValue(option);
    }
}

} // namespace lumra
