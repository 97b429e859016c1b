#pragma once

#include "platform/core/Result.h"
#include "platform/files/FileChecks.h"

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

// Whether the URL string names a folder: the file system decides when the path exists,
// else a trailing slash. A string that is no URL is no folder.
bool isDirectory(const QString& urlString);

// create() and isDirectory() with the file system's answer looked up beforehand (checkFiles() on
// the URL's local path); none, an unanswered look-up, counts as missing.
std::optional<QByteArray> create(const QString& urlString, const std::optional<FileState>& state);
bool isDirectory(const QString& urlString, const std::optional<FileState>& state);

} // namespace FileBookmark

} // namespace lumra
