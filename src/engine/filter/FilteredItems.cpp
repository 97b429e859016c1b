#include "engine/filter/FilteredItems.h"

#include "engine/filter/SearchText.h"
#include "platform/core/BackgroundWork.h"

#include <QLocale>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

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
bool containedInOneField(QByteArrayView folded, qint32 begin, qint32 end, std::span<const qint32> separators,
                         QByteArrayView query)
{
    const QByteArrayView region = folded.sliced(begin, end - begin);
    if (!query.contains(' ')) return findSubstring(region, query) >= 0;
    for (qsizetype at = findSubstring(region, query); at >= 0; at = findSubstring(region, query, at + 1)) {
        const qsizetype first = begin + at;
        const auto crossing = std::lower_bound(separators.begin(), separators.end(), first);
        if (crossing == separators.end() || *crossing >= first + query.size()) return true;
    }
    return false;
}

QByteArrayView searchedRegion(const FilterIndex::Entry& entry, bool tagsOnly)
{
    const QByteArrayView folded = entry.folded();
    return tagsOnly ? folded.sliced(entry.tagsBegin, entry.tagsEnd - entry.tagsBegin) : folded;
}

// The filters besides the search text, one item at a time.
class ItemFilter {
public:
    ItemFilter(const FilterIndex& index, const FilterState& state, const QDateTime& now, const CalendarSettings& calendar)
        : m_index(index)
        , m_state(state)
        , m_dates(msecRange(dateFilterRange(state, now, calendar)))
        , m_excludedDates(msecRange(excludedDateFilterRange(state, now, calendar)))
        , m_excludedTypes(typeOptionMask(state.excludedTypes))
    {
    }

    bool accepts(qint32 i) const
    {
        const FilterState& state = m_state;
        const ClipboardItem& item = m_index.items()[i];
        const FilterIndex::Entry& entry = m_index.entry(i);
        const ItemTypeBits types = entry.types;
        if (state.showStarredOnly && !isStarred(item)) return false;
        if (state.excludeStarred && isStarred(item)) return false;
        if (state.showImagesOnly && !types.matches(TypeFilterOption::images)) return false;
        if (state.showLinksOnly && !types.matches(TypeFilterOption::links)) return false;
        if (state.showPastedOnly && !item.lastPastedDate) return false;
        if (state.selectedCategoryId && item.categoryId != state.selectedCategoryId) return false;
        if (m_dates && !m_dates->contains(entry.dateAddedMs)) return false;
        if (m_excludedDates && m_excludedDates->contains(entry.dateAddedMs)) return false;
        if (state.typeFilterOption && !types.matches(*state.typeFilterOption)) return false;
        if (m_excludedTypes && types.isExcludedByAny(m_excludedTypes)) return false;
        if (state.appFilterBundleId && item.sourceAppBundleId != state.appFilterBundleId) return false;
        if (item.sourceAppBundleId && state.excludedAppBundleIds.contains(*item.sourceAppBundleId)) return false;
        return true;
    }

private:
    const FilterIndex& m_index;
    const FilterState& m_state;
    const std::optional<MsecRange> m_dates;
    const std::optional<MsecRange> m_excludedDates;
    const quint32 m_excludedTypes;
};

// The search text in its mode, prepared once, one item at a time. An empty text matches everything.
class SearchMatcher {
public:
    SearchMatcher(const FilterIndex& index, const FilterState& state)
        : m_index(index)
        , m_mode(searchModeFromRawValue(state.searchMode).value_or(SearchMode::contains))
        , m_tagsOnly(state.searchTagsOnly)
        , m_active(!state.searchText.isEmpty())
    {
        if (!m_active) return;
        switch (m_mode) {
        case SearchMode::contains:
            for (QStringView term : QStringView(state.searchText).split(u' ', Qt::SkipEmptyParts)) {
                m_textTerms.append(foldForSearch(term));
                m_terms.append(m_textTerms.back().toUtf8());
            }
            break;
        case SearchMode::exact:
            m_textQuery = foldForSearch(state.searchText);
            m_query = m_textQuery.toUtf8();
            break;
        case SearchMode::fuzzy: m_fuzzy.emplace(state.searchText); break;
        case SearchMode::regex: m_regex.emplace(state.searchText); break;
        }
    }

