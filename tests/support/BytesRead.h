#pragma once

#include <QByteArray>
#include <QFile>

#include <functional>

namespace lumra::test {

// Bytes the whole test process (or with `thisThread`, the calling thread) read from files and pipes
// during `work` (its rchar), so a test can tell that a file was left for another process, or
// another thread, to read.
inline qint64 bytesReadDuring(const std::function<void()>& work, bool thisThread = false)
{
    const auto rchar = [thisThread] {
        QFile io(thisThread ? QStringLiteral("/proc/thread-self/io") : QStringLiteral("/proc/self/io"));
        if (!io.open(QIODevice::ReadOnly))
            return qint64(-1);
        for (const QByteArray& line : io.readAll().split('\n')) {
            if (line.startsWith("rchar:"))
                return line.mid(6).trimmed().toLongLong();
        }
        return qint64(-1);
    };
    const qint64 before = rchar();
    work();
    return before < 0 ? -1 : rchar() - before;
}

} // namespace lumra::test
