#pragma once

#include "engine/SettingOptions.h"
#include "model/ClipboardItem.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace lumra {

class ClipboardManager;

// What choosing an entry of the item context menu does. ItemActions runs each one.
enum class ItemMenuAction {
    none,
    // Recycle bin.
    restore,            // the one item
    deletePermanently,  // the one item, no confirmation
    restoreItems,       // every target
    deleteItemsPermanently,
    emptyRecycleBin,    // confirmed
    // One item.
    togglePinnedToTop,
    toggleStarred,
    toggleSensitive,
    setCategory,        // `categoryId`, none for "None"
    revealInFileManager,
    takeMeThere,
    deleteItem,         // confirmed
    // Several items (flags and categories are applied to the targets as they are when chosen).
    setPinnedToTop,     // to `flag`
    setStarred,         // to `flag`
    setSensitive,       // to `flag`, text items only
    setCategoryForItems,
    deleteItems,        // confirmed
    // Editors and the preview; present only when their window exists (ItemMenuFeatures).
    editTags,
    editComment,
    editShortcut,
    editContent,
    editCategory,       // `categoryId`
    newCategory,        // for every target
    editTagsOfItems,
    preview,
};

struct ItemMenuEntry {
    enum class Kind { action, separator, submenu };
    Kind kind = Kind::action;
    ItemMenuAction action = ItemMenuAction::none;
    QString label;
    QString symbol; // a Symbols name; empty for none
    QString toolTip;
    bool enabled = true;
    bool destructive = false;
    bool checkable = false;
    bool checked = false;
    bool flag = false;                 // the value a set… action writes
    std::optional<QUuid> categoryId;   // for the category actions
    QList<ItemMenuEntry> submenu;

    static ItemMenuEntry separator()
    {
        ItemMenuEntry entry;
        entry.kind = Kind::separator;
        return entry;
    }
};

// Entries whose windows live elsewhere appear only once those windows can be opened. To offer one,
// switch its flag on where the menu is built and handle its action in ItemActions.
struct ItemMenuFeatures {
    bool tagEditor = false;      // "Add Tags"/"Edit Tags", one item and several
    bool commentEditor = false;  // "Add Comment"/"Edit Comment"
    bool shortcutEditor = false; // "Set Shortcut"/"Shortcut: …"
    bool contentEditor = false;  // "Edit Content"
    bool categoryEditor = false; // "Edit Category..."
    bool categoryCreator = false;// "New Category..."
    bool preview = false;        // "Preview"
};

// Everything the menu is built from, read when it opens.
struct ItemMenuInput {
    // The items the menu acts on, in list order: the right-clicked row, or the visible rows of the
    // selection it belongs to. Two or more make the several-items menu.
    QList<ClipboardItem> targets;
    bool showRecycleBin = false;
    QList<ClipboardCategory> categories;
    bool filtersActive = false;
    PreviewShortcut previewShortcut = PreviewShortcut::spaceBar;
    ItemMenuFeatures features;
};

struct ItemMenuModel {
    QList<ClipboardItem> targets;
    QList<ItemMenuEntry> entries;

    bool isEmpty() const { return entries.isEmpty(); }
    // The first entry (submenus included) running `action`; null when there is none.
    const ItemMenuEntry* find(ItemMenuAction action) const;
    // The labels, submenus flattened after their title, separators as "-".
    QStringList labels() const;
};

ItemMenuModel buildItemMenu(const ItemMenuInput& input);

// The items a menu opened on `rowId` acts on: the visible selected items, in list order, when the
// row is one of two or more of them; else the row's item alone (none when it is not listed).
QList<ClipboardItem> itemMenuTargets(const ClipboardManager& manager, const QUuid& rowId, const QList<QUuid>& selectedIds);
// The listed items among `ids`, in list order.
QList<ClipboardItem> listedItems(const ClipboardManager& manager, const QList<QUuid>& ids);

// Whether a search or a filter that hides items is on ("Take Me There" is offered only then).
bool anyFilterActive(const ClipboardManager& manager);
ItemMenuInput itemMenuInput(const ClipboardManager& manager, QList<ClipboardItem> targets, ItemMenuFeatures features);

// "Preview" or "Preview - " and the shortcut's words.
QString previewEntryLabel(PreviewShortcut shortcut);
// The informative text of "Delete this item?": the item's preview, masked when it is sensitive.
QString deleteConfirmationText(const ClipboardItem& item);
// "1 item will …", "12 items will …".
QString emptyRecycleBinText(qsizetype count);

} // namespace lumra
