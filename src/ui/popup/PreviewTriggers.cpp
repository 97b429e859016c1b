#include "ui/popup/PreviewTriggers.h"

#include "engine/ClipboardManager.h"
#include "ui/items/ItemRowDelegate.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/HistoryListModel.h"
#include "ui/popup/HistoryListView.h"
#include "ui/popup/ItemMenuController.h"
#include "ui/popup/ItemMenuModel.h"
#include "ui/popup/PopupKeyMonitor.h"
#include "ui/preview/DragOut.h"
#include "ui/preview/FileThumbnailCache.h"
#include "ui/preview/PreviewCoordinator.h"

#include <QCursor>
#include <QEvent>

namespace lumra {

PreviewTriggers::PreviewTriggers(ContentView& view, UnifiedPreviewCoordinator* coordinator)
    : QObject(&view)
    , m_view(view)
    , m_coordinator(coordinator)
{
    m_hoverTimer.setSingleShot(true);
    connect(&m_hoverTimer, &QTimer::timeout, this, [this] {
        // After the current event, as the timer's own queue hop would.
        QMetaObject::invokeMethod(this, [this, id = m_hoverId] { showHoverPreviewIfStillHovered(id); }, Qt::QueuedConnection);
    });
    connect(&view.viewState(), &ContentViewState::hoveredItemIdChanged, this, &PreviewTriggers::hoverChanged);
    view.installEventFilter(this);
    if (view.isVisible())
        installMonitor();

    HistoryListView* list = view.listView();
    m_drag = new RowDragController(
        list, view.manager(),
        [list](const QModelIndex& index) -> std::optional<ClipboardItem> {
            const ClipboardItem* item = index.isValid() ? list->historyModel()->itemAt(index.row()) : nullptr;
            return item ? std::optional(*item) : std::nullopt;
        },
        [&view] { return view.viewState().selectedIds(); }, this);
    connect(&FileThumbnailCache::shared(), &FileThumbnailCache::thumbnailReady, list->viewport(), [list] {
        list->viewport()->update();
    });
}

PreviewTriggers::~PreviewTriggers() = default;

UnifiedPreviewCoordinator& PreviewTriggers::coordinator() const
{
    return m_coordinator ? *m_coordinator : UnifiedPreviewCoordinator::shared();
}

std::optional<ClipboardItem> PreviewTriggers::listedItem(const QUuid& id) const
{
    const QList<ClipboardItem> items = listedItems(m_view.manager(), {id});
    return items.isEmpty() ? std::nullopt : std::optional(items.first());
}

void PreviewTriggers::showPreview(const ClipboardItem& item)
{
    coordinator().showUnifiedPreview(item, m_view.manager());
}

void PreviewTriggers::togglePreviewForCurrentItem()
{
    if (coordinator().isPreviewVisible()) {
        coordinator().closePreviewAnimated();
        return;
    }
    const ContentViewState& state = m_view.viewState();
    const std::optional<QUuid> id = state.keyboardSelectedId() ? state.keyboardSelectedId() : state.hoveredItemId();
    if (!id)
        return;
    if (const auto item = listedItem(*id))
        showPreview(*item);
}

void PreviewTriggers::showHoverPreviewIfStillHovered(const QUuid& id)
{
    if (coordinator().isPreviewVisible() || m_view.viewState().hoveredItemId() != id)
        return;
    if (const auto item = listedItem(id))
        showPreview(*item);
}

void PreviewTriggers::hoverChanged()
{
    m_hoverTimer.stop();
    const std::optional<QUuid> id = m_view.viewState().hoveredItemId();
    if (!id)
        return;
    if (m_monitor)
        m_monitor->mouseEnteredRow(QCursor::pos());
    const qint64 delay = m_view.manager().previewHoverDelay();
    if (delay <= 0 || coordinator().isPreviewVisible())
        return;
    m_hoverId = *id;
    m_hoverTimer.start(std::chrono::seconds(delay));
}

void PreviewTriggers::installMonitor()
{
    if (m_monitor)
        return;
    PopupKeyMonitor::Hooks hooks;
    hooks.previewShortcut = [this] { return m_view.manager().previewShortcut(); };
    hooks.isPreviewVisible = [this] { return coordinator().isPreviewVisible(); };
    hooks.togglePreview = [this] { togglePreviewForCurrentItem(); };
    hooks.hasCurrentItem = [this] {
        return m_view.viewState().keyboardSelectedId().has_value() || m_view.viewState().hoveredItemId().has_value();
    };
    hooks.selectedCount = [this] { return int(m_view.viewState().selectedIds().size()); };
    hooks.previewWindow = [this]() -> QWidget* { return coordinator().panel(); };
    // Delete with two or more rows selected asks, through the item menu's actions, to delete them.
    hooks.confirmDeleteSelection = [this] {
        if (auto* menus = m_view.findChild<ItemMenuController*>())
            menus->actions().confirmDeleteItems(listedItems(m_view.manager(), m_view.visibleSelectedIds()));
    };
    m_monitor = std::make_unique<PopupKeyMonitor>(&m_view, std::move(hooks));
    connect(m_monitor.get(), &PopupKeyMonitor::suppressSpaceBarPreviewChanged, &m_view.viewState(),
            &ContentViewState::setSuppressSpaceBarPreview);
}

bool PreviewTriggers::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_view) {
        if (event->type() == QEvent::Show)
            installMonitor();
        else if (event->type() == QEvent::Hide) {
            m_monitor.reset();
            m_hoverTimer.stop();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lumra
