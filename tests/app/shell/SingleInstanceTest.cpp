#include "app/SingleInstance.h"

#include "platform/core/Folders.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>

#include <csignal>
#include <thread>

namespace lumra {
namespace {

class SingleInstanceTest : public test::DataDirTest {
protected:
    static void expectHandOverTo(SingleInstance& primary)
    {
        QSignalSpy opened(&primary, &SingleInstance::togglePopupRequested);
        SingleInstance later;
        auto role = later.claim();
        ASSERT_TRUE(role.ok()) << role.error().toStdString();
        EXPECT_EQ(*role, SingleInstance::Role::handedOver);
        ASSERT_TRUE(opened.wait(5000));
        EXPECT_EQ(opened.count(), 1);
    }
};

TEST_F(SingleInstanceTest, SecondStartHandsOverToTheFirst)
{
    SingleInstance first;
    auto role = first.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(*role, SingleInstance::Role::primary);
    EXPECT_TRUE(first.serverPath().startsWith(dataDir.runtimeDir())) << first.serverPath().toStdString();
    expectHandOverTo(first);
}

TEST_F(SingleInstanceTest, AfterThePrimaryEndsTheNextStartBecomesPrimary)
{
    {
        SingleInstance first;
        ASSERT_EQ(*first.claim(), SingleInstance::Role::primary);
    }
    SingleInstance next;
    auto role = next.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(*role, SingleInstance::Role::primary);
}

TEST_F(SingleInstanceTest, LeftoversOfACrashedRunDoNotBlockTheStart)
{
    const QString folder = Folders::privateTempFolder().value();
    const QString socketPath = folder + QLatin1Char('/') + SingleInstance::serverName();
    QFile socketFile(socketPath);
    ASSERT_TRUE(socketFile.open(QIODevice::WriteOnly));
    socketFile.close();

    // A lock written by a process id that cannot exist.
    QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
    ASSERT_TRUE(pidMax.open(QIODevice::ReadOnly));
    const qint64 deadPid = pidMax.readAll().trimmed().toLongLong() + 1000;
    QFile lock(socketPath + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\nlumra\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    SingleInstance first;
    auto role = first.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(*role, SingleInstance::Role::primary);
    expectHandOverTo(first);
}

TEST_F(SingleInstanceTest, UnknownMessagesOpenNothing)
{
    SingleInstance first;
    ASSERT_EQ(*first.claim(), SingleInstance::Role::primary);
    QSignalSpy opened(&first, &SingleInstance::togglePopupRequested);

    QLocalSocket stranger;
    stranger.connectToServer(first.serverPath());
    ASSERT_TRUE(stranger.waitForConnected(5000));
    stranger.write("open-everything\ntoggle-popup-now\n");
    stranger.waitForBytesWritten(5000);

    // The real request after the junk proves the junk was read and dropped.
    SingleInstance later;
    ASSERT_EQ(*later.claim(), SingleInstance::Role::handedOver);
    ASSERT_TRUE(opened.wait(5000));
    EXPECT_EQ(opened.count(), 1);
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

TEST_F(SingleInstanceTest, ASocketThatCannotBeMadeStillLeavesOneRunningLumra)
{
    // Longer than a local socket's name may be: the lock works, listening does not.
    const QString folder = dataDir.root() + QLatin1Char('/') + QString(120, QLatin1Char('x'));
    ASSERT_TRUE(QDir().mkpath(folder));
    SingleInstance first(folder);
    auto role = first.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(*role, SingleInstance::Role::primary);
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

TEST_F(SingleInstanceTest, ARestartWaitsForTheLockOfTheLumraItReplaces)
{
    // The Lumra being replaced: a live process that still holds the lock while it quits.
    QProcess predecessor;
    predecessor.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(predecessor.waitForStarted(5000));
    const QString lockPath = Folders::privateTempFolder().value() + QLatin1Char('/') + SingleInstance::serverName()
        + QStringLiteral(".lock");
    QFile lock(lockPath);
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(predecessor.processId()) + "\nsleep\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    // Without waiting, a start finds the lock held and nobody to hand over to.
    SingleInstance impatient;
    EXPECT_FALSE(impatient.claim().ok());

    const qint64 pid = predecessor.processId();
    std::thread quitting([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(pid_t(pid), SIGTERM);
    });
    SingleInstance successor;
    auto role = successor.claim(pid);
    quitting.join();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(*role, SingleInstance::Role::primary);
    predecessor.waitForFinished(5000);
}

} // namespace
} // namespace lumra
