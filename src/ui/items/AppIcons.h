#pragma once

#include <QIcon>
#include <QString>

namespace lumra {

class Workspace;

// Process-wide icon look-ups for the rows, pickers and previews, served from memory after the
// first ask. Main thread only.
namespace AppIcons {

// The icon of the installed application (desktop entry, icon theme); null when none is known.
// Only hits are cached, so an application installed later is found on a later call.
QIcon appIcon(Workspace* workspace, const QString& bundleId);

// The icon of a file or folder by its MIME type from the icon theme; a generic document or
// folder icon when the theme has none. The generic document icon while the file is being looked
// at (FileLookups::answered follows).
QIcon fileIcon(const QString& path);

// Icons of a content kind, for items whose files are gone or many.
QIcon folderIcon();
QIcon genericFileIcon();
QIcon multipleFilesIcon();

} // namespace AppIcons
} // namespace lumra
