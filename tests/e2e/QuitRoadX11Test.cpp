// Lumra as its own process ends soon after it is asked to, even with threads of its own stuck on
// files that never answer (a network mount whose server went away): a logout waits for no one.
#include "TempDataDir.h"
#include "TestImages.h"
#include "Xclip.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

namespace {

constexpr int startTimeoutMs = 20000;

class QuitRoadX11Test : public lumra::test::DataDirTest {
protected:
    void SetUp() override
    {
        m_app = qEnvironmentVariable("LUMRA_APP");
        if (m_app.isEmpty() || !QFile::exists(m_app))
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            GTEST_SKIP() << "xclip is not installed";
        m_shim = QCoreApplication::applicationDirPath() + QStringLiteral("/liblumra_stall_shim.so");
        ASSERT_TRUE(QFile::exists(m_shim)) << m_shim.toStdString();
    }
    void TearDown() override
    {
        if (m_lumra.state() != QProcess::NotRunning) {
            m_lumra.kill();
            m_lumra.waitForFinished(5000);
        }
    }

    QString stallLog() const { return dataDir.root() + QStringLiteral("/stalled.log"); }
    QString share() const { return dataDir.root() + QStringLiteral("/stalled-share"); }

    void startLumra()
    {
        dataDir.skipOnboarding();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The stand-in for the stalled mount is loaded first, ahead of the sanitizer's runtime.
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:verify_asan_link_order=0"));
        environment.insert(QStringLiteral("LD_PRELOAD"), m_shim);
        environment.insert(QStringLiteral("LUMRA_STALL_PATHS"), QStringLiteral("/stalled-share/"));
        environment.insert(QStringLiteral("LUMRA_STALL_LOG"), stallLog());
        m_lumra.setProcessEnvironment(environment);
        m_lumra.setProcessChannelMode(QProcess::MergedChannels);
        m_lumra.start(m_app, {});
        ASSERT_TRUE(m_lumra.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return output().contains("Lumra started") || m_lumra.state() == QProcess::NotRunning; },
                                    startTimeoutMs));
        ASSERT_TRUE(output().contains("Lumra started")) << output().toStdString();
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_lumra.readAll());
        return m_output;
    }

    QByteArray stalled() const
    {
        QFile log(stallLog());
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    QString m_app;
    QString m_shim;
    QProcess m_lumra;
    QString m_output;
};

TEST_F(QuitRoadX11Test, SigtermEndsLumraWithinTwoSecondsWhileWorkersAreStuck)
{
    ASSERT_TRUE(QDir().mkpath(share()));
    QFile picture(share() + QStringLiteral("/photo.png"));
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.write(lumra::test::solidPng(QSize(64, 64), Qt::blue));
    picture.close();
    QFile notes(share() + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("minutes\n");
    notes.close();

    startLumra();
    const QByteArray urls = QUrl::fromLocalFile(picture.fileName()).toEncoded() + "\r\n"
        + QUrl::fromLocalFile(notes.fileName()).toEncoded() + "\r\n";
    ASSERT_TRUE(lumra::test::xclipCopy(urls, QStringLiteral("text/uri-list")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stalled().contains("worker"); }, startTimeoutMs))
        << "no thread of Lumra's reached the stalled files\n" << output().toStdString();
    EXPECT_FALSE(stalled().contains("main")) << "the window's thread waits for a stalled file";

    QElapsedTimer quitting;
    quitting.start();
    m_lumra.terminate();
    EXPECT_TRUE(m_lumra.waitForFinished(2000)) << "still running two seconds after SIGTERM\n" << output().toStdString();
    EXPECT_LT(quitting.elapsed(), 2000);
    EXPECT_EQ(m_lumra.exitStatus(), QProcess::NormalExit);
}

} // namespace
