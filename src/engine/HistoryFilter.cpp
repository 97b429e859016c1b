#include "engine/HistoryFilter.h"

#include "engine/ClipboardManager.h"

#include "engine/filter/SourceApps.h"

#include "engine/filter/SearchText.h"

#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcFilters, "lumra.filters")

namespace lumra {

namespace {

constexpr std::chrono::milliseconds searchDebounce { 120 };

template <typename T> QSet<T> takenOut(const QSet<T>& before, const QSet<T>& after)
{
    QSet<T> removed = before;
    removed.subtract(after);
    return removed;
}

} // namespace

HistoryFilter::HistoryFilter(ClipboardManager& manager, std::function<void()> recompute)
    : m_manager(manager)
    , m_recompute(std::move(recompute))
{
}

HistoryFilter::~HistoryFilter() = default;

// ---------------------------------------------------------------------------- state

const FilterState& HistoryFilter::filterState() const
{
    if (!m_filterDatesFixed) {
        m_filterDatesFixed = true;
        const QDateTime now = m_manager.clock().now();
        const QTimeZone zone = CalendarSettings::current().timeZone;
        const QDateTime startOfToday = now.toTimeZone(zone).date().startOfDay(zone);
        m_filterState.customDateStart = m_filterState.excludedCustomDateStart = startOfToday;
        m_filterState.customDateEnd = m_filterState.excludedCustomDateEnd = now;
    }
    return m_filterState;
}

FilterState& HistoryFilter::mutableFilterState()
{
    filterState();
    return m_filterState;
}

template <typename T> bool HistoryFilter::storeFilter(T FilterState::*field, T value)
{
    T& slot = mutableFilterState().*field;
    if (slot == value)
        return false;
    slot = std::move(value);
    emit filtersChanged();
    return true;
}

void HistoryFilter::releasePinned(const std::function<void(PinnedFilters&)>& release)
{
    PinnedFilters pin = m_pinnedFilters;
    release(pin);
    if (pin == m_pinnedFilters)
        return;
    setPinnedFilters(pin);
    savePinnedFilters();
}

// ---------------------------------------------------------------------------- setters

void HistoryFilter::setSearchText(const QString& text)
{
    storeFilter(&FilterState::searchText, text);
    m_searchDebounceTimer.reset();
    if (text.isEmpty()) {
        m_recompute();
        return;
    }
    m_searchDebounceTimer = m_manager.clock().start(searchDebounce, false, [this] { m_recompute(); });
}

void HistoryFilter::applyPendingSearch()
{
    if (m_searchDebounceTimer && m_searchDebounceTimer->isActive()) {
        m_searchDebounceTimer.reset();
        m_recompute();
    }
    if (!m_runningSearch)
        return;
    if (!m_filterIndex || m_filterIndex->revision() != m_runningSearch->result.revision) {
        m_recompute(); // the history changed under it: start again
        if (!m_runningSearch)
            return;
    }
    continueSearch(
        *m_filterIndex, m_runningSearch->state, m_runningSearch->result, QDeadlineTimer(QDeadlineTimer::Forever));
    finishRunningSearch();
}

void HistoryFilter::setShowStarredOnly(bool value)
{
    storeFilter(&FilterState::showStarredOnly, value);
    m_recompute();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.star = false; });
}

void HistoryFilter::setShowImagesOnly(bool value)
{
    storeFilter(&FilterState::showImagesOnly, value);
    m_recompute();
}

void HistoryFilter::setShowLinksOnly(bool value)
{
    storeFilter(&FilterState::showLinksOnly, value);
    m_recompute();
}

void HistoryFilter::setSearchTagsOnly(bool value)
{
    storeFilter(&FilterState::searchTagsOnly, value);
    m_recompute();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.tag = false; });
}

void HistoryFilter::setShowPastedOnly(bool value)
{
    storeFilter(&FilterState::showPastedOnly, value);
    m_recompute();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.pasted = false; });
}

void HistoryFilter::setSelectedCategoryId(std::optional<QUuid> id)
{
    const bool off = !id;
    storeFilter(&FilterState::selectedCategoryId, std::move(id));
    m_recompute();
    if (off)
        releasePinned([](PinnedFilters& pin) { pin.categoryId.reset(); });
}

