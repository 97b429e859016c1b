#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QString>

namespace lumra {

class ClipboardManager;

// The engine operations the shell calls, in one place: the popup, the hot keys and the reminder
// go through these rather than through ClipboardManager's query and paste sections directly.
namespace EngineBridge {

// The list the popup shows, as last computed.
QList<ClipboardItem> popupItems(const ClipboardManager& manager);
QString searchText(const ClipboardManager& manager);
void setSearchText(ClipboardManager& manager, const QString& text);
// The popup closed: nothing it chose to show (the recycle bin) outlives it.
void popupClosed(ClipboardManager& manager);

// Puts the item on the clipboard; false when nothing was written.
bool copyToPasteboard(ClipboardManager& manager, const ClipboardItem& item, bool moveToTop, bool plainText);
// Ctrl+V to the focused window.
void simulatePaste(ClipboardManager& manager);
// "Do not Disturb" on the copy reminder.
void snoozeReminder(ClipboardManager& manager);

} // namespace EngineBridge
} // namespace lumra
