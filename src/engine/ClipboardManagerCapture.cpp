// Placeholder bodies: the clipboard poll is being written.
#include "engine/ClipboardManager.h"

namespace lumra {

void ClipboardManager::startMonitoring() { }

} // namespace lumra
