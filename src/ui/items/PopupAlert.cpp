#include "ui/items/PopupAlert.h"

#include "ui/shell/PopupPanel.h"
#include "ui/shell/WindowActivation.h"

#include <QPointer>

namespace lumra {

int askHoldingPopup(PopupPanel* popup, const std::function<int()>& ask)
{
    QPointer<PopupPanel> guard(popup);
    int answer = -1;
    {
        PopupPanel::Hold hold = popup ? popup->hold() : PopupPanel::Hold();
        answer = ask();
    }
    giveFocusBack(guard);
    return answer;
}

void giveFocusBack(PopupPanel* popup)
{
    // Asked as a pager would: a window manager that guards against focus stealing refuses an
    // application's own request once the user's last input went to another of its windows.
    if (popup && !popup->isClosed() && popup->isVisible())
        activateWithUserTime(popup, 0);
}

} // namespace lumra
