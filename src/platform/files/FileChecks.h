#pragma once

#include <QList>
#include <QStringList>

#include <chrono>
#include <optional>

namespace lumra {

struct FileState {
    bool exists = false;
    bool isDirectory = false;
};

// Looks the files up on threads of their own: a file on a hung network mount blocks one of those
// threads, never the caller. The caller stops waiting once no check finished for `bound`; what is
// unanswered by then is none. An empty path names nothing and is not looked up.
QList<std::optional<FileState>> checkFiles(const QStringList& paths, std::chrono::milliseconds bound);

} // namespace lumra
