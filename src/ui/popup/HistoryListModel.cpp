#include "ui/popup/HistoryListModel.h"

#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "engine/ItemMedia.h"
#include "platform/files/FileLookups.h"

namespace lumra {

HistoryListModel::HistoryListModel(ClipboardManager& manager, QObject* parent)
    : QAbstractListModel(parent)
    , m_manager(&manager)
    , m_settings(RowSettings::from(manager))
{
    m_count = int(qMin<qsizetype>(manager.filters().filteredItemCount(), std::numeric_limits<int>::max()));
    m_filterGeneration = manager.filters().filterResultGeneration();
    connect(&manager.filters(), &HistoryFilter::filteredItemsChanged, this, &HistoryListModel::filteredItemsChanged);
    connect(&manager.filters(), &HistoryFilter::filterResultRestarted, this, [this] {
        m_filterGeneration = m_manager->filters().filterResultGeneration();
        m_userHasScrolled = false;
        setWindow(ListWindow::first(m_count, batchSize()));
        emit newListShown();
    });
    connect(&manager, &ClipboardManager::settingChanged, this, &HistoryListModel::settingsChanged);
    connect(&manager, &ClipboardManager::categoriesChanged, this, &HistoryListModel::settingsChanged);
    connect(&manager.media(), &ItemMedia::thumbnailReady, this, &HistoryListModel::thumbnailReady);
    connect(&FileLookups::instance(), &FileLookups::answered, this, &HistoryListModel::filesLookedAt);
    // A row's height follows its item and the settings, not the search: another search over the
    // same history measures only the rows it has not shown before.
    connect(&manager, &ClipboardManager::clipboardItemsChanged, this, [this] { m_heights.clear(); });
    // While the history is still being read, a loader row at the end says more is coming.
    connect(&manager, &ClipboardManager::isLoadingHistoryChanged, this, [this] {
        beginResetModel();
        endResetModel();
        emit loadingChanged();
    });
}

bool HistoryListModel::isLoadingMore() const { return m_isLoadingMore || (m_manager && m_manager->isLoadingHistory()); }

bool HistoryListModel::hasBottomLoader() const
{
    return visibleRange().upper < m_count || (m_manager && m_manager->isLoadingHistory());
}

int HistoryListModel::batchSize() const { return m_manager ? effectiveBatchSize(m_manager->displayBatchSize()) : defaultBatchSize; }

void HistoryListModel::setWindow(ListWindow window)
{
    if (window == m_window)
        return;
    const ListWindow::Range before = visibleRange();
    const ListWindow::Range after = window.visible(m_count);
    const bool topLoaderBefore = before.lower > 0;
    const bool bottomLoaderBefore = hasBottomLoader();
    // Growing at the end inserts rows, so the view keeps its place.
    if (after.lower == before.lower && after.upper > before.upper) {
        const int first = (topLoaderBefore ? 1 : 0) + before.size();
        beginInsertRows({}, first, first + after.size() - before.size() - 1);
        m_window = window;
        endInsertRows();
        if (bottomLoaderBefore && !hasBottomLoader()) {
            const int loader = first + after.size() - before.size();
            beginRemoveRows({}, loader, loader);
            endRemoveRows();
        }
    } else {
        beginResetModel();
        m_window = window;
        endResetModel();
    }
    emit windowChanged();
}

void HistoryListModel::resetWindow()
{
    m_userHasScrolled = false;
    setWindow(ListWindow::first(m_count, batchSize()));
}

void HistoryListModel::loadMore()
{
    if (!m_manager || !m_userHasScrolled || m_isLoadingMore || m_window.end >= m_count)
        return;
    m_isLoadingMore = true;
    emit loadingChanged();
    if (const int loader = rowCount() - 1; kindOf(loader) == RowKind::loaderBottom)
        emit dataChanged(index(loader), index(loader));
    m_manager->clock().after(loadDelay, this, [this, step = ++m_loadStep] {
        if (step != m_loadStep)
            return; // the keyboard grew the window meanwhile
        m_isLoadingMore = false;
        setWindow(m_window.grownDown(m_count, batchSize()));
        emit loadingChanged();
    });
}

void HistoryListModel::loadEarlier()
{
    if (!m_userHasScrolled || m_isLoadingMore || m_window.start <= 0)
        return;
    setWindow(m_window.grownUp(batchSize()));
}

bool HistoryListModel::growTowards(bool down)
{
    if (down ? m_window.end >= m_count : m_window.start <= 0)
        return false;
    m_userHasScrolled = true;
    ++m_loadStep; // a pending step is done by this one
    m_isLoadingMore = false;
    setWindow(down ? m_window.grownDown(m_count, batchSize()) : m_window.grownUp(batchSize()));
    emit loadingChanged();
    return true;
}

bool HistoryListModel::showWindowAround(const QUuid& id)
{
    if (!m_manager)
        return false;
    for (int i = 0; i < m_count; ++i) {
        if (m_manager->filters().filteredItemAt(i).id == id) {
            setWindow(ListWindow::around(i, m_count, batchSize()));
            return true;
        }
    }
    return false;
}

HistoryListModel::RowKind HistoryListModel::kindOf(int row) const
{
    const ListWindow::Range range = visibleRange();
    const int top = range.lower > 0 ? 1 : 0;
    if (top && row == 0)
        return RowKind::loaderTop;
    if (row - top >= range.size())
        return RowKind::loaderBottom;
    return RowKind::item;
}

const ClipboardItem* HistoryListModel::itemAt(int row) const
{
    const ListWindow::Range range = visibleRange();
    const int position = row - (range.lower > 0 ? 1 : 0);
    if (!m_manager || row < 0 || position < 0 || position >= range.size() || range.lower + position >= m_manager->filters().filteredItemCount())
        return nullptr;
    return &m_manager->filters().filteredItemAt(range.lower + position);
}

int HistoryListModel::rowOf(const QUuid& id) const
{
    const int first = firstItemRow();
    for (int row = first; row < first + itemRowCount(); ++row) {
        if (const ClipboardItem* item = itemAt(row); item && item->id == id)
            return row;
    }
    return -1;
}

const ClipboardItem* HistoryListModel::findItem(const QUuid& id) const
{
    if (const int row = rowOf(id); row >= 0)
        return itemAt(row);
    for (int i = 0; m_manager && i < m_count; ++i) {
        if (m_manager->filters().filteredItemAt(i).id == id)
            return &m_manager->filters().filteredItemAt(i);
    }
    return nullptr;
}

bool HistoryListModel::containsItem(const QUuid& id) const { return findItem(id) != nullptr; }

HistoryListModel::RowCache& HistoryListModel::cacheFor(int row) const
{
    const ClipboardItem* item = itemAt(row);
    static RowCache none;
    if (!item)
        return none = RowCache{};
    auto it = m_cache.find(item->id);
    if (it != m_cache.end())
        return *it;
    RowContext context;
    // Rows worked out later in a pass (a thumbnail arrived, a batch loaded) read the pass's clock, so
    // their ages never contradict the order of the list.
    if (!m_now)
        m_now = m_manager->clock().now();
    context.now = *m_now;
    if (m_settings.showCategoryName && item->categoryId) {
        for (const ClipboardCategory& category : m_manager->categories()) {
            if (category.id == *item->categoryId) {
                context.categoryName = category.name;
                break;
            }
        }
    }
    if (item->contentType == ClipboardContentType::image)
        context.imageSize = m_manager->media().imageDimensions(*item);
    // Files are looked at off this thread (a hung mount must not hold the popup); the row is
    // worked out again when the answers arrive.
    context.probeFile = [](const QString& path) {
        const std::optional<FileLook> look = FileLookups::instance().look(path);
        if (!look)
            return FilePresence::unknown;
        switch (look->kind) {
        case FileLook::Kind::missing:
            return FilePresence::missing;
        case FileLook::Kind::folder:
            return FilePresence::folder;
        case FileLook::Kind::file:
            break;
        }
        return FilePresence::file;
    };
    return *m_cache.insert(item->id, RowCache{ItemRowFacts::make(*item, m_settings, context)});
}

const ItemRowFacts& HistoryListModel::facts(int row) const { return cacheFor(row).facts; }

std::optional<int> HistoryListModel::cachedHeight(int row, int width) const
{
    const ClipboardItem* item = itemAt(row);
    const auto found = item ? m_heights.constFind(item->id) : m_heights.constEnd();
    return found != m_heights.constEnd() && found->width == width ? std::optional(found->height) : std::nullopt;
}

void HistoryListModel::cacheHeight(int row, int width, int height) const
{
    if (const ClipboardItem* item = itemAt(row))
        m_heights.insert(item->id, RowHeight{width, height});
}

int HistoryListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    const ListWindow::Range range = visibleRange();
    return range.size() + (range.lower > 0 ? 1 : 0) + (hasBottomLoader() ? 1 : 0);
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    const ClipboardItem* item = index.isValid() ? itemAt(index.row()) : nullptr;
    if (!item)
        return {};
    switch (role) {
    case ItemIdRole:
        return item->id;
    case Qt::DisplayRole:
        return facts(index.row()).text;
    default:
        return {};
    }
}

