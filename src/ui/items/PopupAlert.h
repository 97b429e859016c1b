#pragma once

#include <functional>

namespace lumra {

class PopupPanel;

// Runs `ask` (a modal alert) with `popup` held open, then brings the popup back to the front when it
// is still open. A popup that closed meanwhile is never shown again. `popup` may be null.
int askHoldingPopup(PopupPanel* popup, const std::function<int()>& ask);
// Brings an open, visible popup to the front with the keyboard focus, so typing never goes to the
// window behind it once an alert or a preview of Lumra's is gone. `popup` may be null.
void giveFocusBack(PopupPanel* popup);

} // namespace lumra