void HistoryFilter::setDateFilterOption(std::optional<DateFilterOption> option)
{
    storeFilter(&FilterState::dateFilterOption, option);
    m_recompute();
    if (!option) {
        releasePinned([](PinnedFilters& pin) {
            pin.date.reset();
            pin.customDateStart.reset();
            pin.customDateEnd.reset();
        });
    }
}

void HistoryFilter::setCustomDateStart(const QDateTime& date)
{
    storeFilter(&FilterState::customDateStart, date);
    if (dateFilterOption() == DateFilterOption::custom)
        m_recompute();
}

void HistoryFilter::setCustomDateEnd(const QDateTime& date)
{
    storeFilter(&FilterState::customDateEnd, date);
    if (dateFilterOption() == DateFilterOption::custom)
        m_recompute();
}

void HistoryFilter::setTypeFilterOption(std::optional<TypeFilterOption> option)
{
    storeFilter(&FilterState::typeFilterOption, option);
    m_recompute();
    if (!option)
        releasePinned([](PinnedFilters& pin) { pin.type.reset(); });
}

void HistoryFilter::setExcludedTypes(const QSet<TypeFilterOption>& types)
{
    const QSet<TypeFilterOption> removed = takenOut(excludedTypes(), types);
    storeFilter(&FilterState::excludedTypes, types);
    m_recompute();
    if (!removed.isEmpty())
        releasePinned([&removed](PinnedFilters& pin) { pin.excludedTypes.subtract(removed); });
}

void HistoryFilter::setExcludeStarred(bool value)
{
    storeFilter(&FilterState::excludeStarred, value);
    m_recompute();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.excludeStar = false; });
}

void HistoryFilter::setExcludedDateOption(std::optional<DateFilterOption> option)
{
    storeFilter(&FilterState::excludedDateOption, option);
    m_recompute();
    if (!option) {
        releasePinned([](PinnedFilters& pin) {
            pin.excludedDate.reset();
            pin.excludedCustomDateStart.reset();
            pin.excludedCustomDateEnd.reset();
        });
    }
}

void HistoryFilter::setExcludedCustomDateStart(const QDateTime& date)
{
    storeFilter(&FilterState::excludedCustomDateStart, date);
    if (excludedDateOption() == DateFilterOption::custom)
        m_recompute();
}

void HistoryFilter::setExcludedCustomDateEnd(const QDateTime& date)
{
    storeFilter(&FilterState::excludedCustomDateEnd, date);
    if (excludedDateOption() == DateFilterOption::custom)
        m_recompute();
}

void HistoryFilter::setExcludedAppBundleIds(const QSet<QString>& bundleIds)
{
    const QSet<QString> removed = takenOut(excludedAppBundleIds(), bundleIds);
    storeFilter(&FilterState::excludedAppBundleIds, bundleIds);
    m_recompute();
    if (!removed.isEmpty())
        releasePinned([&removed](PinnedFilters& pin) { pin.excludedApps.subtract(removed); });
}

void HistoryFilter::setAppFilterBundleId(std::optional<QString> bundleId)
{
    const bool off = !bundleId;
    storeFilter(&FilterState::appFilterBundleId, std::move(bundleId));
    m_recompute();
    if (off)
        releasePinned([](PinnedFilters& pin) { pin.appBundleId.reset(); });
}

void HistoryFilter::setShowRecycleBin(bool value)
{
    storeFilter(&FilterState::showRecycleBin, value);
    m_recompute();
}

void HistoryFilter::clearUnknownCategorySelection()
{
    const std::optional<QUuid> selected = selectedCategoryId();
    if (!selected)
        return;
    const QList<ClipboardCategory>& categories = m_manager.categories();
    const bool known = std::any_of(categories.cbegin(), categories.cend(),
        [&](const ClipboardCategory& category) { return category.id == *selected; });
    // A category deleted here or on another computer would otherwise hide the whole history.
    if (!known)
        setSelectedCategoryId(std::nullopt);
}

// ---------------------------------------------------------------------------- batches

void HistoryFilter::beginFilterUpdateBatch()
{
    ++m_filterUpdateBatchDepth;
}

