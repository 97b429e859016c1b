#pragma once

#include "engine/filter/FilterOptions.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QTimeZone>
#include <QUuid>

#include <optional>

namespace lumra {

// Every input of the filtered list besides the history itself, named as ClipboardManager's
// properties. Plain data: the manager copies its properties in and hands it to the engine.
struct FilterState {
    QString searchText;                       // used as typed, never trimmed
    QString searchMode = QStringLiteral("contains"); // raw value; anything unknown searches as contains
    bool searchTagsOnly = false;

    bool showStarredOnly = false;
    bool showImagesOnly = false;
    bool showLinksOnly = false;
    bool showPastedOnly = false;
    bool excludeStarred = false;

    std::optional<QUuid> selectedCategoryId;

    std::optional<DateFilterOption> dateFilterOption;
    QDateTime customDateStart;
    QDateTime customDateEnd;
    std::optional<DateFilterOption> excludedDateOption;
    QDateTime excludedCustomDateStart;
    QDateTime excludedCustomDateEnd;

    std::optional<TypeFilterOption> typeFilterOption;
    QSet<TypeFilterOption> excludedTypes;

    std::optional<QString> appFilterBundleId;
    QSet<QString> excludedAppBundleIds;

    bool showRecycleBin = false;

    friend bool operator==(const FilterState&, const FilterState&) = default;
};

// The user's calendar as the date filters see it: where days start and which day starts a week.
struct CalendarSettings {
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    Qt::DayOfWeek firstDayOfWeek = Qt::Monday;

    // The system time zone and the first weekday of the system locale.
    static CalendarSettings current();
};

} // namespace lumra
