#pragma once

#include "platform/core/Result.h"

#include <QIcon>
#include <QObject>
#include <QString>

#include <optional>

namespace lumra {

// An application as Lumra records it: `bundleId` is the desktop-entry id
// ("org.keepassxc.KeePassXC"), else the window's WM_CLASS class; `name` the entry's Name,
// else the class. `window` is the X window it was seen through (0 when none).
struct AppIdentity {
    QString bundleId;
    QString name;
    qint64 pid = 0;
    quint64 window = 0;

    friend bool operator==(const AppIdentity&, const AppIdentity&) = default;
};

inline constexpr char lumraBundleId[] = "lumra";

// The desktop around Lumra: which application is in front, who owns the clipboard, and
// bringing an application back to the front.
class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    // The application of the active window.
    virtual std::optional<AppIdentity> frontmostApplication() = 0;
    // The application a window belongs to, when it can be told.
    virtual std::optional<AppIdentity> applicationForWindow(quint64 window) = 0;
    // Raises and focuses the application's window (its `window` when still open, else one of
    // its windows).
    virtual Status activate(const AppIdentity& application) = 0;
    // The icon of the application's desktop entry; null when there is none.
    virtual QIcon icon(const QString& bundleId) = 0;
    // Whether frontmostApplication() can tell; where it can, nothing means no window is in front.
    virtual bool knowsFrontmostApplication() { return true; }
    // Whether copies can be told apart by the application that made them (so ignored
    // applications can match).
    virtual bool knowsSourceApplications() const { return true; }

    // Where a copy came from: the application of the clipboard owner's window when that can
    // be resolved, else the frontmost application.
    std::optional<AppIdentity> sourceApplication(quint64 clipboardOwnerWindow);

signals:
    // Another window became active; emitted once per change of the active window.
    void applicationActivated(const lumra::AppIdentity& application);
};

} // namespace lumra
