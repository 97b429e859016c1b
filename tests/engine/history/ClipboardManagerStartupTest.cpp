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
