// Placeholder bodies: retention, the item limit and auto-clean are being written.
#include "engine/ClipboardManager.h"

namespace lumra {

void ClipboardManager::applyRetention() { }
void ClipboardManager::purgeExpiredTrash() { }
void ClipboardManager::runAutoClean() { }
void ClipboardManager::enforceMaxItems() { }

} // namespace lumra
