#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

namespace lumra::bench {

// The process's resident memory now, in megabytes: VmRSS, or another field of /proc/self/status
// ("RssAnon": heap and other private memory; "RssFile": mapped files).
inline double residentMegabytes(const QByteArray& field = "VmRSS")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

} // namespace lumra::bench
