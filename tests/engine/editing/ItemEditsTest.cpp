#include "EditingTestSupport.h"

#include "engine/ItemMedia.h"
#include "model/store/StoreSchema.h"

using namespace lumra;
using namespace lumra::test;

namespace {

class ItemEditsTest : public EditingTest { };

struct FlagCase {
    const char* name;
    Status (ClipboardManager::*toggle)(const ClipboardItem&);
    bool ClipboardItem::*field;
};

const FlagCase flagCases[] = {
    {"star", &ClipboardManager::togglePinned, &ClipboardItem::isPinned},
    {"pin", &ClipboardManager::togglePinnedToTop, &ClipboardItem::isPinnedToTop},
    {"sensitive", &ClipboardManager::toggleSensitive, &ClipboardItem::isSensitive},
};

} // namespace

TEST_F(ItemEditsTest, FlagsToggleAndPersistAcrossReopen)
{
    for (const FlagCase& c : flagCases) {
        SCOPED_TRACE(c.name);
        open();
        const ClipboardItem item = text(QStringLiteral("flag %1").arg(c.name));
        store({item});
        ASSERT_TRUE((manager.get()->*c.toggle)(item).ok());
        EXPECT_TRUE((*find(item.id)).*c.field);
        reopen();
        EXPECT_TRUE((*find(item.id)).*c.field);
        ASSERT_TRUE((manager.get()->*c.toggle)(item).ok());
        reopen();
        EXPECT_FALSE((*find(item.id)).*c.field);
    }
}

TEST_F(ItemEditsTest, ToggleOfAnUnreadableFlagSetsIt)
{
    open();
    const ClipboardItem item = text("odd row");
    store({item});
    manager->persistence()->viewContext().fetchById(store::EntityKind::item, item.id)->setValue(store::ItemAttr::isPinned, QStringLiteral("yes"));
    ASSERT_TRUE(manager->persistence()->save().ok());
    ASSERT_TRUE(manager->togglePinned(item).ok());
    EXPECT_EQ(manager->fetchManagedItem(item.id)->integer(store::ItemAttr::isPinned), 1);
}

TEST_F(ItemEditsTest, CommentTagsAndCategoryPersistAcrossReopen)
{
    open();
    const ClipboardItem a = text("a");
    const ClipboardItem b = text("b");
    const ClipboardItem c = text("c");
    store({a, b, c});
    const QUuid category = QUuid::createUuid();
    ASSERT_TRUE(manager->setItemComment(a, QStringLiteral("  note  ")).ok());
    ASSERT_TRUE(manager->setItemTags(a, {"work", "Work"}).ok());
    ASSERT_TRUE(manager->setTagsForItems({b.id, c.id, QUuid::createUuid()}, {"batch"}).ok());
    ASSERT_TRUE(manager->setItemCategory(b, category).ok());
    expectHistoryMatchesStore();

    reopen();
    EXPECT_EQ(find(a.id)->comment, QStringLiteral("  note  "));
    EXPECT_EQ(find(a.id)->tags, QStringList({"work", "Work"}));
    EXPECT_EQ(find(b.id)->tags, QStringList {"batch"});
    EXPECT_EQ(find(c.id)->tags, QStringList {"batch"});
    EXPECT_EQ(find(b.id)->categoryId, category);

    ASSERT_TRUE(manager->setItemComment(a, std::nullopt).ok());
    ASSERT_TRUE(manager->setItemTags(a, {}).ok());
    ASSERT_TRUE(manager->setItemCategory(b, std::nullopt).ok());
    EXPECT_TRUE(sql::isNull(manager->fetchManagedItem(a.id)->value(store::ItemAttr::tagsJSON)));
    reopen();
    EXPECT_FALSE(find(a.id)->comment);
    EXPECT_TRUE(find(a.id)->tags.isEmpty());
    EXPECT_FALSE(find(b.id)->categoryId);
}

TEST_F(ItemEditsTest, EditsOfMissingRowsChangeNothing)
{
    open();
    const ClipboardItem ghost = text("never stored");
    EXPECT_TRUE(manager->togglePinned(ghost).ok());
    EXPECT_TRUE(manager->setItemComment(ghost, QStringLiteral("x")).ok());
    EXPECT_TRUE(manager->updateItemContent(ghost, "x", std::nullopt).ok());
    EXPECT_TRUE(manager->clipboardItems().isEmpty());
}

TEST_F(ItemEditsTest, EditedTextPersistsAndStaysInItsStoreWithoutSync)
{
    open(false);
    const ClipboardItem item = text("before");
    store({item});
    ASSERT_TRUE(manager->updateItemContent(item, "https://example.org", QByteArray("{\\rtf1 x}")).ok());
    reopen();
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(find(item.id)->textContent, QStringLiteral("https://example.org"));
    // The list's value leaves the rich text in the store, where the manager finds it.
    EXPECT_FALSE(find(item.id)->rtfData);
    EXPECT_EQ(manager->media().richText(*find(item.id)), QByteArray("{\\rtf1 x}"));
}

