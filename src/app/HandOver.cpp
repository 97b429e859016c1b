#include "app/HandOver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumra::handover {

namespace {

constexpr int timeoutMs = 1000;

// Lumra's own folder must be a real one of ours; the runtime folder may be reached through a
// link, as Folders::privateTempFolder() takes it.
bool isFolder(const char* path, bool ownedByUs)
{
    struct stat st {};
    return (ownedByUs ? ::lstat(path, &st) : ::stat(path, &st)) == 0 && S_ISDIR(st.st_mode)
        && (!ownedByUs || st.st_uid == ::getuid());
}

const char* absolute(const char* path) { return path && path[0] == '/' ? path : nullptr; }

const char* homeFolder()
{
    if (const char* home = absolute(std::getenv("HOME")))
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    const char* home = entry ? absolute(entry->pw_dir) : nullptr;
    return home ? home : "/";
}

} // namespace

bool socketPath(char* out, std::size_t size)
{
    // As Folders::privateTempFolder(): $XDG_RUNTIME_DIR/lumra, else the cache folder's "tmp".
    char folder[4096];
    int length = 0;
    if (const char* runtime = absolute(std::getenv("XDG_RUNTIME_DIR")); runtime && isFolder(runtime, false))
        length = std::snprintf(folder, sizeof folder, "%s/lumra", runtime);
    else if (const char* cache = absolute(std::getenv("XDG_CACHE_HOME")))
        length = std::snprintf(folder, sizeof folder, "%s/Lumra/tmp", cache);
    else
        length = std::snprintf(folder, sizeof folder, "%s/.cache/Lumra/tmp", homeFolder());
    if (length <= 0 || std::size_t(length) >= sizeof folder || !isFolder(folder, true))
        return false;
    length = std::snprintf(out, size, "%s/lumra-%u.socket", folder, unsigned(::getuid()));
    return length > 0 && std::size_t(length) < size;
}

bool send(const char* path)
{
    sockaddr_un address {};
    if (std::strlen(path) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Bounds the connect and the send alike, should the running Lumra be stuck.
    const timeval timeout {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    bool sent = false;
    ucred peer {};
    socklen_t peerSize = sizeof peer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0 && peer.uid == ::getuid()) {
        const std::size_t length = sizeof togglePopupLine - 1;
        sent = ::send(fd, togglePopupLine, length, MSG_NOSIGNAL) == ssize_t(length);
    }
    ::close(fd);
    return sent;
}

} // namespace lumra::handover
