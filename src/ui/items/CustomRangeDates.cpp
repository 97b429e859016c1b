#include "ui/items/CustomRangeDates.h"

namespace lumra::CustomRangeDates {

QDate dayOf(const QDateTime& bound, const CalendarSettings& calendar)
{
    return bound.toTimeZone(calendar.timeZone).date();
}

QDateTime startBound(QDate day, const CalendarSettings& calendar) { return day.startOfDay(calendar.timeZone); }

QDateTime endBound(QDate day, const CalendarSettings& calendar) { return day.endOfDay(calendar.timeZone); }

QDate latestDay(const QDateTime& now, const CalendarSettings& calendar) { return dayOf(now, calendar); }

} // namespace lumra::CustomRangeDates
