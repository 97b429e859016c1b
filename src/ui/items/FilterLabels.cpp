#include "ui/items/FilterLabels.h"

namespace lumra::FilterLabels {

QString dateOption(DateFilterOption option)
{
    switch (option) {
    case DateFilterOption::today: return QStringLiteral("Today");
    case DateFilterOption::last24Hours: return QStringLiteral("Last 24 Hours");
    case DateFilterOption::thisWeek: return QStringLiteral("This Week");
    case DateFilterOption::last7Days: return QStringLiteral("Last 7 Days");
    case DateFilterOption::thisMonth: return QStringLiteral("This Month");
    case DateFilterOption::last30Days: return QStringLiteral("Last 30 Days");
    case DateFilterOption::custom: return QStringLiteral("Custom");
    }
    return {};
}

QString dateOptionSymbol(DateFilterOption option)
{
    switch (option) {
    case DateFilterOption::today: return QStringLiteral("sun.max");
    case DateFilterOption::last24Hours: return QStringLiteral("clock");
    case DateFilterOption::thisWeek: return QStringLiteral("calendar.badge.clock");
    case DateFilterOption::last7Days: return QStringLiteral("7.square");
    case DateFilterOption::thisMonth: return QStringLiteral("calendar");
    case DateFilterOption::last30Days: return QStringLiteral("30.square");
    case DateFilterOption::custom: return QStringLiteral("calendar.badge.plus");
    }
    return {};
}

QString typeOption(TypeFilterOption option)
{
    switch (option) {
    case TypeFilterOption::text: return QStringLiteral("Text");
    case TypeFilterOption::images: return QStringLiteral("Images");
    case TypeFilterOption::links: return QStringLiteral("Links");
    case TypeFilterOption::emails: return QStringLiteral("Emails");
    case TypeFilterOption::files: return QStringLiteral("Files");
    case TypeFilterOption::folders: return QStringLiteral("Folders");
    case TypeFilterOption::colors: return QStringLiteral("#Colors");
    case TypeFilterOption::commands: return QStringLiteral("Terminal Commands");
    }
    return {};
}

QString typeOptionSymbol(TypeFilterOption option)
{
    switch (option) {
    case TypeFilterOption::text: return QStringLiteral("doc.text");
    case TypeFilterOption::images: return QStringLiteral("photo");
    case TypeFilterOption::links: return QStringLiteral("globe");
    case TypeFilterOption::emails: return QStringLiteral("envelope");
    case TypeFilterOption::files: return QStringLiteral("doc");
    case TypeFilterOption::folders: return QStringLiteral("folder");
    case TypeFilterOption::colors: return QStringLiteral("paintpalette");
    case TypeFilterOption::commands: return QStringLiteral("apple.terminal.fill");
    }
    return {};
}

QString customRange(const QDateTime& start, const QDateTime& end, const QLocale& locale, const QTimeZone& zone)
{
    const auto shortDate = [&](const QDateTime& date) {
        return locale.toString(date.toTimeZone(zone).date(), QLocale::ShortFormat);
    };
    return shortDate(start) + QStringLiteral(" \u2013 ") + shortDate(end);
}

QString dateBadge(DateFilterOption option, const QDateTime& customStart, const QDateTime& customEnd,
                  const QLocale& locale, const QTimeZone& zone)
{
    return option == DateFilterOption::custom ? customRange(customStart, customEnd, locale, zone) : dateOption(option);
}

QString appName(const QString& bundleId, const QList<SourceApp>& apps)
{
    for (const SourceApp& app : apps) {
        if (app.bundleId == bundleId)
            return app.name;
    }
    return bundleId;
}

} // namespace lumra::FilterLabels
