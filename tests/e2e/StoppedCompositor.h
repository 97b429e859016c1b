#pragma once

#include <QByteArray>
#include <QList>

#include <csignal>
#include <sys/types.h>

namespace lumra::test {

// The compositor, stopped whole as when it is too busy to read its clients, until this ends.
class StoppedCompositor {
public:
    StoppedCompositor()
    {
        // The IPC socket's name ends with the compositor's process id.
        const QList<QByteArray> parts = qgetenv("SWAYSOCK").split('.');
        m_pid = parts.size() >= 2 ? parts.at(parts.size() - 2).toInt() : 0;
        if (m_pid > 0)
            ::kill(m_pid, SIGSTOP);
    }
    ~StoppedCompositor() { resume(); }
    StoppedCompositor(const StoppedCompositor&) = delete;
    StoppedCompositor& operator=(const StoppedCompositor&) = delete;
    bool stopped() const { return m_pid > 0; }
    void resume()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGCONT);
        m_pid = 0;
    }

private:
    pid_t m_pid = 0;
};

} // namespace lumra::test
