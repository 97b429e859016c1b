#pragma once

#include "ui/popup/ItemActions.h"
#include "ui/popup/ItemMenuModel.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

namespace lumra {

class ContentView;
class PopupFooter;

// Puts the item context menu and the footer into a ContentView: the menu opens on the view's
// contextMenuRequested, its actions clear the view's selection and scroll it, and the footer fills
// the view's footer place (hidden with its divider when it has nothing to show).
class ItemMenuController : public QObject {
    Q_OBJECT
public:
    explicit ItemMenuController(ContentView& view);

    ItemActions& actions() { return m_actions; }
    PopupFooter* footer() const { return m_footer; }

    // The menu the view would open for `ids` now.
    ItemMenuModel menuFor(const QList<QUuid>& ids) const;
    void openMenu(const QList<QUuid>& ids, QPoint globalPos);

    // The windows the menu can open. An editor or the preview switches its flag on here and
    // handles its action where windowRequested is connected in the constructor.
    static ItemMenuFeatures features();

protected:
    // The Menu key in the search field opens the menu of the chosen row rather than the field's own.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openWindow(ItemMenuAction action, const QList<ClipboardItem>& items, const std::optional<QUuid>& categoryId);

    QPointer<ContentView> m_view;
    ItemActions m_actions;
    PopupFooter* m_footer = nullptr;
};

} // namespace lumra
