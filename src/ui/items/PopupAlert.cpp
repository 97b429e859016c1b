#include "ui/items/PopupAlert.h"

#include "ui/shell/PopupPanel.h"

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
    if (popup && !popup->isClosed() && popup->isVisible()) {
        popup->raise();
        popup->activateWindow();
    }
}

} // namespace lumra