TEST_F(ItemEditsTest, EditIntoASyncedKindMovesTheRowWithEveryAttribute)
{
    open(true);
    manager->setSyncText(false);
    manager->setSyncLinks(true);
    ClipboardItem item = text("plain words", 3600);
    item.tags = {"t"};
    item.comment = QStringLiteral("c");
    item.categoryId = QUuid::createUuid();
    item.shortcut = ItemShortcut {9, ItemShortcut::commandFlag};
    item.isPinned = true;
    item.sourceAppBundleId = QStringLiteral("org.example.App");
    item.lastPastedDate = clock.now().addSecs(-10);
    item.firstCopiedDate = clock.now().addSecs(-7200);
    const QString cloudPath = manager->persistence()->cloudStore()->path;
    store({item}, manager->persistence()->localStore());
    {
        auto row = manager->fetchManagedItem(item.id);
        row->set(store::ItemAttr::ocrText, QStringLiteral("recognised"));
        row->set(store::ItemAttr::fileBookmarksJSON, QStringLiteral("[]"));
        ASSERT_TRUE(manager->persistence()->save().ok());
    }

    ASSERT_TRUE(manager->updateItemContent(item, "https://example.org/page", std::nullopt).ok());
    ClipboardItem expected = item;
    expected.textContent = QStringLiteral("https://example.org/page");
    expected.ocrText = QStringLiteral("recognised");
    EXPECT_EQ(manager->clipboardItems(), QList<ClipboardItem> {expected});

    reopen();
    auto row = manager->fetchManagedItem(item.id);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->store()->path, cloudPath);
    EXPECT_EQ(row->string(store::ItemAttr::fileBookmarksJSON), QStringLiteral("[]"));
    EXPECT_EQ(manager->clipboardItems(), QList<ClipboardItem> {expected});
    store::FetchRequest inLocal;
    inLocal.affectedStore = manager->persistence()->localStore();
    EXPECT_EQ(*manager->persistence()->viewContext().count(inLocal), 0);

    // Editing it into a kind that is not synced never moves it back.
    ASSERT_TRUE(manager->updateItemContent(expected, "plain again", std::nullopt).ok());
    EXPECT_EQ(manager->fetchManagedItem(item.id)->store()->path, cloudPath);
}

TEST_F(ItemEditsTest, MovedImageKeepsItsBytes)
{
    open(true);
    ClipboardItem item = text("words", 60);
    const auto* local = manager->persistence()->localStore();
    store({item}, local, QByteArray("PNGBYTES"));
    manager->setSyncText(true);
    ASSERT_TRUE(manager->recreateManagedObject(manager->fetchManagedItem(item.id)).ok());
    reopen();
    EXPECT_EQ(manager->fetchManagedItem(item.id)->bytes(store::ItemAttr::imageData), QByteArray("PNGBYTES"));
}

TEST_F(ItemEditsTest, ACrashBetweenTheTwoCommitsOfAMoveLosesNothing)
{
    open(true);
    const ClipboardItem item = text("moving", 60);
    store({item}, manager->persistence()->localStore());
    // The first commit of a move: the copy in the cloud store, the original still in the local one.
    ClipboardItem copy = item;
    copy.textContent = QStringLiteral("https://moved.example");
    store({copy}, manager->persistence()->cloudStore());

    reopen();
    ASSERT_EQ(manager->clipboardItems().size(), 1);
    EXPECT_EQ(manager->clipboardItems().first(), copy);
    // The stale copy is gone, so deleting the item cannot bring the old one back.
    manager->setRecycleBinEnabled(false);
    ASSERT_TRUE(manager->deleteItem(copy).ok());
    reopen();
    EXPECT_TRUE(manager->clipboardItems().isEmpty());
}

// MARK: Shortcut conflicts

TEST_F(ItemEditsTest, ShortcutConflictMessages)
{
    open();
    defaults->set("hotKeyKeyCode", 9);
    defaults->set("hotKeyModifiers", qint64(0x180000));
    ClipboardItem holder = text("a fairly long text that names the item holding the shortcut");
    holder.shortcut = ItemShortcut {0, ItemShortcut::commandFlag};
    ClipboardItem secret = text("hunter2-password-value");
    secret.isSensitive = true;
    secret.shortcut = ItemShortcut {1, ItemShortcut::commandFlag};
    ClipboardItem binned = text("in the bin");
    binned.shortcut = ItemShortcut {2, ItemShortcut::commandFlag};
    binned.isTrashed = true;
    binned.trashedDate = clock.now();
    store({holder, secret, binned});

    const QString open = QStringLiteral("This shortcut is already used to open Lumra.");
    EXPECT_EQ(manager->shortcutConflictMessage(9, 0x180000, std::nullopt, false), open);
    // Caps Lock and the bits below 16 do not make a different shortcut.
    EXPECT_EQ(manager->shortcutConflictMessage(9, 0x180000 | 0x10000 | 0x100, std::nullopt, false), open);
    EXPECT_EQ(manager->shortcutConflictMessage(9, 0x180000, std::nullopt, true), std::nullopt);
    EXPECT_EQ(manager->shortcutConflictMessage(9, 0x100000, std::nullopt, false), std::nullopt);

    EXPECT_EQ(manager->shortcutConflictMessage(0, ItemShortcut::commandFlag | 0x8, std::nullopt, true),
              QStringLiteral("This shortcut is already assigned to \"a fairly long text that names the item h...\"."));
    EXPECT_EQ(manager->shortcutConflictMessage(0, ItemShortcut::commandFlag, holder.id, false), std::nullopt);
    EXPECT_EQ(manager->shortcutConflictMessage(2, ItemShortcut::commandFlag, std::nullopt, false), std::nullopt);
    const std::optional<QString> secretMessage = manager->shortcutConflictMessage(1, ItemShortcut::commandFlag, std::nullopt, false);
    ASSERT_TRUE(secretMessage);
    EXPECT_FALSE(secretMessage->contains(QStringLiteral("hunter2-password-value")));
}

