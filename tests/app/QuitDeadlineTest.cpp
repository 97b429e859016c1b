#include "app/QuitDeadline.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <thread>

namespace lumra {
namespace {

const char* const cutShortVariable = "LUMRA_QUIT_DEADLINE_CHILD";

// Child mode only: a process whose quitting never ends by itself.
TEST(QuitDeadlineProcess, HangsAfterQuitting)
{
    if (!qEnvironmentVariableIsSet(cutShortVariable))
        GTEST_SKIP() << "runs as the child of QuitDeadlineTest";
    QuitDeadline::install(std::chrono::milliseconds(10));
    QuitDeadline::begin();
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

// A process the deadline ends did not finish its work: its status says so to whoever started it.
TEST(QuitDeadlineTest, AQuitCutShortEndsWithAFailureStatus)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(cutShortVariable, QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=QuitDeadlineProcess.*")});
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), QuitDeadline::cutShortStatus);
    EXPECT_NE(child.exitCode(), 0);
    EXPECT_TRUE(child.readAllStandardError().contains("leaving without waiting for its workers"));
}

} // namespace
} // namespace lumra
