#include "platform/files/StallTolerantPool.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace lumra {

// When each running task began, so the stuck ones can be counted.
struct StallTolerantPool::Running {
    std::mutex mutex;
    std::map<quint64, std::chrono::steady_clock::time_point> started;
    quint64 next = 0;
};

StallTolerantPool::StallTolerantPool(BackgroundWork& work, BackgroundWork::Lane lane, int threads, int maxStuck,
                                     std::chrono::milliseconds stuckAfter)
    : m_work(work)
    , m_lane(lane)
    , m_threads(threads)
    , m_maxStuck(maxStuck)
    , m_stuckAfter(stuckAfter)
    , m_running(std::make_shared<Running>())
{
    m_work.setMaxThreadCount(m_lane, threads);
}

void StallTolerantPool::start(std::function<void()> task)
{
    m_work.start(m_lane, [task = std::move(task), running = m_running] {
        quint64 id = 0;
        {
            std::lock_guard lock(running->mutex);
            id = running->next++;
            running->started.emplace(id, std::chrono::steady_clock::now());
        }
        task();
        std::lock_guard lock(running->mutex);
        running->started.erase(id);
    });
}

void StallTolerantPool::countStuck()
{
    int stuck = 0;
    {
        std::lock_guard lock(m_running->mutex);
        const auto since = std::chrono::steady_clock::now() - m_stuckAfter;
        for (const auto& [id, started] : m_running->started)
            stuck += started < since ? 1 : 0;
    }
    m_work.setMaxThreadCount(m_lane, m_threads + std::min(stuck, m_maxStuck));
}

} // namespace lumra
