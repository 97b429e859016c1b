#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace lumra::test {

// A FIFO that stands for a file another program names, with a guard: a reader still stuck in
// open() after `patience` is let go (the guard opens the writing end and closes it, so the reader
// sees an empty file), and `tripped()` tells the test. A regression then fails instead of hanging.
// Watching for writers, the guard opens the reading end after `patience` and keeps it, so a writer
// stuck in open() goes on; whatever it writes then trips the guard.
class FifoWatchdog {
public:
    enum class Watch { readers, writers };

    explicit FifoWatchdog(const QString& path, std::chrono::milliseconds patience = std::chrono::seconds(3),
                          Watch watch = Watch::readers)
        : m_path(QFile::encodeName(path))
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_guard = std::thread([this, patience, watch] {
            const auto deadline = std::chrono::steady_clock::now() + patience;
            int reading = -1;
            while (!m_stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (std::chrono::steady_clock::now() < deadline)
                    continue;
                if (watch == Watch::writers) {
                    if (reading < 0)
                        reading = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                    char byte = 0;
                    if (reading >= 0 && ::read(reading, &byte, 1) > 0)
                        m_tripped = true;
                    continue;
                }
                // Succeeds only while a reader has the FIFO open, which includes one stuck in open().
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    m_tripped = true;
                    ::close(fd);
                }
            }
            if (reading >= 0)
                ::close(reading);
        });
    }
    ~FifoWatchdog()
    {
        m_stop = true;
        m_guard.join();
        ::unlink(m_path.constData());
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool made() const { return m_made; }
    bool tripped() const { return m_tripped; }

private:
    QByteArray m_path;
    bool m_made = false;
    std::atomic_bool m_stop = false;
    std::atomic_bool m_tripped = false;
    std::thread m_guard;
};

} // namespace lumra::test
