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
    // Lumra's own sounds under names of their own; the stored raw values stay as they are.
    case CopySoundOption::none: return QStringLiteral("None");
    case CopySoundOption::basso: return QStringLiteral("Low Hum");
    case CopySoundOption::blow: return QStringLiteral("Breeze");
    case CopySoundOption::bottle: return QStringLiteral("Hollow");
    case CopySoundOption::frog: return QStringLiteral("Croak");
    case CopySoundOption::funk: return QStringLiteral("Bend");
    case CopySoundOption::glass: return QStringLiteral("Chime");
    case CopySoundOption::hero: return QStringLiteral("Fanfare");
    case CopySoundOption::morse: return QStringLiteral("Signal");
    case CopySoundOption::ping: return QStringLiteral("Bell");
    case CopySoundOption::pop: return QStringLiteral("Bubble");
    case CopySoundOption::purr: return QStringLiteral("Rumble");
    case CopySoundOption::sosumi: return QStringLiteral("Two Tones");
    case CopySoundOption::submarine: return QStringLiteral("Sonar");
    case CopySoundOption::tink: return QStringLiteral("Tick");
    case CopySoundOption::custom: return QStringLiteral("Custom...");
    }
    return rawValue(option);
}

} // namespace lumra
