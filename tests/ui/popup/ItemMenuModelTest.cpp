// Which entries the item context menu offers, with which labels and enabled states.
#include "ui/popup/ItemMenuModel.h"

#include "platform/symbols/Symbols.h"
#include "ui/popup/ItemContextMenu.h"

#include "Screenshots.h"

#include <QMenu>

#include <gtest/gtest.h>

namespace lumra {
namespace {

ClipboardItem item(ClipboardContentType type = ClipboardContentType::text)
{
    ClipboardItem i;
    i.id = QUuid::createUuid();
    i.contentType = type;
    i.textContent = QStringLiteral("hello");
    return i;
}

ClipboardCategory category(const QString& name)
{
    return {QUuid::createUuid(), name, QStringLiteral("folder.fill"), false, 0};
}

ItemMenuFeatures everyWindow()
{
    ItemMenuFeatures f;
    f.tagEditor = f.commentEditor = f.shortcutEditor = f.contentEditor = f.categoryEditor = f.categoryCreator = f.preview = true;
    return f;
}

QStringList labels(const ItemMenuInput& input) { return buildItemMenu(input).labels(); }

TEST(ItemMenuModelTest, OneItemMenuByKind)
{
    struct Case {
        const char* name;
        ClipboardContentType type;
        QStringList expected;
    };
    const QList<Case> cases = {
        {"text", ClipboardContentType::text,
         {"Pin this on Top", "Star this Item", "Category", "  New Category...", "Sensitive Data", "-", "Delete"}},
        {"image", ClipboardContentType::image, {"Pin this on Top", "Star this Item", "Category", "  New Category...", "-", "Delete"}},
        {"file", ClipboardContentType::file,
         {"Pin this on Top", "Star this Item", "Category", "  New Category...", "Show in File Manager", "-", "Delete"}},
    };
    for (const Case& c : cases) {
        ItemMenuInput input;
        input.targets = {item(c.type)};
        input.features.categoryCreator = true;
        EXPECT_EQ(labels(input), c.expected) << c.name;
    }
}

TEST(ItemMenuModelTest, OneItemMenuWithEveryWindowFollowsTheItemsState)
{
    const ClipboardCategory work = category(QStringLiteral("Work"));
    const ClipboardCategory home = category(QStringLiteral("Home"));
    ClipboardItem i = item();
    i.isPinnedToTop = true;
    i.isPinned = true;
    i.tags = {QStringLiteral("a")};
    i.comment = QString(); // an empty comment counts as present
    i.categoryId = work.id;
    i.shortcut = ItemShortcut{9, ItemShortcut::commandFlag | ItemShortcut::optionFlag};
    i.isSensitive = true;

    ItemMenuInput input;
    input.targets = {i};
    input.categories = {work, home};
    input.filtersActive = true;
    input.previewShortcut = PreviewShortcut::disabled;
    input.features = everyWindow();
    const ItemMenuModel menu = buildItemMenu(input);
    EXPECT_EQ(menu.labels(), QStringList({"Unpin", "Unstar Item", "Edit Tags", "Edit Comment", "Category \u2014 Work",
                                          "  None", "  -", "  Work", "  Home", "  -", "  Edit Category...", "  New Category...",
                                          "Shortcut: Ctrl+Alt+V", "Remove Sensitive Data", "Edit Content", "-", "Take Me There",
                                          "-", "Delete", "-", "Preview"}));
    EXPECT_FALSE(menu.find(ItemMenuAction::toggleStarred)->enabled) << "a pinned item keeps its star";
    EXPECT_TRUE(menu.find(ItemMenuAction::deleteItem)->destructive);
    const QList<ItemMenuEntry>& choices = menu.entries[4].submenu;
    EXPECT_TRUE(choices[2].checked);
    EXPECT_FALSE(choices[3].checked);
}

TEST(ItemMenuModelTest, NoTwoEntriesOfAFileRowShareASymbol)
{
    ClipboardItem file = item(ClipboardContentType::file);
    file.tags = {QStringLiteral("a")};
    file.comment = QStringLiteral("c");
    ItemMenuInput input;
    input.targets = {file};
    input.categories = {category(QStringLiteral("Work"))};
    input.features = everyWindow();
    QHash<QString, QString> seen; // theme icon name -> label
    for (const ItemMenuEntry& e : buildItemMenu(input).entries) {
        if (e.symbol.isEmpty())
            continue;
        const QIcon icon = Symbols::icon(e.symbol);
        const QString key = icon.name().isEmpty() ? e.symbol : icon.name();
        EXPECT_FALSE(seen.contains(key)) << e.label.toStdString() << " looks like " << seen.value(key).toStdString();
        seen.insert(key, e.label);
    }
    EXPECT_GE(seen.size(), 5);

    QMenu menu;
    ItemContextMenu::populate(menu, buildItemMenu(input), [](const ItemMenuEntry&) {});
    menu.popup(QPoint(0, 0));
    test::saveArtifact(menu, QStringLiteral("item-menu-file"));
    menu.close();
}

TEST(ItemMenuModelTest, ACategoryThatNoLongerExistsLeavesThePlainTitle)
{
    ClipboardItem i = item();
    i.categoryId = QUuid::createUuid();
    ItemMenuInput input;
    input.targets = {i};
    input.categories = {category(QStringLiteral("Work"))};
    input.features = everyWindow();
    const ItemMenuModel menu = buildItemMenu(input);
    EXPECT_TRUE(menu.labels().contains(QStringLiteral("Category")));
    EXPECT_FALSE(menu.find(ItemMenuAction::editCategory));
}

TEST(ItemMenuModelTest, EntriesWhoseWindowIsMissingAreLeftOutWithTheirDividers)
{
    // No categories and no category window: no empty submenu.
    ItemMenuInput input;
    input.targets = {item(ClipboardContentType::image)};
    EXPECT_EQ(labels(input), QStringList({"Pin this on Top", "Star this Item", "-", "Delete"}));
    input.categories = {category(QStringLiteral("Work"))};
    EXPECT_EQ(labels(input), QStringList({"Pin this on Top", "Star this Item", "Category", "  None", "  -", "  Work", "-", "Delete"}));
}

TEST(ItemMenuModelTest, SeveralItemsLabelsCountTheItemsTheyTouch)
{
    ClipboardItem pinned = item();
    pinned.isPinnedToTop = true;
    pinned.isPinned = true;
    pinned.isSensitive = true;
    ClipboardItem other = item();
    other.isPinnedToTop = true;
    ClipboardItem image = item(ClipboardContentType::image);
    image.isPinnedToTop = true;
    image.tags = {QStringLiteral("x")};

    ItemMenuInput input;
    input.targets = {pinned, other, image};
    input.features = everyWindow();
    ItemMenuModel menu = buildItemMenu(input);
    EXPECT_EQ(menu.labels(), QStringList({"Unpin 3 Items", "Star 3 Items", "Edit Tags", "Category", "  New Category...",
                                          "Sensitive Data", "-", "Delete 3 Items"}));
    EXPECT_FALSE(menu.find(ItemMenuAction::setPinnedToTop)->flag);
    EXPECT_TRUE(menu.find(ItemMenuAction::setStarred)->flag);
    EXPECT_TRUE(menu.find(ItemMenuAction::setSensitive)->flag);

    // All text items sensitive (the image does not count); no text item at all: no entry.
    other.isSensitive = true;
    input.targets = {pinned, other, image};
    EXPECT_TRUE(buildItemMenu(input).labels().contains(QStringLiteral("Remove Sensitive Data")));
    input.targets = {image, item(ClipboardContentType::file)};
    EXPECT_EQ(buildItemMenu(input).find(ItemMenuAction::setSensitive), nullptr);
}

TEST(ItemMenuModelTest, RecycleBinMenus)
{
    ItemMenuInput input;
    input.showRecycleBin = true;
    input.targets = {item()};
    EXPECT_EQ(labels(input), QStringList({"Restore", "Delete Permanently", "-", "Empty Recycle Bin"}));
    input.targets = {item(), item(), item()};
    EXPECT_EQ(labels(input), QStringList({"Restore 3 Items", "Delete 3 Permanently", "-", "Empty Recycle Bin"}));
}

TEST(ItemMenuModelTest, TextsOfTheConfirmationsAndThePreviewEntry)
{
    EXPECT_EQ(emptyRecycleBinText(0), QStringLiteral("0 items will be permanently deleted. This cannot be undone."));
    EXPECT_EQ(emptyRecycleBinText(1), QStringLiteral("1 item will be permanently deleted. This cannot be undone."));
    EXPECT_EQ(previewEntryLabel(PreviewShortcut::disabled), QStringLiteral("Preview"));
    EXPECT_EQ(previewEntryLabel(PreviewShortcut::shiftCommand), QStringLiteral("Preview - Shift + Ctrl"));

    ClipboardItem secret = item();
    secret.textContent = QStringLiteral("hunter2-password");
    EXPECT_EQ(deleteConfirmationText(secret), QStringLiteral("hunter2-password"));
    secret.isSensitive = true;
    EXPECT_EQ(deleteConfirmationText(secret), secret.maskedDisplayText());
    EXPECT_FALSE(deleteConfirmationText(secret).contains(QStringLiteral("hunter2")));
    secret.textContent = QString(2000, QLatin1Char('s'));
    EXPECT_EQ(deleteConfirmationText(secret).size(), 501);
}

} // namespace
} // namespace lumra
