#include "platform/workspace/Workspace.h"

namespace lumra {

std::optional<AppIdentity> Workspace::sourceApplication(quint64 clipboardOwnerWindow)
{
    if (clipboardOwnerWindow != 0) {
        if (auto owner = applicationForWindow(clipboardOwnerWindow))
            return owner;
    }
    return frontmostApplication();
}

} // namespace lumra