    bool isActive() const { return m_active; }
    bool isRegex() const { return m_mode == SearchMode::regex; }

    // Calls `body` with the test of one item by position, chosen once for the mode.
    template <typename Body>
    void withTest(Body body) const
    {
        if (!m_active) return body([](qint32) { return true; });
        switch (m_mode) {
        case SearchMode::contains:
            // Terms hold no space, so a term found in the joined fields lies within one field.
            return body([this](qint32 i) {
                const FilterIndex::Entry& entry = m_index.entry(i);
                if (entry.foldsInPlace()) {
                    const QStringView text = m_tagsOnly ? QStringView() : entry.text();
                    return std::all_of(m_textTerms.begin(), m_textTerms.end(),
                                       [&](const QString& term) { return findSubstringFoldingAscii(text, term) >= 0; });
                }
                const QByteArrayView region = searchedRegion(entry, m_tagsOnly);
                return std::all_of(m_terms.begin(), m_terms.end(),
                                   [&](const QByteArray& term) { return findSubstring(region, term) >= 0; });
            });
        case SearchMode::exact:
            return body([this](qint32 i) {
                const FilterIndex::Entry& entry = m_index.entry(i);
                // One field: a match never crosses a separator.
                if (entry.foldsInPlace())
                    return findSubstringFoldingAscii(m_tagsOnly ? QStringView() : entry.text(), m_textQuery) >= 0;
                const qint32 begin = m_tagsOnly ? entry.tagsBegin : 0;
                const qint32 end = m_tagsOnly ? entry.tagsEnd : qint32(entry.folded().size());
                return containedInOneField(entry.folded(), begin, end, m_index.separators(i), m_query);
            });
        case SearchMode::fuzzy:
            return body([this](qint32 i) {
                const FilterIndex::Entry& entry = m_index.entry(i);
                if (entry.foldsInPlace()) {
                    return m_tagsOnly ? m_fuzzy->isEmpty()
                                      : m_fuzzy->matchesFoldingAscii(entry.text(), FilterIndex::emptyFieldSeparators);
                }
                return m_fuzzy->matches(searchedRegion(entry, m_tagsOnly), entry.singleUnit);
            });
        case SearchMode::regex:
            return body([this, joined = QString()](qint32 i) mutable {
                if (!m_regex->isUsable())
                    return false;
                if (m_tagsOnly)
                    return m_regex->matches(m_index.items()[i].tags.join(u' '));
                m_index.haystack(i, joined);
                return m_regex->matches(joined);
            });
        }
    }

    bool matches(qint32 i) const
    {
        bool matched = false;
        withTest([&](auto test) { matched = test(i); });
        return matched;
    }

private:
    const FilterIndex& m_index;
    const SearchMode m_mode;
    const bool m_tagsOnly;
    const bool m_active;
    QList<QByteArray> m_terms;
    QStringList m_textTerms; // the same, for texts searched in place
    QByteArray m_query;
    QString m_textQuery;
    std::optional<FuzzyQuery> m_fuzzy;
    std::optional<SearchRegex> m_regex;
};

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

    const ItemFilter filter(index, state, now, calendar);
    result.indices.reserve(index.historyOrder().size());
    for (qint32 i : index.historyOrder()) {
        if (filter.accepts(i)) result.indices.push_back(i);
    }

    if (state.searchText.isEmpty()) return result;
    result.unsearched = std::move(result.indices);
    result.indices.clear();
    result.complete = false;
    continueSearch(index, state, result, searchDeadline);
    return result;
}

namespace {

// Items a worker takes at a time: small enough to even out texts of very different lengths.
constexpr size_t searchChunk = 512;

// How many threads a search of `items` items runs on (the calling one included).
size_t searchThreads(size_t items)
{
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp<size_t>(items / (4 * searchChunk), 1, std::min<size_t>(cores, 4));
}

// What one chunk of the pending items gave: the items that passed, and how many were tested (a
// search past its deadline leaves the rest of the chunk).
struct SearchedChunk {
    std::vector<qint32> found;
    size_t tested = 0;
};

} // namespace

