#include "ui/popup/ItemMenuController.h"

#include "ui/items/editors/EditorWindows.h"
#include "ui/popup/ContentView.h"
#include "ui/popup/ItemContextMenu.h"
#include "ui/popup/PopupFooter.h"
#include "ui/preview/PreviewCoordinator.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLayout>
#include <QLineEdit>

namespace lumra {

ItemMenuController::ItemMenuController(ContentView& view)
    : QObject(&view)
    , m_view(&view)
    , m_actions(view.manager())
{
    m_actions.setPanelProvider([this] { return m_view ? m_view->panel() : nullptr; });
    connect(&view, &ContentView::contextMenuRequested, this, &ItemMenuController::openMenu);
    connect(&m_actions, &ItemActions::selectionCleared, this, [this] {
        if (m_view)
            m_view->viewState().setSelectedIds({});
    });
    connect(&m_actions, &ItemActions::scrollToItemRequested, this, [this](const QUuid& id) {
        if (m_view)
            m_view->viewState().setScrollToItemId(id);
    });
    connect(&m_actions, &ItemActions::windowRequested, this, &ItemMenuController::openWindow);
    EditorWindows::attach(view);

    qApp->installEventFilter(this);

    QWidget* host = view.footerHost();
    m_footer = new PopupFooter(view.manager(), host);
    host->layout()->addWidget(m_footer);
    host->setVisible(m_footer->hasContent());
    connect(m_footer, &PopupFooter::hasContentChanged, host, &QWidget::setVisible);
}

ItemMenuFeatures ItemMenuController::features()
{
    ItemMenuFeatures features;
    features.preview = true;
    return EditorWindows::menuFeatures(features);
}

ItemMenuModel ItemMenuController::menuFor(const QList<QUuid>& ids) const
{
    if (!m_view)
        return {};
    const ClipboardManager& manager = m_view->manager();
    return buildItemMenu(itemMenuInput(manager, listedItems(manager, ids), features()));
}

void ItemMenuController::openMenu(const QList<QUuid>& ids, QPoint globalPos)
{
    ItemContextMenu::exec(menuFor(ids), m_actions, globalPos);
}

bool ItemMenuController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ContextMenu || !m_view)
        return false;
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!field || !m_view->searchAreaHost()->isAncestorOf(field)
        || static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Keyboard)
        return false;
    return m_view->requestContextMenuFromKeyboard();
}

void ItemMenuController::openWindow(ItemMenuAction action, const QList<ClipboardItem>& items,
                                    const std::optional<QUuid>& categoryId)
{
    if (!m_view)
        return;
    if (action == ItemMenuAction::preview) {
        if (!items.isEmpty())
            UnifiedPreviewCoordinator::shared().showUnifiedPreview(items.first(), m_view->manager());
        return;
    }
    EditorWindows::openForMenuEntry(*m_view, action, items, categoryId);
}

} // namespace lumra
