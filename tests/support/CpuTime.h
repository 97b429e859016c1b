#pragma once

#include <ctime>
#include <functional>

namespace lumra::test {

// CPU seconds the calling thread spends on `work`: the work done, whatever else keeps the machine
// (or the other threads of a test program) busy. For work that runs where it is called.
inline double cpuSecondsDuring(const std::function<void()>& work)
{
    const auto now = [] {
        timespec t {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    };
    const double start = now();
    work();
    return now() - start;
}

} // namespace lumra::test
