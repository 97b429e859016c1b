// Placeholder bodies: item media and file access are being written.
#include "engine/ClipboardManager.h"

namespace lumra {

void ClipboardManager::refreshFileBookmarksInBackground() { }

} // namespace lumra
