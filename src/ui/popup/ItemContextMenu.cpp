#include "ui/popup/ItemContextMenu.h"

#include "ui/items/SymbolIcon.h"
#include "ui/popup/ItemActions.h"

#include <QMenu>
#include <QPointer>

namespace lumra::ItemContextMenu {

void populate(QMenu& menu, const ItemMenuModel& model, const std::function<void(const ItemMenuEntry&)>& chosen)
{
    menu.setToolTipsVisible(true);
    const QPalette palette = menu.palette();
    std::function<void(QMenu&, const QList<ItemMenuEntry>&)> fill = [&](QMenu& into, const QList<ItemMenuEntry>& entries) {
        for (const ItemMenuEntry& entry : entries) {
            switch (entry.kind) {
            case ItemMenuEntry::Kind::separator: into.addSeparator(); break;
            case ItemMenuEntry::Kind::submenu: {
                QMenu* sub = into.addMenu(tintedSymbol(entry.symbol, palette.color(QPalette::Text)), entry.label);
                sub->setToolTipsVisible(true);
                sub->menuAction()->setToolTip(entry.toolTip);
                fill(*sub, entry.submenu);
                break;
            }
            case ItemMenuEntry::Kind::action: {
                QAction* action = into.addAction(entry.label);
                if (!entry.symbol.isEmpty())
                    action->setIcon(tintedSymbol(entry.symbol, entry.destructive ? destructiveRed(palette)
                                                                                 : palette.color(QPalette::Text)));
                action->setToolTip(entry.toolTip.isEmpty() ? entry.label : entry.toolTip);
                action->setEnabled(entry.enabled);
                action->setCheckable(entry.checkable);
                action->setChecked(entry.checked);
                QObject::connect(action, &QAction::triggered, &menu, [chosen, entry] { chosen(entry); });
                break;
            }
            }
        }
    };
    fill(menu, model.entries);
}

void exec(const ItemMenuModel& model, ItemActions& actions, QPoint globalPos)
{
    if (model.isEmpty())
        return;
    std::optional<ItemMenuEntry> chosen;
    QPointer<ItemActions> guard(&actions);
    {
        QPointer<PopupPanel> popup = actions.panel();
        PopupPanel::Hold hold = popup ? popup->hold() : PopupPanel::Hold();
        QMenu menu(popup);
        populate(menu, model, [&chosen](const ItemMenuEntry& entry) { chosen = entry; });
        menu.exec(globalPos);
    }
    if (chosen && guard)
        actions.run(model, *chosen);
}

} // namespace lumra::ItemContextMenu
