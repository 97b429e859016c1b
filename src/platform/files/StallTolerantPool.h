#pragma once

#include "platform/core/BackgroundWork.h"

#include <chrono>
#include <functional>
#include <memory>

namespace lumra {

// A lane for work that may block as long as the file system does (a file on a hung network
// mount). A task that has run for `stuckAfter` no longer counts against the threads, up to
// `maxStuck` stuck ones, so the others go on being done. A stuck task holds neither the lane nor
// the quit: the shutdown's bounded wait gives up on its thread, which the process's exit ends (the
// quit deadline is the last resort). Any thread.
class StallTolerantPool {
public:
    StallTolerantPool(BackgroundWork& work, BackgroundWork::Lane lane, int threads, int maxStuck,
                      std::chrono::milliseconds stuckAfter);

    void start(std::function<void()> task);
    // Lets tasks stuck by now stop counting against the threads; call it now and then while tasks
    // are waited for (and when one ends).
    void countStuck();
    std::chrono::milliseconds stuckAfter() const { return m_stuckAfter; }

private:
    struct Running;

    BackgroundWork& m_work;
    BackgroundWork::Lane m_lane;
    int m_threads;
    int m_maxStuck;
    std::chrono::milliseconds m_stuckAfter;
    std::shared_ptr<Running> m_running;
};

} // namespace lumra
