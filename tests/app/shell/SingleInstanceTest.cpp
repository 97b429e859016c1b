#include "app/SingleInstance.h"

#include "platform/core/Folders.h"

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTimer>
#include <QEventLoop>
#include <QSysInfo>

#include <QTest>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace lumra {
namespace {

// A connection to `path` in plain system calls, as another program makes it; -1 when refused.
int connectTo(const QByteArray& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return fd;
}

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
    // The `lumra` command, which looks before it loads Qt, finds the same socket.
    char path[4096];
    ASSERT_TRUE(handover::socketPath(path, sizeof path));
    EXPECT_EQ(QFile::decodeName(path), first.serverPath());
    expectHandOverTo(first);
}

TEST_F(SingleInstanceTest, TheCommandFindsTheSocketWhenTheRuntimeFolderIsALink)
{
    const QString link = dataDir.root() + QStringLiteral("/runtime-link");
    ASSERT_TRUE(QFile::link(dataDir.runtimeDir(), link));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(link));
    SingleInstance first;
    auto role = first.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    char path[4096];
    ASSERT_TRUE(handover::socketPath(path, sizeof path));
    EXPECT_EQ(QFile::decodeName(path), first.serverPath());
}

// Lumra's own folder in it may not be a link: the command hands over to no socket found through one.
TEST_F(SingleInstanceTest, TheCommandRefusesAnInstanceFolderThatIsALink)
{
    const QString elsewhere = dataDir.root() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString folder = dataDir.runtimeDir() + QStringLiteral("/lumra");
    QDir().rmdir(folder);
    ASSERT_TRUE(QFile::link(elsewhere, folder));
    char path[4096];
    EXPECT_FALSE(handover::socketPath(path, sizeof path)) << path;
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

// Each line is a toggle, so lines that arrive together leave the popup as toggling it once per
// line would: two open and close it, three leave it toggled. Starts one after another each toggle.
TEST_F(SingleInstanceTest, TogglesThatArriveTogetherCountOncePerLine)
{
    SingleInstance first;
    ASSERT_EQ(*first.claim(), SingleInstance::Role::primary);
    QSignalSpy toggled(&first, &SingleInstance::togglePopupRequested);
    const int fd = connectTo(QFile::encodeName(first.serverPath()));
    ASSERT_GE(fd, 0);
    // Read by Lumra once the socket holds nothing unread; it read it while handling events.
    const auto sendAtOnce = [&](int lines) {
        QByteArray bytes;
        for (int i = 0; i < lines; ++i)
            bytes += "toggle-popup\n";
        ASSERT_EQ(::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), bytes.size());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            int unread = -1;
            return ::ioctl(fd, SIOCOUTQ, &unread) == 0 && unread == 0;
        }, 10000));
    };
    sendAtOnce(2);
    EXPECT_EQ(toggled.count(), 0) << "two toggles sent together toggled the popup";
    sendAtOnce(3);
    EXPECT_EQ(toggled.count(), 1);
    ::close(fd);

    for (int start = 0; start < 2; ++start) {
        SingleInstance later;
        ASSERT_EQ(*later.claim(), SingleInstance::Role::handedOver);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return toggled.count() == 3; }, 10000)) << toggled.count();
}

// A same-user program that floods the socket: it is cut off after its first line, which is the
// only one logged, and the next real start still hands over.
TEST_F(SingleInstanceTest, AClientFloodingUnknownLinesIsCutOffAfterTheFirst)
{
    SingleInstance first;
    ASSERT_EQ(*first.claim(), SingleInstance::Role::primary);
    static std::atomic_int unknown = 0;
    unknown = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        if (text.contains(QLatin1String("unknown")))
            ++unknown;
    });

    const QByteArray path = QFile::encodeName(first.serverPath());
    const pid_t flooder = ::fork();
    ASSERT_GE(flooder, 0);
    if (flooder == 0) {
        // The other program: plain system calls only, then gone.
        const int fd = connectTo(path);
        if (fd < 0)
            ::_exit(2);
        char line[32];
        for (int i = 0; i < 100000; ++i) {
            const int length = std::snprintf(line, sizeof line, "unknown-%d\n", i);
            if (::send(fd, line, size_t(length), MSG_NOSIGNAL) != length)
                ::_exit(0); // cut off
        }
        ::_exit(1);
    }
    int status = -1;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::waitpid(flooder, &status, WNOHANG) == flooder; }, 20000));
    qInstallMessageHandler(previous);
    if (!WIFEXITED(status)) {
        ::kill(flooder, SIGKILL);
        ::waitpid(flooder, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the flood was read to its end";
    EXPECT_EQ(unknown.load(), 1);
    expectHandOverTo(first);
}

int openDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size()); }

// Another program of the same user opens thousands of connections and sends nothing: Lumra keeps
// a bounded number of descriptors for them, and a real start still hands over.
TEST_F(SingleInstanceTest, IdleConnectionsKeepFewDescriptorsAndAStartStillHandsOver)
{
    SingleInstance first;
    ASSERT_EQ(*first.claim(), SingleInstance::Role::primary);
    const int before = openDescriptors();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const QByteArray path = QFile::encodeName(first.serverPath());
    const pid_t idler = ::fork();
    ASSERT_GE(idler, 0);
    if (idler == 0) {
        for (int i = 0; i < 3000; ++i) {
            if (connectTo(path) < 0)
                ::_exit(2);
        }
        [[maybe_unused]] const ssize_t written = ::write(ready[1], "R", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    // The event loop runs freely meanwhile, as Lumra's does, accepting as they come.
    QEventLoop loop;
    QSocketNotifier signalled(ready[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the other program could not open its connections";
    QTest::qWait(200); // the last connections are accepted
    EXPECT_LT(openDescriptors() - before, 100);
    expectHandOverTo(first);
    ::kill(idler, SIGKILL);
    ::waitpid(idler, nullptr, 0);
    ::close(ready[0]);
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
