#pragma once

#include "engine/filter/FilterIndex.h"
#include "engine/filter/FilterOptions.h"
#include "engine/filter/FilterState.h"
#include "engine/filter/FilteredItems.h"
#include "engine/filter/PinnedFilters.h"
#include "model/ClipboardItem.h"
#include "platform/core/Clock.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumra {

class ClipboardManager;

// The queries over the history: the filter state, the pin and the list the popup shows, kept up
// to date through the filter index as the history changes. The manager owns it and lends it its
// history, clock, defaults and search mode; every recompute it asks for goes through the
// manager's updateFilteredItems() hook.
class HistoryFilter : public QObject {
    Q_OBJECT
public:
    HistoryFilter(ClipboardManager& manager, std::function<void()> recompute);
    ~HistoryFilter() override;

    using DateFilterOption = lumra::DateFilterOption;
    using TypeFilterOption = lumra::TypeFilterOption;
    using PinnedFilters = lumra::PinnedFilters;
    using SourceApp = lumra::SourceApp;

    // The desktop-entry id that capture records for Lumra's own windows; never offered as a source app.
    static QString ownApplicationId() { return QStringLiteral("lumra"); }

    // The filter state. Every setter stores its value and emits filtersChanged() only when it differs;
    // then, for an equal value too, it recomputes the list, and a filter switched off (false, none, or
    // values taken out of an exclusion set) is released from the pin, which is saved.
    const QString& searchText() const { return filterState().searchText; }
    // A non-empty text recomputes 0.12 s after the last change; an empty one at once.
    void setSearchText(const QString& text);
    // Recomputes now when a search still waits for the pause in typing, and finishes a sliced search
    // still running, so a key pressed right after typing (Return, an arrow) acts on the list the
    // search asks for.
    void applyPendingSearch();
    bool showStarredOnly() const { return filterState().showStarredOnly; }
    void setShowStarredOnly(bool value);
    bool showImagesOnly() const { return filterState().showImagesOnly; }
    void setShowImagesOnly(bool value);
    bool showLinksOnly() const { return filterState().showLinksOnly; }
    void setShowLinksOnly(bool value);
    bool searchTagsOnly() const { return filterState().searchTagsOnly; }
    void setSearchTagsOnly(bool value);
    bool showPastedOnly() const { return filterState().showPastedOnly; }
    void setShowPastedOnly(bool value);
    std::optional<QUuid> selectedCategoryId() const { return filterState().selectedCategoryId; }
    void setSelectedCategoryId(std::optional<QUuid> id);
    std::optional<DateFilterOption> dateFilterOption() const { return filterState().dateFilterOption; }
    void setDateFilterOption(std::optional<DateFilterOption> option);
    // The custom period; changing it recomputes only while the date filter is custom.
    QDateTime customDateStart() const { return filterState().customDateStart; }
    void setCustomDateStart(const QDateTime& date);
    QDateTime customDateEnd() const { return filterState().customDateEnd; }
    void setCustomDateEnd(const QDateTime& date);
    std::optional<TypeFilterOption> typeFilterOption() const { return filterState().typeFilterOption; }
    void setTypeFilterOption(std::optional<TypeFilterOption> option);
    const QSet<TypeFilterOption>& excludedTypes() const { return filterState().excludedTypes; }
    void setExcludedTypes(const QSet<TypeFilterOption>& types);
    bool excludeStarred() const { return filterState().excludeStarred; }
    void setExcludeStarred(bool value);
    std::optional<DateFilterOption> excludedDateOption() const { return filterState().excludedDateOption; }
    void setExcludedDateOption(std::optional<DateFilterOption> option);
    QDateTime excludedCustomDateStart() const { return filterState().excludedCustomDateStart; }
    void setExcludedCustomDateStart(const QDateTime& date);
    QDateTime excludedCustomDateEnd() const { return filterState().excludedCustomDateEnd; }
    void setExcludedCustomDateEnd(const QDateTime& date);
    const QSet<QString>& excludedAppBundleIds() const { return filterState().excludedAppBundleIds; }
    void setExcludedAppBundleIds(const QSet<QString>& bundleIds);
    std::optional<QString> appFilterBundleId() const { return filterState().appFilterBundleId; }
    void setAppFilterBundleId(std::optional<QString> bundleId);
    // The list shows the recycle bin instead of the history. Not a setting; every assignment recomputes.
    bool showRecycleBin() const { return filterState().showRecycleBin; }
    void setShowRecycleBin(bool value);
    // Called when the popup closes, so that quick paste and the next opening never see trashed items.
    void leaveRecycleBinView() { setShowRecycleBin(false); }

    // Changes between begin and the matching end recompute the list once, at the outermost end, and
    // only when one of them asked for it.
    void beginFilterUpdateBatch();
    void endFilterUpdateBatch();
    class FilterUpdateBatch {
    public:
        explicit FilterUpdateBatch(HistoryFilter& filters)
            : m_filters(filters)
        {
            filters.beginFilterUpdateBatch();
        }
        ~FilterUpdateBatch() { m_filters.endFilterUpdateBatch(); }
        FilterUpdateBatch(const FilterUpdateBatch&) = delete;
        FilterUpdateBatch& operator=(const FilterUpdateBatch&) = delete;

    private:
        HistoryFilter& m_filters;
    };

    // Computes the list now (unless a batch holds it back). The manager's updateFilteredItems() hook
    // runs it; the filters' own changes go through that hook.
    void updateFilteredItems();

