#pragma once

#include <QString>
#include <QStringList>

namespace lumra {

// What "Reset Everything" removes: Lumra's own folders, each with everything in it.
struct DataResetTargets {
    QStringList folders;
};

// The support folder (stores, log), the settings folder, the cache (thumbnails, preview files)
// and the private temporary folder (paste, drag and preview copies).
DataResetTargets defaultResetTargets();

struct DataResetReport {
    QStringList removed;
    QStringList refused; // not a folder of Lumra's own: left alone
    QStringList failed;
};

// Removes each target that is a folder of Lumra's own: an absolute path whose last part is
// "Lumra" or "lumra" and that is neither the home folder nor one above it. Anything else is
// refused. A link is removed as a link; nothing is followed through one.
DataResetReport removeLumraData(const DataResetTargets& targets);

} // namespace lumra
