#include "platform/defaults/UserDefaults.h"

#include "model/Diagnostics.h"

#include "support/TempDataDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lumra::test {
namespace {

class SettingsAtQuitTest : public DataDirTest {
protected:
    void SetUp() override
    {
        Diagnostics& log = Diagnostics::shared();
        QDir().mkpath(QFileInfo(log.logPath()).absolutePath());
        log.setEnabled(true);
        log.writeDiagnosticsLog();
    }
    void TearDown() override
    {
        Diagnostics::shared().writeDiagnosticsLog();
        Diagnostics::shared().setEnabled(false);
    }
    static QString logText()
    {
        Diagnostics::shared().flush();
        return Diagnostics::shared().readDiagnosticsLog().value_or(QString());
    }
    static void quit() { QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection); }

    ManualClock clock;
};

TEST_F(SettingsAtQuitTest, ALastWriteThatFailsIsLogged)
{
    // The settings folder cannot be made: a file is in its place.
    const QString blocker = dataDir.root() + QStringLiteral("/blocked");
    {
        QFile f(blocker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    UserDefaults defaults(blocker + QStringLiteral("/settings.json"), &clock);
    defaults.set(QStringLiteral("maxItems"), 500);
    quit();
    EXPECT_TRUE(logText().contains("[ERROR] [Settings] Could not create the settings folder")) << logText().toStdString();
}

TEST_F(SettingsAtQuitTest, ALastWriteThatSucceedsLogsNothing)
{
    const QString path = dataDir.root() + QStringLiteral("/settings/settings.json");
    UserDefaults defaults(path, &clock);
    defaults.set(QStringLiteral("maxItems"), 500);
    quit();
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_FALSE(logText().contains(dataDir.root()));
}

} // namespace
} // namespace lumra::test
