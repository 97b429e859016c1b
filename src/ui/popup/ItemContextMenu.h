#pragma once

#include "ui/popup/ItemMenuModel.h"

#include <QPoint>

#include <functional>

class QMenu;

namespace lumra {

class ItemActions;

namespace ItemContextMenu {

// Fills `menu` with the model's entries (symbols, tooltips, check marks, disabled entries);
// choosing one calls `chosen` with it.
void populate(QMenu& menu, const ItemMenuModel& model, const std::function<void(const ItemMenuEntry&)>& chosen);

// Shows the menu of `model` at `globalPos` with the popup held open, then runs the chosen entry
// once the menu has closed (so its confirmation is not shown under the menu).
void exec(const ItemMenuModel& model, ItemActions& actions, QPoint globalPos);

} // namespace ItemContextMenu
} // namespace lumra
