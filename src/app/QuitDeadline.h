#pragma once

#include <chrono>
#include <memory>

namespace lumra::QuitDeadline {

// What the guard reads as it watches a quit: the time since quitting began, and the longest any of
// Lumra's threads has waited for a CPU since then. Lumra's reads the steady clock and the kernel's
// scheduler statistics; tests script their own.
class Watch {
public:
    virtual ~Watch() = default;
    virtual void begin() = 0; // quitting began: both count from here
    virtual std::chrono::nanoseconds elapsed() const = 0;
    virtual std::chrono::nanoseconds waitedForCpu() const = 0;
};
std::unique_ptr<Watch> systemWatch();

// Starts the guard that ends the process `bound` after quitting began, whatever still runs by
// then: a worker stuck on a stalled mount or on another program must not keep Lumra, and the
// logout or restart waiting for it, from ending. What Lumra stores is on disk by then (each write
// commits, settings are flushed when quitting starts). Call once, early. The bound leaves out the
// longest time any of Lumra's threads waited for a CPU, as `watch` tells, so a loaded machine does
// not cut a quit short (up to ten times the bound). A process it ends exits with cutShortStatus,
// so a session manager or script sees that work was cut short.
void install(std::chrono::milliseconds bound, std::unique_ptr<Watch> watch = systemWatch());
inline constexpr int cutShortStatus = 70; // EX_SOFTWARE

// Quitting has begun. Safe in a signal handler; later calls change nothing.
void begin() noexcept;

// What is left of the bound now, as the guard counts it: the whole bound before quitting began.
// Lumra's waits at quit take from it, so that together they never reach it.
std::chrono::milliseconds remaining() noexcept;

// Lumra's own teardown is over: what follows (the runtime's exit, a sanitizer's leak check) waits
// for no worker and is not cut short.
void end() noexcept;

} // namespace lumra::QuitDeadline
