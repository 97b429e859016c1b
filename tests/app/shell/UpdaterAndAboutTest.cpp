#include "app/AboutWindow.h"
#include "ui/shell/Prompt.h"
#include "app/UpdaterController.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>

namespace lumra {
namespace {

TEST(UpdaterControllerTest, CheckTellsTheUserUpdatesComeFromThePackageManager)
{
    ScriptedPromptService prompts;
    UpdaterController updater(&prompts);
    EXPECT_TRUE(updater.canCheckForUpdates());
    updater.checkForUpdates();
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_EQ(prompts.shown[0].title, "Check for Updates");
    EXPECT_TRUE(prompts.shown[0].text.contains("package manager"));
    EXPECT_EQ(prompts.shown[0].buttons, QStringList{"OK"});
}

TEST(AboutWindowTest, NameAndVersionFallBackWhenTheBuildSaysNothing)
{
    EXPECT_EQ(AboutWindow::appDisplayName(""), "Lumra");
    EXPECT_EQ(AboutWindow::appDisplayName("Lumra Beta"), "Lumra Beta");
    EXPECT_EQ(AboutWindow::appVersionString("", ""), "Version 1.0 (1)");
    EXPECT_EQ(AboutWindow::appVersionString("2.4.1", "318"), "Version 2.4.1 (318)");
}

TEST(AboutWindowTest, FloatsAboveOtherWindowsAndShowsTheVersion)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("0.3.0"));
    AboutWindow about;
    about.present();
    EXPECT_TRUE(about.isVisible());
    EXPECT_TRUE(about.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(about.width(), 340);
    EXPECT_EQ(about.findChild<QLabel*>("appVersion")->text(), "Version 0.3.0 (1)");
    QCoreApplication::setApplicationVersion(QString());
}

} // namespace
} // namespace lumra
