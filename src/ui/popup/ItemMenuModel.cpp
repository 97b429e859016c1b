#include "ui/popup/ItemMenuModel.h"

#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"

#include <QSet>

#include <algorithm>

namespace lumra {

namespace {

ItemMenuEntry entry(ItemMenuAction action, const QString& label, const QString& symbol, const QString& toolTip)
{
    ItemMenuEntry e;
    e.action = action;
    e.label = label;
    e.symbol = symbol;
    e.toolTip = toolTip;
    return e;
}

ItemMenuEntry destructive(ItemMenuEntry e)
{
    e.destructive = true;
    return e;
}

ItemMenuEntry withFlag(ItemMenuEntry e, bool flag)
{
    e.flag = flag;
    return e;
}

QString counted(const char* before, qsizetype count, const char* after)
{
    return QString::fromUtf8(before) + QString::number(count) + QString::fromUtf8(after);
}

// Entries of a submenu can drop out with a missing window; no separator stays at an edge or doubled.
QList<ItemMenuEntry> tidy(const QList<ItemMenuEntry>& entries)
{
    QList<ItemMenuEntry> tidied;
    for (const ItemMenuEntry& e : entries) {
        const bool isSeparator = e.kind == ItemMenuEntry::Kind::separator;
        if (isSeparator && (tidied.isEmpty() || tidied.last().kind == ItemMenuEntry::Kind::separator))
            continue;
        tidied.append(e);
    }
    while (!tidied.isEmpty() && tidied.last().kind == ItemMenuEntry::Kind::separator)
        tidied.removeLast();
    return tidied;
}

const ClipboardCategory* categoryNamed(const QList<ClipboardCategory>& categories, const std::optional<QUuid>& id)
{
    if (!id)
        return nullptr;
    auto found = std::find_if(categories.begin(), categories.end(), [&](const ClipboardCategory& c) { return c.id == *id; });
    return found == categories.end() ? nullptr : &*found;
}

void appendSubmenu(QList<ItemMenuEntry>& entries, ItemMenuEntry submenu)
{
    // A submenu left empty by missing windows is no entry at all.
    submenu.kind = ItemMenuEntry::Kind::submenu;
    submenu.submenu = tidy(submenu.submenu);
    if (!submenu.submenu.isEmpty())
        entries.append(submenu);
}

ItemMenuEntry noneCategoryEntry(ItemMenuAction action)
{
    ItemMenuEntry none = entry(action, QStringLiteral("None"), {}, {});
    none.categoryId = std::nullopt;
    return none;
}

ItemMenuEntry newCategoryEntry()
{
    return entry(ItemMenuAction::newCategory, QStringLiteral("New Category..."), QStringLiteral("plus"), {});
}

QList<ItemMenuEntry> recycleBinMenu(const ItemMenuInput& input)
{
    QList<ItemMenuEntry> entries;
    const qsizetype count = input.targets.size();
    if (count >= 2) {
        entries << entry(ItemMenuAction::restoreItems, counted("Restore ", count, " Items"),
                         QStringLiteral("arrow.uturn.backward"),
                         QStringLiteral("Move the selected items out of the recycle bin and back to the main clipboard list"));
        entries << destructive(entry(ItemMenuAction::deleteItemsPermanently, counted("Delete ", count, " Permanently"),
                                     QStringLiteral("trash"),
                                     QStringLiteral("Permanently delete the selected items \u2014 this cannot be undone")));
    } else {
        entries << entry(ItemMenuAction::restore, QStringLiteral("Restore"), QStringLiteral("arrow.uturn.backward"),
                         QStringLiteral("Move this item out of the recycle bin and back to the main clipboard list"));
        entries << destructive(entry(ItemMenuAction::deletePermanently, QStringLiteral("Delete Permanently"),
                                     QStringLiteral("trash"),
                                     QStringLiteral("Permanently delete this item \u2014 this cannot be undone")));
    }
    entries << ItemMenuEntry::separator();
    entries << destructive(entry(ItemMenuAction::emptyRecycleBin, QStringLiteral("Empty Recycle Bin"),
                                 QStringLiteral("trash.slash"),
                                 QStringLiteral("Permanently delete every item currently in the recycle bin")));
    return entries;
}

QList<ItemMenuEntry> severalItemsMenu(const ItemMenuInput& input)
{
    const QList<ClipboardItem>& items = input.targets;
    const qsizetype count = items.size();
    const auto all = [&](auto test) { return std::all_of(items.begin(), items.end(), test); };
    const bool allPinnedToTop = all([](const ClipboardItem& i) { return i.isPinnedToTop; });
    const bool allStarred = all([](const ClipboardItem& i) { return i.isPinned; });
    const bool anyTagged = std::any_of(items.begin(), items.end(), [](const ClipboardItem& i) { return !i.tags.isEmpty(); });
    QList<ClipboardItem> texts;
    std::copy_if(items.begin(), items.end(), std::back_inserter(texts),
                 [](const ClipboardItem& i) { return i.contentType == ClipboardContentType::text; });
    const bool allSensitive = std::all_of(texts.begin(), texts.end(), [](const ClipboardItem& i) { return i.isSensitive; });

    QList<ItemMenuEntry> entries;
    entries << withFlag(allPinnedToTop
                            ? entry(ItemMenuAction::setPinnedToTop, counted("Unpin ", count, " Items"), QStringLiteral("pin.slash"),
                                    QStringLiteral("Remove the selected items from the top of the list"))
                            : entry(ItemMenuAction::setPinnedToTop, counted("Pin ", count, " Items on Top"), QStringLiteral("pin"),
                                    QStringLiteral("Keep the selected items pinned to the top of the list")),
                        !allPinnedToTop);
    entries << withFlag(allStarred
                            ? entry(ItemMenuAction::setStarred, counted("Unstar ", count, " Items"), QStringLiteral("star.slash"),
                                    QStringLiteral("Remove the star so these items can be auto-deleted again"))
                            : entry(ItemMenuAction::setStarred, counted("Star ", count, " Items"), QStringLiteral("star"),
                                    QStringLiteral("Star the selected items so they are never auto-deleted")),
                        !allStarred);
    if (input.features.tagEditor)
        entries << entry(ItemMenuAction::editTagsOfItems, anyTagged ? QStringLiteral("Edit Tags") : QStringLiteral("Add Tags"),
                         QStringLiteral("tag"),
                         QStringLiteral("Set tags on all selected items. Saving applies the exact tag list shown to every "
                                        "selected item."));

    ItemMenuEntry category = entry(ItemMenuAction::none, QStringLiteral("Category"), QStringLiteral("folder"),
                                   QStringLiteral("Assign the selected items to a category"));
    if (!input.categories.isEmpty()) {
        category.submenu << noneCategoryEntry(ItemMenuAction::setCategoryForItems) << ItemMenuEntry::separator();
        for (const ClipboardCategory& c : input.categories) {
            ItemMenuEntry choice = entry(ItemMenuAction::setCategoryForItems, c.name, c.iconName, {});
            choice.categoryId = c.id;
            category.submenu << choice;
        }
        category.submenu << ItemMenuEntry::separator();
    }
    if (input.features.categoryCreator)
        category.submenu << newCategoryEntry();
    appendSubmenu(entries, category);

    if (!texts.isEmpty())
        entries << withFlag(allSensitive ? entry(ItemMenuAction::setSensitive, QStringLiteral("Remove Sensitive Data"),
                                                 QStringLiteral("eye"),
                                                 QStringLiteral("Reveal the content of the selected items in the list"))
                                         : entry(ItemMenuAction::setSensitive, QStringLiteral("Sensitive Data"),
                                                 QStringLiteral("eye.slash"),
                                                 QStringLiteral("Hide the content of the selected text items in the list")),
                            !allSensitive);
    entries << ItemMenuEntry::separator();
    entries << destructive(entry(ItemMenuAction::deleteItems, counted("Delete ", count, " Items"), QStringLiteral("trash"),
                                 QStringLiteral("Move the selected items to the recycle bin")));
    return entries;
}

QList<ItemMenuEntry> oneItemMenu(const ItemMenuInput& input)
{
    const ClipboardItem& item = input.targets.first();
    const bool isText = item.contentType == ClipboardContentType::text;
    QList<ItemMenuEntry> entries;

    entries << (item.isPinnedToTop ? entry(ItemMenuAction::togglePinnedToTop, QStringLiteral("Unpin"), QStringLiteral("pin.slash"),
                                           QStringLiteral("Remove this item from the top of the list"))
                                   : entry(ItemMenuAction::togglePinnedToTop, QStringLiteral("Pin this on Top"), QStringLiteral("pin"),
                                           QStringLiteral("Keep this item pinned to the top of the list")));
    ItemMenuEntry star = item.isPinned ? entry(ItemMenuAction::toggleStarred, QStringLiteral("Unstar Item"), QStringLiteral("star.slash"),
                                               QStringLiteral("Remove the star so this item can be auto-deleted again"))
                                       : entry(ItemMenuAction::toggleStarred, QStringLiteral("Star this Item"), QStringLiteral("star"),
                                               QStringLiteral("Star this item so it is never auto-deleted"));
    star.enabled = !item.isPinnedToTop;
    entries << star;
    if (input.features.tagEditor)
        entries << entry(ItemMenuAction::editTags, item.tags.isEmpty() ? QStringLiteral("Add Tags") : QStringLiteral("Edit Tags"),
                         QStringLiteral("tag"),
                         QStringLiteral("Add, rename, or remove tags on this item. Tags are included when you search, so "
                                        "you can use them to quickly find items."));
    if (input.features.commentEditor)
        entries << (item.comment ? entry(ItemMenuAction::editComment, QStringLiteral("Edit Comment"), QStringLiteral("text.bubble"),
                                         QStringLiteral("Edit the note attached to this item"))
                                 : entry(ItemMenuAction::editComment, QStringLiteral("Add Comment"), QStringLiteral("text.bubble"),
                                         QStringLiteral("Attach a note describing this item")));

    const ClipboardCategory* current = categoryNamed(input.categories, item.categoryId);
    ItemMenuEntry category = entry(ItemMenuAction::none,
                                   current ? QStringLiteral("Category \u2014 ") + current->name : QStringLiteral("Category"),
                                   QStringLiteral("folder"), QStringLiteral("Assign this item to a category or create a new one"));
    if (!input.categories.isEmpty()) {
        category.submenu << noneCategoryEntry(ItemMenuAction::setCategory) << ItemMenuEntry::separator();
        for (const ClipboardCategory& c : input.categories) {
            ItemMenuEntry toggle = entry(ItemMenuAction::setCategory, c.name, c.iconName, {});
            toggle.categoryId = c.id;
            toggle.checkable = true;
            toggle.checked = current && current->id == c.id;
            category.submenu << toggle;
        }
        category.submenu << ItemMenuEntry::separator();
    }
    if (current && input.features.categoryEditor) {
        ItemMenuEntry edit = entry(ItemMenuAction::editCategory, QStringLiteral("Edit Category..."), QStringLiteral("pencil"), {});
        edit.categoryId = current->id;
        category.submenu << edit;
    }
    if (input.features.categoryCreator)
        category.submenu << newCategoryEntry();
    appendSubmenu(entries, category);

    if (item.contentType == ClipboardContentType::file)
        entries << entry(ItemMenuAction::revealInFileManager, QStringLiteral("Show in File Manager"), QStringLiteral("doc.viewfinder"),
                         QStringLiteral("Show this file or folder in the file manager"));
    if (input.features.shortcutEditor)
        entries << (item.shortcut
                        ? entry(ItemMenuAction::editShortcut, QStringLiteral("Shortcut: ") + item.shortcut->displayString(),
                                QStringLiteral("keyboard"),
                                QStringLiteral("Change or remove the global keyboard shortcut that pastes this item"))
                        : entry(ItemMenuAction::editShortcut, QStringLiteral("Set Shortcut"), QStringLiteral("keyboard"),
                                QStringLiteral("Assign a global keyboard shortcut that pastes this item")));
    if (isText) {
        entries << (item.isSensitive ? entry(ItemMenuAction::toggleSensitive, QStringLiteral("Remove Sensitive Data"),
                                             QStringLiteral("eye"), QStringLiteral("Reveal the content of this item in the list"))
                                     : entry(ItemMenuAction::toggleSensitive, QStringLiteral("Sensitive Data"),
                                             QStringLiteral("eye.slash"),
                                             QStringLiteral("Hide the content of this item so it is not visible in the list")));
        if (input.features.contentEditor)
            entries << entry(ItemMenuAction::editContent, QStringLiteral("Edit Content"), QStringLiteral("pencil.line"),
                             QStringLiteral("Modify the text content stored in this clipboard item"));
    }
    if (input.filtersActive)
        entries << ItemMenuEntry::separator()
                << entry(ItemMenuAction::takeMeThere, QStringLiteral("Take Me There"), QStringLiteral("arrow.right.circle"),
                         QStringLiteral("Clear the active filters and scroll the list to this item"));
    entries << ItemMenuEntry::separator()
            << destructive(entry(ItemMenuAction::deleteItem, QStringLiteral("Delete"), QStringLiteral("trash"),
                                 QStringLiteral("Move this item to the recycle bin")));
    if (input.features.preview)
        entries << ItemMenuEntry::separator()
                << entry(ItemMenuAction::preview, previewEntryLabel(input.previewShortcut), QStringLiteral("eye"),
                         QStringLiteral("Open a larger preview window for this item"));
    return entries;
}

const ItemMenuEntry* findIn(const QList<ItemMenuEntry>& entries, ItemMenuAction action)
{
    for (const ItemMenuEntry& e : entries) {
        if (e.kind == ItemMenuEntry::Kind::action && e.action == action)
            return &e;
        if (const ItemMenuEntry* inner = findIn(e.submenu, action))
            return inner;
    }
    return nullptr;
}

void appendLabels(QStringList& labels, const QList<ItemMenuEntry>& entries, const QString& indent)
{
    for (const ItemMenuEntry& e : entries) {
        labels << indent + (e.kind == ItemMenuEntry::Kind::separator ? QStringLiteral("-") : e.label);
        appendLabels(labels, e.submenu, indent + QStringLiteral("  "));
    }
}

} // namespace

const ItemMenuEntry* ItemMenuModel::find(ItemMenuAction action) const { return findIn(entries, action); }

QStringList ItemMenuModel::labels() const
{
    QStringList result;
    appendLabels(result, entries, {});
    return result;
}

ItemMenuModel buildItemMenu(const ItemMenuInput& input)
{
    ItemMenuModel model;
    model.targets = input.targets;
    if (input.targets.isEmpty())
        return model;
    if (input.showRecycleBin)
        model.entries = recycleBinMenu(input);
    else if (input.targets.size() >= 2)
        model.entries = severalItemsMenu(input);
    else
        model.entries = oneItemMenu(input);
    return model;
}

QList<ClipboardItem> listedItems(const ClipboardManager& manager, const QList<QUuid>& ids)
{
    QSet<QUuid> wanted(ids.begin(), ids.end());
    QList<ClipboardItem> items;
    const qsizetype count = manager.filters().filteredItemCount();
    for (qsizetype i = 0; i < count && !wanted.isEmpty(); ++i) {
        const ClipboardItem& item = manager.filters().filteredItemAt(i);
        if (wanted.remove(item.id))
            items.append(item);
    }
    return items;
}

QList<ClipboardItem> itemMenuTargets(const ClipboardManager& manager, const QUuid& rowId, const QList<QUuid>& selectedIds)
{
    if (selectedIds.contains(rowId)) {
        QList<ClipboardItem> selected = listedItems(manager, selectedIds);
        if (selected.size() >= 2)
            return selected;
    }
    return listedItems(manager, {rowId});
}

bool anyFilterActive(const ClipboardManager& manager)
{
    const HistoryFilter& m = manager.filters();
    return !m.searchText().isEmpty() || m.showStarredOnly() || m.showImagesOnly() || m.showPastedOnly()
        || m.selectedCategoryId() || m.dateFilterOption() || m.typeFilterOption() || m.appFilterBundleId()
        || m.excludeStarred() || !m.excludedTypes().isEmpty() || m.excludedDateOption()
        || !m.excludedAppBundleIds().isEmpty();
}

ItemMenuInput itemMenuInput(const ClipboardManager& manager, QList<ClipboardItem> targets, ItemMenuFeatures features)
{
    ItemMenuInput input;
    input.targets = std::move(targets);
    input.showRecycleBin = manager.filters().showRecycleBin();
    input.categories = manager.categories();
    input.filtersActive = anyFilterActive(manager);
    // A stored value that names no shortcut reads as Shift+Ctrl.
    input.previewShortcut = fromRawValue<PreviewShortcut>(manager.previewShortcut()).value_or(PreviewShortcut::shiftCommand);
    input.features = features;
    return input;
}

QString previewEntryLabel(PreviewShortcut shortcut)
{
    switch (shortcut) {
    case PreviewShortcut::disabled: return QStringLiteral("Preview");
    case PreviewShortcut::shiftCommand: return QStringLiteral("Preview - Shift + Ctrl");
    case PreviewShortcut::option: return QStringLiteral("Preview - Alt");
    case PreviewShortcut::control: return QStringLiteral("Preview - Super");
    case PreviewShortcut::shiftOption: return QStringLiteral("Preview - Shift + Alt");
    case PreviewShortcut::shiftControl: return QStringLiteral("Preview - Shift + Super");
    case PreviewShortcut::optionCommand: return QStringLiteral("Preview - Alt + Ctrl");
    case PreviewShortcut::controlCommand: return QStringLiteral("Preview - Super + Ctrl");
    case PreviewShortcut::spaceBar: return QStringLiteral("Preview - \u2423 Space Bar");
    }
    return QStringLiteral("Preview");
}

QString deleteConfirmationText(const ClipboardItem& item)
{
    if (!item.isSensitive)
        return item.previewText();
    // The masked form can be as long as the text itself; an alert shows the same 500 characters at most.
    const QString masked = item.maskedDisplayText();
    return masked.size() > 500 ? masked.left(500) + QStringLiteral("\u2026") : masked;
}

QString emptyRecycleBinText(qsizetype count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" item") : QStringLiteral(" items"))
        + QStringLiteral(" will be permanently deleted. This cannot be undone.");
}

} // namespace lumra
