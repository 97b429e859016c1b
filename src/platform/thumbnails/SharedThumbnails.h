#pragma once

#include "platform/core/Result.h"
#include "platform/image/ImageDecoding.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace lumra::thumbnails {

// The thumbnail cache that file managers and other programs share ($XDG_CACHE_HOME/thumbnails):
// one folder per size, entries named by the MD5 of the file's URI, each valid only for the file
// version its Thumb::URI and Thumb::MTime chunks name. Every function here may run on any thread.

struct SizeFolder {
    const char* name;
    int pixels; // the longest edge of the pictures it holds
};
inline constexpr SizeFolder sizeFolders[]
    = { { "normal", 128 }, { "large", 256 }, { "x-large", 512 }, { "xx-large", 1024 } };
inline constexpr int sizeFolderCount = int(std::size(sizeFolders));

// The smallest folder whose pictures are at least `pixelSize` across; the largest when none is.
int sizeFolderIndex(int pixelSize);

// "$XDG_CACHE_HOME/thumbnails", or "~/.cache/thumbnails" when the variable is unset or relative.
QString sharedThumbnailRoot();

// One version of one file as the cache names it.
struct FileVersion {
    QString path;
    QString uri; // file URI, percent-encoded
    qint64 mtime = 0; // modification time in whole seconds
    qint64 modifiedNs = 0; // the same to the nanosecond; 0 when not known
};
// The version of a regular file; none for a folder, a FIFO, a device or a file that is not there.
// Only looks at the file (stat), never opens it.
std::optional<FileVersion> regularFileVersion(const QString& path);

QString fileUri(const QString& path);
// The MD5 of the URI in lower-case hexadecimal, then ".png".
QString entryName(const QString& uri);

// A PNG another program wrote: refused unless it is a PNG within the byte and pixel bounds of a
// thumbnail and decodes, on `turn`'s decoder programs. Its text chunks are not read (see image::pngTexts).
Result<QImage> decodeThumbnailPng(const QByteArray& bytes, const image::DecodeTurn& turn = {});

// The entry of `version` in the folder for `pixelSize` or a larger one, when its chunks match.
std::optional<QImage> readEntry(const QString& root, const FileVersion& version, int pixelSize);
// Writes `image` (scaled down to the folder's size when larger) into the folder `folderIndex`,
// through a temporary file in that folder and a rename, mode 0600, with the standard's chunks.
Status writeEntry(const QString& root, const FileVersion& version, int folderIndex, QImage image);

// Lumra's record that it could not make a picture of this version ("fail/lumra").
bool hasFailure(const QString& root, const FileVersion& version);
Status writeFailure(const QString& root, const FileVersion& version);

} // namespace lumra::thumbnails
