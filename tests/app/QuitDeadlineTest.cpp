#include "app/QuitDeadline.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <thread>
#include <vector>

namespace lumra {
namespace {

const char* const cutShortVariable = "LUMRA_QUIT_DEADLINE_CHILD";
const char* const loadedVariable = "LUMRA_QUIT_DEADLINE_LOADED";

QProcess::ExitStatus runChild(const char* variable, const char* filter, QProcess& child)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variable, QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + QLatin1String(filter)});
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

// Child mode only: 100 ms of the CPU's work after quitting began, on a CPU shared with four busy
// processes, then the teardown ends and the exit lingers past the bound.
TEST(QuitDeadlineProcess, QuitsOnALoadedMachine)
{
    if (!qEnvironmentVariableIsSet(loadedVariable))
        GTEST_SKIP() << "runs as the child of QuitDeadlineTest";
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    std::vector<pid_t> busy;
    for (int i = 0; i < 4; ++i) {
        if (const pid_t pid = fork(); pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // also when the deadline ends the child first
            if (getppid() == 1)
                _exit(0);
            for (;;) {
            }
        } else {
            busy.push_back(pid);
        }
    }
    QuitDeadline::install(std::chrono::milliseconds(300));
    QuitDeadline::begin();
    timespec start{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (timespec now = start; (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 100;)
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    QuitDeadline::end();
    for (const pid_t pid : busy) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
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

} // namespace
} // namespace lumra
