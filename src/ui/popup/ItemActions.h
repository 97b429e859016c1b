#pragma once

#include "ui/shell/PopupPanel.h"
#include "ui/popup/ItemMenuModel.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace lumra {

class ClipboardManager;

// Runs what the item context menu offers: the history operations through the manager, the
// confirmations through the prompt service. Every alert holds the popup open while it is up and
// brings the popup back to the front afterwards when it is still open.
class ItemActions : public QObject {
    Q_OBJECT
public:
    explicit ItemActions(ClipboardManager& manager, QObject* parent = nullptr);

    // The popup the alerts hold; PopupPanel::findOpen() unless set.
    void setPanelProvider(std::function<PopupPanel*()> provider) { m_panel = std::move(provider); }
    PopupPanel* panel() const { return m_panel ? m_panel() : PopupPanel::findOpen(); }

    // Runs the entry of `menu` (for its targets).
    void run(const ItemMenuModel& menu, const ItemMenuEntry& entry);

    void confirmDeleteItem(const ClipboardItem& item);
    void confirmDeleteItems(const QList<ClipboardItem>& items);
    void confirmEmptyRecycleBin();
    void revealInFileManager(const ClipboardItem& item);
    void takeMeThere(const QUuid& itemId);
    // Each item whose flag differs from `value` is changed; sensitivity only for text items.
    void setFlagForItems(const QList<ClipboardItem>& items, int attribute, bool value);
    void setCategoryForItems(const QList<ClipboardItem>& items, const std::optional<QUuid>& categoryId);

signals:
    // The view empties its multi-selection.
    void selectionCleared();
    // The view brings the item into sight and highlights it.
    void scrollToItemRequested(const QUuid& itemId);
    // An entry whose window belongs to the editors or the preview was chosen.
    void windowRequested(lumra::ItemMenuAction action, const QList<lumra::ClipboardItem>& items,
                         const std::optional<QUuid>& categoryId);

private:
    // Shows the alert with the popup held; brings it back to the front afterwards.
    int confirm(const QString& title, const QString& text, const QStringList& buttons);

    QPointer<ClipboardManager> m_manager;
    std::function<PopupPanel*()> m_panel;
};

} // namespace lumra
