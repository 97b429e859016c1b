#pragma once

#include "engine/ClipboardManager.h"
#include "model/ClipboardItem.h"
#include "ui/items/ItemRowFacts.h"
#include "ui/popup/ListWindow.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>

namespace lumra {


// The popup's rows: the paging window of the manager's filtered list, read item by item through
// `filteredItemAt` (the list is never copied), with a loader row above and below while the window
// does not reach the list's ends. Row facts are worked out once per item and settings.
class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum class RowKind { item, loaderTop, loaderBottom };
    enum Role { ItemIdRole = Qt::UserRole + 1 };
    static constexpr std::chrono::milliseconds loadDelay{150};

    explicit HistoryListModel(ClipboardManager& manager, QObject* parent = nullptr);

    ClipboardManager* manager() const { return m_manager; }
    int filteredCount() const { return m_count; }
    int batchSize() const;
    const ListWindow& window() const { return m_window; }
    ListWindow::Range visibleRange() const { return m_window.visible(m_count); }

    // Back to the first batch; the user has not scrolled since.
    void resetWindow();
    void markUserScrolled() { m_userHasScrolled = true; }
    bool userHasScrolled() const { return m_userHasScrolled; }
    // A batch is on its way, or the history itself is still being read.
    bool isLoadingMore() const;
    bool hasBottomLoader() const;
    // One batch more at the end, a moment later; nothing before the user scrolled, while a step is
    // pending, or at the end of the list.
    void loadMore();
    // One batch more at the top, at once.
    void loadEarlier();
    // The keyboard stepping past an end of the window: one batch more on that side, at once, as
    // scrolling there would bring. False when the window already reaches that end of the list.
    bool growTowards(bool down);
    // About two batches around the item; false (window unchanged) when it is not in the list.
    bool showWindowAround(const QUuid& id);

    RowKind kindOf(int row) const;
    // The item of a row; null for loader rows and rows out of range.
    const ClipboardItem* itemAt(int row) const;
    int rowOf(const QUuid& id) const;
    QModelIndex indexOf(const QUuid& id) const
    {
        const int row = rowOf(id);
        return row >= 0 ? index(row) : QModelIndex();
    }
    int firstItemRow() const { return m_window.visible(m_count).lower > 0 ? 1 : 0; }
    int itemRowCount() const { return visibleRange().size(); }
    // Whether the item is in the current filtered list (not only in the window).
    bool containsItem(const QUuid& id) const;
    const ClipboardItem* findItem(const QUuid& id) const;

    const ItemRowFacts& facts(int row) const;
    const RowSettings& settings() const { return m_settings; }
    // The delegate's measured height of a row at a width, kept until the history or the settings change.
    std::optional<int> cachedHeight(int row, int width) const;
    void cacheHeight(int row, int width, int height) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    void windowChanged();
    // The rows are the result of another search or other filters.
    void newListShown();
    void loadingChanged();

private:
    struct RowCache {
        ItemRowFacts facts;
    };
    struct RowHeight {
        int width = -1;
        int height = 0;
    };
    void filteredItemsChanged();
    void settingsChanged();
    void thumbnailReady(const QUuid& id);
    void filesLookedAt();
    void setWindow(ListWindow window);
    RowCache& cacheFor(int row) const;
    // Every row is worked out anew, against a new reading of the clock.
    void clearCache();

    QPointer<ClipboardManager> m_manager;
    int m_count = 0;
    quint64 m_filterGeneration = 0;
    ListWindow m_window;
    bool m_userHasScrolled = false;
    bool m_isLoadingMore = false;
    int m_loadStep = 0;
    RowSettings m_settings;
    mutable QHash<QUuid, RowCache> m_cache;
    mutable QHash<QUuid, RowHeight> m_heights; // kept while the history and the settings are
    mutable std::optional<QDateTime> m_now;
};

} // namespace lumra
