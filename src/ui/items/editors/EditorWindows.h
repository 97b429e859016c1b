#pragma once

#include "model/ClipboardItem.h"
#include "ui/items/editors/EditorWindow.h"
#include "ui/popup/ItemMenuModel.h"

#include <QList>
#include <QUuid>

#include <optional>

namespace lumra {

class CategoryCreatorWindow;
class ContentView;
class CategoryEditorWindow;
class CommentEditorWindow;
class ContentEditorWindow;
class ShortcutEditorWindow;
class TagEditorWindow;

// Opens the editor windows of the popup. Every call makes a new window, shown in front with the
// keyboard focus, holding `host.panel` open until it closes.
namespace EditorWindows {

TagEditorWindow* openTagEditor(const EditorHost& host, const ClipboardItem& item);
// Nothing for an empty list.
TagEditorWindow* openMultiTagEditor(const EditorHost& host, const QList<ClipboardItem>& items);
CommentEditorWindow* openCommentEditor(const EditorHost& host, const ClipboardItem& item);
ContentEditorWindow* openContentEditor(const EditorHost& host, const ClipboardItem& item);
ShortcutEditorWindow* openShortcutEditor(const EditorHost& host, const ClipboardItem& item);
CategoryCreatorWindow* openCategoryCreator(const EditorHost& host, const QList<QUuid>& assignToItemIds);
CategoryEditorWindow* openCategoryEditor(const EditorHost& host, const ClipboardCategory& category);

// Opens the window of an item-menu entry (for its items, or the category it names); nullptr when
// the entry opens none of these windows or has nothing to open on.
EditorWindow* openForMenuEntry(const EditorHost& host, ItemMenuAction action, const QList<ClipboardItem>& items,
                               const std::optional<QUuid>& categoryId);
// The popup's engine, hot keys and panel.
EditorHost hostFor(const ContentView& view);
// As above from the popup: the one-item editors go through the view's editor requests.
void openForMenuEntry(ContentView& view, ItemMenuAction action, const QList<ClipboardItem>& items,
                      const std::optional<QUuid>& categoryId);
// Opens an editor whenever the view's state requests one (and clears the request), and lets the
// footer's category chips open "Edit Category".
void attach(ContentView& view);

// The item-menu entries these windows serve.
ItemMenuFeatures menuFeatures(ItemMenuFeatures features = {});

} // namespace EditorWindows
} // namespace lumra
