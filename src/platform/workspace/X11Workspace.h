#pragma once

#include "platform/workspace/Workspace.h"

#include <memory>

namespace lumra {

class DesktopEntries;
class X11Connection;
struct WindowProperties;

// The workspace on X11: the active window from the window manager's _NET_ACTIVE_WINDOW,
// identities from window properties matched against the installed desktop entries.
class X11Workspace final : public Workspace {
    Q_OBJECT
public:
    static std::unique_ptr<X11Workspace> create(); // nullptr when not running on X11
    ~X11Workspace() override;

    std::optional<AppIdentity> frontmostApplication() override;
    std::optional<AppIdentity> applicationForWindow(quint64 window) override;
    Status activate(const AppIdentity& application) override;
    QIcon icon(const QString& bundleId) override;

    quint64 activeWindow();

private:
    explicit X11Workspace(std::unique_ptr<X11Connection> connection);
    void handleEvent(void* event);
    WindowProperties propertiesOf(quint64 window);
    QByteArray property(quint64 window, const char* name, unsigned long type, int* format = nullptr);
    QList<quint64> clientWindows();

    std::unique_ptr<X11Connection> m_connection;
    DesktopEntries* m_entries;
    unsigned long m_timeWindow = 0;
    quint64 m_lastActive = 0;
};

} // namespace lumra
