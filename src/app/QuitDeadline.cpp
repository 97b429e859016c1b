#include "app/QuitDeadline.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

namespace lumra::QuitDeadline {

namespace {

sem_t g_begun;
std::atomic_bool g_installed = false;
std::atomic_bool g_ended = false;
std::chrono::milliseconds g_bound {};
// Kept for the life of the process: remaining() may read it from any thread.
Watch* g_watch = nullptr;
std::atomic_bool g_watching = false; // g_watch has begun

// How long the thread has waited for a CPU while runnable, from the kernel's scheduler statistics;
// zero where they are not kept, and the bound is then plain wall time.
std::chrono::nanoseconds runQueueWait(pid_t thread)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", static_cast<int>(thread));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char text[128] = {};
    const ssize_t size = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    if (size <= 0 || std::sscanf(text, "%llu %llu", &running, &waiting) != 2)
        return {};
    return std::chrono::nanoseconds(waiting);
}

// What each of Lumra's threads has waited for a CPU so far.
std::map<pid_t, std::chrono::nanoseconds> runQueueWaits()
{
    std::map<pid_t, std::chrono::nanoseconds> waits;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return waits;
    while (const dirent* entry = ::readdir(tasks)) {
        if (const int thread = std::atoi(entry->d_name); thread > 0)
            waits[thread] = runQueueWait(thread);
    }
    ::closedir(tasks);
    return waits;
}

// The longest a thread has waited for a CPU since `before`: time the machine, not Lumra, took.
std::chrono::nanoseconds longestWaitSince(const std::map<pid_t, std::chrono::nanoseconds>& before)
{
    std::chrono::nanoseconds longest{};
    for (const auto& [thread, waited] : runQueueWaits()) {
        const auto earlier = before.find(thread);
        longest = std::max(longest, waited - (earlier == before.end() ? std::chrono::nanoseconds{} : earlier->second));
    }
    return longest;
}

class SystemWatch final : public Watch {
public:
    void begin() override
    {
        m_start = std::chrono::steady_clock::now();
        m_waitedBefore = runQueueWaits();
    }
    std::chrono::nanoseconds elapsed() const override { return std::chrono::steady_clock::now() - m_start; }
    // A thread that has ended since keeps what it waited: the wait never shrinks, or the quit's
    // time counted would leap ahead as the lanes' threads end.
    std::chrono::nanoseconds waitedForCpu() const override
    {
        const long long now = longestWaitSince(m_waitedBefore).count();
        long long longest = m_longest.load();
        while (now > longest && !m_longest.compare_exchange_weak(longest, now)) {
        }
        return std::chrono::nanoseconds(std::max(now, longest));
    }

private:
    std::chrono::steady_clock::time_point m_start;
    std::map<pid_t, std::chrono::nanoseconds> m_waitedBefore;
    mutable std::atomic<long long> m_longest = 0;
};

} // namespace

std::unique_ptr<Watch> systemWatch()
{
    return std::make_unique<SystemWatch>();
}

void install(std::chrono::milliseconds bound, std::unique_ptr<Watch> watch)
{
    if (g_installed.exchange(true))
        return;
    ::sem_init(&g_begun, 0, 0);
    g_bound = bound;
    g_watch = watch.release();
    // The one thread not made by BackgroundWork: it must outlast it, since it ends the process
    // when BackgroundWork's own shutdown is what is stuck.
    std::thread([bound, watch = g_watch] {
        ::pthread_setname_np(::pthread_self(), "lumra-quitwatch");
        while (::sem_wait(&g_begun) != 0 && errno == EINTR) {
        }
        using namespace std::chrono;
        watch->begin();
        g_watching.store(true, std::memory_order_release);
        for (;;) {
            const auto wall = watch->elapsed();
            const auto counted = wall - watch->waitedForCpu();
            if (g_ended.load())
                return;
            if (counted >= bound || wall >= 10 * bound)
                break;
            std::this_thread::sleep_for(std::min<nanoseconds>(bound - duration_cast<nanoseconds>(counted), milliseconds(50)));
        }
        static const char message[] = "Lumra: still busy after quitting began; leaving without waiting for its workers.\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(cutShortStatus);
    }).detach();
}

void begin() noexcept
{
    if (g_installed.load())
        ::sem_post(&g_begun);
}

std::chrono::milliseconds remaining() noexcept
{
    using namespace std::chrono;
    if (!g_watching.load(std::memory_order_acquire))
        return g_bound;
    const auto counted = duration_cast<milliseconds>(g_watch->elapsed() - g_watch->waitedForCpu());
    return std::max(g_bound - counted, milliseconds(0));
}

void end() noexcept
{
    g_ended.store(true);
}

} // namespace lumra::QuitDeadline
