#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <QStringList>

namespace lumra::Folders {

// $HOME when it is an absolute path, else the home folder of the user's account. Relative values
// of HOME and of the XDG variables are ignored, as the XDG base-directory rules ask.
QString homeFolder();
// $XDG_DATA_HOME, then each absolute folder of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
QStringList dataFolders();

// $XDG_DATA_HOME/Lumra (0700): stores, legacy files, diagnostics log.
QString supportFolder();
// $XDG_CONFIG_HOME/Lumra (0700): settings.json.
QString configFolder();
// $XDG_CACHE_HOME/Lumra (0700): "file-thumbnails", "preview-tmp".
QString cacheFolder();
// A private 0700 folder under $XDG_RUNTIME_DIR/lumra (else the cache folder) for
// "LumraPaste", "LumraDrag" and preview files. Refused when it is a link or owned by someone else.
Result<QString> privateTempFolder();
// A named subfolder of the private temporary folder, created when missing.
Result<QString> privateTempSubfolder(const QString& name);

// Creates `path` (and parents) when missing and sets mode 0700. Refuses links and folders of other users.
Status ensurePrivateFolder(const QString& path);

} // namespace lumra::Folders
