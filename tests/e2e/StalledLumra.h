#pragma once

#include "TempDataDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace lumra::test {

// Lumra as its own process with the stall shim preloaded (see StallShim.c): opening or looking up
// a path that contains the text given at launch does not return until serverBack() exists.
class StalledLumraTest : public DataDirTest {
protected:
    static constexpr int startTimeoutMs = 20000;

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
    // Once this file exists the stalled calls go on, as when the server comes back.
    QString serverBack() const { return dataDir.root() + QStringLiteral("/server-back"); }

    // Launched and started, stalling on `stalledPaths`.
    void startLumraStalling(const QString& stalledPaths)
    {
        launchLumra(stalledPaths);
        ASSERT_TRUE(QTest::qWaitFor([&] { return output().contains("Lumra started") || m_lumra.state() == QProcess::NotRunning; },
                                    startTimeoutMs));
        ASSERT_TRUE(output().contains("Lumra started")) << output().toStdString();
    }

    // Without waiting for it to start.
    void launchLumra(const QString& stalledPaths)
    {
        dataDir.skipOnboarding();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The stand-in for the stalled mount is loaded first, ahead of the sanitizer's runtime.
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:verify_asan_link_order=0"));
        environment.insert(QStringLiteral("LD_PRELOAD"), m_shim);
        environment.insert(QStringLiteral("LUMRA_STALL_PATHS"), stalledPaths);
        environment.insert(QStringLiteral("LUMRA_STALL_LOG"), stallLog());
        environment.insert(QStringLiteral("LUMRA_STALL_UNTIL"), serverBack());
        m_output.clear();
        m_lumra.setProcessEnvironment(environment);
        m_lumra.setProcessChannelMode(QProcess::MergedChannels);
        m_lumra.start(m_app, {});
        ASSERT_TRUE(m_lumra.waitForStarted());
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

} // namespace lumra::test
