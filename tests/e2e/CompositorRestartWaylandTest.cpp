// The compositor of the session restarts under a running Lumra: Qt ends a Wayland client whose
// compositor went away, so Lumra must come back on its own. Lumra and the copying program each
// run as processes of their own, under a headless Sway of the test's own.
#include "HostileOwners.h"
#include "PrivateSway.h"
#include "StoredTexts.h"
#include "TempDataDir.h"
#include "WlClipboard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using namespace lumra::test;

// The test's process talks to `sway` while it lives, as does every program it starts.
class CompositorOfTheTest {
public:
    explicit CompositorOfTheTest(const QString& socket)
        : m_previous(qgetenv("WAYLAND_DISPLAY"))
    {
        qputenv("WAYLAND_DISPLAY", socket.toLocal8Bit());
    }
    ~CompositorOfTheTest() { qputenv("WAYLAND_DISPLAY", m_previous); }

private:
    QByteArray m_previous;
};

class CompositorRestartWaylandTest : public DataDirTest { };

TEST_F(CompositorRestartWaylandTest, CopiesAreRecordedAgainOnceTheRestartedCompositorIsBack)
{
    if (!RunningLumra::available())
        GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
    if (!PrivateSway::available())
        GTEST_SKIP() << "no user lumra-test to run Sway as (scripts/test makes it)";
    PrivateSway sway;
    ASSERT_TRUE(sway.start()) << sway.log().toStdString();
    const QString socket = sway.socket();
    CompositorOfTheTest ours(socket);
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    ASSERT_TRUE(wlCopy("before the compositor went away"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return storedTexts(dataDir.supportFolder()).contains("before the compositor went away"); }, 20000))
        << lumra.output().toStdString();

    sway.kill();
    ASSERT_TRUE(sway.start()) << sway.log().toStdString();
    ASSERT_EQ(sway.socket(), socket);
    // Lumra said it started once more: it is connected to the new compositor.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumra.output().count("Lumra started") >= 2 || !lumra.running(); }, 60000)
                && lumra.running())
        << "exit code " << lumra.exitCode() << "\n" << lumra.output().toStdString();

    ASSERT_TRUE(wlCopy("after the compositor came back"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return storedTexts(dataDir.supportFolder()).contains("after the compositor came back"); }, 20000))
        << lumra.output().toStdString();
}

// Killing the started process outright ends Lumra too, as when Lumra was that process: no Lumra
// is left to hold the history and keep the next start out.
TEST_F(CompositorRestartWaylandTest, KillingTheStartedProcessOutrightEndsLumra)
{
    if (!RunningLumra::available())
        GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
    dataDir.skipOnboarding();
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start()) << lumra.output().toStdString();
    const qint64 pid = lumra.processId();
    lumra.killOutright();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
        },
        10000));
}

// Lumra started as the leader of a terminal's session (`exec lumra`) ends when the terminal hangs
// up: the kernel tells only the leader, which is the started process, not Lumra.
TEST_F(CompositorRestartWaylandTest, ATerminalItLeadsHangingUpEndsLumra)
{
    if (!RunningLumra::available())
        GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
    dataDir.skipOnboarding();
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const QByteArray side = ::ptsname(terminal);
    RunningLumra lumra;
    ASSERT_TRUE(lumra.start([side] {
        ::setsid();
        if (const int fd = ::open(side.constData(), O_RDWR); fd >= 0)
            ::ioctl(fd, TIOCSCTTY, 0);
    })) << lumra.output().toStdString();
    const qint64 pid = lumra.processId();
    ::close(terminal);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lumra.running(); }, 20000)) << lumra.output().toStdString();
    EXPECT_EQ(lumra.exitCode(), 0) << lumra.output().toStdString();
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
}

} // namespace
