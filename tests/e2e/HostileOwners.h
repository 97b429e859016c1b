#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include "DesktopTools.h"
#include "StoredTexts.h"
#include "TempDataDir.h"

#include <functional>

namespace lumra::test {

// Lumra as the user runs it, in a process of its own over the test's data folders.
class RunningLumra {
public:
    ~RunningLumra()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
    }

    static QString program() { return qEnvironmentVariable("LUMRA_APP"); }
    static bool available() { return !program().isEmpty() && QFile::exists(program()); }

    static QProcessEnvironment environment()
    {
        // Lumra chooses its platform itself, as when started from a desktop session.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The sanitizer holds freed memory back (256 MB by default) before reusing it: resident
        // size would count every buffer Lumra freed as still in use. A small hold keeps what the
        // memory bound below measures to what Lumra keeps.
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:quarantine_size_mb=16"));
        return environment;
    }

    // `inChild` runs in the new process before Lumra's program is loaded.
    bool start(std::function<void()> inChild = {})
    {
        if (inChild)
            m_process.setChildProcessModifier(inChild);
        m_process.setProcessEnvironment(environment());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program(), {});
        return m_process.waitForStarted() && waitForOutput(QStringLiteral("Lumra started"), 30000);
    }

    bool waitForOutput(const QString& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return output().contains(text) || !running(); }, timeoutMs)
            && output().contains(text);
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAll());
        return m_output;
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    int exitCode() const { return m_process.exitCode(); }
    qint64 processId() const { return lumraProcess(m_process.processId()); }
    // Ends it the way a crash or the OOM killer does, with no chance to clean up.
    void killOutright()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Starts `lumra` once more, which asks this one to open or close its popup, and returns
    // once that second process has asked.
    static bool askToTogglePopup(const QStringList& arguments = {})
    {
        QProcess second;
        second.setProcessEnvironment(environment());
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(program(), arguments);
        if (!second.waitForFinished(20000))
            return false;
        return second.readAll().contains("asked it to open or close its popup");
    }

    // Resident memory in bytes, 0 when it cannot be read.
    qint64 residentBytes() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
        return 0;
    }

private:
    QProcess m_process;
    QString m_output;
};

// Tests of the real program against other programs: skipped when it or xclip and xdotool are missing.
class RunningLumraTest : public DataDirTest {
protected:
    void SetUp() override
    {
        if (!RunningLumra::available())
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
        for (const char* tool : {"xclip", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
    }

    static bool popupShown() { return !xdotool({"search", "--onlyvisible", "--name", "^Lumra$"}).isEmpty(); }
};

// A misbehaving program of our own, run until the test ends.
class HostileProgram {
public:
    ~HostileProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    // True once it says it is ready.
    bool start(const QString& program, const QStringList& arguments)
    {
        m_process.start(program, arguments);
        return m_process.waitForStarted() && waitForOutput("READY", 30000);
    }

    bool waitForOutput(const QByteArray& text, int timeoutMs)
    {
        return QTest::qWaitFor(
            [&] {
                m_output += m_process.readAllStandardOutput();
                return m_output.contains(text);
            },
            timeoutMs);
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    // What it printed so far.
    const QByteArray& output() const { return m_output; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// Milliseconds until `shown` holds, -1 when it does not within `timeoutMs`.
inline qint64 millisecondsUntil(const std::function<bool()>& shown, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    if (!QTest::qWaitFor(shown, timeoutMs))
        return -1;
    return clock.elapsed();
}

// How long the popup takes to open through a second lumra, and close again, with no owner to
// hold it: what a busy machine costs every opening, measured before the owner comes.
inline qint64 ordinaryPopupOpening(const std::function<bool()>& popupShown)
{
    if (!RunningLumra::askToTogglePopup())
        return -1;
    const qint64 opened = millisecondsUntil(popupShown, 20000);
    if (!RunningLumra::askToTogglePopup() || !QTest::qWaitFor([&] { return !popupShown(); }, 20000))
        return -1;
    return opened;
}

// While a hostile owner holds the clipboard: the popup opens through a second lumra within
// `popupBudgetMs`, a plain copy made next (`copyNext` with `nextText`) is stored, and memory grows
// by less than 150 MB over `residentBefore`.
inline void expectHostileOwnerHoldsNothing(RunningLumra& lumra, const QString& supportFolder, qint64 residentBefore,
                                           const std::function<bool()>& popupShown,
                                           const std::function<bool(const QByteArray&)>& copyNext,
                                           int popupBudgetMs = 1000)
{
    ASSERT_FALSE(popupShown());
    ASSERT_TRUE(RunningLumra::askToTogglePopup());
    const qint64 opened = millisecondsUntil(popupShown, 20000);
    EXPECT_GE(opened, 0) << lumra.output().toStdString();
    EXPECT_LT(opened, popupBudgetMs) << "the popup waited for the clipboard owner";

    const QString nextText = QStringLiteral("a plain copy after the hostile one");
    ASSERT_TRUE(copyNext(nextText.toUtf8()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedTexts(supportFolder).contains(nextText); }, 10000))
        << lumra.output().toStdString();
    EXPECT_LT(lumra.residentBytes() - residentBefore, qint64(150) * 1024 * 1024) << "memory grew with the offer";
    EXPECT_TRUE(lumra.running());
}

} // namespace lumra::test
