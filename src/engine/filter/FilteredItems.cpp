#include "engine/filter/FilteredItems.h"

#include "engine/filter/SearchText.h"

#include <QLocale>

#include <algorithm>

namespace lumra {

CalendarSettings CalendarSettings::current()
{
    return {QTimeZone::systemTimeZone(), QLocale::system().firstDayOfWeek()};
}

namespace {

QDateTime startOfDayOr(const QDate& day, const CalendarSettings& calendar, const QDateTime& fallback)
{
    const QDateTime start = day.startOfDay(calendar.timeZone);
    return start.isValid() ? start : fallback;
}

QDate dayOf(const QDateTime& instant, const CalendarSettings& calendar)
{
    return instant.toTimeZone(calendar.timeZone).date();
}

struct MsecRange {
    qint64 start;
    qint64 end;
    bool contains(qint64 ms) const { return start <= ms && ms <= end; }
};

std::optional<MsecRange> msecRange(const std::optional<DateRange>& range)
{
    if (!range) return std::nullopt;
    return MsecRange{range->start.toMSecsSinceEpoch(), range->end.toMSecsSinceEpoch()};
}

bool isStarred(const ClipboardItem& item) { return item.isPinned || item.isPinnedToTop; }

// Whether `query` occurs in `folded`[begin, end) without crossing a space that joins two fields.
bool containedInOneField(QStringView folded, qint32 begin, qint32 end, std::span<const qint32> separators,
                         QStringView query)
{
    const QStringView region = folded.mid(begin, end - begin);
    if (!query.contains(u' ')) return findSubstring(region, query) >= 0;
    for (qsizetype at = findSubstring(region, query); at >= 0; at = findSubstring(region, query, at + 1)) {
        const qsizetype first = begin + at;
        const auto crossing = std::lower_bound(separators.begin(), separators.end(), first);
        if (crossing == separators.end() || *crossing >= first + query.size()) return true;
    }
    return false;
}

QStringView searchedRegion(const FilterIndex::Entry& entry, bool tagsOnly)
{
    const QStringView folded(entry.folded);
    return tagsOnly ? folded.mid(entry.tagsBegin, entry.tagsEnd - entry.tagsBegin) : folded;
}

template <typename Predicate>
void keepIf(std::vector<qint32>& indices, Predicate matches)
{
    indices.erase(std::remove_if(indices.begin(), indices.end(), [&](qint32 i) { return !matches(i); }), indices.end());
}

void applySearch(const FilterIndex& index, const FilterState& state, QDeadlineTimer deadline, FilterResult& result)
{
    std::vector<qint32>& indices = result.indices;
    const bool tagsOnly = state.searchTagsOnly;
    switch (searchModeFromRawValue(state.searchMode).value_or(SearchMode::contains)) {
    case SearchMode::contains: {
        QStringList terms;
        for (QStringView term : QStringView(state.searchText).split(u' ', Qt::SkipEmptyParts))
            terms.append(foldForSearch(term));
        // Terms hold no space, so a term found in the joined fields lies within one field.
        keepIf(indices, [&](qint32 i) {
            const QStringView region = searchedRegion(index.entry(i), tagsOnly);
            return std::all_of(terms.begin(), terms.end(),
                               [&](const QString& term) { return findSubstring(region, term) >= 0; });
        });
        break;
    }
    case SearchMode::exact: {
        const QString query = foldForSearch(state.searchText);
        keepIf(indices, [&](qint32 i) {
            const FilterIndex::Entry& entry = index.entry(i);
            const qint32 begin = tagsOnly ? entry.tagsBegin : 0;
            const qint32 end = tagsOnly ? entry.tagsEnd : qint32(entry.folded.size());
            return containedInOneField(entry.folded, begin, end, index.separators(i), query);
        });
        break;
    }
    case SearchMode::fuzzy: {
        const FuzzyQuery query(state.searchText);
        keepIf(indices, [&](qint32 i) {
            const FilterIndex::Entry& entry = index.entry(i);
            return query.matches(searchedRegion(entry, tagsOnly), entry.singleUnit);
        });
        break;
    }
    case SearchMode::regex: {
        const SearchRegex regex(state.searchText);
        if (!regex.isUsable()) {
            indices.clear();
            break;
        }
        std::vector<qint32> kept;
        for (qint32 i : indices) {
            if (deadline.hasExpired()) {
                result.complete = false;
                break;
            }
            const QString haystack = tagsOnly ? index.items()[i].tags.join(u' ') : index.haystack(i);
            if (regex.matches(haystack)) kept.push_back(i);
        }
        indices = std::move(kept);
        break;
    }
    }
}

} // namespace

DateRange dateRange(DateFilterOption option, const QDateTime& customStart, const QDateTime& customEnd,
                    const QDateTime& now, const CalendarSettings& calendar)
{
    const QDate today = dayOf(now, calendar);
    switch (option) {
    case DateFilterOption::today: return {startOfDayOr(today, calendar, now), now};
    case DateFilterOption::last24Hours: return {now.addSecs(-86'400), now};
    case DateFilterOption::thisWeek: {
        const int daysIntoWeek = (today.dayOfWeek() - int(calendar.firstDayOfWeek) + 7) % 7;
        return {startOfDayOr(today.addDays(-daysIntoWeek), calendar, now), now};
    }
    case DateFilterOption::last7Days: return {startOfDayOr(today.addDays(-6), calendar, now), now};
    case DateFilterOption::thisMonth: return {startOfDayOr(QDate(today.year(), today.month(), 1), calendar, now), now};
    case DateFilterOption::last30Days: return {startOfDayOr(today.addDays(-29), calendar, now), now};
    case DateFilterOption::custom: {
        const QDateTime first = customStart.isValid() ? customStart : now;
        const QDateTime last = customEnd.isValid() ? customEnd : now;
        // The whole last day, up to its final millisecond: a copy at 23:59:59.5 belongs to that day.
        const QDateTime end = dayOf(last, calendar).endOfDay(calendar.timeZone);
        return {startOfDayOr(dayOf(first, calendar), calendar, first), end.isValid() ? end : last};
    }
    }
    return {now, now};
}

std::optional<DateRange> dateFilterRange(const FilterState& state, const QDateTime& now, const CalendarSettings& calendar)
{
    if (!state.dateFilterOption) return std::nullopt;
    return dateRange(*state.dateFilterOption, state.customDateStart, state.customDateEnd, now, calendar);
}

std::optional<DateRange> excludedDateFilterRange(const FilterState& state, const QDateTime& now,
                                                 const CalendarSettings& calendar)
{
    if (!state.excludedDateOption) return std::nullopt;
    return dateRange(*state.excludedDateOption, state.excludedCustomDateStart, state.excludedCustomDateEnd, now, calendar);
}

FilterResult updateFilteredItems(const FilterIndex& index, const FilterState& state, const QDateTime& now,
                                 const CalendarSettings& calendar, QDeadlineTimer searchDeadline)
{
    FilterResult result;
    result.revision = index.revision();
    if (state.showRecycleBin) {
        result.indices = index.trashOrder();
        return result;
    }

    const std::optional<MsecRange> dates = msecRange(dateFilterRange(state, now, calendar));
    const std::optional<MsecRange> excludedDates = msecRange(excludedDateFilterRange(state, now, calendar));
    const quint32 excludedTypes = typeOptionMask(state.excludedTypes);
    const QList<ClipboardItem>& items = index.items();

    result.indices.reserve(index.historyOrder().size());
    for (qint32 i : index.historyOrder()) {
        const ClipboardItem& item = items[i];
        const FilterIndex::Entry& entry = index.entry(i);
        const ItemTypeBits types = entry.types;
        if (state.showStarredOnly && !isStarred(item)) continue;
        if (state.excludeStarred && isStarred(item)) continue;
        if (state.showImagesOnly && !types.matches(TypeFilterOption::images)) continue;
        if (state.showLinksOnly && !types.matches(TypeFilterOption::links)) continue;
        if (state.showPastedOnly && !item.lastPastedDate) continue;
        if (state.selectedCategoryId && item.categoryId != state.selectedCategoryId) continue;
        if (dates && !dates->contains(entry.dateAddedMs)) continue;
        if (excludedDates && excludedDates->contains(entry.dateAddedMs)) continue;
        if (state.typeFilterOption && !types.matches(*state.typeFilterOption)) continue;
        if (excludedTypes && types.isExcludedByAny(excludedTypes)) continue;
        if (state.appFilterBundleId && item.sourceAppBundleId != state.appFilterBundleId) continue;
        if (item.sourceAppBundleId && state.excludedAppBundleIds.contains(*item.sourceAppBundleId)) continue;
        result.indices.push_back(i);
    }

    if (!state.searchText.isEmpty()) applySearch(index, state, searchDeadline, result);
    return result;
}

QList<ClipboardItem> FilterResult::items(const FilterIndex& index) const
{
    QList<ClipboardItem> list;
    list.reserve(qsizetype(indices.size()));
    for (qint32 i : indices) list.append(index.items()[i]);
    return list;
}

QList<ClipboardItem> filteredItems(const QList<ClipboardItem>& items, const FilterState& state, const QDateTime& now,
                                   const CalendarSettings& calendar)
{
    const std::shared_ptr<const FilterIndex> index = FilterIndex::build(items, 0);
    return updateFilteredItems(*index, state, now, calendar).items(*index);
}

QList<ClipboardItem> trashedItems(const QList<ClipboardItem>& items)
{
    QList<ClipboardItem> list;
    for (qint32 i : FilterIndex::trashOrderOf(items)) list.append(items[i]);
    return list;
}

} // namespace lumra
