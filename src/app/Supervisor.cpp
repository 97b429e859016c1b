#include "app/Supervisor.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumra::Supervisor {

namespace {

constexpr int maxRestarts = 5;
constexpr auto restartWindow = std::chrono::minutes(5);
constexpr auto compositorPatience = std::chrono::seconds(60);
constexpr int forwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stopAsked = 0;
volatile sig_atomic_t g_leadsSession = 0;

void forward(int signal, siginfo_t* info, void*)
{
    g_stopAsked = 1; // a Lumra asked to end is not started again
    // The terminal's Ctrl+C reaches the whole process group, the child too; its hang-up reaches
    // only the session's leader.
    const bool childHasIt = info->si_code == SI_KERNEL && !(signal == SIGHUP && g_leadsSession);
    if (const pid_t child = g_child; child > 0 && !childHasIt)
        ::kill(child, signal);
}

void forwardSignals(bool on)
{
    struct sigaction action {};
    if (on) {
        action.sa_sigaction = forward;
        action.sa_flags = SA_SIGINFO;
    } else {
        action.sa_handler = SIG_DFL;
    }
    sigemptyset(&action.sa_mask);
    for (int signal : forwardedSignals)
        ::sigaction(signal, &action, nullptr);
}

void say(const char* text) { std::fprintf(stderr, "lumra: %s\n", text); }

int waitFor(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return 0;
    }
    return status;
}

// True once a compositor answers on `socket`; false when none did within the patience, or the
// supervisor was asked to end. The socket file comes before its compositor listens: a change in
// its folder is a reason to look again, and so is a short pause.
bool waitForCompositor(const std::string& socket)
{
    const std::string folder = socket.substr(0, socket.rfind('/'));
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch >= 0)
        ::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB);
    const auto deadline = std::chrono::steady_clock::now() + compositorPatience;
    bool back = false;
    while (!g_stopAsked && !(back = compositorProcess(socket) > 0) && std::chrono::steady_clock::now() < deadline) {
        pollfd descriptor {watch, POLLIN, 0};
        if (::poll(&descriptor, 1, 250) > 0) {
            char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
        }
    }
    if (watch >= 0)
        ::close(watch);
    return back && !g_stopAsked;
}

// The first process ends as its child did.
int mirror(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (!WIFSIGNALED(status))
        return 1;
    const int signal = WTERMSIG(status);
    // The child's core tells what happened; one of the supervisor's would not.
    const rlimit noCore {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    return 128 + signal;
}

} // namespace

bool endedWithTheConnection(int status)
{
    return WIFEXITED(status) && (WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 255);
}

bool RestartBudget::take(std::chrono::steady_clock::time_point now)
{
    while (!m_starts.empty() && now - m_starts.front() >= m_window)
        m_starts.pop_front();
    if (int(m_starts.size()) >= m_restarts)
        return false;
    m_starts.push_back(now);
    return true;
}

std::string compositorSocket()
{
    if (const char* handed = std::getenv("WAYLAND_SOCKET"); handed && *handed)
        return {};
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const std::string name = display && *display ? display : "wayland-0";
    if (name.front() == '/')
        return name;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? std::string(runtime) + '/' + name : std::string();
}

pid_t compositorProcess(const std::string& socket)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socket.empty() || socket.size() >= sizeof address.sun_path)
        return 0;
    std::memcpy(address.sun_path, socket.data(), socket.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return 0;
    ucred peer {};
    socklen_t length = sizeof peer;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0;
    ::close(fd);
    return answered ? peer.pid : 0;
}

std::optional<int> runSupervised(const std::string& socket)
{
    const pid_t supervisor = ::getpid();
    g_leadsSession = ::getsid(0) == supervisor;
    RestartBudget budget(maxRestarts, restartWindow);
    sigset_t forwarded;
    sigemptyset(&forwarded);
    for (int signal : forwardedSignals)
        sigaddset(&forwarded, signal);
    forwardSignals(true);
    for (bool first = true;; first = false) {
        const pid_t compositor = compositorProcess(socket);
        // A signal that comes while the child is being made reaches it once the supervisor knows it.
        sigset_t previous;
        ::sigprocmask(SIG_BLOCK, &forwarded, &previous);
        const pid_t child = ::fork();
        if (child == 0) {
            forwardSignals(false);
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            // Killing the supervisor outright ends Lumra with it, as when it was one process;
            // a supervisor gone before this line is seen in the parent id.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != supervisor)
                ::raise(SIGKILL);
            return std::nullopt;
        }
        if (child < 0) {
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            if (!first) {
                say("could not start Lumra again: no new process could be made");
                return 1;
            }
            forwardSignals(false);
            return std::nullopt; // Lumra runs in this process, unsupervised
        }
        g_child = child;
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        // The Lumra a restart replaces ended long before any later start.
        ::unsetenv("LUMRA_REPLACES_PID");
        const int status = waitFor(child);
        g_child = 0;
        // Started again only when the compositor is gone, or another took its place already.
        const pid_t compositorNow = compositorProcess(socket);
        if (g_stopAsked || !endedWithTheConnection(status) || (compositorNow != 0 && compositorNow == compositor))
            return mirror(status);
        if (!budget.take(std::chrono::steady_clock::now())) {
            say("the Wayland compositor went away once more; Lumra has been started again too often to try again");
            return mirror(status);
        }
        say("the Wayland compositor went away; Lumra starts again when it is back");
        if (!waitForCompositor(socket)) {
            if (!g_stopAsked)
                say("no Wayland compositor came back within a minute; Lumra ends");
            return mirror(status);
        }
        say("the Wayland compositor is back; starting Lumra again");
    }
}

} // namespace lumra::Supervisor
