#include "EditingTestSupport.h"
#include "engine/HistoryClearing.h"

using namespace lumra;
using namespace lumra::test;

namespace {

class ShortcutAnnouncementTest : public EditingTest { };

struct Road {
    const char* name;
    bool startsTrashed;
    std::function<void(EditingManager&, const ClipboardItem&, ManualClock&)> run;
};

} // namespace

// Every road that adds or removes a row holding a shortcut tells the hot-key side once.
TEST_F(ShortcutAnnouncementTest, EveryRoadThatChangesTheShortcutSetAnnouncesIt)
{
    const Road roads[] = {
        {"set", false, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.setItemShortcut(i.id, ItemShortcut {3, ItemShortcut::commandFlag}); }},
        {"clear", false, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.setItemShortcut(i.id, std::nullopt); }},
        {"to the bin", false, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.deleteItem(i); }},
        {"several to the bin", false, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.deleteItems(m.clipboardItems()); }},
        {"restore", true, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.restoreItem(i.id); }},
        {"for good", true, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.deleteItemPermanently(i.id); }},
        {"empty bin", true, [](EditingManager& m, const ClipboardItem&, ManualClock&) { (void)m.emptyRecycleBin(); }},
        {"clear all", false, [](EditingManager& m, const ClipboardItem&, ManualClock&) { (void)m.clearing().clearAllHistory(false); }},
        {"clear unpinned", false, [](EditingManager& m, const ClipboardItem&, ManualClock&) { (void)m.clearing().clearUnpinnedHistory(true); }},
        {"clear recent", false, [](EditingManager& m, const ClipboardItem&, ManualClock& c) { (void)m.clearing().clearRecentItems(c.now().addDays(-1), false, false); }},
        {"category with items", false, [](EditingManager& m, const ClipboardItem& i, ManualClock&) { (void)m.deleteCategory(*i.categoryId, true); }},
        {"retention", false, [](EditingManager& m, const ClipboardItem&, ManualClock& c) { c.advance(std::chrono::hours(24 * 3)); m.setRetentionDays(1); }},
        {"limit", false, [](EditingManager& m, const ClipboardItem&, ManualClock&) { m.setMaxItems(1); (void)m.enforceMaxItems(); }},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        open();
        manager->setRecycleBinEnabled(true);
        ClipboardItem holder = text("holder", 3600);
        holder.shortcut = ItemShortcut {7, ItemShortcut::commandFlag};
        holder.categoryId = QUuid::createUuid();
        holder.isTrashed = road.startsTrashed;
        const ClipboardItem newer = text("newer", 60);
        store({holder, newer});
        ShortcutAnnouncements announcements(*manager);
        road.run(*manager, holder, clock);
        EXPECT_EQ(announcements.signalled(), 1);
        EXPECT_EQ(announcements.posted(), 1);
        manager.reset();
        QDir(dataDir.supportFolder()).removeRecursively();
    }
}

TEST_F(ShortcutAnnouncementTest, ChangesThatLeaveTheShortcutSetAloneStayQuiet)
{
    open();
    manager->setRecycleBinEnabled(true);
    manager->setAutoCleanMinutes(1);
    ClipboardItem holder = text("holder", 3600);
    holder.shortcut = ItemShortcut {7, ItemShortcut::commandFlag};
    const ClipboardItem plain = text("plain", 3600);
    store({holder, plain});
    ShortcutAnnouncements announcements(*manager);
    // Auto-clean never takes a row with a shortcut.
    manager->runAutoClean();
    manager->finishBackgroundWork();
    EXPECT_FALSE(find(holder.id)->isTrashed);
    EXPECT_TRUE(find(plain.id)->isTrashed);
    ASSERT_TRUE(manager->togglePinned(holder).ok());
    ASSERT_TRUE(manager->setItemComment(holder, QStringLiteral("c")).ok());
    ASSERT_TRUE(manager->deleteItemPermanently(plain.id).ok());
    ASSERT_TRUE(manager->deleteItems({}).ok());
    EXPECT_EQ(announcements.signalled(), 0);
    EXPECT_EQ(announcements.posted(), 0);
}
