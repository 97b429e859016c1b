#pragma once

#include <QDBusConnection>

#include <chrono>

namespace lumra {

// Keeps other processes out of Lumra (see process::keepOtherProcessesOut()) without losing the
// desktop portal (global shortcuts, colours): the portal tells who calls it by looking into
// /proc/<pid>/root, which it cannot do in a process that keeps others out, and refuses the call;
// it remembers what it found for as long as the caller's connection lasts. So Lumra calls it once
// over `bus` first, and keeps others out once the portal has answered, refused, or not answered
// within `patience`; at once when there is no bus. Nothing waits for it.
void keepOthersOutOnceThePortalKnowsLumra(QDBusConnection bus, std::chrono::milliseconds patience = std::chrono::seconds(5));

} // namespace lumra
