#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QThreadPool;

namespace lumra {

// Threads for work that may block as long as the file system does (a file on a hung network
// mount). A task that has run for `stuckAfter` no longer counts against the threads, up to
// `maxStuck` stuck ones, so the others go on being done. The threads are never joined: a stuck one
// must not hold up exit. Any thread.
class StallTolerantPool {
public:
    StallTolerantPool(int threads, int maxStuck, std::chrono::milliseconds stuckAfter);

    void start(std::function<void()> task);
    // Lets tasks stuck by now stop counting against the threads; call it now and then while tasks
    // are waited for (and when one ends).
    void countStuck();
    std::chrono::milliseconds stuckAfter() const { return m_stuckAfter; }

private:
    struct Running;

    int m_threads;
    int m_maxStuck;
    std::chrono::milliseconds m_stuckAfter;
    std::shared_ptr<Running> m_running;
    QThreadPool* m_pool;
};

} // namespace lumra
