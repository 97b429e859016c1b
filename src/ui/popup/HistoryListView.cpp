#include "ui/popup/HistoryListView.h"

#include "engine/ClipboardManager.h"
#include "ui/items/ItemRowDelegate.h"
#include "ui/popup/ContentViewState.h"
#include "ui/popup/HistoryListModel.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>

namespace lumra {

HistoryListView::HistoryListView(ClipboardManager& manager, ContentViewState& state, QWidget* parent)
    : QListView(parent)
    , m_manager(&manager)
    , m_state(&state)
{
    m_model = new HistoryListModel(manager, this);
    m_delegate = new ItemRowDelegate(manager, state, this);
    setModel(m_model);
    setItemDelegate(m_delegate);
    setFocusPolicy(Qt::NoFocus);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    // Rows wrap their text: the list lays them out again when only its width changes too.
    setWordWrap(true);
    setUniformItemSizes(false);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setViewportMargins(0, 4, 0, 4);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);

    // State changes repaint; they never reset the model.
    const auto repaint = [this] { viewport()->update(); };
    for (auto signal : {&ContentViewState::hoveredItemIdChanged, &ContentViewState::selectedIdsChanged,
                        &ContentViewState::keyboardSelectedIdChanged, &ContentViewState::highlightedItemIdChanged,
                        &ContentViewState::keyboardNavActiveChanged})
        connect(&state, signal, this, repaint);
    // The arrow keys scroll only as far as the chosen row needs to show: centring it would move
    // the list away from where the wheel left it.
    connect(&state, &ContentViewState::keyboardSelectedIdChanged, this, [this] {
        if (const auto id = m_state->keyboardSelectedId())
            if (const QModelIndex index = m_model->indexOf(*id); index.isValid())
                scrollTo(index, QAbstractItemView::EnsureVisible);
    });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { m_model->markUserScrolled(); });
    connect(m_model, &HistoryListModel::loadingChanged, this, repaint);
    connect(m_delegate, &ItemRowDelegate::repaintNeeded, this, repaint);
    connect(m_model, &HistoryListModel::newListShown, this, &QAbstractItemView::scrollToTop);
    connect(m_model, &HistoryListModel::windowChanged, this, [this] {
        // Rows inserted at the end may still leave the loader on screen (a tall view).
        QTimer::singleShot(0, this, &HistoryListView::loadIfLoaderShown);
    });
}

std::optional<QUuid> HistoryListView::itemIdAt(QPoint viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    const ClipboardItem* item = index.isValid() ? m_model->itemAt(index.row()) : nullptr;
    return item ? std::optional(item->id) : std::nullopt;
}

void HistoryListView::scrollToItem(const QUuid& id)
{
    if (const QModelIndex index = m_model->indexOf(id); index.isValid())
        scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void HistoryListView::hoverAt(QPoint viewportPos, QPoint globalPos)
{
    if (!m_state)
        return;
    if (m_state->keyboardNavActive()) {
        // The pointer resting while the arrow keys move does not steal the row.
        const QPoint moved = globalPos - m_state->keyboardNavMouseOrigin();
        if (QPoint::dotProduct(moved, moved) <= 4)
            return;
        m_state->setKeyboardNav(false);
    }
    const std::optional<QUuid> id = itemIdAt(viewportPos);
    m_state->setHoveredItemId(id);
    if (id) {
        m_state->setKeyboardSelectedId(std::nullopt);
        m_state->setSuppressSpaceBarPreview(false);
    }
    const QModelIndex index = indexAt(viewportPos);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    const bool overLink = index.isValid() && m_delegate->linkRect(option, index).contains(viewportPos);
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);
    const ClipboardItem* item = index.isValid() ? m_model->itemAt(index.row()) : nullptr;
    // The link's tooltip is the address itself (links of sensitive items have no button at all).
    const ItemRowFacts* facts = item ? &m_model->facts(index.row()) : nullptr;
    viewport()->setToolTip(overLink && facts && facts->link ? facts->link->toString() : QString());
}

void HistoryListView::mouseMoveEvent(QMouseEvent* event)
{
    m_pointer = event->position().toPoint();
    hoverAt(*m_pointer, event->globalPosition().toPoint());
    QAbstractScrollArea::mouseMoveEvent(event);
}

