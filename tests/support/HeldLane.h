#pragma once

#include "platform/core/BackgroundWork.h"

#include <future>
#include <utility>

namespace lumra::test {

// Narrows a lane to one thread and keeps that thread busy until release(): work queued meanwhile
// waits, so a test sees what the main thread does without it.
class HeldLane {
public:
    HeldLane(BackgroundWork& work, BackgroundWork::Lane lane)
        : m_work(work)
        , m_lane(lane)
        , m_threads(work.maxThreadCount(lane))
    {
        work.setMaxThreadCount(lane, 1);
        work.start(lane, [opened = m_opened] { opened.wait(); });
    }
    ~HeldLane()
    {
        release();
        m_work.setMaxThreadCount(m_lane, m_threads);
    }
    HeldLane(const HeldLane&) = delete;
    HeldLane& operator=(const HeldLane&) = delete;

    void release()
    {
        if (!std::exchange(m_released, true))
            m_open.set_value();
    }

private:
    BackgroundWork& m_work;
    BackgroundWork::Lane m_lane;
    int m_threads;
    std::promise<void> m_open;
    std::shared_future<void> m_opened = m_open.get_future().share();
    bool m_released = false;
};

} // namespace lumra::test