void HistoryFilter::endFilterUpdateBatch()
{
    if (m_filterUpdateBatchDepth == 0) {
        qCWarning(lcFilters) << "Filter batch ended more often than it began";
        return;
    }
    if (--m_filterUpdateBatchDepth > 0 || !m_needsRecomputeAfterBatch)
        return;
    m_needsRecomputeAfterBatch = false;
    m_recompute();
}

// ---------------------------------------------------------------------------- the list

const FilterIndex& HistoryFilter::currentFilterIndex()
{
    if (!m_filterIndex || m_filterIndex->revision() != m_manager.historyRevision())
        m_filterIndex
            = FilterIndex::build(m_manager.clipboardItems(), m_manager.historyRevision(), m_filterIndex.get());
    return *m_filterIndex;
}

bool HistoryFilter::releaseIndexedItems()
{
    // The index holds a share of the list: letting go of it first spares copying the whole history.
    const bool indexed = m_filterIndex && m_filterIndex->revision() == m_manager.historyRevision();
    if (indexed)
        m_filterIndex->releaseItems();
    return indexed;
}

void HistoryFilter::indexHistoryChange(const HistoryChange& change)
{
    const QList<ClipboardItem>& items = m_manager.clipboardItems();
    m_filterIndex->update(items, change, m_manager.historyRevision());
    if (change.isEmpty())
        return;
    m_filterResult.carry(change);
    m_filteredItemsList.reset();

    std::vector<qint32>& touched = m_touchedSinceResult;
    size_t kept = 0;
    for (qint32 old : touched) {
        if (const qint32 now = change.moved(old); now >= 0)
            touched[kept++] = now;
    }
    touched.resize(kept);
    touched.insert(touched.end(), change.changed.begin(), change.changed.end());
    for (qint32 i = qint32(items.size()) - change.appended; i < qint32(items.size()); ++i)
        touched.push_back(i);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
}

void HistoryFilter::replaceIndex(std::shared_ptr<FilterIndex> index)
{
    m_filterIndex = std::move(index);
    m_filterResult = FilterResult();
    m_filteredItemsList.reset();
    m_filterResultState.reset();
    m_touchedSinceResult.clear();
}

void HistoryFilter::updateFilteredItems()
{
    if (m_filterUpdateBatchDepth > 0) {
        m_needsRecomputeAfterBatch = true;
        return;
    }
    stopRunningSearch();
    FilterState state = filterState();
    state.searchMode = m_manager.searchMode();
    const bool runaway = searchModeFromRawValue(state.searchMode) == SearchMode::regex && !state.searchText.isEmpty()
        && SearchRegex::isRunawayPattern(state.searchText);
    const QString error = runaway ? tr("This pattern could search for a very long time, so it was not run. "
                                       "Avoid a repeated group that itself repeats, such as (a+)+.")
                                  : QString();
    if (error != m_searchError) {
        m_searchError = error;
        emit searchErrorChanged(m_searchError);
    }
    const bool indexCurrent = m_filterIndex && m_filterIndex->revision() == m_manager.historyRevision();
    const FilterIndex& index = currentFilterIndex();
    // The last result, carried over the history changes since, needs only the changed items looked at.
    const bool carried = indexCurrent && m_filterResultState == state && canUpdateFilteredItems(state);
    FilterResult result = carried ? lumra::updateFilteredItems(index, state, m_filterResult, m_touchedSinceResult)
                                  : lumra::updateFilteredItems(index, state, m_manager.clock().now(),
                                      CalendarSettings::current(), QDeadlineTimer(m_searchSlice));
    ++m_filterRecomputations;
    if (!result.complete) {
        // The list keeps the last whole result until this one is whole too.
        m_runningSearch = RunningSearch { std::move(result), std::move(state) };
        const quint64 generation = m_searchGeneration;
        QTimer::singleShot(0, this, [this, generation] { continueRunningSearch(generation); });
        emit searchRunningChanged(true);
        return;
    }
    publishFilterResult(std::move(result), std::move(state));
}

