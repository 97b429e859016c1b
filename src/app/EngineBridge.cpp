#include "app/EngineBridge.h"

#include "engine/ClipboardManager.h"
#include "platform/keys/KeyInjector.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcBridge, "lumra.app.engine")

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

bool copyToPasteboard(ClipboardManager& manager, const ClipboardItem& item, bool, bool)
{
    Pasteboard* pasteboard = manager.services().pasteboard;
    if (!pasteboard || !item.textContent)
        return false;
    const QByteArray text = item.textContent->toUtf8();
    auto written = pasteboard->write({{QString::fromLatin1(PasteboardMime::textUtf8), text},
                                      {QString::fromLatin1(PasteboardMime::utf8String), text},
                                      {QString::fromLatin1(PasteboardMime::textPlain), text}});
    if (!written)
        qCWarning(lcBridge) << written.error();
    return bool(written);
}

void simulatePaste(ClipboardManager& manager)
{
    KeyInjector* injector = manager.services().keyInjector;
    if (!injector)
        return;
    if (Status posted = injector->postPaste(); !posted)
        qCWarning(lcBridge) << posted.error();
}

void snoozeReminder(ClipboardManager&) { }

} // namespace lumra::EngineBridge
