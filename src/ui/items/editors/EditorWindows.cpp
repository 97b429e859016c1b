#include "ui/items/editors/EditorWindows.h"

#include "ui/shell/WindowActivation.h"
#include "engine/ClipboardManager.h"
#include "ui/items/editors/CategoryEditors.h"
#include "ui/items/editors/ItemEditors.h"
#include "ui/items/CategoryPill.h"
#include "ui/items/editors/ShortcutEditorWindow.h"
#include "ui/popup/ContentView.h"

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
    activateWithUserTime(window, 0); // also keeps it off the taskbar and pager
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

EditorHost hostFor(const ContentView& view) { return {&view.manager(), view.hotKeyManager(), view.panel()}; }

void openForMenuEntry(ContentView& view, ItemMenuAction action, const QList<ClipboardItem>& items,
                      const std::optional<QUuid>& categoryId)
{
    ContentViewState& state = view.viewState();
    const std::optional<QUuid> id = items.isEmpty() ? std::nullopt : std::optional(items.front().id);
    switch (action) {
    case ItemMenuAction::editTags: state.setTagEditItem(id); break;
    case ItemMenuAction::editComment: state.setCommentEditItem(id); break;
    case ItemMenuAction::editShortcut: state.setShortcutEditItem(id); break;
    case ItemMenuAction::editContent: state.setEditContentItem(id); break;
    default: openForMenuEntry(hostFor(view), action, items, categoryId); break;
    }
}

void attach(ContentView& view)
{
    ContentViewState& state = view.viewState();
    QPointer<ContentView> guard(&view);
    using Getter = std::optional<QUuid> (ContentViewState::*)() const;
    using Setter = void (ContentViewState::*)(std::optional<QUuid>);
    using Opener = EditorWindow* (*)(const EditorHost&, const ClipboardItem&);
    const auto watch = [&](void (ContentViewState::*changed)(), Getter get, Setter set, Opener open) {
        QObject::connect(&state, changed, &view, [guard, get, set, open] {
            if (!guard)
                return;
            ContentViewState& requests = guard->viewState();
            const std::optional<QUuid> id = (requests.*get)();
            if (!id)
                return;
            (requests.*set)(std::nullopt); // choosing the same entry again opens another window
            for (const ClipboardItem& item : guard->manager().clipboardItems()) {
                if (item.id == *id) {
                    open(hostFor(*guard), ClipboardItem(item));
                    return;
                }
            }
        });
    };
    watch(&ContentViewState::tagEditItemChanged, &ContentViewState::tagEditItem, &ContentViewState::setTagEditItem,
          [](const EditorHost& host, const ClipboardItem& item) -> EditorWindow* { return openTagEditor(host, item); });
    watch(&ContentViewState::commentEditItemChanged, &ContentViewState::commentEditItem, &ContentViewState::setCommentEditItem,
          [](const EditorHost& host, const ClipboardItem& item) -> EditorWindow* { return openCommentEditor(host, item); });
    watch(&ContentViewState::shortcutEditItemChanged, &ContentViewState::shortcutEditItem, &ContentViewState::setShortcutEditItem,
          [](const EditorHost& host, const ClipboardItem& item) -> EditorWindow* { return openShortcutEditor(host, item); });
    watch(&ContentViewState::editContentItemChanged, &ContentViewState::editContentItem, &ContentViewState::setEditContentItem,
          [](const EditorHost& host, const ClipboardItem& item) -> EditorWindow* { return openContentEditor(host, item); });
    CategoryPill::setEditHandler([guard](const ClipboardCategory& category) {
        if (guard)
            openCategoryEditor(hostFor(*guard), category);
    });
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
