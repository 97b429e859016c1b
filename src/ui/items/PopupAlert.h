#pragma once

#include <functional>

namespace lumra {

class PopupPanel;

// Runs `ask` (a modal alert) with `popup` held open, then brings the popup back to the front when it
// is still open. A popup that closed meanwhile is never shown again. `popup` may be null.
int askHoldingPopup(PopupPanel* popup, const std::function<int()>& ask);

} // namespace lumra
