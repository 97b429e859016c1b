#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "platform/cloud/CloudKeyValueStore.h"

#include "TempDataDir.h"

#include <QSignalSpy>

using namespace lumra;

namespace {

class StartupTest : public test::DataDirTest {
protected:
    std::unique_ptr<ClipboardManager> makeManager(bool sync)
    {
        defaults = std::make_unique<UserDefaults>(dataDir.configHome() + "/settings.json", &clock);
        ClipboardManager::registerDefaultSettings(*defaults);
        defaults->set("iCloudSyncEnabled", sync);
        ClipboardManagerServices services;
        services.defaults = defaults.get();
        services.cloudKeyValueStore = &kv;
        services.clock = &clock;
        services.storeFolder = dataDir.supportFolder();
        return std::make_unique<ClipboardManager>(services);
    }

    static ClipboardItem textItem(const QString& text, QDateTime date)
    {
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.textContent = text;
        item.dateAdded = date;
        return item;
    }

    ManualClock clock;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<UserDefaults> defaults;
};

} // namespace

TEST_F(StartupTest, ReopeningLoadsWhatWasSaved)
{
    const ClipboardItem item = textItem("kept across restarts", clock.now());
    {
        auto manager = makeManager(false);
        ASSERT_NE(manager->persistence(), nullptr);
        auto row = manager->persistence()->viewContext().insert(store::EntityKind::item);
        populateManagedItem(*row, item);
        ASSERT_TRUE(manager->persistence()->save().ok());
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
