#include "platform/workspace/FakeWorkspace.h"

namespace lumra {

void FakeWorkspace::setFrontmost(std::optional<AppIdentity> application)
{
    m_frontmost = std::move(application);
    m_frontmostKnown = true;
    if (m_frontmost)
        emit applicationActivated(*m_frontmost);
}

std::optional<AppIdentity> FakeWorkspace::applicationForWindow(quint64 window)
{
    auto it = m_windows.constFind(window);
    return it == m_windows.constEnd() ? std::nullopt : std::optional(*it);
}

Status FakeWorkspace::activate(const AppIdentity& application)
{
    if (!m_activationError.isEmpty())
        return Status::failure(m_activationError);
    m_activations.append(application);
    setFrontmost(application);
    return {};
}

} // namespace lumra
