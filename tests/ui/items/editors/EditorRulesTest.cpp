#include "ui/items/editors/EditorRules.h"

#include <gtest/gtest.h>

namespace lumra {
namespace {

using namespace EditorRules;

ClipboardItem tagged(QStringList tags)
{
    ClipboardItem item;
    item.tags = std::move(tags);
    return item;
}

TEST(EditorRules, TagsSplitAtSpacesOnlyAndKeepWhatWasTyped)
{
    const std::pair<QString, QStringList> cases[] = {
        {"  red   blue ", {"red", "blue"}},
        {"red red Red", {"red", "red", "Red"}},
        {"a\tb c", {"a\tb", "c"}},
        {"   ", {}},
        {"", {}},
    };
    for (const auto& [text, tags] : cases)
        EXPECT_EQ(parseTags(text), tags) << text.toStdString();
    EXPECT_EQ(tagsText({"x", "y"}), "x y");
}

TEST(EditorRules, SeveralItemsOpenWithTheUnionOfTheirTagsInFirstSeenOrder)
{
    EXPECT_EQ(unionTagsText({tagged({"x", "y"}), tagged({"y", "z"})}), "x y z");
    EXPECT_EQ(unionTagsText({tagged({"Tag"}), tagged({"tag"})}), "Tag tag");
    // A precomposed é and e with a combining accent are one tag.
    EXPECT_EQ(unionTagsText({tagged({QString::fromUtf8("caf\u00e9")}), tagged({QString::fromUtf8("cafe\u0301")})}),
              QString::fromUtf8("caf\u00e9"));
    EXPECT_EQ(multiTagCaption(1), "Applies to 1 items");
}

TEST(EditorRules, BlankCommentsAreNoneAndOthersAreTrimmedAtTheEndsOnly)
{
    EXPECT_EQ(commentToStore(" \n\t \n"), std::nullopt);
    EXPECT_EQ(commentToStore("\n  first\n\nsecond  \n"), QString("first\n\nsecond"));
    ClipboardItem item;
    EXPECT_EQ(commentTitle(item), "Add Comment");
    item.comment = QString();
    EXPECT_EQ(commentTitle(item), "Edit Comment");
}

TEST(EditorRules, CountsReadCharactersAsSeenWordsAndLines)
{
    struct Row {
        QString text;
        TextStatistics counts;
        QString shown;
    };
    const Row rows[] = {
        {"", {0, 0, 0}, QString::fromUtf8("0 characters \u00b7 0 words \u00b7 0 lines")},
        {"   ", {3, 0, 1}, QString::fromUtf8("3 characters \u00b7 0 words \u00b7 1 line")},
        {"word\n", {5, 1, 2}, {}},
        {"a\r\nb", {3, 2, 3}, {}}, // CR LF is one character but two line breaks
        {QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467 e\u0301t\u00e9"), {5, 2, 1}, {}},
        {QString::fromUtf8("one\u2028two\u2029three"), {13, 3, 3}, {}},
    };
    for (const Row& row : rows) {
        const TextStatistics counts = textStatistics(row.text);
        EXPECT_EQ(counts.characters, row.counts.characters) << row.text.toStdString();
        EXPECT_EQ(counts.words, row.counts.words) << row.text.toStdString();
        EXPECT_EQ(counts.lines, row.counts.lines) << row.text.toStdString();
        if (!row.shown.isEmpty())
            EXPECT_EQ(statisticsText(counts), row.shown);
    }
}

TEST(EditorRules, CategoryNamesAndSymbols)
{
    EXPECT_EQ(categoryName(" \n "), std::nullopt);
    EXPECT_EQ(categoryName("  Work  "), QString("Work"));
    EXPECT_EQ(deleteCategoryTitle("Work"), "Delete \"Work\"?");
    const QStringList& icons = categoryIconChoices();
    ASSERT_EQ(icons.size(), 36);
    EXPECT_EQ(icons.front(), "folder.fill");
    EXPECT_EQ(icons[29], "desktopcomputer");
    EXPECT_EQ(icons.back(), "music.note");
}

TEST(EditorRules, ARefusedChordNeverSavesAsRemovingTheOldShortcut)
{
    const ItemShortcut chord {2, ItemShortcut::commandFlag};
    EXPECT_TRUE(canSaveShortcut(std::nullopt, false));
    EXPECT_TRUE(canSaveShortcut(chord, true));
    EXPECT_FALSE(canSaveShortcut(std::nullopt, true));
}

TEST(EditorRules, SensitiveItemsAreMaskedUnderTheTitle)
{
    ClipboardItem item;
    item.textContent = QStringLiteral("hunter2-password");
    EXPECT_EQ(itemCaption(item), "hunter2-password");
    item.isSensitive = true;
    EXPECT_FALSE(itemCaption(item).contains("hunter2"));
}

TEST(EditorRules, AnEditorOffScreenComesBackWhollyOnTheScreenMovedNoFurtherThanNeeded)
{
    const QRect area(0, 30, 1920, 1050); // a panel along the top
    const QSize editor(400, 300);
    const std::pair<QPoint, QPoint> cases[] = {
        {{100, 100}, {100, 100}},       // on screen: left where it is
        {{-3000, -3000}, {0, 30}},      // far away up and left
        {{5000, 600}, {1520, 600}},     // off the right edge, height kept
        {{1700, 1000}, {1520, 780}},    // hanging over the bottom right corner
        {{300, 10}, {300, 30}},         // title bar under the panel
    };
    for (const auto& [from, to] : cases)
        EXPECT_EQ(placedOnScreen(QRect(from, editor), area), to) << from.x() << "," << from.y();
    // Larger than the screen: its top left corner shows.
    EXPECT_EQ(placedOnScreen(QRect(QPoint(-50, 900), QSize(2500, 1200)), area), QPoint(0, 30));
    // A second screen to the left, at negative coordinates.
    EXPECT_EQ(placedOnScreen(QRect(QPoint(0, 0), editor), QRect(-1280, 0, 1280, 1024)), QPoint(-400, 0));
}

} // namespace
} // namespace lumra
