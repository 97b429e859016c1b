#include "app/QuitDeadline.h"

#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace lumra::QuitDeadline {

namespace {

sem_t g_begun;
std::atomic_bool g_installed = false;

} // namespace

void install(std::chrono::milliseconds bound)
{
    if (g_installed.exchange(true))
        return;
    ::sem_init(&g_begun, 0, 0);
    std::thread([bound] {
        while (::sem_wait(&g_begun) != 0 && errno == EINTR) {
        }
        std::this_thread::sleep_for(bound);
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

} // namespace lumra::QuitDeadline
