#include "platform/core/BackgroundWork.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>
#include <QThreadPool>

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

Q_LOGGING_CATEGORY(lcWork, "lumra.work")

namespace lumra {

namespace {

struct LaneSpec {
    const char* name; // at most 15 bytes: the kernel's limit for a thread name
    int threads;      // 0: one per core
    int expiryMs = 30'000; // an idle thread goes after this long; -1: never
    QThread::Priority priority = QThread::InheritPriority;
};

constexpr std::array<LaneSpec, BackgroundWork::laneCount> specs {{
    {"lumra-checkpts", 1},  // one checkpoint at a time: another would only wait for its lock
    {"lumra-media", 0},
    {"lumra-filelook", 2},  // grows while look-ups are stuck on a hung mount
    {"lumra-filechk", 64},  // stuck look-ups keep their thread; the checks start no more than this
    {"lumra-icons", 2},
    // One picture at a time: each is decoded whole before it is scaled down, and decodes side by
    // side would each leave their buffers in a heap of their own thread.
    {"lumra-thumbs", 1},
    {"lumra-history", 0},
    {"lumra-backups", 0},
    {"lumra-previews", 0},
    {"lumra-desktop", 0},
    {"lumra-bookmarks", 0},
    {"lumra-syncdir", 0},
    // Each change is read at once, however many owners hold theirs, each within its deadline.
    {"lumra-capread", 16},
    // Rich text, pictures and file look-ups each in a lane of their own, so none waits behind
    // another kind's slow copies. A picture's thread only waits for a decoder program, so every
    // copy in a burst has one; those threads go once the burst is over.
    {"lumra-caprtf", 2, -1},
    {"lumra-cappics", 32},
    {"lumra-capfiles", 2, -1},
    // Two at a time, so a start killed meanwhile costs no more than those two.
    {"lumra-capresume", 2, -1},
    {"lumra-capjrnl", 1},
    {"lumra-housekeep", 1}, // passes never overlap
    {"lumra-syncpass", 1},  // one pass at a time over the folder and the sync state
    {"lumra-thumbfind", 2},
    {"lumra-thumbmake", 2},
    // Requests are answered in the order they were made; recognition yields to what the user waits for.
    {"lumra-ocr", 1, 30'000, QThread::LowPriority},
    {"lumra-search", 3}, // with the searching thread, four at most
    // A program started asks to end with the thread that started it: this one never goes idle away.
    {"lumra-spawn", 1, -1},
}};

std::atomic<BackgroundWork*> g_current = nullptr;
thread_local const void* t_running = nullptr; // the RunningTask on this thread
std::atomic<void (*)(BackgroundWork&)> g_queueHook = nullptr;

} // namespace

// Runs a plain task unless shutdown began while it was queued.
class GatedTask final : public QRunnable, private BackgroundWork::RunningTask {
public:
    GatedTask(std::function<void()> task, std::shared_ptr<std::atomic_bool> closed, BackgroundWork::Lane lane)
        : m_task(std::move(task)), m_closed(std::move(closed)), m_lane(lane)
    {
    }
    void run() override
    {
        if (m_closed->load())
            return;
        BackgroundWork::nameThread(m_lane);
        const BackgroundWork::RunningScope running(this);
        m_task();
    }
    bool stopAsked() const override { return m_closed->load(); }

private:
    std::function<void()> m_task;
    std::shared_ptr<std::atomic_bool> m_closed;
    BackgroundWork::Lane m_lane;
};

BackgroundWork::RunningScope::RunningScope(const RunningTask* task)
    : m_outer(static_cast<const RunningTask*>(t_running))
{
    t_running = task;
}

BackgroundWork::RunningScope::~RunningScope() { t_running = m_outer; }

bool BackgroundWork::stopAsked()
{
    const auto* task = static_cast<const RunningTask*>(t_running);
    return task && task->stopAsked();
}

BackgroundWork::BackgroundWork()
{
    for (int i = 0; i < laneCount; ++i) {
        auto* pool = new QThreadPool;
        pool->setObjectName(QString::fromLatin1(specs[i].name));
        pool->setMaxThreadCount(specs[i].threads > 0 ? specs[i].threads : QThread::idealThreadCount());
        pool->setExpiryTimeout(specs[i].expiryMs);
        pool->setThreadPriority(specs[i].priority);
        m_lanes[i] = pool;
    }
}

BackgroundWork::~BackgroundWork()
{
    if (accepting())
        shutDown(std::chrono::seconds(2));
    BackgroundWork* self = this;
    g_current.compare_exchange_strong(self, nullptr);
    for (QThreadPool* pool : m_lanes) {
        // A pool still running a task would wait for it as it goes: one stuck in a stalled system
        // call is left to the process's exit instead.
        if (pool->activeThreadCount() == 0)
            delete pool;
    }
}

BackgroundWork& BackgroundWork::current()
{
    BackgroundWork* work = g_current.load();
    if (!work)
        qFatal("No BackgroundWork was set for this process");
    return *work;
}

BackgroundWork* BackgroundWork::currentIfAny() { return g_current.load(); }

void BackgroundWork::setCurrent(BackgroundWork* work) { g_current.store(work); }

void BackgroundWork::setQueueHookForTests(void (*hook)(BackgroundWork&)) { g_queueHook.store(hook); }

const char* BackgroundWork::threadName(Lane lane) { return specs[size_t(lane)].name; }

void BackgroundWork::nameThread(Lane lane) { ::pthread_setname_np(::pthread_self(), threadName(lane)); }

bool BackgroundWork::start(Lane lane, std::function<void()> task)
{
    return queue(lane, new GatedTask(std::move(task), m_closed, lane));
}

bool BackgroundWork::queue(Lane lane, QRunnable* task, int priority)
{
    if (m_closed->load()) {
        delete task;
        return false;
    }
    if (const auto hook = g_queueHook.load())
        hook(*this);
    m_lanes[size_t(lane)]->start(task, priority);
    return true;
}

int BackgroundWork::maxThreadCount(Lane lane) const { return m_lanes[size_t(lane)]->maxThreadCount(); }

void BackgroundWork::setMaxThreadCount(Lane lane, int count) { m_lanes[size_t(lane)]->setMaxThreadCount(count); }

QStringList BackgroundWork::busyLanes() const
{
    QStringList busy;
    for (int i = 0; i < laneCount; ++i) {
        if (m_lanes[i]->activeThreadCount() > 0)
            busy << QString::fromLatin1(specs[i].name);
    }
    return busy;
}

std::unique_ptr<BackgroundWork::OwnThread> BackgroundWork::thread(const char* name)
{
    auto* thread = new QThread;
    thread->setObjectName(QString::fromLatin1(name)); // Qt names the kernel's thread after it
    thread->start();
    return std::unique_ptr<OwnThread>(new OwnThread(thread));
}

std::unique_ptr<BackgroundWork::OwnThread> BackgroundWork::thread(const char* name, std::function<void()> loop)
{
    QThread* thread = QThread::create(std::move(loop));
    thread->setObjectName(QString::fromLatin1(name));
    thread->start();
    return std::unique_ptr<OwnThread>(new OwnThread(thread));
}

bool BackgroundWork::OwnThread::end(std::chrono::milliseconds bound)
{
    if (!m_thread)
        return true;
    m_thread->quit();
    const bool ended = bound == std::chrono::milliseconds::max() ? m_thread->wait() : m_thread->wait(QDeadlineTimer(bound));
    if (!ended) {
        qCWarning(lcWork).noquote() << "Thread still running when its owner went, left to the exit:"
                                    << m_thread->objectName();
        m_thread = nullptr; // a running QThread may not be deleted
        return false;
    }
    delete m_thread;
    m_thread = nullptr;
    return true;
}

struct BackgroundWork::Tasks::Count {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    int alive = 0;
};

QStringList BackgroundWork::shutDown(std::chrono::milliseconds bound)
{
    m_closed->store(true);
    {
        const std::lock_guard lock(m_countsMutex);
        for (const std::weak_ptr<Tasks::Count>& weak : m_counts) {
            if (const std::shared_ptr<Tasks::Count> count = weak.lock()) {
                // Under its lock, so that a waiter between its check and its sleep still hears it.
                const std::lock_guard countLock(count->mutex);
                count->changed.notify_all();
            }
        }
    }
    for (QThreadPool* pool : m_lanes)
        pool->clear();
    const QDeadlineTimer deadline(bound);
    QStringList busy;
    for (int i = 0; i < laneCount; ++i) {
        if (!m_lanes[i]->waitForDone(int(std::max<qint64>(0, deadline.remainingTime()))))
            busy << QString::fromLatin1(specs[i].name);
    }
    if (!busy.isEmpty())
        qCWarning(lcWork).noquote() << "Work still running at shutdown, left to the exit:" << busy.join(QStringLiteral(", "));
    return busy;
}

BackgroundWork::Tasks::Tasks(const BackgroundWork& work) : m_count(std::make_shared<Count>()), m_closed(work.m_closed)
{
    const std::lock_guard lock(work.m_countsMutex);
    std::erase_if(work.m_counts, [](const std::weak_ptr<Count>& count) { return count.expired(); });
    work.m_counts.push_back(m_count);
}

std::shared_ptr<void> BackgroundWork::Tasks::token()
{
    {
        const std::lock_guard lock(m_count->mutex);
        ++m_count->alive;
    }
    // Held by the task, whose lane may outlive this owner.
    return std::shared_ptr<void>(nullptr, [count = m_count](void*) {
        const std::lock_guard lock(count->mutex);
        --count->alive;
        count->changed.notify_all();
    });
}

void BackgroundWork::Tasks::wait() const
{
    std::unique_lock lock(m_count->mutex);
    m_count->changed.wait(lock, [this] { return m_count->alive == 0 || m_closed->load(); });
}

bool BackgroundWork::Tasks::wait(std::chrono::milliseconds bound) const
{
    std::unique_lock lock(m_count->mutex);
    return m_count->changed.wait_for(lock, bound, [this] { return m_count->alive == 0 || m_closed->load(); })
        && m_count->alive == 0;
}

} // namespace lumra
