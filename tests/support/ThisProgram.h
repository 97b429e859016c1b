#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace lumra::test {

// The environment a child run of this test program is given: `environment` without the variables
// of a sharded run, with which the child would run only its share of the tests it is asked for
// (often none of them) and write the parent's shard status file.
inline QProcessEnvironment unshardedEnvironment(QProcessEnvironment environment)
{
    for (const char* name : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// Starts this test program again in `child` with `arguments` (a --gtest_filter naming the child's
// tests), in the environment set on `child` (this process's when none is).
inline void startThisProgram(QProcess& child, const QStringList& arguments)
{
    QProcessEnvironment environment = child.processEnvironment();
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    child.setProcessEnvironment(unshardedEnvironment(environment));
    child.start(QCoreApplication::applicationFilePath(), arguments);
}

} // namespace lumra::test
