#include "engine/ClipboardManager.h"

#include "engine/filter/SourceApps.h"

#include "engine/filter/SearchText.h"

#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcFilters, "lumra.filters")

namespace lumra {

namespace {

constexpr std::chrono::milliseconds searchDebounce {120};

template <typename T>
QSet<T> takenOut(const QSet<T>& before, const QSet<T>& after)
{
    QSet<T> removed = before;
    removed.subtract(after);
    return removed;
}

} // namespace

// ---------------------------------------------------------------------------- state

const FilterState& ClipboardManager::filterState() const
{
    if (!m_filterDatesFixed) {
        m_filterDatesFixed = true;
        const QDateTime now = m_clock.now();
        const QTimeZone zone = CalendarSettings::current().timeZone;
        const QDateTime startOfToday = now.toTimeZone(zone).date().startOfDay(zone);
        m_filterState.customDateStart = m_filterState.excludedCustomDateStart = startOfToday;
        m_filterState.customDateEnd = m_filterState.excludedCustomDateEnd = now;
    }
    return m_filterState;
}

FilterState& ClipboardManager::mutableFilterState()
{
    filterState();
    return m_filterState;
}

template <typename T>
bool ClipboardManager::storeFilter(T FilterState::*field, T value)
{
    T& slot = mutableFilterState().*field;
    if (slot == value)
        return false;
    slot = std::move(value);
    emit filtersChanged();
    return true;
}

void ClipboardManager::releasePinned(const std::function<void(PinnedFilters&)>& release)
{
    PinnedFilters pin = m_pinnedFilters;
    release(pin);
    if (pin == m_pinnedFilters)
        return;
    setPinnedFilters(pin);
    savePinnedFilters();
}

// ---------------------------------------------------------------------------- setters

void ClipboardManager::setSearchText(const QString& text)
{
    storeFilter(&FilterState::searchText, text);
    m_searchDebounceTimer.reset();
    if (text.isEmpty()) {
        updateFilteredItems();
        return;
    }
    m_searchDebounceTimer = m_clock.start(searchDebounce, false, [this] { updateFilteredItems(); });
}

void ClipboardManager::applyPendingSearch()
{
    if (m_searchDebounceTimer && m_searchDebounceTimer->isActive()) {
        m_searchDebounceTimer.reset();
        updateFilteredItems();
    }
    if (!m_runningSearch)
        return;
    if (!m_filterIndex || m_filterIndex->revision() != m_runningSearch->result.revision) {
        updateFilteredItems(); // the history changed under it: start again
        if (!m_runningSearch)
            return;
    }
    continueSearch(*m_filterIndex, m_runningSearch->state, m_runningSearch->result, QDeadlineTimer(QDeadlineTimer::Forever));
    finishRunningSearch();
}

void ClipboardManager::setShowStarredOnly(bool value)
{
    storeFilter(&FilterState::showStarredOnly, value);
    updateFilteredItems();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.star = false; });
}

void ClipboardManager::setShowImagesOnly(bool value)
{
    storeFilter(&FilterState::showImagesOnly, value);
    updateFilteredItems();
}

void ClipboardManager::setShowLinksOnly(bool value)
{
    storeFilter(&FilterState::showLinksOnly, value);
    updateFilteredItems();
}

void ClipboardManager::setSearchTagsOnly(bool value)
{
    storeFilter(&FilterState::searchTagsOnly, value);
    updateFilteredItems();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.tag = false; });
}

void ClipboardManager::setShowPastedOnly(bool value)
{
    storeFilter(&FilterState::showPastedOnly, value);
    updateFilteredItems();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.pasted = false; });
}

void ClipboardManager::setSelectedCategoryId(std::optional<QUuid> id)
{
    const bool off = !id;
    storeFilter(&FilterState::selectedCategoryId, std::move(id));
    updateFilteredItems();
    if (off)
        releasePinned([](PinnedFilters& pin) { pin.categoryId.reset(); });
}

void ClipboardManager::setDateFilterOption(std::optional<DateFilterOption> option)
{
    storeFilter(&FilterState::dateFilterOption, option);
    updateFilteredItems();
    if (!option) {
        releasePinned([](PinnedFilters& pin) {
            pin.date.reset();
            pin.customDateStart.reset();
            pin.customDateEnd.reset();
        });
    }
}

void ClipboardManager::setCustomDateStart(const QDateTime& date)
{
    storeFilter(&FilterState::customDateStart, date);
    if (dateFilterOption() == DateFilterOption::custom)
        updateFilteredItems();
}

void ClipboardManager::setCustomDateEnd(const QDateTime& date)
{
    storeFilter(&FilterState::customDateEnd, date);
    if (dateFilterOption() == DateFilterOption::custom)
        updateFilteredItems();
}

void ClipboardManager::setTypeFilterOption(std::optional<TypeFilterOption> option)
{
    storeFilter(&FilterState::typeFilterOption, option);
    updateFilteredItems();
    if (!option)
        releasePinned([](PinnedFilters& pin) { pin.type.reset(); });
}