    // The list the popup shows, as last computed: pinned to the top first, then newest first.
    // filteredItemsChanged() is emitted only when it changed. Reading the count and single items
    // costs nothing; filteredItems() builds the whole list once per result.
    const QList<ClipboardItem>& filteredItems() const;
    qsizetype filteredItemCount() const;
    const ClipboardItem& filteredItemAt(qsizetype position) const;
    // False while a slow search (a regex) still runs in slices between events: the list shows the
    // previous result until the whole new one is ready, never a part of it.
    bool filteredItemsComplete() const { return !m_runningSearch; }
    // Why the search text finds nothing though items may hold it (a regex refused as a runaway); empty otherwise.
    const QString& searchError() const { return m_searchError; }
    // How long a slow search may hold the main thread at a time before it lets events through.
    void setSearchSlice(std::chrono::milliseconds slice) { m_searchSlice = slice; }
    // How many times the list was actually computed (batched and debounced requests excluded).
    quint64 filterRecomputations() const { return m_filterRecomputations; }
    // Counts the lists computed for another search or other filters, as opposed to the same ones
    // over a changed history: a view starts a new one at its top.
    quint64 filterResultGeneration() const { return m_filterResultGeneration; }

    // The recycle bin, newest trash date (else date added) first.
    QList<ClipboardItem> trashedItems() const;
    // The periods of the date filter and of the date exclusion, measured now; none when off.
    std::optional<DateRange> dateFilterRange() const;
    std::optional<DateRange> excludedDateFilterRange() const;

    // The applications the history was copied from, most recent first; Lumra's own never.
    // Computed once per history revision.
    QList<SourceApp> sourceApps() const;

    // The pin. The setter only stores (pinnedFiltersChanged() when it differs); callers that replace the
    // pin ("/unpin" sets the empty one) call savePinnedFilters() themselves.
    const PinnedFilters& pinnedFilters() const { return m_pinnedFilters; }
    void setPinnedFilters(const PinnedFilters& pin);
    // Stores the pin as JSON data under "pinnedFilters.v1".
    void savePinnedFilters();
    // "/pin": the live filters that are on become the whole pin, which is saved. Nothing is recomputed.
    void pinCurrentFilters();
    // At every opening of the popup: switches off each filter that is not pinned and makes the two
    // exclusion sets equal to the pinned ones, in one recompute. The search text is the caller's.
    void resetFiltersToPinned();

    // ===================================================================== What the manager calls
    // At start-up: reads the saved pin, then switches its filters on.
    void loadPinnedFilters();
    void applyPinnedFilters();
    // Clears a selected category that the loaded categories no longer hold (its pin goes with it).
    void clearUnknownCategorySelection();
    // Before the history list is edited in place: the index lets go of its share of the list, so the
    // edit copies nothing. True when the index was current, and so needs indexHistoryChange() after.
    bool releaseIndexedItems();
    // Brings the index (current before the change) and the last result to the edited history; an
    // empty change only gives the index the list back.
    void indexHistoryChange(const HistoryChange& change);
    // Takes an index built for the whole history as it now is. The last result counted positions in
    // another list: it is computed afresh.
    void replaceIndex(std::shared_ptr<FilterIndex> index);

signals:
    void filteredItemsChanged();
    // Another search or other filters gave the same items as before: filteredItemsChanged() is not
    // emitted, but the list is a new one all the same (filterResultGeneration() moved on).
    void filterResultRestarted();
    // searchError() changed, or a sliced search started or finished (filteredItemsComplete()).
    void searchErrorChanged(const QString& error);
    void searchRunningChanged(bool running);
    // Any filter property or the search text changed; the pin changed.
    void filtersChanged();
    void pinnedFiltersChanged();

private:
    // The live filters; the custom periods are fixed from the clock at first use.
    const FilterState& filterState() const;
    FilterState& mutableFilterState();
    // Stores a filter value; true (and filtersChanged()) when it differed.
    template <typename T> bool storeFilter(T FilterState::*field, T value);
    // Applies `release` to a copy of the pin; a changed pin is stored and saved.
    void releasePinned(const std::function<void(PinnedFilters&)>& release);
    const FilterIndex& currentFilterIndex();
    void publishFilterResult(FilterResult result, FilterState state);
    void continueRunningSearch(quint64 generation);
    void stopRunningSearch();
    void finishRunningSearch();

    ClipboardManager& m_manager;
    std::function<void()> m_recompute;
    mutable FilterState m_filterState;
    mutable bool m_filterDatesFixed = false;
    int m_filterUpdateBatchDepth = 0;
    bool m_needsRecomputeAfterBatch = false;
    std::unique_ptr<Timer> m_searchDebounceTimer;
    PinnedFilters m_pinnedFilters;
    std::shared_ptr<FilterIndex> m_filterIndex;
    FilterResult m_filterResult;
    // The state of the last computation, and the positions of the items changed or added since:
    // while the state stays the same, the next computation looks at those items only.
    std::optional<FilterState> m_filterResultState;
    quint64 m_filterResultGeneration = 0;
    std::vector<qint32> m_touchedSinceResult;
    mutable std::optional<QList<ClipboardItem>> m_filteredItemsList;
    // A search that did not finish in one slice, continued from the event loop.
    struct RunningSearch {
        FilterResult result;
        FilterState state;
    };
    std::optional<RunningSearch> m_runningSearch;
    quint64 m_searchGeneration = 0;
    std::chrono::milliseconds m_searchSlice { 20 };
    QString m_searchError;
    quint64 m_filterRecomputations = 0;
    mutable std::optional<quint64> m_sourceAppsRevision;
    mutable QList<SourceApp> m_sourceApps;
};

} // namespace lumra
