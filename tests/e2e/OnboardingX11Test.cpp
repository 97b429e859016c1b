// A new user's first start: Lumra runs as its own process on a fresh home, the walkthrough opens
// by itself, Return leads through every page, and the tray's "Continue Onboarding" brings an
// unfinished walkthrough back at the page it was left on.
#include "DesktopTools.h"
#include "TempDataDir.h"
#include "WindowManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

constexpr int waitMs = 20000;

using lumra::test::xdotool;

class OnboardingX11Test : public lumra::test::DataDirTest {
protected:
    static void SetUpTestSuite()
    {
        // Closing and focusing windows is the window manager's business.
        if (!lumra::test::WindowManager::installed())
            return;
        s_windowManager = new lumra::test::WindowManager;
        s_windowManager->start();
    }
    static void TearDownTestSuite()
    {
        delete s_windowManager;
        s_windowManager = nullptr;
    }

    static QProcess* startHelper(const QString& program, const QStringList& arguments)
    {
        auto* process = new QProcess;
        process->start(program, arguments);
        process->waitForStarted();
        return process;
    }
    static void stopHelper(QProcess*& process)
    {
        if (!process)
            return;
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        delete process;
        process = nullptr;
    }

    void SetUp() override
    {
        m_app = qEnvironmentVariable("LUMRA_APP");
        if (m_app.isEmpty() || !QFile::exists(m_app))
            GTEST_SKIP() << "LUMRA_APP does not name the lumra program";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
    }

    void TearDown() override
    {
        stopLumra();
        stopHelper(m_tray);
    }

    void startLumra()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        m_output.clear();
        m_lumra.setProcessEnvironment(environment);
        m_lumra.setProcessChannelMode(QProcess::MergedChannels);
        m_lumra.start(m_app, {});
        ASSERT_TRUE(m_lumra.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            m_output += QString::fromUtf8(m_lumra.readAll());
            return m_output.contains(QStringLiteral("Lumra started")) || m_lumra.state() == QProcess::NotRunning;
        }, waitMs)) << m_output.toStdString();
    }

    void stopLumra()
    {
        if (m_lumra.state() == QProcess::NotRunning)
            return;
        m_lumra.terminate();
        if (!m_lumra.waitForFinished(10000))
            m_lumra.kill();
    }

    // The walkthrough's window; empty while none shows.
    static QString walkthroughWindow()
    {
        return xdotool({"search", "--onlyvisible", "--name", "^Welcome to Lumra$"}).section(QLatin1Char('\n'), 0, 0);
    }
    static QRect windowGeometry(const QString& window)
    {
        QRect geometry;
        for (const QString& line : xdotool({"getwindowgeometry", "--shell", window}).split(QLatin1Char('\n'))) {
            const QString value = line.section(QLatin1Char('='), 1);
            if (line.startsWith(QLatin1String("X=")))
                geometry.moveLeft(value.toInt());
            if (line.startsWith(QLatin1String("Y=")))
                geometry.moveTop(value.toInt());
            if (line.startsWith(QLatin1String("WIDTH=")))
                geometry.setWidth(value.toInt());
            if (line.startsWith(QLatin1String("HEIGHT=")))
                geometry.setHeight(value.toInt());
        }
        return geometry;
    }
    static QSize windowSize(const QString& window) { return windowGeometry(window).size(); }
    QJsonObject settings() const
    {
        QFile file(dataDir.settingsFile());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    // Waits until the saved page is `index` (the settings file is written a moment after a change).
    bool savedPageIs(int index) const
    {
        return QTest::qWaitFor([&] { return settings().value(QStringLiteral("onboardingPage")).toInt(-1) == index; }, waitMs);
    }
    static void pressReturnIn(const QString& window)
    {
        xdotool({"windowactivate", "--sync", window});
        xdotool({"key", "--clearmodifiers", "Return"});
    }
    static void saveScreenshot(const QString& name)
    {
        const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
        QDir().mkpath(folder);
        QGuiApplication::primaryScreen()->grabWindow(0).save(folder + QLatin1Char('/') + name);
    }

    static inline lumra::test::WindowManager* s_windowManager = nullptr;
    QProcess* m_tray = nullptr;
    QString m_app;
    QProcess m_lumra;
    QString m_output;
};

