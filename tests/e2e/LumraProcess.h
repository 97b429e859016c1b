#pragma once

#include "TempDataDir.h"
#include "WindowManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace lumra::test {

// Lumra as its own process on the test's display, with its data in the test's folders and a
// window manager running as on a desktop. Skips when the program or the desktop tools are missing.
class LumraProcessTest : public DataDirTest {
protected:
    static constexpr int startTimeoutMs = 20000;

    static void SetUpTestSuite()
    {
        // Focus and activation are the window manager's business; run one as a desktop would.
        if (WindowManager::installed()) {
            s_windowManager = new WindowManager;
            s_windowManager->start();
        }
    }
    static void TearDownTestSuite()
    {
        delete s_windowManager;
        s_windowManager = nullptr;
    }

    void SetUp() override
    {
        m_app = qEnvironmentVariable("LUMRA_APP");
        if (m_app.isEmpty() || !QFile::exists(m_app))
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
        for (const char* tool : { "xclip", "xdotool" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
    }

    void TearDown() override
    {
        if (m_lumra.state() != QProcess::NotRunning) {
            m_lumra.terminate();
            if (!m_lumra.waitForFinished(5000)) {
                m_lumra.kill();
                m_lumra.waitForFinished(5000);
            }
        }
    }

    void startLumra()
    {
        dataDir.skipOnboarding();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        m_lumra.setProcessEnvironment(environment);
        m_lumra.setProcessChannelMode(QProcess::MergedChannels);
        m_lumra.start(m_app, {});
        ASSERT_TRUE(m_lumra.waitForStarted());
        ASSERT_TRUE(waitForOutput(QStringLiteral("Lumra started"))) << output().toStdString();
    }

    bool waitForOutput(const QString& text)
    {
        return QTest::qWaitFor(
                   [&] {
                       m_output += QString::fromUtf8(m_lumra.readAll());
                       return m_output.contains(text) || m_lumra.state() == QProcess::NotRunning;
                   },
                   startTimeoutMs)
            && m_output.contains(text);
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_lumra.readAll());
        return m_output;
    }

    static QImage screen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

    static void saveScreenshot(const QString& name, const QImage& shot = screen())
    {
        const QString folder
            = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
        QDir().mkpath(folder);
        shot.save(folder + QLatin1Char('/') + name);
    }

    static inline WindowManager* s_windowManager = nullptr;
    QString m_app;
    QProcess m_lumra;
    QString m_output;
};

} // namespace lumra::test
