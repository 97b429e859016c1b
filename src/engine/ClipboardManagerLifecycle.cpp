// Placeholder bodies: timers, observers and pause are being written.
#include "engine/ClipboardManager.h"

namespace lumra {

void ClipboardManager::startAutoCleanTimer() { }
void ClipboardManager::installObservers() { }

} // namespace lumra
