#include "EngineFixture.h"

#include <QSignalSpy>

using namespace lumra;
using test::textItem;

namespace {

class StartupTest : public test::EngineTest {
protected:
    std::unique_ptr<ClipboardManager> makeManager(bool sync)
    {
        openDefaults(sync);
        return start();
    }
};

} // namespace

TEST_F(StartupTest, ReopeningLoadsWhatWasSaved)
{
    const ClipboardItem item = textItem("kept across restarts", clock.now());
    {
        auto manager = makeManager(false);
        ASSERT_NE(manager->persistence(), nullptr);
        test::storeItems(*manager, {item});
    }
    auto manager = makeManager(false);
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(manager->clipboardItems().first(), item);
}

TEST_F(StartupTest, SettingTheSameHistoryDoesNotNotifyOrBumpTheRevision)
{
    auto manager = makeManager(true);
    QSignalSpy spy(manager.get(), &ClipboardManager::clipboardItemsChanged);
    const QList<ClipboardItem> items {textItem("a", clock.now())};
    manager->setClipboardItems(items);
    const quint64 revision = manager->historyRevision();
    manager->setClipboardItems(items);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(manager->historyRevision(), revision);
}

TEST_F(StartupTest, ARowWithoutADateSurvivesRestartsWithRetentionOn)
{
    const ClipboardItem item = textItem("stored without a date", clock.now());
    {
        auto manager = makeManager(false);
        manager->setRetentionDays(7);
        test::storeItems(*manager, {item});
        store::ManagedObjectPtr row = manager->fetchManagedItem(item.id);
        ASSERT_TRUE(row);
        row->setValue(store::ItemAttr::dateAdded, sql::Value {});
        ASSERT_TRUE(manager->persistence()->save().ok());
    }
    const QDateTime firstStart = clock.now();
    for (int restart = 0; restart < 2; ++restart) {
        auto manager = makeManager(false);
        ASSERT_EQ(manager->clipboardItems().size(), 1) << "lost at restart " << restart;
        EXPECT_EQ(manager->clipboardItems().first().dateAdded, firstStart) << "its date is written back once";
        clock.advance(std::chrono::hours(24));
    }
}

TEST_F(StartupTest, ASyncFlagStoredAsANumberIsReadAlikeByTheSettingAndTheStores)
{
    for (const qint64 stored : {0, 1}) {
        openDefaults().set(QStringLiteral("iCloudSyncEnabled"), stored);
        auto manager = start();
        EXPECT_EQ(manager->iCloudSyncEnabled(), stored == 1);
        EXPECT_EQ(manager->persistence()->iCloudEnabled(), stored == 1);
    }
}
