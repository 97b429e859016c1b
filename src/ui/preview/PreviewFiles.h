#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>

namespace lumra::PreviewFiles {

// File names Lumra writes into its preview and drag folders come from stored data, so only a
// hexadecimal digest name passes; anything else (a path, "..", a foreign name) gets a new one.
bool isAcceptedPngFileName(const QString& name);
// `name` when it passes, else a fresh random name of 32 hexadecimal digits and ".png".
QString checkedPngFileName(const QString& name);

// Writes through a temporary file and a rename, mode 0600, so a reader never sees half a file.
Status writeFileAtomically(const QString& path, const QByteArray& bytes);

// Removes `path`: a symbolic link as a link (its target untouched), a folder with its contents
// (links inside removed as links), a file as a file. Nothing there is success.
Status removeFolderOrLink(const QString& path);

// A private folder `name` inside `base`; a link found there is removed and a real folder made.
Result<QString> ensureSubfolder(const QString& base, const QString& name);
// The same, emptied first.
Result<QString> resetSubfolder(const QString& base, const QString& name);

// "$XDG_CACHE_HOME/Lumra/preview-tmp" and "$XDG_CACHE_HOME/Lumra/file-thumbnails".
Result<QString> previewFolder();
Result<QString> thumbnailFolder();
// "LumraDrag" in the private temporary folder.
Result<QString> dragFolder();

// At start: the preview and drag folders emptied (files of an earlier run are stale).
Status resetWorkingFolders();

} // namespace lumra::PreviewFiles
