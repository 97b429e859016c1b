#include "ui/items/PopupAlert.h"

#include "app/PopupPanel.h"

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
    if (guard && !guard->isClosed() && guard->isVisible()) {
        guard->raise();
        guard->activateWindow();
    }
    return answer;
}

} // namespace lumra
