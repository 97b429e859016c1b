#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

namespace lumra::bench {

// The process's resident memory now, in megabytes (VmRSS).
inline double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

} // namespace lumra::bench
