#include "ui/settings/SyncPage.h"

#include "engine/ClipboardManager.h"
#include "model/NotificationCenter.h"
#include "platform/core/Folders.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/SettingsTables.h"

#include "SettingsPageFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

namespace lumra {
namespace {

using namespace lumra::test;

TEST(SyncTablesTest, TheSizePickerWritesOnlyItsFiveSizes)
{
    QList<qint64> written;
    QStringList labels;
    for (const PickerOption& option : SyncTables::maxImageSize().options) {
        written.append(std::get<qint64>(option.value));
        labels.append(option.label);
    }
    EXPECT_EQ(written, (QList<qint64> {1, 5, 10, 25, 50}));
    EXPECT_EQ(labels, (QStringList {"1 MB", "5 MB", "10 MB", "25 MB", "50 MB"}));
    QList<Setting> bound;
    for (const SwitchSpec& spec : SyncTables::typesToSync())
        bound.append(spec.setting);
    EXPECT_EQ(bound, (QList<Setting> {Setting::syncText, Setting::syncLinks, Setting::syncEmails, Setting::syncImages,
                                      Setting::syncScreenshots, Setting::syncColors}));
}

class SyncPageTest : public SettingsPageTest {
protected:
    SyncPage& sync()
    {
        if (!m_page) {
            SyncPage::Services services;
            services.chooseFolder = [this](const QString& start) {
                chooserStarts.append(start);
                return nextFolder;
            };
            services.restartApp = [this] {
                ++restarts;
                return restartStarts;
            };
            if (checkGate)
                services.folderUsable = [this](const QString& folder) {
                    checkGate->acquire(); // the test lets each check finish in the order it wants
                    return folder == usableFolder.path();
                };
            m_page = std::make_unique<SyncPage>(SettingsContext {*manager, *hotKeys, loginItem, prompts, {}}, services);
            m_page->resize(720, 600);
            m_page->show();
        }
        return *m_page;
    }
    // The engine as it runs with sync on: it then follows the sync status.
    void startWithSync()
    {
        hotKeys.reset();
        manager.reset();
        openDefaults(true);
        manager = makeManager();
        hotKeys = std::make_unique<HotKeyManager>(keys, *defaults, clock);
    }
    bool waitForCheck() { return QTest::qWaitFor([this] { return !sync().isChecking(); }, 10000); }
    QStringList titles() const
    {
        QStringList shown;
        for (const auto& alert : prompts.shown)
            shown.append(alert.title);
        return shown;
    }