// Tests chunks of the pending items on several threads at once (at 100,000 items the scan waits on
// memory more than it computes; a regex search computes), each thread with a matcher of its own.
// Only a regex search can take long enough on one item to need the deadline: past it the threads
// stop between two items, and what was tested from the start on without a gap counts.
void continueSearch(const FilterIndex& index, const FilterState& state, FilterResult& result, QDeadlineTimer deadline)
{
    std::vector<qint32>& pending = result.unsearched;
    const size_t chunks = (pending.size() + searchChunk - 1) / searchChunk;
    const size_t threads = std::min(searchThreads(pending.size()), std::max<size_t>(chunks, 1));
    // Made here, one after another: the matchers share nothing, not even a compiled pattern.
    std::vector<std::unique_ptr<const SearchMatcher>> matchers;
    for (size_t t = 0; t < threads; ++t) matchers.push_back(std::make_unique<const SearchMatcher>(index, state));
    const bool bounded = matchers.front()->isRegex();
    std::vector<SearchedChunk> searched(chunks);
    std::atomic<size_t> next {0};
    auto work = [&](const SearchMatcher& search) {
        constexpr size_t prefetchDistance = 8;
        search.withTest([&](auto test) {
            for (size_t chunk = next++; chunk < chunks; chunk = next++) {
                SearchedChunk& part = searched[chunk];
                const size_t end = std::min(pending.size(), (chunk + 1) * searchChunk);
                for (size_t at = chunk * searchChunk; at < end; ++at) {
                    if (bounded && at > 0 && deadline.hasExpired()) return; // the first item always
                    if (at + prefetchDistance < end) index.prefetch(pending[at + prefetchDistance]);
                    if (test(pending[at])) part.found.push_back(pending[at]);
                    ++part.tested;
                }
            }
        });
    };
    // Chunks go to whichever thread asks next, so a helper that never runs (shutdown dropped it)
    // leaves its share to the others.
    std::vector<QFuture<void>> helpers;
    for (size_t t = 1; t < threads; ++t)
        helpers.push_back(BackgroundWork::current().run(BackgroundWork::Lane::search,
                                                        [&work, &matcher = *matchers[t]] { work(matcher); }));
    work(*matchers.front());
    for (QFuture<void>& helper : helpers) helper.waitForFinished();

    size_t tested = 0;
    for (size_t chunk = 0; chunk < chunks; ++chunk) {
        const SearchedChunk& part = searched[chunk];
        result.indices.insert(result.indices.end(), part.found.begin(), part.found.end());
        tested += part.tested;
        if (part.tested < std::min(searchChunk, pending.size() - chunk * searchChunk)) break;
    }
    pending.erase(pending.begin(), pending.begin() + qsizetype(tested));
    result.complete = pending.empty();
    if (result.complete) pending.shrink_to_fit();
}

bool canUpdateFilteredItems(const FilterState& state)
{
    return !state.dateFilterOption && !state.excludedDateOption;
}

FilterResult updateFilteredItems(const FilterIndex& index, const FilterState& state, const FilterResult& previous,
                                 std::span<const qint32> touched)
{
    Q_ASSERT(canUpdateFilteredItems(state) && previous.complete);
    FilterResult result;
    result.revision = index.revision();
    if (state.showRecycleBin) {
        result.indices = index.trashOrder();
        return result;
    }

    auto isTouched = [&](qint32 i) { return std::binary_search(touched.begin(), touched.end(), i); };
    result.indices.reserve(previous.indices.size() + touched.size());
    for (qint32 i : previous.indices) {
        if (!isTouched(i)) result.indices.push_back(i);
    }
    // No date filter is on, so neither the clock nor the calendar decides anything here.
    const ItemFilter filter(index, state, QDateTime(), CalendarSettings());
    const SearchMatcher search(index, state);
    for (qint32 i : touched) {
        if (index.items()[i].isTrashed || !filter.accepts(i) || !search.matches(i)) continue;
        result.indices.insert(std::lower_bound(result.indices.begin(), result.indices.end(), i,
                                               [&index](qint32 a, qint32 b) { return index.historyBefore(a, b); }),
                              i);
    }
    return result;
}

void FilterResult::carry(const HistoryChange& change)
{
    if (change.removed.empty()) return;
    size_t kept = 0;
    for (qint32 old : indices) {
        const qint32 now = change.moved(old);
        if (now >= 0) indices[kept++] = now;
    }
    indices.resize(kept);
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
