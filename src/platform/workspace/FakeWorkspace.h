#pragma once

#include "platform/workspace/Workspace.h"

#include <QHash>
#include <QList>

namespace lumra {

// In-memory workspace for tests: the test says which application is in front and which
// window belongs to whom; activations are recorded.
class FakeWorkspace final : public Workspace {
    Q_OBJECT
public:
    using Workspace::Workspace;

    // Brings `application` (or nothing) to the front; emits applicationActivated for one. Until
    // it is first called, which window is in front is not known.
    void setFrontmost(std::optional<AppIdentity> application);
    void setWindowOwner(quint64 window, const AppIdentity& application) { m_windows.insert(window, application); }
    void setIcon(const QString& bundleId, const QIcon& icon) { m_icons.insert(bundleId, icon); }
    void setActivationError(const QString& message) { m_activationError = message; }
    void setKnowsSourceApplications(bool knows) { m_knowsSources = knows; }

    const QList<AppIdentity>& activations() const { return m_activations; }

    std::optional<AppIdentity> frontmostApplication() override { return m_frontmost; }
    std::optional<AppIdentity> applicationForWindow(quint64 window) override;
    Status activate(const AppIdentity& application) override;
    QIcon icon(const QString& bundleId) override { return m_icons.value(bundleId); }
    bool knowsSourceApplications() const override { return m_knowsSources; }
    bool knowsFrontmostApplication() override { return m_frontmostKnown; }

private:
    std::optional<AppIdentity> m_frontmost;
    QHash<quint64, AppIdentity> m_windows;
    QHash<QString, QIcon> m_icons;
    QList<AppIdentity> m_activations;
    QString m_activationError;
    bool m_knowsSources = true;
    bool m_frontmostKnown = false;
};

} // namespace lumra
