// Placeholder bodies: the filter state and pinned filters are being written.
#include "engine/ClipboardManager.h"

namespace lumra {

void ClipboardManager::updateFilteredItems() { }
void ClipboardManager::loadPinnedFilters() { }
void ClipboardManager::applyPinnedFilters() { }

} // namespace lumra
