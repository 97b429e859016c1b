#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace lumra {

// A stored reference to a copied file. On Linux there is no sandbox to get past: the bookmark
// is the file URL itself, and resolving it checks that the file is still there.
namespace FileBookmark {

// The bookmark of a local file URL string; none when the string is no file URL or names
// nothing on disk.
std::optional<QByteArray> create(const QString& urlString);

// The file a bookmark names; a failure when the bookmark is no file URL or the file is gone.
Result<QUrl> resolve(const QByteArray& bookmark);

// One Base64 bookmark per URL string, in order, "" where none could be made, so that slot i
// always belongs to URL i.
QStringList createSlots(const QStringList& urlStrings);

// Whether the URL string names a folder: the file system decides when the path exists,
// else a trailing slash. A string that is no URL is no folder.
bool isDirectory(const QString& urlString);

} // namespace FileBookmark

} // namespace lumra
