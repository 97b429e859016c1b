#pragma once

#include "engine/filter/FilterOptions.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace lumra::FilterLabels {

// Row label of a date option in the picker ("Today" … "Custom") and its symbol.
QString dateOption(DateFilterOption option);
QString dateOptionSymbol(DateFilterOption option);

// "Text", "Images", "Links", … "#Colors", "Terminal Commands", and their symbols.
QString typeOption(TypeFilterOption option);
QString typeOptionSymbol(TypeFilterOption option);

// The short dates of a custom period joined by a spaced en dash: "3/1/26 – 3/7/26".
QString customRange(const QDateTime& start, const QDateTime& end, const QLocale& locale = QLocale(),
                    const QTimeZone& zone = QTimeZone::systemTimeZone());

// What a date badge reads: the option's label, or the custom period for `custom`.
QString dateBadge(DateFilterOption option, const QDateTime& customStart, const QDateTime& customEnd,
                  const QLocale& locale = QLocale(), const QTimeZone& zone = QTimeZone::systemTimeZone());

// The name of the first source application with that bundle id, else the bundle id itself.
QString appName(const QString& bundleId, const QList<SourceApp>& apps);

} // namespace lumra::FilterLabels
