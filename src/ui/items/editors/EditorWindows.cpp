#include "ui/items/editors/EditorWindows.h"

#include "engine/ClipboardManager.h"
#include "ui/items/editors/CategoryEditors.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/items/editors/ShortcutEditorWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace lumra::EditorWindows {

namespace {

template <class Window>
Window* present(Window* window, const EditorHost& host)
{
    // On the popup's screen, centred, in front, with the keyboard.
    QScreen* screen = host.panel ? host.panel->screen() : QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace

TagEditorWindow* openTagEditor(const EditorHost& host, const ClipboardItem& item)
{
    return present(new TagEditorWindow(host, item), host);
}

TagEditorWindow* openMultiTagEditor(const EditorHost& host, const QList<ClipboardItem>& items)
{
    if (items.isEmpty())
        return nullptr;
    return present(new TagEditorWindow(host, items), host);
}

CommentEditorWindow* openCommentEditor(const EditorHost& host, const ClipboardItem& item)
{
    return present(new CommentEditorWindow(host, item), host);
}

ContentEditorWindow* openContentEditor(const EditorHost& host, const ClipboardItem& item)
{
    return present(new ContentEditorWindow(host, item), host);
}

ShortcutEditorWindow* openShortcutEditor(const EditorHost& host, const ClipboardItem& item)
{
    return present(new ShortcutEditorWindow(host, item), host);
}

CategoryCreatorWindow* openCategoryCreator(const EditorHost& host, const QList<QUuid>& assignToItemIds)
{
    return present(new CategoryCreatorWindow(host, assignToItemIds), host);
}

CategoryEditorWindow* openCategoryEditor(const EditorHost& host, const ClipboardCategory& category)
{
    return present(new CategoryEditorWindow(host, category), host);
}

EditorWindow* openForMenuEntry(const EditorHost& host, ItemMenuAction action, const QList<ClipboardItem>& items,
                               const std::optional<QUuid>& categoryId)
{
    if (!host.manager)
        return nullptr;
    if (action == ItemMenuAction::editCategory) {
        for (const ClipboardCategory& category : host.manager->categories()) {
            if (categoryId && category.id == *categoryId)
                return openCategoryEditor(host, category);
        }
        return nullptr;
    }
    if (action == ItemMenuAction::newCategory) {
        QList<QUuid> ids;
        for (const ClipboardItem& item : items)
            ids << item.id;
        return openCategoryCreator(host, ids);
    }
    if (action == ItemMenuAction::editTagsOfItems)
        return openMultiTagEditor(host, items);
    if (items.isEmpty())
        return nullptr;
    const ClipboardItem& item = items.front();
    switch (action) {
    case ItemMenuAction::editTags: return openTagEditor(host, item);
    case ItemMenuAction::editComment: return openCommentEditor(host, item);
    case ItemMenuAction::editShortcut: return openShortcutEditor(host, item);
    case ItemMenuAction::editContent: return openContentEditor(host, item);
    default: return nullptr;
    }
}

ItemMenuFeatures menuFeatures(ItemMenuFeatures features)
{
    features.tagEditor = true;
    features.commentEditor = true;
    features.shortcutEditor = true;
    features.contentEditor = true;
    features.categoryEditor = true;
    features.categoryCreator = true;
    return features;
}

} // namespace lumra::EditorWindows