void HistoryFilter::continueRunningSearch(quint64 generation)
{
    if (generation != m_searchGeneration || !m_runningSearch)
        return;
    if (!m_filterIndex || m_filterIndex->revision() != m_runningSearch->result.revision) {
        m_recompute(); // the history changed under it: start again
        return;
    }
    continueSearch(*m_filterIndex, m_runningSearch->state, m_runningSearch->result, QDeadlineTimer(m_searchSlice));
    if (!m_runningSearch->result.complete) {
        QTimer::singleShot(0, this, [this, generation] { continueRunningSearch(generation); });
        return;
    }
    finishRunningSearch();
}

void HistoryFilter::finishRunningSearch()
{
    ++m_searchGeneration; // a slice already queued has nothing left to do
    RunningSearch done = std::move(*m_runningSearch);
    m_runningSearch.reset();
    emit searchRunningChanged(false);
    publishFilterResult(std::move(done.result), std::move(done.state));
}

void HistoryFilter::stopRunningSearch()
{
    ++m_searchGeneration;
    if (!m_runningSearch)
        return;
    m_runningSearch.reset();
    emit searchRunningChanged(false);
}

void HistoryFilter::publishFilterResult(FilterResult result, FilterState state)
{
    const bool newFilters = m_filterResultState && !(*m_filterResultState == state);
    if (newFilters)
        ++m_filterResultGeneration;
    m_filterResultState = std::move(state);
    m_touchedSinceResult.clear();
    if (result.sameAs(m_filterResult)) {
        if (newFilters)
            emit filterResultRestarted();
        return;
    }
    m_filterResult = std::move(result);
    m_filteredItemsList.reset();
    emit filteredItemsChanged();
}

const QList<ClipboardItem>& HistoryFilter::filteredItems() const
{
    if (!m_filteredItemsList)
        m_filteredItemsList = m_filterIndex ? m_filterResult.items(*m_filterIndex) : QList<ClipboardItem>();
    return *m_filteredItemsList;
}

qsizetype HistoryFilter::filteredItemCount() const
{
    return qsizetype(m_filterResult.indices.size());
}

const ClipboardItem& HistoryFilter::filteredItemAt(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < filteredItemCount());
    return m_filterIndex->items()[m_filterResult.indices[size_t(position)]];
}

QList<ClipboardItem> HistoryFilter::trashedItems() const
{
    if (m_filterIndex && m_filterIndex->revision() == m_manager.historyRevision()) {
        QList<ClipboardItem> items;
        for (qint32 i : m_filterIndex->trashOrder())
            items.append(m_filterIndex->items()[i]);
        return items;
    }
    return lumra::trashedItems(m_manager.clipboardItems());
}

std::optional<DateRange> HistoryFilter::dateFilterRange() const
{
    return lumra::dateFilterRange(filterState(), m_manager.clock().now(), CalendarSettings::current());
}

std::optional<DateRange> HistoryFilter::excludedDateFilterRange() const
{
    return lumra::excludedDateFilterRange(filterState(), m_manager.clock().now(), CalendarSettings::current());
}

QList<HistoryFilter::SourceApp> HistoryFilter::sourceApps() const
{
    if (m_sourceAppsRevision != m_manager.historyRevision()) {
        m_sourceApps = lumra::sourceApps(m_manager.clipboardItems(), ownApplicationId());
        m_sourceAppsRevision = m_manager.historyRevision();
    }
    return m_sourceApps;
}

// ---------------------------------------------------------------------------- the pin

void HistoryFilter::setPinnedFilters(const PinnedFilters& pin)
{
    if (pin == m_pinnedFilters)
        return;
    m_pinnedFilters = pin;
    emit pinnedFiltersChanged();
}

void HistoryFilter::savePinnedFilters()
{
    m_manager.userDefaults().set(QString::fromLatin1(pinnedFiltersKey), encodePinnedFilters(m_pinnedFilters));
}

void HistoryFilter::loadPinnedFilters()
{
    const std::optional<QByteArray> data = m_manager.userDefaults().data(QString::fromLatin1(pinnedFiltersKey));
    if (!data)
        return;
    QString error;
    if (std::optional<PinnedFilters> pin = decodePinnedFilters(*data, &error))
        setPinnedFilters(*pin);
    else
        qCWarning(lcFilters).noquote() << "Pinned filters not read:" << error;
}