    QTemporaryDir usableFolder;
    QString nextFolder;
    QStringList chooserStarts; // where each folder dialog opened
    int restarts = 0;
    bool restartStarts = true;
    std::unique_ptr<QSemaphore> checkGate;

private:
    std::unique_ptr<SyncPage> m_page;
};

TEST_F(SyncPageTest, SwitchingOffIsStoredBeforeTheRestartPromptAndHidesTheTypes)
{
    ASSERT_TRUE(manager->setICloudSyncEnabled(true));
    EXPECT_TRUE(sync().isShowingTypes());
    const qsizetype items = manager->clipboardItems().size();
    bool storedWhenAsked = true;
    prompts.answerNext(1);
    QObject::connect(manager.get(), &ClipboardManager::settingChanged, [&] { storedWhenAsked = prompts.shown.isEmpty(); });
    sync().syncSwitch()->click();
    EXPECT_TRUE(storedWhenAsked);
    EXPECT_FALSE(manager->iCloudSyncEnabled());
    ASSERT_EQ(titles(), (QStringList {"Restart Lumra?"}));
    EXPECT_EQ(prompts.shown[0].text, "Sync has been disabled. Lumra needs to restart for the change to take effect.");
    EXPECT_EQ(prompts.shown[0].buttons, (QStringList {"Restart Now", "Later"}));
    EXPECT_EQ(restarts, 0);
    EXPECT_FALSE(sync().syncSwitch()->isChecked());
    EXPECT_FALSE(sync().isShowingTypes());
    EXPECT_FALSE(sync().isShowingStatus());
    EXPECT_EQ(manager->clipboardItems().size(), items);
}

TEST_F(SyncPageTest, SwitchingOnChecksTheFolderOffTheMainThreadFirst)
{
    ASSERT_TRUE(manager->setICloudSyncEnabled(false));
    checkGate = std::make_unique<QSemaphore>();

    // No folder chosen: the switch waits, disabled and off, then says why and stays off.
    sync().syncSwitch()->click();
    EXPECT_TRUE(sync().isChecking());
    EXPECT_FALSE(sync().syncSwitch()->isEnabled());
    EXPECT_FALSE(sync().syncSwitch()->isChecked());
    checkGate->release();
    ASSERT_TRUE(waitForCheck());
    EXPECT_EQ(titles(), (QStringList {"Sync Unavailable"}));
    EXPECT_EQ(prompts.shown[0].text, "Choose a sync folder that exists and that you can write to.");
    EXPECT_EQ(prompts.shown[0].buttons, (QStringList {"OK"}));
    EXPECT_FALSE(manager->iCloudSyncEnabled());
    EXPECT_TRUE(sync().syncSwitch()->isEnabled());

    // A folder chosen while a check runs: that check's answer no longer counts, the latest does.
    prompts.shown.clear();
    sync().syncSwitch()->click();
    nextFolder = usableFolder.path();
    sync().chooseButton()->click();
    EXPECT_EQ(manager->syncFolderPath(), usableFolder.path());
    EXPECT_EQ(sync().folderLabel()->text(), usableFolder.path());
    prompts.answerNext(0);
    checkGate->release(2);
    ASSERT_TRUE(waitForCheck());
    QTest::qWait(50); // the earlier check's answer arrives and is dropped
    EXPECT_TRUE(manager->iCloudSyncEnabled());
    EXPECT_TRUE(sync().syncSwitch()->isChecked());
    ASSERT_EQ(titles(), (QStringList {"Restart Lumra?"}));
    EXPECT_EQ(prompts.shown[0].text, "Sync has been enabled. Lumra needs to restart for the change to take effect.");
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(sync().isShowingTypes());
}

TEST_F(SyncPageTest, ARestartThatCannotStartKeepsLumraRunningAndSaysSo)
{
    ASSERT_TRUE(manager->setICloudSyncEnabled(true));
    restartStarts = false;
    prompts.answerNext(0);
    sync().syncSwitch()->click();
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(titles(), (QStringList {"Restart Lumra?", "Lumra Could Not Restart"}));
    EXPECT_TRUE(prompts.shown[1].text.contains("next time you start Lumra"));
}

TEST_F(SyncPageTest, TheStatusRowShowsWhileSyncIsOnAndHasSomethingToSay)
{
    // A fresh install: sync on, no folder chosen. The status says so rather than nothing.
    startWithSync();
    EXPECT_TRUE(sync().isShowingStatus());
    EXPECT_EQ(sync().statusLabel()->text(), "No sync folder is chosen yet: nothing leaves this computer.");
    nextFolder.clear();
    sync().chooseButton()->click(); // cancelled: the folder stays
    EXPECT_EQ(manager->syncFolderPath(), "");
    EXPECT_TRUE(sync().folderLabel()->text().startsWith("No folder chosen."));

    nextFolder = usableFolder.path();
    sync().chooseButton()->click();
    ASSERT_EQ(manager->syncFolderPath(), usableFolder.path());
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", "Synced just now"}});
    EXPECT_TRUE(sync().isShowingStatus());
    EXPECT_EQ(sync().statusLabel()->text(), "Synced just now");
}

TEST_F(SyncPageTest, TheFolderDialogOpensAtTheChosenFolderElseAtHome)
{
    const QString home = Folders::homeFolder();
    ASSERT_NE(home, QDir::currentPath()) << "the test needs a working folder other than home";
    nextFolder.clear();
    sync().chooseButton()->click();
    nextFolder = usableFolder.path();
    sync().chooseButton()->click();
    sync().chooseButton()->click();
    QDir(usableFolder.path()).removeRecursively(); // the chosen folder went away
    sync().chooseButton()->click();
    EXPECT_EQ(chooserStarts, (QStringList {home, home, usableFolder.path(), home}));
}

TEST_F(SyncPageTest, Screenshots)
{
    ASSERT_TRUE(manager->setICloudSyncEnabled(false));
    SettingsWindow& w = window();
    w.present(SettingsTab::iCloud);
    saveScreenshots(w, "settings-sync-off");
    closeWindow();
    startWithSync();
    ASSERT_TRUE(manager->setSyncFolderPath(usableFolder.path()));
    SettingsWindow& again = window();
    again.present(SettingsTab::iCloud);
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", "Synced just now"}});
    saveScreenshots(again, "settings-sync-on");
    NotificationCenter::defaultCenter().post(
        Notifications::iCloudSyncStatusChanged,
        {{"status", "\u26A0\uFE0F IMPORT: 1 computer waiting for a file to arrive, records from computer 1A2B3C4D are stamped "
                    "200 days ahead of this computer's clock: 5 held, 2 records from computer 9C0D1E2F held: stamped ahead of this computer's clock, "
                    "3 records refused from computer 5E6F7A8B"}});
    // A long status wraps within the page rather than running off its edge.
    QLabel* status = page<SyncPage>(SettingsTab::iCloud).statusLabel();
    QWidget* viewport = page<SyncPage>(SettingsTab::iCloud).viewport();
    // All of it shows once the page has laid it out, however busy the machine, and the page grows
    // rather than squeezing what follows.
    const QWidget* content = page<SyncPage>(SettingsTab::iCloud).widget();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return status->height() >= status->heightForWidth(status->width()) && content->height() >= content->heightForWidth(content->width());
    }, 10000)) << status->height() << " high, " << status->heightForWidth(status->width()) << " needed";
    EXPECT_LE(status->mapTo(viewport, QPoint(status->width(), 0)).x(), viewport->width());
    saveScreenshots(again, "settings-sync-warning");
    closeWindow();
    startWithSync();
    ASSERT_TRUE(manager->setSyncFolderPath(QString()));
    SettingsWindow& none = window();
    none.present(SettingsTab::iCloud);
    saveScreenshots(none, "settings-sync-no-folder");
}

} // namespace
} // namespace lumra