TEST_F(ItemEditsTest, QuickPasteDigitsConflictWhateverLocksAreOn)
{
    open();
    defaults->set("hotKeyKeyCode", 9);
    defaults->set("hotKeyModifiers", qint64(0x180000));
    const QString quick = QStringLiteral("This shortcut is already used for quick paste.");
    constexpr quint64 capsLock = 0x10000, numericPad = 0x200000, function = 0x800000;
    constexpr quint16 digit1 = 18, digit9 = 25, digit0 = 29;
    EXPECT_EQ(manager->shortcutConflictMessage(digit1, ItemShortcut::commandFlag, std::nullopt, false), std::nullopt)
        << "quick paste is off";

    manager->setQuickPasteModifier(QStringLiteral("command"));
    EXPECT_EQ(manager->shortcutConflictMessage(digit1, ItemShortcut::commandFlag, std::nullopt, false), quick);
    EXPECT_EQ(manager->shortcutConflictMessage(digit9, ItemShortcut::commandFlag | capsLock | numericPad, std::nullopt, true), quick);
    EXPECT_EQ(manager->shortcutConflictMessage(digit0, ItemShortcut::commandFlag, std::nullopt, false), std::nullopt);
    EXPECT_EQ(manager->shortcutConflictMessage(digit1, ItemShortcut::commandFlag | ItemShortcut::shiftFlag, std::nullopt, false),
              std::nullopt);
    manager->setQuickPasteModifier(QStringLiteral("control"));
    EXPECT_EQ(manager->shortcutConflictMessage(digit1, ItemShortcut::controlFlag, std::nullopt, false), quick);

    // A stored chord with lock or function bits is the same chord as the one without.
    ClipboardItem holder = text("function key");
    holder.shortcut = ItemShortcut {96, function | capsLock};
    store({holder});
    EXPECT_EQ(manager->shortcutConflictMessage(96, 0, std::nullopt, false),
              QStringLiteral("This shortcut is already assigned to \"function key\"."));
}

TEST_F(ItemEditsTest, ConflictTextIsCutAtFortyCharactersAsTheUserSeesThem)
{
    open();
    const QString family = QStringLiteral("👨‍👩‍👧");
    const struct {
        QString text;
        QString quoted;
    } cases[] = {
        {QString(40, QLatin1Char('x')), QString(40, QLatin1Char('x'))},
        {QString(41, QLatin1Char('x')), QString(40, QLatin1Char('x')) + "..."},
        {family.repeated(40), family.repeated(40)},
        {family.repeated(41), family.repeated(40) + "..."},
        {QString("e\u0301").repeated(41), QString("e\u0301").repeated(40) + "..."},
    };
    int key = 0;
    for (const auto& c : cases) {
        ClipboardItem item = text(c.text);
        item.shortcut = ItemShortcut {quint16(++key), ItemShortcut::optionFlag};
        store({item});
        EXPECT_EQ(manager->shortcutConflictMessage(quint16(key), ItemShortcut::optionFlag, std::nullopt, true),
                  QStringLiteral("This shortcut is already assigned to \"%1\".").arg(c.quoted));
    }
}

// MARK: Ignored applications

TEST_F(ItemEditsTest, IgnoredAppsAppendOnceAndRemoveEveryEntry)
{
    open();
    manager->setIgnoredApplications({});
    manager->appendIgnoredApp("org.example.Vault", "Vault");
    manager->appendIgnoredApp("org.example.Vault", "Other name");
    manager->appendIgnoredApp("org.example.vault", "Lower");
    EXPECT_EQ(manager->ignoredApplications(),
              (QList<IgnoredApp> {{"org.example.Vault", "Vault"}, {"org.example.vault", "Lower"}}));
    manager->removeIgnoredAppEntry("org.example.Vault");
    manager->removeIgnoredAppEntry("not.listed");
    reopen();
    EXPECT_EQ(manager->ignoredApplications(), (QList<IgnoredApp> {{"org.example.vault", "Lower"}}));
}
