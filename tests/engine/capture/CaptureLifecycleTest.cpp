#include "CaptureFixture.h"
#include "engine/HistoryFilter.h"

#include "model/NotificationCenter.h"
#include "model/store/ItemRows.h"
#include "platform/core/BackgroundWork.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScopeGuard>
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

TEST_F(CaptureTest, CopiesDuringABackgroundLoadAreStoredOnceAndJoinTheLoadedHistory)
{
    constexpr int storedCount = 3000;
    defaults->set("maxItems", 10000);
    QList<ClipboardItem> stored;
    {
        PersistenceController persistence(false, nullptr, dataDir.supportFolder());
        for (int i = 0; i < storedCount; ++i) {
            stored.append(textItem(QStringLiteral("stored text %1").arg(i), clock.now().addSecs(-60 * (i + 1))));
            populateManagedItem(*persistence.viewContext().insert(store::EntityKind::item), stored.last());
        }
        ASSERT_TRUE(persistence.save().ok());
    }
    // The history lane is held, one thread wide, until the copies are made: the load reads the rows
    // after them however fast or busy the machine is.
    BackgroundWork& work = BackgroundWork::current();
    const int historyThreads = work.maxThreadCount(BackgroundWork::Lane::history);
    work.setMaxThreadCount(BackgroundWork::Lane::history, 1);
    QSemaphore held, released;
    ASSERT_TRUE(work.start(BackgroundWork::Lane::history, [&] {
        held.release();
        released.acquire();
    }));
    held.acquire();
    auto release = qScopeGuard([&] {
        released.release();
        work.setMaxThreadCount(BackgroundWork::Lane::history, historyThreads);
    });

    manager = EngineHarness::start<RecordingManager>([this](ClipboardManagerServices& services) {
        services.pasteboard = &pasteboard;
        services.workspace = &workspace;
        services.loadHistoryInBackground = true;
    });
    ASSERT_TRUE(manager->isLoadingHistory());
    copyText("stored text 7"); // already stored: refreshed, not stored again
    copyText("new during the load");
    copyText("stored text 8");
    ASSERT_TRUE(manager->deleteItemPermanently(stored[9].id).ok());
    EXPECT_EQ(manager->filters().filteredItemCount(), 3) << "what is known so far shows while the rest loads";
    ASSERT_TRUE(manager->isLoadingHistory()) << "the load waits for the history lane";

    QSignalSpy loadEnded(manager.get(), &ClipboardManager::isLoadingHistoryChanged);
    release.dismiss();
    released.release();
    work.setMaxThreadCount(BackgroundWork::Lane::history, historyThreads);
    while (manager->isLoadingHistory())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(loadEnded.count(), 1);

    auto countOf = [](const QList<ClipboardItem>& items, const QString& text) {
        return std::count_if(items.begin(), items.end(), [&](const ClipboardItem& i) { return i.textContent == text; });
    };
    const QList<ClipboardItem> shown = manager->filters().filteredItems();
    for (const QString& text : {QStringLiteral("stored text 7"), QStringLiteral("new during the load"),
                                QStringLiteral("stored text 8"), QStringLiteral("stored text 2999")}) {
        EXPECT_EQ(countOf(manager->clipboardItems(), text), 1) << text.toStdString();
        EXPECT_EQ(countOf(shown, text), 1) << text.toStdString();
    }
    EXPECT_EQ(countOf(shown, "stored text 9"), 0) << "deleted during the load";
    EXPECT_EQ(manager->clipboardItems().size(), storedCount);
    EXPECT_EQ(*manager->persistence()->viewContext().count({}), storedCount);
    EXPECT_EQ(shown.first().textContent, "stored text 8");
    EXPECT_EQ(shown[2].textContent, "stored text 7");
    EXPECT_EQ(shown[3].textContent, "stored text 0");
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
