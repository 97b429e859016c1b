#pragma once

#include <functional>

namespace lumra::bench {

// What a benchmark keeps for all its runs (an engine, a store) is let go here, before main()'s
// background work and application go: a function static would go after them, its workers and
// timers left pointing at neither.
void keepUntilTeardown(std::function<void()> release);
// Called by main() once the benchmarks ran.
void teardown();

} // namespace lumra::bench
