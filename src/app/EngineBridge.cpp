#include "app/EngineBridge.h"

#include "engine/ClipboardManager.h"

#include <tuple>

namespace lumra::EngineBridge {

namespace {
const char searchTextProperty[] = "lumraPopupSearchText";
}

QList<ClipboardItem> popupItems(const ClipboardManager& manager)
{
    const QString search = searchText(manager);
    QList<ClipboardItem> items;
    for (const ClipboardItem& item : manager.clipboardItems()) {
        if (item.isTrashed)
            continue;
        if (!search.isEmpty() && !item.displayText().contains(search, Qt::CaseInsensitive))
            continue;
        items.append(item);
    }
    return items;
}

QString searchText(const ClipboardManager& manager) { return manager.property(searchTextProperty).toString(); }

void setSearchText(ClipboardManager& manager, const QString& text)
{
    if (searchText(manager) == text)
        return;
    manager.setProperty(searchTextProperty, text);
    emit manager.filteredItemsChanged();
}

void popupClosed(ClipboardManager& manager) { setSearchText(manager, QString()); }

bool copyToPasteboard(ClipboardManager& manager, const ClipboardItem& item, bool moveToTop, bool plainText)
{
    return manager.copyToPasteboard(item, moveToTop, plainText);
}

void simulatePaste(ClipboardManager& manager) { std::ignore = manager.simulatePaste(); }

void snoozeReminder(ClipboardManager& manager) { manager.snoozeReminder(); }

} // namespace lumra::EngineBridge