void ClipboardManager::setExcludedTypes(const QSet<TypeFilterOption>& types)
{
    const QSet<TypeFilterOption> removed = takenOut(excludedTypes(), types);
    storeFilter(&FilterState::excludedTypes, types);
    updateFilteredItems();
    if (!removed.isEmpty())
        releasePinned([&removed](PinnedFilters& pin) { pin.excludedTypes.subtract(removed); });
}

void ClipboardManager::setExcludeStarred(bool value)
{
    storeFilter(&FilterState::excludeStarred, value);
    updateFilteredItems();
    if (!value)
        releasePinned([](PinnedFilters& pin) { pin.excludeStar = false; });
}

void ClipboardManager::setExcludedDateOption(std::optional<DateFilterOption> option)
{
    storeFilter(&FilterState::excludedDateOption, option);
    updateFilteredItems();
    if (!option) {
        releasePinned([](PinnedFilters& pin) {
            pin.excludedDate.reset();
            pin.excludedCustomDateStart.reset();
            pin.excludedCustomDateEnd.reset();
        });
    }
}

void ClipboardManager::setExcludedCustomDateStart(const QDateTime& date)
{
    storeFilter(&FilterState::excludedCustomDateStart, date);
    if (excludedDateOption() == DateFilterOption::custom)
        updateFilteredItems();
}

void ClipboardManager::setExcludedCustomDateEnd(const QDateTime& date)
{
    storeFilter(&FilterState::excludedCustomDateEnd, date);
    if (excludedDateOption() == DateFilterOption::custom)
        updateFilteredItems();
}

void ClipboardManager::setExcludedAppBundleIds(const QSet<QString>& bundleIds)
{
    const QSet<QString> removed = takenOut(excludedAppBundleIds(), bundleIds);
    storeFilter(&FilterState::excludedAppBundleIds, bundleIds);
    updateFilteredItems();
    if (!removed.isEmpty())
        releasePinned([&removed](PinnedFilters& pin) { pin.excludedApps.subtract(removed); });
}

void ClipboardManager::setAppFilterBundleId(std::optional<QString> bundleId)
{
    const bool off = !bundleId;
    storeFilter(&FilterState::appFilterBundleId, std::move(bundleId));
    updateFilteredItems();
    if (off)
        releasePinned([](PinnedFilters& pin) { pin.appBundleId.reset(); });
}

void ClipboardManager::setShowRecycleBin(bool value)
{
    storeFilter(&FilterState::showRecycleBin, value);
    updateFilteredItems();
}

void ClipboardManager::clearUnknownCategorySelection()
{
    const std::optional<QUuid> selected = selectedCategoryId();
    if (!selected)
        return;
    const bool known = std::any_of(m_categories.cbegin(), m_categories.cend(),
                                   [&](const ClipboardCategory& category) { return category.id == *selected; });
    // A category deleted here or on another computer would otherwise hide the whole history.
    if (!known)
        setSelectedCategoryId(std::nullopt);
}

// ---------------------------------------------------------------------------- batches

void ClipboardManager::beginFilterUpdateBatch() { ++m_filterUpdateBatchDepth; }

void ClipboardManager::endFilterUpdateBatch()
{
    if (m_filterUpdateBatchDepth == 0) {
        qCWarning(lcFilters) << "Filter batch ended more often than it began";
        return;
    }
    if (--m_filterUpdateBatchDepth > 0 || !m_needsRecomputeAfterBatch)
        return;
    m_needsRecomputeAfterBatch = false;
    updateFilteredItems();
}

// ---------------------------------------------------------------------------- the list

const FilterIndex& ClipboardManager::currentFilterIndex()
{
    if (!m_filterIndex || m_filterIndex->revision() != m_historyRevision)
        m_filterIndex = FilterIndex::build(m_clipboardItems, m_historyRevision, m_filterIndex.get());
    return *m_filterIndex;
}

void ClipboardManager::indexHistoryChange(const HistoryChange& change)
{
    m_filterIndex->update(m_clipboardItems, change, m_historyRevision);
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
    for (qint32 i = qint32(m_clipboardItems.size()) - change.appended; i < qint32(m_clipboardItems.size()); ++i)
        touched.push_back(i);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
}

