#pragma once

#include "platform/workspace/Workspace.h"

namespace lumra {

class DesktopEntries;

// The workspace of a Wayland session. The compositor tells a client neither which application
// is in front nor who made a copy, and lets no client bring another to the front: copies have no
// source application (so ignored applications cannot match), and after the popup closes the
// compositor itself gives the focus back. Icons still come from the installed desktop entries.
class WaylandWorkspace final : public Workspace {
    Q_OBJECT
public:
    explicit WaylandWorkspace(QObject* parent = nullptr);

    std::optional<AppIdentity> frontmostApplication() override { return std::nullopt; }
    std::optional<AppIdentity> applicationForWindow(quint64) override { return std::nullopt; }
    Status activate(const AppIdentity& application) override;
    QIcon icon(const QString& bundleId) override;
    bool knowsSourceApplications() const override { return false; }
    bool knowsFrontmostApplication() override { return false; }

private:
    DesktopEntries* m_entries;
};

} // namespace lumra