void HistoryListView::leaveEvent(QEvent* event)
{
    m_pointer.reset();
    if (m_state && !m_state->keyboardNavActive())
        m_state->setHoveredItemId(std::nullopt);
    QListView::leaveEvent(event);
}

bool HistoryListView::activateLink(QPoint viewportPos)
{
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid() || m_model->kindOf(index.row()) != HistoryListModel::RowKind::item)
        return false;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    if (!m_delegate->linkRect(option, index).contains(viewportPos))
        return false;
    if (const auto& link = m_model->facts(index.row()).link)
        emit linkActivated(*link);
    return true;
}

void HistoryListView::mousePressEvent(QMouseEvent* event)
{
    // No selection model of our own: the view state holds the selection.
    m_pressPos = event->position().toPoint();
    m_pressOnLink = false;
    event->accept();
}

void HistoryListView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !m_manager || !m_state)
        return;
    const QPoint pos = event->position().toPoint();
    if ((pos - m_pressPos).manhattanLength() > QGuiApplication::styleHints()->startDragDistance())
        return;
    const std::optional<QUuid> id = itemIdAt(pos);
    if (!id)
        return;
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        m_state->toggleSelection(*id);
        return;
    }
    if (activateLink(pos))
        return;
    if (!m_manager->doubleTapToCopy())
        emit pasteRequested(*id, event->modifiers().testFlag(Qt::ShiftModifier));
}

void HistoryListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !m_manager || !m_manager->doubleTapToCopy()
        || event->modifiers().testFlag(Qt::ControlModifier))
        return;
    const QPoint pos = event->position().toPoint();
    if (const std::optional<QUuid> id = itemIdAt(pos); id && !activateLink(pos))
        emit pasteRequested(*id, event->modifiers().testFlag(Qt::ShiftModifier));
}

void HistoryListView::contextMenuEvent(QContextMenuEvent* event)
{
    if (const std::optional<QUuid> id = itemIdAt(event->pos()))
        emit contextMenuRequested(*id, event->globalPos());
    event->accept();
}

void HistoryListView::wheelEvent(QWheelEvent* event)
{
    // A window mapped under a still pointer gets no motion event; the wheel says where it is.
    m_pointer = event->position().toPoint();
    m_model->markUserScrolled();
    QListView::wheelEvent(event);
}

void HistoryListView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    loadIfLoaderShown();
}

void HistoryListView::initViewItemOption(QStyleOptionViewItem* option) const
{
    QListView::initViewItemOption(option);
    // Rows are laid out, and their heights measured, at the width they are painted at: the
    // viewport's, narrower while the scroll bar shows. A fixed guess lets a wrapped line overlap
    // the next row.
    option->rect = QRect(0, 0, viewport()->width(), 0);
}

void HistoryListView::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    // The rows moved under a pointer that did not: the hovered row is the one now under it. The
    // keyboard's choice stays while it leads.
    if (m_pointer && dy != 0 && m_state && !m_state->keyboardNavActive())
        hoverAt(*m_pointer, viewport()->mapToGlobal(*m_pointer));
    loadIfLoaderShown();
}

void HistoryListView::loadIfLoaderShown()
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const QRect area = viewport()->rect();
    if (m_model->kindOf(rows - 1) == HistoryListModel::RowKind::loaderBottom && visualRect(m_model->index(rows - 1)).intersects(area))
        m_model->loadMore();
    if (m_model->kindOf(0) == HistoryListModel::RowKind::loaderTop && visualRect(m_model->index(0)).intersects(area)) {
        const std::optional<QUuid> anchor = m_model->itemAt(1) ? std::optional(m_model->itemAt(1)->id) : std::nullopt;
        const int before = m_model->window().start;
        m_model->loadEarlier();
        // Keep the row that was first where the user was looking.
        if (anchor && m_model->window().start != before) {
            if (const QModelIndex index = m_model->indexOf(*anchor); index.isValid())
                scrollTo(index, QAbstractItemView::PositionAtTop);
        }
    }
}

} // namespace lumra