TEST_F(OnboardingX11Test, AFreshHomeIsWalkedThroughEveryPageOnce)
{
    startLumra();
    QString window;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(window = walkthroughWindow()).isEmpty(); }, waitMs)) << m_output.toStdString();
    EXPECT_EQ(windowSize(window), QSize(500, 640));
    saveScreenshot(QStringLiteral("e2e-onboarding-welcome.png"));

    // Keys reach other applications here, so there is no permission page: seven pages.
    const QList<QSize> sizes {{500, 640}, {500, 640}, {500, 640}, {700, 640}, {1020, 768}};
    for (int page = 1; page <= 5; ++page) {
        pressReturnIn(window);
        ASSERT_TRUE(savedPageIs(page)) << "page " << page;
        ASSERT_TRUE(QTest::qWaitFor([&] { return windowSize(window) == sizes[page - 1]; }, waitMs))
            << "page " << page << " is " << windowSize(window).width() << "x" << windowSize(window).height();
    }
    saveScreenshot(QStringLiteral("e2e-onboarding-tips.png"));
    // Return shows the next tip until all ten were seen, then goes on.
    for (int tip = 1; tip < 10; ++tip)
        pressReturnIn(window);
    pressReturnIn(window);
    ASSERT_TRUE(savedPageIs(6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return windowSize(window) == QSize(500, 640); }, waitMs));
    saveScreenshot(QStringLiteral("e2e-onboarding-finish.png"));
    pressReturnIn(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return walkthroughWindow().isEmpty(); }, waitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings().value(QStringLiteral("hasCompletedOnboarding")).toBool(); }, waitMs));
    EXPECT_FALSE(settings().contains(QStringLiteral("onboardingPage")));

    // The next start opens no walkthrough.
    stopLumra();
    startLumra();
    QTest::qWait(3000);
    EXPECT_TRUE(walkthroughWindow().isEmpty());
}

TEST_F(OnboardingX11Test, TheTrayContinuesAnUnfinishedWalkthroughAtItsPage)
{
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
        GTEST_SKIP() << "trayer is not installed";
    // A system tray for Lumra's icon.
    m_tray = startHelper(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request",
                                                          "--height", "32", "--SetDockType", "true"});
    const auto trayArea = [] {
        return windowGeometry(xdotool({"search", "--onlyvisible", "--class", "trayer"}).section(QLatin1Char('\n'), 0, 0));
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return trayArea().isValid(); }, waitMs));
    const int emptyTrayWidth = trayArea().width();
    startLumra();
    QString window;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(window = walkthroughWindow()).isEmpty(); }, waitMs));
    for (int page = 1; page <= 4; ++page) {
        pressReturnIn(window);
        ASSERT_TRUE(savedPageIs(page));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return windowSize(window) == QSize(700, 640); }, waitMs));
    // Closed unfinished, through the window manager.
    xdotool({"windowactivate", "--sync", window});
    xdotool({"key", "--clearmodifiers", "alt+F4"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return walkthroughWindow().isEmpty(); }, waitMs));

    // The tray menu's sixth entry is "Continue Onboarding" until the walkthrough is finished.
    const auto openTrayEntry = [&](int entry) {
        // The tray grows by Lumra's icon once it holds it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return trayArea().width() > emptyTrayWidth; }, waitMs)) << "no icon in the tray";
        const QPoint icon = trayArea().center();
        xdotool({"mousemove", QString::number(icon.x()), QString::number(icon.y())});
        xdotool({"click", "3"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumra::test::popupShownBy(m_lumra.processId()); }, waitMs)) << "no tray menu";
        for (int i = 0; i < entry; ++i)
            xdotool({"key", "Down"});
        xdotool({"key", "Return"});
    };
    openTrayEntry(6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(window = walkthroughWindow()).isEmpty(); }, waitMs)) << "the tray brings it back";
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowSize(window) == QSize(700, 640); }, waitMs)) << "at the layout page";
    saveScreenshot(QStringLiteral("e2e-onboarding-continued.png"));

    // Finished, the sixth entry is the next one: "Keep Window Open".
    pressReturnIn(window);
    ASSERT_TRUE(savedPageIs(5));
    for (int tip = 1; tip <= 10; ++tip)
        pressReturnIn(window);
    ASSERT_TRUE(savedPageIs(6));
    pressReturnIn(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings().value(QStringLiteral("hasCompletedOnboarding")).toBool(); }, waitMs));
    EXPECT_FALSE(settings().value(QStringLiteral("keepWindowOpen")).toBool());
    openTrayEntry(6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return settings().value(QStringLiteral("keepWindowOpen")).toBool(); }, waitMs));
    QTest::qWait(500);
    EXPECT_TRUE(walkthroughWindow().isEmpty());
}

} // namespace
