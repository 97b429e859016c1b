#include "app/QuitDeadline.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

namespace lumra {
namespace {

const char* const cutShortVariable = "LUMRA_QUIT_DEADLINE_CHILD";
const char* const loadedVariable = "LUMRA_QUIT_DEADLINE_LOADED";
const char* const leftVariable = "LUMRA_QUIT_DEADLINE_LEFT";

QProcess::ExitStatus runChild(const char* variable, const char* filter, QProcess& child)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variable, QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    lumra::test::startThisProgram(child, {QStringLiteral("--gtest_filter=") + QLatin1String(filter)});
    EXPECT_TRUE(child.waitForFinished(30000));
    return child.exitStatus();
}

// Child mode only: a process whose quitting never ends by itself.
TEST(QuitDeadlineProcess, HangsAfterQuitting)
{
    if (!qEnvironmentVariableIsSet(cutShortVariable))
        GTEST_SKIP() << "runs as the child of QuitDeadlineTest";
    QuitDeadline::install(std::chrono::milliseconds(10));
    QuitDeadline::begin();
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

// A machine so loaded that every thread of the quit has waited for a CPU all along, until the test
// takes the load away: from then on all time counts.
class LoadedMachine final : public QuitDeadline::Watch {
public:
    static inline std::atomic_bool loaded = true;
    void begin() override { m_start = std::chrono::steady_clock::now(); }
    std::chrono::nanoseconds elapsed() const override { return std::chrono::steady_clock::now() - m_start; }
    std::chrono::nanoseconds waitedForCpu() const override { return loaded ? elapsed() : std::chrono::nanoseconds(); }

private:
    std::chrono::steady_clock::time_point m_start;
};

// Child mode only: twice the bound passes after quitting began, all of it the machine's; then the
// teardown ends, and the exit lingers past the bound with every moment counted.
TEST(QuitDeadlineProcess, QuitsOnALoadedMachine)
{
    if (!qEnvironmentVariableIsSet(loadedVariable))
        GTEST_SKIP() << "runs as the child of QuitDeadlineTest";
    constexpr std::chrono::milliseconds bound(300);
    QuitDeadline::install(bound, std::make_unique<LoadedMachine>());
    QuitDeadline::begin();
    std::this_thread::sleep_for(2 * bound);
    QuitDeadline::end();
    LoadedMachine::loaded = false;
    std::this_thread::sleep_for(3 * bound);
}

// A quit 700 ms in, 300 of them spent waiting for a CPU.
class ScriptedWatch final : public QuitDeadline::Watch {
public:
    void begin() override {}
    std::chrono::nanoseconds elapsed() const override { return std::chrono::milliseconds(700); }
    std::chrono::nanoseconds waitedForCpu() const override { return std::chrono::milliseconds(300); }
};

// Child mode only: what is left of the bound, before and during a quit.
TEST(QuitDeadlineProcess, TellsWhatIsLeft)
{
    if (!qEnvironmentVariableIsSet(leftVariable))
        GTEST_SKIP() << "runs as the child of QuitDeadlineTest";
    using std::chrono::milliseconds;
    QuitDeadline::install(milliseconds(1000), std::make_unique<ScriptedWatch>());
    EXPECT_EQ(QuitDeadline::remaining(), milliseconds(1000));
    QuitDeadline::begin();
    // The guard takes the watch up on its own thread.
    for (int i = 0; i < 10000 && QuitDeadline::remaining() == milliseconds(1000); ++i)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(QuitDeadline::remaining(), milliseconds(600));
    QuitDeadline::end();
}

// A process the deadline ends did not finish its work: its status says so to whoever started it.
TEST(QuitDeadlineTest, AQuitCutShortEndsWithAFailureStatus)
{
    QProcess child;
    EXPECT_EQ(runChild(cutShortVariable, "QuitDeadlineProcess.HangsAfterQuitting", child), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), QuitDeadline::cutShortStatus);
    EXPECT_NE(child.exitCode(), 0);
    EXPECT_TRUE(child.readAllStandardError().contains("leaving without waiting for its workers"));
}

// Time spent waiting for a CPU is the machine's, and the exit after Lumra's teardown (a sanitizer's
// leak check) waits for no worker: neither cuts a quit short.
TEST(QuitDeadlineTest, ALoadedMachineAndTheExitAfterTeardownDoNotCount)
{
    QProcess child;
    EXPECT_EQ(runChild(loadedVariable, "QuitDeadlineProcess.QuitsOnALoadedMachine", child), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().constData();
}

// Lumra's waits at quit are bounded by what the deadline has left, the machine's time not counted,
// so that together they end before it.
TEST(QuitDeadlineTest, WaitsAtQuitAreToldWhatIsLeftOfTheBound)
{
    QProcess child;
    EXPECT_EQ(runChild(leftVariable, "QuitDeadlineProcess.TellsWhatIsLeft", child), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().constData();
}

// The machine's time a thread spent waiting for a CPU stays uncounted once the thread has ended, as
// the lanes' threads end during the quit: else the time counted would leap ahead of the bound.
TEST(QuitDeadlineTest, AnEndedThreadsWaitForACpuStaysUncounted)
{
    if (!QFile::exists(QStringLiteral("/proc/self/task/%1/schedstat").arg(::gettid())))
        GTEST_SKIP() << "this kernel keeps no scheduler statistics";
    const std::unique_ptr<QuitDeadline::Watch> watch = QuitDeadline::systemWatch();
    watch->begin();
    // Two spinning threads on one CPU: each waits while the other runs.
    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &allowed))
        ++cpu;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    std::atomic_bool stop = false;
    const auto spin = [&] {
        ::pthread_setaffinity_np(::pthread_self(), sizeof one, &one);
        while (!stop.load(std::memory_order_relaxed)) {
        }
    };
    std::thread first(spin);
    std::thread second(spin);
    const bool waited = QTest::qWaitFor([&] { return watch->waitedForCpu() >= std::chrono::milliseconds(100); }, 60000);
    stop = true;
    first.join();
    second.join();
    ASSERT_TRUE(waited);
    EXPECT_GE(watch->waitedForCpu(), std::chrono::milliseconds(100));
}

} // namespace
} // namespace lumra
