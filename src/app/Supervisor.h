#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include <sys/types.h>

namespace lumra::Supervisor {

// Qt's Wayland plug-in ends the process with one of these when the compositor goes away (Qt 6.4
// exits with -1, later versions with 1).
bool endedWithTheConnection(int status);

// How often Lumra may be started again: a Lumra that keeps failing is let go.
class RestartBudget {
public:
    RestartBudget(int restarts, std::chrono::steady_clock::duration window)
        : m_restarts(restarts)
        , m_window(window)
    {
    }
    // Whether one more start at `now` is within the budget; a start allowed is counted.
    bool take(std::chrono::steady_clock::time_point now);

private:
    int m_restarts;
    std::chrono::steady_clock::duration m_window;
    std::deque<std::chrono::steady_clock::time_point> m_starts;
};

// The compositor's socket the environment names (WAYLAND_DISPLAY, absolute or in XDG_RUNTIME_DIR);
// empty when Lumra was handed a connection (WAYLAND_SOCKET) it could not open again.
std::string compositorSocket();
// The process of the compositor that accepts connections on `socket` now, 0 when none does.
pid_t compositorProcess(const std::string& socket);

// Runs Lumra in a child process, started again when the compositor on `socket` restarts. Returns
// nothing in each child, which goes on to be Lumra; in the first process, once there is no Lumra
// left to run, the status to exit with (the child's own). A child killed by a signal is mirrored
// by the first process dying of the same signal.
std::optional<int> runSupervised(const std::string& socket);

} // namespace lumra::Supervisor
