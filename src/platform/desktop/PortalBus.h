#pragma once

#include <QDBusConnection>
#include <QString>

namespace lumra {

// Lumra keeps every other process out of it from its first line, and the desktop portal tells who
// calls it by looking into the caller's /proc/<pid>/root, which such a process does not allow: the
// portal refuses it. So the portal is spoken to over a connection of its own, carried by a small
// relay program that the portal may look into and that holds nothing else of Lumra's.

// The session bus through the relay; the session bus itself where the relay cannot be started
// (the portal then refuses Lumra, and the log says why).
QDBusConnection portalBus();

// `busAddress` reached through `relay`: a D-Bus address that starts the relay to connect for Lumra.
QString relayedAddress(const QString& busAddress, const QString& relay);

} // namespace lumra
