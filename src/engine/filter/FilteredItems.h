#pragma once

#include "engine/filter/FilterIndex.h"
#include "engine/filter/FilterState.h"
#include "model/ClipboardItem.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>

#include <optional>
#include <span>
#include <vector>

namespace lumra {

// Both ends inclusive.
struct DateRange {
    QDateTime start;
    QDateTime end;
    friend bool operator==(const DateRange&, const DateRange&) = default;
};

// The period of a date option, measured against `now` in the user's calendar.
DateRange dateRange(DateFilterOption option, const QDateTime& customStart, const QDateTime& customEnd,
                    const QDateTime& now, const CalendarSettings& calendar);
std::optional<DateRange> dateFilterRange(const FilterState& state, const QDateTime& now, const CalendarSettings& calendar);
std::optional<DateRange> excludedDateFilterRange(const FilterState& state, const QDateTime& now,
                                                 const CalendarSettings& calendar);

// The list the popup shows, as positions in the index's items.
struct FilterResult {
    quint64 revision = 0;
    std::vector<qint32> indices;
    // False when the search ran out of time: `indices` holds what it found so far and `unsearched`
    // the items still to test, in list order (continueSearch goes on from there).
    bool complete = true;
    std::vector<qint32> unsearched;

    // Same history revision and same items in the same order: observers need not be told.
    bool sameAs(const FilterResult& other) const { return revision == other.revision && indices == other.indices; }
    // Moves the positions over a change of the index's list: removed items drop out, replaced ones
    // stay where they stood until the list is computed again.
    void carry(const HistoryChange& change);
    QList<ClipboardItem> items(const FilterIndex& index) const;
};

// Recomputes the filtered list from scratch: the recycle bin when showRecycleBin is set, else the
// history in list order through the star, quick, pasted, category, date, type, application filters,
// their exclusions and finally the search text. A regex search that passes `searchDeadline` stops
// between two items (after one item at least) and returns an incomplete result.
FilterResult updateFilteredItems(const FilterIndex& index, const FilterState& state, const QDateTime& now,
                                 const CalendarSettings& calendar,
                                 QDeadlineTimer searchDeadline = QDeadlineTimer(QDeadlineTimer::Forever));
// Tests more of an incomplete result's unsearched items, with the same index and state, until they
// run out (the result is then complete) or the deadline passes.
void continueSearch(const FilterIndex& index, const FilterState& state, FilterResult& result, QDeadlineTimer deadline);

// Whether a result of `state` can be brought up to date item by item after the history changed:
// not while a date filter is on, whose periods move with the clock.
bool canUpdateFilteredItems(const FilterState& state);

// The same list as a full recompute, from `previous`, computed with the same `state` over the index
// before it changed, carried to the changed index (its positions moved, removed items left out), and
// `touched`: the ascending positions of the items replaced or added since. Costs the touched items.
FilterResult updateFilteredItems(const FilterIndex& index, const FilterState& state, const FilterResult& previous,
                                 std::span<const qint32> touched);

// The same, over a plain list (builds a throw-away index).
QList<ClipboardItem> filteredItems(const QList<ClipboardItem>& items, const FilterState& state, const QDateTime& now,
                                   const CalendarSettings& calendar);

// The trashed items, newest trash date first (date added where the trash date is missing).
QList<ClipboardItem> trashedItems(const QList<ClipboardItem>& items);

} // namespace lumra