void HistoryFilter::applyPinnedFilters()
{
    const PinnedFilters pin = m_pinnedFilters;
    FilterUpdateBatch batch(*this);
    if (pin.star)
        setShowStarredOnly(true);
    if (pin.pasted)
        setShowPastedOnly(true);
    if (pin.tag)
        setSearchTagsOnly(true);
    if (pin.excludeStar)
        setExcludeStarred(true);
    if (pin.type)
        setTypeFilterOption(pin.type);
    if (pin.appBundleId)
        setAppFilterBundleId(pin.appBundleId);
    if (pin.categoryId) {
        const QList<ClipboardCategory>& categories = m_manager.categories();
        const bool known = std::any_of(categories.cbegin(), categories.cend(),
            [&](const ClipboardCategory& category) { return category.id == *pin.categoryId; });
        if (known) {
            setSelectedCategoryId(pin.categoryId);
        } else {
            releasePinned([](PinnedFilters& p) { p.categoryId.reset(); });
        }
    }
    if (pin.date) {
        if (*pin.date == DateFilterOption::custom) {
            if (pin.customDateStart)
                setCustomDateStart(*pin.customDateStart);
            if (pin.customDateEnd)
                setCustomDateEnd(*pin.customDateEnd);
        }
        setDateFilterOption(pin.date);
    }
    if (!pin.excludedTypes.isEmpty())
        setExcludedTypes(pin.excludedTypes);
    if (!pin.excludedApps.isEmpty())
        setExcludedAppBundleIds(pin.excludedApps);
    if (pin.excludedDate) {
        if (*pin.excludedDate == DateFilterOption::custom) {
            if (pin.excludedCustomDateStart)
                setExcludedCustomDateStart(*pin.excludedCustomDateStart);
            if (pin.excludedCustomDateEnd)
                setExcludedCustomDateEnd(*pin.excludedCustomDateEnd);
        }
        setExcludedDateOption(pin.excludedDate);
    }
}

void HistoryFilter::pinCurrentFilters()
{
    PinnedFilters pin;
    pin.star = showStarredOnly();
    pin.pasted = showPastedOnly();
    pin.tag = searchTagsOnly();
    pin.excludeStar = excludeStarred();
    pin.type = typeFilterOption();
    pin.appBundleId = appFilterBundleId();
    pin.categoryId = selectedCategoryId();
    pin.date = dateFilterOption();
    if (pin.date == DateFilterOption::custom) {
        pin.customDateStart = customDateStart();
        pin.customDateEnd = customDateEnd();
    }
    pin.excludedTypes = excludedTypes();
    pin.excludedApps = excludedAppBundleIds();
    pin.excludedDate = excludedDateOption();
    if (pin.excludedDate == DateFilterOption::custom) {
        pin.excludedCustomDateStart = excludedCustomDateStart();
        pin.excludedCustomDateEnd = excludedCustomDateEnd();
    }
    setPinnedFilters(pin);
    savePinnedFilters();
}

void HistoryFilter::resetFiltersToPinned()
{
    const PinnedFilters pin = m_pinnedFilters;
    FilterUpdateBatch batch(*this);
    if (!pin.star)
        setShowStarredOnly(false);
    setShowImagesOnly(false);
    setShowLinksOnly(false);
    if (!pin.pasted)
        setShowPastedOnly(false);
    if (!pin.tag)
        setSearchTagsOnly(false);
    setShowRecycleBin(false);
    if (!pin.categoryId)
        setSelectedCategoryId(std::nullopt);
    if (!pin.date)
        setDateFilterOption(std::nullopt);
    if (!pin.type)
        setTypeFilterOption(std::nullopt);
    if (!pin.appBundleId)
        setAppFilterBundleId(std::nullopt);
    if (!pin.excludeStar)
        setExcludeStarred(false);
    if (excludedTypes() != pin.excludedTypes)
        setExcludedTypes(pin.excludedTypes);
    if (!pin.excludedDate)
        setExcludedDateOption(std::nullopt);
    if (excludedAppBundleIds() != pin.excludedApps)
        setExcludedAppBundleIds(pin.excludedApps);
}

} // namespace lumra