void ClipboardManager::updateFilteredItems()
{
    if (m_filterUpdateBatchDepth > 0) {
        m_needsRecomputeAfterBatch = true;
        return;
    }
    stopRunningSearch();
    FilterState state = filterState();
    state.searchMode = searchMode();
    const bool runaway = searchModeFromRawValue(state.searchMode) == SearchMode::regex && !state.searchText.isEmpty()
        && SearchRegex::isRunawayPattern(state.searchText);
    const QString error = runaway ? tr("This pattern could search for a very long time, so it was not run. "
                                       "Avoid a repeated group that itself repeats, such as (a+)+.")
                                  : QString();
    if (error != m_searchError) {
        m_searchError = error;
        emit searchErrorChanged(m_searchError);
    }
    const bool indexCurrent = m_filterIndex && m_filterIndex->revision() == m_historyRevision;
    const FilterIndex& index = currentFilterIndex();
    // The last result, carried over the history changes since, needs only the changed items looked at.
    const bool carried = indexCurrent && m_filterResultState == state && canUpdateFilteredItems(state);
    FilterResult result = carried
        ? lumra::updateFilteredItems(index, state, m_filterResult, m_touchedSinceResult)
        : lumra::updateFilteredItems(index, state, m_clock.now(), CalendarSettings::current(),
                                     QDeadlineTimer(m_searchSlice));
    ++m_filterRecomputations;
    if (!result.complete) {
        // The list keeps the last whole result until this one is whole too.
        m_runningSearch = RunningSearch {std::move(result), std::move(state)};
        const quint64 generation = m_searchGeneration;
        QTimer::singleShot(0, this, [this, generation] { continueRunningSearch(generation); });
        emit searchRunningChanged(true);
        return;
    }
    publishFilterResult(std::move(result), std::move(state));
}

void ClipboardManager::continueRunningSearch(quint64 generation)
{
    if (generation != m_searchGeneration || !m_runningSearch)
        return;
    if (!m_filterIndex || m_filterIndex->revision() != m_runningSearch->result.revision) {
        updateFilteredItems(); // the history changed under it: start again
        return;
    }
    continueSearch(*m_filterIndex, m_runningSearch->state, m_runningSearch->result, QDeadlineTimer(m_searchSlice));
    if (!m_runningSearch->result.complete) {
        QTimer::singleShot(0, this, [this, generation] { continueRunningSearch(generation); });
        return;
    }
    finishRunningSearch();
}

void ClipboardManager::finishRunningSearch()
{
    ++m_searchGeneration; // a slice already queued has nothing left to do
    RunningSearch done = std::move(*m_runningSearch);
    m_runningSearch.reset();
    emit searchRunningChanged(false);
    publishFilterResult(std::move(done.result), std::move(done.state));
}

void ClipboardManager::stopRunningSearch()
{
    ++m_searchGeneration;
    if (!m_runningSearch)
        return;
    m_runningSearch.reset();
    emit searchRunningChanged(false);
}

void ClipboardManager::publishFilterResult(FilterResult result, FilterState state)
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

const QList<ClipboardItem>& ClipboardManager::filteredItems() const
{
    if (!m_filteredItemsList)
        m_filteredItemsList = m_filterIndex ? m_filterResult.items(*m_filterIndex) : QList<ClipboardItem>();
    return *m_filteredItemsList;
}

qsizetype ClipboardManager::filteredItemCount() const { return qsizetype(m_filterResult.indices.size()); }

const ClipboardItem& ClipboardManager::filteredItemAt(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < filteredItemCount());
    return m_filterIndex->items()[m_filterResult.indices[size_t(position)]];
}

QList<ClipboardItem> ClipboardManager::trashedItems() const
{
    if (m_filterIndex && m_filterIndex->revision() == m_historyRevision) {
        QList<ClipboardItem> items;
        for (qint32 i : m_filterIndex->trashOrder())
            items.append(m_filterIndex->items()[i]);
        return items;
    }
    return lumra::trashedItems(m_clipboardItems);
}

std::optional<DateRange> ClipboardManager::dateFilterRange() const
{
    return lumra::dateFilterRange(filterState(), m_clock.now(), CalendarSettings::current());
}

std::optional<DateRange> ClipboardManager::excludedDateFilterRange() const
{
    return lumra::excludedDateFilterRange(filterState(), m_clock.now(), CalendarSettings::current());
}

QList<ClipboardManager::SourceApp> ClipboardManager::sourceApps() const
{
    if (m_sourceAppsRevision != m_historyRevision) {
        m_sourceApps = lumra::sourceApps(m_clipboardItems, ownApplicationId());
        m_sourceAppsRevision = m_historyRevision;
    }
    return m_sourceApps;
}

// ---------------------------------------------------------------------------- the pin

void ClipboardManager::setPinnedFilters(const PinnedFilters& pin)
{
    if (pin == m_pinnedFilters)
        return;
    m_pinnedFilters = pin;
    emit pinnedFiltersChanged();
}

void ClipboardManager::savePinnedFilters()
{
    m_defaults.set(QString::fromLatin1(pinnedFiltersKey), encodePinnedFilters(m_pinnedFilters));
}

void ClipboardManager::loadPinnedFilters()
{
    const std::optional<QByteArray> data = m_defaults.data(QString::fromLatin1(pinnedFiltersKey));
    if (!data)
        return;
    QString error;
    if (std::optional<PinnedFilters> pin = decodePinnedFilters(*data, &error))
        setPinnedFilters(*pin);
    else
        qCWarning(lcFilters).noquote() << "Pinned filters not read:" << error;
}

void ClipboardManager::applyPinnedFilters()
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
        const bool known = std::any_of(m_categories.cbegin(), m_categories.cend(),
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

void ClipboardManager::pinCurrentFilters()
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

void ClipboardManager::resetFiltersToPinned()
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