void HistoryListModel::filteredItemsChanged()
{
    if (!m_manager)
        return;
    const int count = int(qMin<qsizetype>(m_manager->filters().filteredItemCount(), std::numeric_limits<int>::max()));
    beginResetModel();
    clearCache();
    const bool countChanged = count != m_count;
    m_count = count;
    const bool newList = m_manager->filters().filterResultGeneration() != m_filterGeneration;
    m_filterGeneration = m_manager->filters().filterResultGeneration();
    // A list of another search or length starts again at its first batch; the same list of the
    // same length keeps the place.
    if (countChanged || newList) {
        m_userHasScrolled = false;
        m_window = ListWindow::first(m_count, batchSize());
    }
    endResetModel();
    if (newList)
        emit newListShown();
    emit windowChanged();
}

void HistoryListModel::settingsChanged()
{
    if (!m_manager)
        return;
    beginResetModel();
    m_settings = RowSettings::from(*m_manager);
    clearCache();
    m_heights.clear();
    endResetModel();
}

void HistoryListModel::clearCache()
{
    m_cache.clear();
    m_now.reset();
}

void HistoryListModel::filesLookedAt()
{
    const int first = firstItemRow();
    const int last = first + itemRowCount() - 1;
    for (int row = first; row <= last; ++row) {
        if (const ClipboardItem* item = itemAt(row); item && item->contentType == ClipboardContentType::file) {
            m_cache.remove(item->id);
            m_heights.remove(item->id);
        }
    }
    if (last >= first)
        emit dataChanged(index(first), index(last));
}

void HistoryListModel::thumbnailReady(const QUuid& id)
{
    if (const int row = rowOf(id); row >= 0) {
        m_cache.remove(id);
        emit dataChanged(index(row), index(row));
    }
}

} // namespace lumra
