#pragma once

#include "engine/filter/FilterOptions.h"
#include "model/ClipboardItem.h"

#include <QList>

namespace lumra {

// The applications the history was copied from, one entry per bundle id, the one copied from most
// recently first. Items without both a bundle id and a name, with an empty bundle id, or copied from
// Lumra itself (`ownBundleId`) are skipped; trashed items count. The name is that of the last item
// of the application in list order.
QList<SourceApp> sourceApps(const QList<ClipboardItem>& items, const QString& ownBundleId);

} // namespace lumra
