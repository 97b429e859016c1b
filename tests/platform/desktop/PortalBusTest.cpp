// Lumra keeps other processes out from its start and the desktop portal still answers it: against a
// stand-in portal in a process of its own, on a private D-Bus daemon, that refuses a caller it may
// not look into, as xdg-desktop-portal does when it cannot open the caller's /proc/<pid>/root.
#include "platform/desktop/PortalBus.h"
#include "platform/process/Confinement.h"

#include "PrivateBus.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <linux/capability.h>
#include <linux/kcmp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const portalBusVariable = "LUMRA_FAKE_IDENTIFYING_PORTAL_BUS";
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
// Bounds a stand-in that never comes up or answers: one started under a sanitizer on a busy machine
// takes seconds.
constexpr int patienceMs = 60'000;

class IdentifyingPortal final : public QDBusVirtualObject {
public:
    explicit IdentifyingPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        const QString caller = message.service();
        if (!m_known.contains(caller)) {
            const uint pid = m_bus.interface()->servicePid(caller);
            // The rule /proc/<pid>/root is opened by, also for a portal run by root without its privileges.
            if (::syscall(SYS_kcmp, ::getpid(), pid_t(pid), KCMP_VM, 0, 0) < 0) {
                m_bus.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Unable to open /proc/%1/root").arg(pid)));
                return true;
            }
            m_known.insert(caller); // until the caller's connection ends
        }
        m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(0u))))));
        return true;
    }

private:
    QDBusConnection m_bus;
    QSet<QString> m_known;
};

class PortalBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!lumra::test::PrivateBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_bus.start());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(portalBusVariable, m_bus.address());
        m_portal.setProcessEnvironment(environment);
        m_portal.setProcessChannelMode(QProcess::MergedChannels);
        lumra::test::startThisProgram(m_portal, {"--gtest_filter=FakeIdentifyingPortalProcess.*"});
        QByteArray output;
        ASSERT_TRUE(lumra::test::processEventsUntil([&] { return output.append(m_portal.readAllStandardOutput()).contains("READY"); }, patienceMs))
            << output.toStdString();
    }
    void TearDown() override
    {
        ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0); // this test's process, for the tests after it
        // The relay is this process's child: reaped once its connection is let go, for the tests
        // after this one that look for children left behind.
        QDBusConnection::disconnectFromBus(QStringLiteral("lumra-portal"));
        if (m_relay > 0)
            ::waitpid(pid_t(m_relay), nullptr, 0);
        if (m_sessionBus.isNull())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionBus);
        m_portal.kill();
        m_portal.waitForFinished();
    }

    lumra::test::PrivateBus m_bus;
    QProcess m_portal;
    const QByteArray m_sessionBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    uint m_relay = 0;
};

} // namespace

// Portal mode only: the stand-in portal of PortalBusTest.
TEST(FakeIdentifyingPortalProcess, TellsCallersApartByTheirRoot)
{
    if (!qEnvironmentVariableIsSet(portalBusVariable))
        GTEST_SKIP() << "runs as the portal of PortalBusTest";
    // The portal is an ordinary program of the user's, also where the tests run as root.
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[2] {};
    ::syscall(SYS_capget, &header, capabilities);
    capabilities[0].effective = capabilities[1].effective = 0;
    ASSERT_EQ(::syscall(SYS_capset, &header, capabilities), 0);
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable(portalBusVariable), "portal");
    IdentifyingPortal portal(bus);
    ASSERT_TRUE(bus.registerVirtualObject(portalPath, &portal, QDBusConnection::SubPath));
    ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
    std::cout << "READY" << std::endl;
    lumra::test::processEventsUntil([] { return false; }, 60000);
}

namespace {

// What the shortcuts and the colours ask, the portal's signals included.
QDBusMessage askThePortal(QDBusConnection bus)
{
    QDBusMessage read = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", portalPath,
                                                       "org.freedesktop.portal.Settings", "ReadOne");
    read << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    return bus.call(read, QDBus::Block, patienceMs);
}

} // namespace

TEST_F(PortalBusTest, LumraKeepsOthersOutAndThePortalStillAnswersIt)
{
    ASSERT_TRUE(lumra::process::keepOtherProcessesOut());
    ASSERT_FALSE(lumra::process::othersMayAttach());
    // The test's daemon as the session bus; its address is one the relay must unescape.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    QDBusConnection bus = QDBusConnection(QString());
    // A relay of a test before this one may have ended moments ago.
    ASSERT_TRUE(lumra::test::processEventsUntil([&] { return (bus = lumra::portalBus()).isConnected(); }, patienceMs));
    ASSERT_EQ(bus.name(), QStringLiteral("lumra-portal"));
    m_relay = bus.interface()->servicePid(bus.baseService());
    ASSERT_NE(m_relay, uint(::getpid())); // the bus knows the relay as the caller, not this process

    const QDBusMessage reply = askThePortal(bus);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString();
    EXPECT_FALSE(lumra::process::othersMayAttach());
}

