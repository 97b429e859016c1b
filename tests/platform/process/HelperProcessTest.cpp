// Side programs run with Lumra's bounds: they live as long as Lumra, not as the thread that asked
// for them, end with Lumra however it ends, and are stopped when an answer or their memory breaks
// a bound.
#include "platform/core/BackgroundWork.h"
#include "platform/image/ImageDecoder.h"
#include "platform/process/HelperProcess.h"
#include "platform/richtext/HtmlConverter.h"

#include "../image/ImageFixtures.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>
#include <unistd.h>

using namespace lumra;
using process::HelperProcess;

namespace {

const char* const childVariable = "LUMRA_HELPER_PROGRAM_CHILD";

// Gone, or dead and waiting to be reaped by whoever took it up.
bool processGone(pid_t process)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype state = line.lastIndexOf(')') + 2;
    return state >= 2 && state < line.size() && (line[state] == 'Z' || line[state] == 'X');
}

QByteArray utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
}

HelperProcess::Limits converterLimits(qint64 maxAnswerBytes = RichText::HtmlConverter::maxAnswerBytes)
{
    return {.readyMark = RichText::HtmlConverter::readyMark, .maxAnswerBytes = maxAnswerBytes, .mayAnswerNothing = true};
}

} // namespace

TEST(HelperProgramLife, OutlivesTheWorkerThreadThatStartedIt)
{
    // Workers come and go (pools let idle threads expire); their program is kept for the next request.
    image::ImageDecoder decoder(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1);
    const QByteArray png = test::encode(test::markedImage(8, 8), "png");
    QList<pid_t> started;
    pid_t worker = 0;
    std::thread([&] {
        worker = ::gettid();
        EXPECT_TRUE(decoder.png(png, {}, 0).ok());
        started = decoder.runningProcesses();
    }).join();
    ASSERT_EQ(started.size(), 1);
    // The worker has ended all the way, its children told.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(QStringLiteral("/proc/self/task/%1").arg(worker)); }, 10000));
    EXPECT_TRUE(decoder.png(png, {}, 0).ok());
    EXPECT_EQ(decoder.runningProcesses(), started) << "the program ended with the worker thread";
}

TEST(HelperProgramLife, NoneIsStartedOnceTheBackgroundWorkIsGone)
{
    // A worker left running at exit may still ask for a program: it is refused, not a crash.
    BackgroundWork* const work = BackgroundWork::currentIfAny();
    ASSERT_NE(work, nullptr);
    image::ImageDecoder decoder(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1);
    BackgroundWork::setCurrent(nullptr);
    const Result<QByteArray> decoded = decoder.png(test::encode(test::markedImage(8, 8), "png"), {}, 0);
    BackgroundWork::setCurrent(work);
    EXPECT_FALSE(decoded.ok());
    EXPECT_TRUE(decoder.runningProcesses().isEmpty());
}

// Child mode only: Lumra's stand-in, which has a program at work on a picture, tells the program's
// id and waits to be killed.
TEST(HelperProgramLifeProcess, HasAProgramAtWorkAndWaits)
{
    if (!qEnvironmentVariableIsSet(childVariable))
        GTEST_SKIP() << "runs as the child of HelperProgramLife";
    const QString gate = qEnvironmentVariable(childVariable);
    auto* decoder = new image::ImageDecoder(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), 1, std::chrono::seconds(5),
                                            {QStringLiteral("hold-svg"), gate});
    // Started from a worker thread, as in Lumra; one busy with a picture reads nothing, so only
    // the kernel can tell it Lumra is gone.
    std::thread([=] { (void)decoder->png("<svg/>", {}, 0); }).detach();
    QString held;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const QStringList found = QDir(QFileInfo(gate).path()).entryList({QFileInfo(gate).fileName() + QStringLiteral("-held-*")});
        held = found.value(0);
        return !held.isEmpty();
    }, 30000));
    std::printf("program %s\n", qPrintable(held.section(QLatin1Char('-'), -1)));
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(120));
}

TEST(HelperProgramLife, EndsWhenLumraIsKilled)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess lumra;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childVariable), folder.filePath(QStringLiteral("gate")));
    lumra.setProcessEnvironment(environment);
    lumra::test::startThisProgram(lumra, {QStringLiteral("--gtest_filter=HelperProgramLifeProcess.*")});
    QByteArray told;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        lumra.waitForReadyRead(100);
        told += lumra.readAllStandardOutput();
        return told.contains("program ") && told.indexOf('\n', told.indexOf("program ")) > 0;
    }, 60000)) << told.toStdString();
    const qsizetype at = told.indexOf("program ") + 8;
    const pid_t program = pid_t(told.mid(at, told.indexOf('\n', at) - at).toInt());
    ASSERT_GT(program, 0);
    ASSERT_FALSE(processGone(program));

    lumra.kill(); // SIGKILL: Lumra has no say
    ASSERT_TRUE(lumra.waitForFinished(10000));
    const bool gone = QTest::qWaitFor([&] { return processGone(program); }, 10000);
    EXPECT_TRUE(gone) << "the program outlived Lumra";
    if (!gone)
        ::kill(program, SIGKILL);
}

TEST(HelperProgramAnswers, OneLargerThanTheCapIsRefusedAndItsProgramStopped)
{
    // The stand-in answers "{\rtf1 " + the request + "}": 8 bytes around it.
    constexpr qint64 cap = 1000;
    HelperProcess program(QStringLiteral(LUMRA_STAND_IN_HTML_CONVERTER), {}, converterLimits(cap));
    QByteArray answer;
    ASSERT_EQ(program.exchange(utf16(QString(cap - 8, QLatin1Char('x'))), std::chrono::seconds(5), &answer),
              HelperProcess::Outcome::answered);
    EXPECT_EQ(answer.size(), cap);
    const pid_t kept = program.runningProcess();
    EXPECT_EQ(program.exchange(utf16(QString(cap - 7, QLatin1Char('x'))), std::chrono::seconds(5), &answer),
              HelperProcess::Outcome::lost);
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_EQ(program.runningProcess(), 0);
    EXPECT_TRUE(processGone(kept));
}

TEST(HelperProgramMemory, OneThatHoldsMoreThanItsCapIsStoppedWhileItWaits)
{
    // The stand-in takes 256 MB and then waits without using the CPU: only its memory gives it away.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString gate = folder.filePath(QStringLiteral("gate"));
    HelperProcess::Limits limits {.readyMark = image::ImageDecoder::readyMark, .maxAnswerBytes = 1 << 20,
                                  .wallClockCap = std::chrono::minutes(5), .maxResidentBytes = qint64(128) << 20};
    HelperProcess program(QStringLiteral(LUMRA_STAND_IN_IMAGE_DECODER), {QStringLiteral("hoard"), gate}, limits);
    std::atomic<bool> done = false;
    HelperProcess::Outcome outcome = HelperProcess::Outcome::answered;
    std::thread asking([&] {
        QByteArray answer;
        outcome = program.exchange(QByteArray(64, 'x'), std::chrono::seconds(60), &answer);
        done = true;
    });
    const bool stopped = QTest::qWaitFor([&] { return done.load(); }, 60000);
    QFile(gate).open(QIODevice::WriteOnly);
    asking.join();
    EXPECT_TRUE(stopped) << "the program kept its memory until it answered";
    EXPECT_EQ(outcome, HelperProcess::Outcome::pastDeadline);
    EXPECT_EQ(program.runningProcess(), 0);
}
