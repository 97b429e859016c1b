// Carries Lumra's messages to the desktop portal. The portal tells who calls it by looking into
// the caller's /proc/<pid>/root, which Lumra, keeping every other process out, does not allow; this
// program, started by Lumra's D-Bus library with its end of a socket pair as standard input and
// output, connects to the bus in Lumra's place and passes bytes both ways.
//
// Whoever could attach to the process holding both sockets could speak to Lumra as the bus, so that
// process keeps others out too and is confined to carrying bytes. The portal looks instead into the
// process that connected, which the bus names as the caller: this program's first process, which
// hands both sockets to the carrier it starts, keeps none, and only waits for the carrier's end.
//
// Usage: lumra-bus-relay <bus address>   (D-Bus address syntax, ';'-separated alternatives)
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process/Confinement.h"

#include <netdb.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int lumraSide = STDIN_FILENO; // the socket pair: standard output is the same socket

void say(const std::string& what) { std::fprintf(stderr, "lumra-bus-relay: %s\n", what.c_str()); }

std::string unescaped(std::string_view value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) && std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            out += char(std::strtol(std::string(value.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

struct Entry {
    std::string transport;
    std::vector<std::pair<std::string, std::string>> keys;
    std::string get(std::string_view key) const
    {
        for (const auto& [k, v] : keys)
            if (k == key)
                return v;
        return {};
    }
};

std::vector<Entry> parse(std::string_view address)
{
    std::vector<Entry> entries;
    while (!address.empty()) {
        const size_t end = address.find(';');
        const std::string_view text = address.substr(0, end);
        address = end == std::string_view::npos ? std::string_view() : address.substr(end + 1);
        const size_t colon = text.find(':');
        if (colon == std::string_view::npos)
            continue;
        Entry entry {std::string(text.substr(0, colon)), {}};
        std::string_view rest = text.substr(colon + 1);
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view pair = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            const size_t equals = pair.find('=');
            if (equals != std::string_view::npos)
                entry.keys.emplace_back(std::string(pair.substr(0, equals)), unescaped(pair.substr(equals + 1)));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

int connectUnix(const std::string& name, bool abstract)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (name.empty() || name.size() + offset >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path + offset, name.data(), name.size());
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + name.size() + (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectTcp(const Entry& entry)
{
    addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    const std::string family = entry.get("family");
    hints.ai_family = family == "ipv4" ? AF_INET : family == "ipv6" ? AF_INET6 : AF_UNSPEC;
    std::string host = entry.get("host");
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.empty() ? "localhost" : host.c_str(), entry.get("port").c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

int connectToBus(std::string_view address)
{
    for (const Entry& entry : parse(address)) {
        int fd = -1;
        if (entry.transport == "unix") {
            if (const std::string path = entry.get("path"); !path.empty())
                fd = connectUnix(path, false);
            else if (const std::string name = entry.get("abstract"); !name.empty())
                fd = connectUnix(name, true);
            else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); entry.get("runtime") == "yes" && runtime)
                fd = connectUnix(std::string(runtime) + "/bus", false);
        } else if (entry.transport == "tcp") {
            fd = connectTcp(entry);
        }
        if (fd >= 0)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Until the client's BEGIN the conversation is lines of text. Descriptors cannot cross a byte
// relay, so the client's offer to pass them is refused here and never reaches the bus.
class Handshake {
public:
    // Forwards what `data` holds of the handshake, answers what is refused; false on a write error.
    bool take(const char* data, size_t size, int bus)
    {
        if (m_done)
            return writeAll(bus, data, size);
        m_line.append(data, size);
        for (size_t end; !m_done && (end = m_line.find("\r\n")) != std::string::npos;) {
            const std::string line = m_line.substr(0, end + 2);
            m_line.erase(0, end + 2);
            if (line == "NEGOTIATE_UNIX_FD\r\n") {
                if (!writeAll(STDOUT_FILENO, "ERROR\r\n", 7))
                    return false;
                continue;
            }
            if (!writeAll(bus, line.data(), line.size()))
                return false;
            m_done = line == "BEGIN\r\n";
        }
        if (m_done && !m_line.empty()) {
            if (!writeAll(bus, m_line.data(), m_line.size()))
                return false;
            m_line.clear();
        }
        return m_line.size() < 16384; // a handshake line is short
    }

private:
    std::string m_line;
    bool m_done = false;
};

// The first process, once the carrier holds both sockets: it keeps nothing and lets the portal look
// into it, as the caller the bus names, until the carrier ends.
[[noreturn]] void standForTheCarrier(pid_t carrier)
{
    if (::syscall(SYS_close_range, 0u, ~0u, 0u) != 0) {
        for (int fd = 0; fd < 1024; ++fd)
            ::close(fd);
    }
    ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    if (!lumra::process::confineToCarrying({__NR_wait4}))
        ::kill(carrier, SIGKILL);
    int status = 0;
    while (::waitpid(carrier, &status, 0) < 0 && errno == EINTR) {
    }
    // Its end told as a shell tells it; leaving by _exit, as a leak check at exit may not run here.
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1);
}

} // namespace

int main(int argc, char** argv)
{
    // Holds Lumra's socket: from the first line no other program of the user's may attach to it.
    lumra::process::keepOtherProcessesOut();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // ends with Lumra
    if (argc != 2) {
        say("usage: lumra-bus-relay <bus address>");
        return 2;
    }
    const int bus = connectToBus(argv[1]);
    if (bus < 0) {
        say(std::string("could not reach the bus at ") + argv[1]);
        return 1;
    }
    const pid_t first = ::getpid();
    const pid_t carrier = ::fork();
    if (carrier < 0) {
        say("could not start the carrier");
        return 1;
    }
    if (carrier > 0)
        standForTheCarrier(carrier);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != first)
        ::_exit(1);
    if (!lumra::process::confineToCarrying()) {
        say("could not confine itself");
        ::_exit(3);
    }
    // From here on leaving by _exit: a leak check at exit would start a process it may not.
    Handshake handshake;
    pollfd sides[2] {{lumraSide, POLLIN, 0}, {bus, POLLIN, 0}};
    std::vector<char> buffer(65536);
    for (;;) {
        if (::poll(sides, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            ::_exit(1);
        }
        for (int i = 0; i < 2; ++i) {
            if (!sides[i].revents)
                continue;
            const ssize_t got = ::read(sides[i].fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                ::_exit(0); // either side gone: the connection ends
            const bool passed = i == 0 ? handshake.take(buffer.data(), size_t(got), bus)
                                       : writeAll(STDOUT_FILENO, buffer.data(), size_t(got));
            if (!passed)
                ::_exit(1);
        }
    }
}