// A relay that ends while Lumra runs (killed here) is reaped, not left a zombie for Lumra's whole run,
// and the portal is reached again through a new one, by those who listen to it too.
TEST_F(PortalBusTest, ARelayThatEndsIsReapedAndThePortalReachedAgain)
{
    ASSERT_TRUE(lumra::process::keepOtherProcessesOut());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    QDBusConnection bus = QDBusConnection(QString());
    ASSERT_TRUE(lumra::test::processEventsUntil([&] { return (bus = lumra::portalBus()).isConnected(); }, patienceMs));
    const pid_t ended = lumra::PortalConnection::instance().relay();
    ASSERT_GT(ended, 0);
    ASSERT_EQ(uint(ended), bus.interface()->servicePid(bus.baseService()));
    ASSERT_EQ(askThePortal(bus).type(), QDBusMessage::ReplyMessage);

    QSignalSpy renewed(&lumra::PortalConnection::instance(), &lumra::PortalConnection::renewed);
    ASSERT_EQ(::kill(ended, SIGKILL), 0);
    const auto& connection = lumra::PortalConnection::instance();
    ASSERT_TRUE(lumra::test::processEventsUntil([&] {
        return !renewed.isEmpty() && connection.relay() > 0 && connection.relay() != ended;
    }, patienceMs));
    // No longer a child of this process: reaped, not a zombie.
    siginfo_t info {};
    EXPECT_EQ(::waitid(P_PID, id_t(ended), &info, WEXITED | WNOHANG | WNOWAIT), -1);
    EXPECT_EQ(errno, ECHILD);

    bus = lumra::portalBus();
    ASSERT_TRUE(bus.isConnected());
    m_relay = uint(lumra::PortalConnection::instance().relay());
    EXPECT_NE(m_relay, uint(ended));
    const QDBusMessage reply = askThePortal(bus);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString();
}

namespace {

// A listening socket for the relay to reach; -1 when it could not be made.
int listening(int family, const void* address, socklen_t length)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, static_cast<const sockaddr*>(address), length) != 0 || ::listen(fd, 1) != 0)
        return -1;
    return fd;
}

int listeningUnix(const QByteArray& name, bool abstract)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), name.constData(), size_t(name.size()));
    return listening(AF_UNIX, &address, socklen_t(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + name.size() + (abstract ? 0 : 1)));
}

} // namespace

// The relay reaches the bus at each form of address a session may give, passes bytes both ways, and
// keeps the offer to pass descriptors, which cannot cross it, from the bus.
TEST(BusRelay, ReachesEachFormOfAddressAndKeepsDescriptorsOutOfTheHandshake)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray abstractName = "lumra-relay-test-" + QByteArray::number(::getpid());
    sockaddr_in loopback {};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int tcp = listening(AF_INET, &loopback, sizeof loopback);
    socklen_t length = sizeof loopback;
    ASSERT_EQ(::getsockname(tcp, reinterpret_cast<sockaddr*>(&loopback), &length), 0);
    const QList<std::pair<QString, int>> cases {
        {QStringLiteral("unix:path=%1/bus%2c%20one,guid=0").arg(folder.path()), listeningUnix(QFile::encodeName(folder.filePath("bus, one")), false)},
        {"unix:path=/nonexistent/bus;unix:abstract=" + QString::fromLatin1(abstractName), listeningUnix(abstractName, true)},
        {QStringLiteral("tcp:host=127.0.0.1,port=%1,family=ipv4").arg(ntohs(loopback.sin_port)), tcp},
    };
    const QByteArray handshake = QByteArray(1, '\0') + "AUTH EXTERNAL 30\r\n";
    for (const auto& [address, server] : cases) {
        SCOPED_TRACE(address.toStdString());
        ASSERT_GE(server, 0);
        QProcess relay;
        relay.start(QStringLiteral(LUMRA_BUS_RELAY), {address});
        relay.write(handshake + "NEGOTIATE_UNIX_FD\r\nBEGIN\r\nmessage");
        int bus = -1;
        ASSERT_TRUE(lumra::test::processEventsUntil([&] { return (bus = ::accept(server, nullptr, nullptr)) >= 0; }, patienceMs));
        QByteArray heard;
        ASSERT_TRUE(lumra::test::processEventsUntil([&] {
            char chunk[256];
            const ssize_t got = ::recv(bus, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0)
                heard.append(chunk, got);
            return heard.endsWith("message");
        }, patienceMs)) << heard.toStdString();
        EXPECT_EQ(heard, handshake + "BEGIN\r\nmessage");
        ASSERT_EQ(::write(bus, "reply", 5), 5);
        QByteArray answered;
        ASSERT_TRUE(lumra::test::processEventsUntil([&] { return answered.append(relay.readAllStandardOutput()).endsWith("reply"); }, patienceMs));
        EXPECT_EQ(answered, "ERROR\r\nreply");
        ::close(bus); // the bus gone, the relay ends
        ASSERT_TRUE(relay.waitForFinished(patienceMs));
        ::close(server);
    }
}
