#pragma once

#include "ThisProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>

namespace lumra::test {

// The threads of this process by id, with the names the kernel shows for them.
inline QMap<int, QString> threadsOfThisProcess()
{
    QMap<int, QString> threads;
    for (const QString& id : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(id));
        if (comm.open(QIODevice::ReadOnly))
            threads.insert(id.toInt(), QString::fromUtf8(comm.readAll()).trimmed());
    }
    return threads;
}

// Threads started since `before` that are none of Lumra's lanes.
inline QStringList threadsOutsideTheLanesSince(const QMap<int, QString>& before)
{
    QStringList outside;
    const QMap<int, QString> now = threadsOfThisProcess();
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (!before.contains(it.key()) && !it.value().startsWith(QLatin1String("lumra-")))
            outside << it.value();
    }
    return outside;
}

struct ChildRun {
    int exitCode = -1;
    QByteArray output;
};

// This test program again, running the tests of `filter` with `variable` set: a process of its own,
// where no worker thread an earlier test started is taken for one the tested work started.
inline ChildRun runThisProgram(const char* variable, const QString& filter)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(variable), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    lumra::test::startThisProgram(child, {QStringLiteral("--gtest_filter=") + filter});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        return {-1, child.readAll()};
    }
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1, child.readAll()};
}

} // namespace lumra::test
