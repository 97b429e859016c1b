#include "platform/wayland/WaylandWorkspace.h"

#include "platform/workspace/DesktopEntries.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcWaylandWorkspace, "lumra.workspace.wayland")

namespace lumra {

WaylandWorkspace::WaylandWorkspace(QObject* parent)
    : Workspace(parent)
    , m_entries(new DesktopEntries(this))
{
    qCInfo(lcWaylandWorkspace) << "the compositor does not tell which application made a copy:"
                                  " copies are recorded without their source, and ignored applications cannot match";
}

Status WaylandWorkspace::activate(const AppIdentity&)
{
    return Status::failure(QStringLiteral("the compositor gives the focus back itself"));
}

QIcon WaylandWorkspace::icon(const QString& bundleId) { return m_entries->icon(bundleId); }

} // namespace lumra
