#include "CaptureFixture.h"

#include "model/NotificationCenter.h"
#include "model/store/ItemRows.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

using namespace lumra;
using namespace lumra::test;
using namespace std::chrono_literals;

namespace {

TEST_F(CaptureTest, HousekeepingRunsAutoCleanOnlyWhenItWasOnAtScheduling)
{
    defaults->set("autoCleanMinutes", 60);
    start();
    clock.advance(600s);
    EXPECT_EQ(manager->autoCleanRuns, 2);

    manager->setAutoCleanMinutes(0); // restarts the timer without auto-clean
    clock.advance(900s);
    EXPECT_EQ(manager->autoCleanRuns, 2);
}

TEST_F(CaptureTest, ARemoteStoreChangeReloadsTheHistory)
{
    start();
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = "written by another connection";
    item.dateAdded = clock.now();
    {
        auto background = manager->persistence()->newBackgroundContext();
        populateManagedItem(*background->insert(store::EntityKind::item), item);
        ASSERT_TRUE(background->save().ok());
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(texts(), QStringList {"written by another connection"});
}

TEST_F(CaptureTest, SyncStatusTakesOnlyTextStatuses)
{
    defaults->set("iCloudSyncEnabled", true);
    start();
    QSignalSpy changed(manager.get(), &ClipboardManager::iCloudSyncStatusChanged);
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", "Synced"}});
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", 42}});
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {});
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", "Synced"}});
    EXPECT_EQ(manager->iCloudSyncStatus(), "Synced");
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(CaptureTest, WithoutSyncTheStatusIsNotObserved)
{
    start();
    NotificationCenter::defaultCenter().post(Notifications::iCloudSyncStatusChanged, {{"status", "Synced"}});
    EXPECT_EQ(manager->iCloudSyncStatus(), "");
}

} // namespace
