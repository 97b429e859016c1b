#pragma once

#include "engine/filter/FilterOptions.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace lumra {

// The filters the user pinned, so that they survive the popup's reset and a restart.
struct PinnedFilters {
    bool star = false;
    bool pasted = false;
    bool tag = false;
    bool excludeStar = false;
    std::optional<TypeFilterOption> type;
    std::optional<QString> appBundleId;
    std::optional<QUuid> categoryId;
    std::optional<DateFilterOption> date;
    std::optional<QDateTime> customDateStart;
    std::optional<QDateTime> customDateEnd;
    QSet<TypeFilterOption> excludedTypes;
    QSet<QString> excludedApps;
    std::optional<DateFilterOption> excludedDate;
    std::optional<QDateTime> excludedCustomDateStart;
    std::optional<QDateTime> excludedCustomDateEnd;

    friend bool operator==(const PinnedFilters&, const PinnedFilters&) = default;
};

// The user-defaults key of the stored pin.
inline constexpr char pinnedFiltersKey[] = "pinnedFilters.v1";

// One JSON object: the four flags and the two arrays always, each optional field only when present;
// UUIDs upper case, dates in seconds since 1 January 2001.
QByteArray encodePinnedFilters(const PinnedFilters& pin);
// All or nothing: a missing flag or array, a wrong type, an unknown raw value, a malformed UUID or
// an unrepresentable date rejects the whole pin. Optional keys may be missing or null; unknown keys
// are ignored. UUIDs are read in any case.
std::optional<PinnedFilters> decodePinnedFilters(const QByteArray& data, QString* error = nullptr);

} // namespace lumra
