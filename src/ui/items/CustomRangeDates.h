#pragma once

#include "engine/filter/FilterState.h"

#include <QDate>
#include <QDateTime>

namespace lumra::CustomRangeDates {

// The day a date field shows for a stored bound, in the user's time zone.
QDate dayOf(const QDateTime& bound, const CalendarSettings& calendar);
// The bounds a chosen day is stored as: its first moment, and its last millisecond, so that a copy
// made at 23:59:59.999 on the last day is inside the period.
QDateTime startBound(QDate day, const CalendarSettings& calendar);
QDateTime endBound(QDate day, const CalendarSettings& calendar);
// The latest day either field offers: today.
QDate latestDay(const QDateTime& now, const CalendarSettings& calendar);

} // namespace lumra::CustomRangeDates
