#pragma once

#include "platform/workspace/DesktopEntries.h"
#include "platform/workspace/Workspace.h"

#include <QHash>

#include <memory>

namespace lumra {

class X11Connection;

// The workspace on X11: the active window from the window manager's _NET_ACTIVE_WINDOW,
// identities from window properties matched against the installed desktop entries.
class X11Workspace final : public Workspace {
    Q_OBJECT
public:
    static std::unique_ptr<X11Workspace> create(); // nullptr when not running on X11
    ~X11Workspace() override;

    std::optional<AppIdentity> frontmostApplication() override;
    // Where the window manager names the active window.
    bool knowsFrontmostApplication() override;
    std::optional<AppIdentity> applicationForWindow(quint64 window) override;
    Status activate(const AppIdentity& application) override;
    QIcon icon(const QString& bundleId) override;

    quint64 activeWindow();

    // A look-up that has to search the managed windows for the owner's program reads at most this
    // many windows it has not seen before; each window is read once while it stays listed.
    static constexpr int maxWindowsReadPerLookUp = 32;
    // Windows read so far in such searches.
    qint64 windowsRead() const { return m_windowsRead; }

private:
    explicit X11Workspace(std::unique_ptr<X11Connection> connection);
    void handleEvent(void* event);
    WindowProperties propertiesOf(quint64 window);
    QByteArray property(quint64 window, const char* name, unsigned long type, int* format = nullptr);
    QList<quint64> clientWindows();
    std::optional<WindowProperties> managedWindowLike(quint64 window, qint64 pid);

    std::unique_ptr<X11Connection> m_connection;
    DesktopEntries* m_entries;
    unsigned long m_timeWindow = 0;
    quint64 m_lastActive = 0;
    QList<quint64> m_listed; // _NET_CLIENT_LIST when last searched
    QHash<quint64, WindowProperties> m_managed; // those of its windows read so far, by id
    qint64 m_windowsRead = 0;
};

} // namespace lumra
