#pragma once

#include <chrono>

namespace lumra::QuitDeadline {

// Starts the guard that ends the process `bound` after quitting began, whatever still runs by
// then: a worker stuck on a stalled mount or on another program must not keep Lumra, and the
// logout or restart waiting for it, from ending. What Lumra stores is on disk by then (each write
// commits, settings are flushed when quitting starts). Call once, early. The bound leaves out the
// longest time any of Lumra's threads waited for a CPU, so a loaded machine does not cut a quit
// short (up to ten times the bound). A process it ends exits with cutShortStatus, so a session manager or
// script sees that work was cut short.
void install(std::chrono::milliseconds bound);
inline constexpr int cutShortStatus = 70; // EX_SOFTWARE

// Quitting has begun. Safe in a signal handler; later calls change nothing.
void begin() noexcept;

// Lumra's own teardown is over: what follows (the runtime's exit, a sanitizer's leak check) waits
// for no worker and is not cut short.
void end() noexcept;

} // namespace lumra::QuitDeadline
