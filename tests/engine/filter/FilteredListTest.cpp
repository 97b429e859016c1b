#include "FilterTestItems.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

ClipboardItem at(ClipboardItem item, int hour)
{
    item.dateAdded = berlinTime(2024, 5, 15, hour, 0);
    return item;
}

TEST(ListOrder, PinnedToTopFirstThenNewestAndTheStarPlaysNoPart)
{
    ClipboardItem oldPinned = at(textItem("old pinned", "a"), 1);
    oldPinned.isPinnedToTop = true;
    ClipboardItem starred = at(textItem("starred", "b"), 2);
    starred.isPinned = true;
    const ClipboardItem newest = at(textItem("newest", "c"), 9);
    const ClipboardItem tieFirst = at(textItem("tie first", "d"), 5);
    const ClipboardItem tieSecond = at(textItem("tie second", "e"), 5);
    ClipboardItem trashed = at(textItem("trashed", "f"), 10);
    trashed.isTrashed = true;
    EXPECT_EQ(filteredNames({starred, newest, tieFirst, oldPinned, tieSecond, trashed}, FilterState()),
              QStringList({"old pinned", "newest", "tie first", "tie second", "starred"}));
}

TEST(RecycleBin, ShowsOnlyTrashedItemsByTrashDateIgnoringEveryFilter)
{
    ClipboardItem early = at(textItem("trashed early", "a"), 10);
    early.isTrashed = true;
    early.trashedDate = berlinTime(2024, 5, 15, 10, 30);
    ClipboardItem late = at(textItem("trashed late", "b"), 1);
    late.isTrashed = true;
    late.trashedDate = berlinTime(2024, 5, 15, 12, 0);
    ClipboardItem undated = at(textItem("no trash date", "c"), 11);
    undated.isTrashed = true;
    const ClipboardItem live = at(textItem("live", "d"), 12);

    FilterState state;
    state.showRecycleBin = true;
    state.typeFilterOption = TypeFilterOption::images;
    state.searchText = "zzz";
    state.selectedCategoryId = QUuid::createUuid();
    const QList<ClipboardItem> items{early, late, undated, live};
    EXPECT_EQ(filteredNames(items, state), QStringList({"trashed late", "no trash date", "trashed early"}));
    EXPECT_EQ(names(trashedItems(items)), QStringList({"trashed late", "no trash date", "trashed early"}));
}

TEST(Flags, StarPastedCategoryAndQuickFilters)
{
    ClipboardItem star = at(textItem("star", "x"), 9);
    star.isPinned = true;
    ClipboardItem top = at(textItem("top", "x"), 8);
    top.isPinnedToTop = true;
    ClipboardItem pasted = at(textItem("pasted", "x"), 7);
    pasted.lastPastedDate = berlinTime(2024, 5, 15, 7, 30);
    const QUuid work = QUuid::createUuid();
    ClipboardItem filed = at(textItem("filed", "x"), 6);
    filed.categoryId = work;
    const ClipboardItem link = at(textItem("link", " https://example.com\n"), 5);
    const ClipboardItem linkAndWords = at(textItem("link and words", "https://example.com is down"), 4);
    const ClipboardItem mailto = at(textItem("mailto", "mailto:a@example.com"), 3);
    const ClipboardItem image = at(imageItem("image"), 2);
    const ClipboardItem imageFile = at(fileItem("image file", {"file:///a/b.webp"}), 1);
    const QList<ClipboardItem> items{star, top, pasted, filed, link, linkAndWords, mailto, image, imageFile};

    struct Case {
        const char* label;
        void (*set)(FilterState&);
        QStringList expected;
    };
    static QUuid category;
    category = work;
    const Case cases[] = {
        {"starred counts both flags", [](FilterState& s) { s.showStarredOnly = true; }, {"top", "star"}},
        {"exclude starred", [](FilterState& s) { s.excludeStarred = true; },
         {"pasted", "filed", "link", "link and words", "mailto", "image", "image file"}},
        {"star and its exclusion", [](FilterState& s) { s.showStarredOnly = s.excludeStarred = true; }, {}},
        {"pasted", [](FilterState& s) { s.showPastedOnly = true; }, {"pasted"}},
        {"category", [](FilterState& s) { s.selectedCategoryId = category; }, {"filed"}},
        {"links only", [](FilterState& s) { s.showLinksOnly = true; }, {"link"}},
        {"images only", [](FilterState& s) { s.showImagesOnly = true; }, {"image", "image file"}},
    };
    for (const Case& c : cases) {
        FilterState state;
        c.set(state);
        EXPECT_EQ(filteredNames(items, state), c.expected) << c.label;
    }
}

TEST(Applications, FilterNeedsTheAppAndExclusionKeepsUnknownSources)
{
    ClipboardItem firefox = at(textItem("firefox", "a"), 3);
    firefox.sourceAppBundleId = QStringLiteral("org.mozilla.firefox");
    ClipboardItem upper = at(textItem("upper", "b"), 2);
    upper.sourceAppBundleId = QStringLiteral("ORG.MOZILLA.FIREFOX");
    const ClipboardItem unknown = at(textItem("unknown", "c"), 1);

    FilterState only;
    only.appFilterBundleId = QStringLiteral("org.mozilla.firefox");
    EXPECT_EQ(filteredNames({firefox, upper, unknown}, only), QStringList({"firefox"}));

    FilterState excluded;
    excluded.excludedAppBundleIds = {QStringLiteral("org.mozilla.firefox")};
    EXPECT_EQ(filteredNames({firefox, upper, unknown}, excluded), QStringList({"upper", "unknown"}));
}

TEST(ResultChange, SameRevisionAndItemsIsUnchangedAndANewRevisionIsAChange)
{
    const QList<ClipboardItem> items{at(textItem("a", "alpha"), 1), at(textItem("b", "beta"), 2)};
    const auto index = FilterIndex::build(items, 7);
    FilterState state;
    const QDateTime now = berlinTime(2024, 5, 15, 18, 0);
    const FilterResult all = updateFilteredItems(*index, state, now, berlinCalendar());
    EXPECT_TRUE(all.sameAs(updateFilteredItems(*index, state, now, berlinCalendar())));

    state.searchText = "alp";
    const FilterResult alpha = updateFilteredItems(*index, state, now, berlinCalendar());
    EXPECT_FALSE(alpha.sameAs(all));
    EXPECT_EQ(names(alpha.items(*index)), QStringList({"a"}));

    const auto reloaded = FilterIndex::build(items, 8, index.get());
    EXPECT_FALSE(updateFilteredItems(*reloaded, state, now, berlinCalendar()).sameAs(alpha));
}

TEST(IndexReuse, UnchangedItemsAreReusedAndEditedOnesSearchedAnew)
{
    QList<ClipboardItem> items{at(textItem("a", "alpha"), 1), at(textItem("b", "beta"), 2)};
    const auto first = FilterIndex::build(items, 1);
    items[1].textContent = QStringLiteral("gamma");
    items[0].tags = {"greek"};
    items.append(at(textItem("c", "delta"), 3));
    items[0].dateAdded = berlinTime(2024, 5, 15, 23, 0); // moved to the top: date is always fresh
    const auto second = FilterIndex::build(items, 2, first.get());
    EXPECT_EQ(second->reusedEntries(), 0); // "a" changed its tags, "b" its text, "c" is new

    const auto third = FilterIndex::build(items, 3, second.get());
    EXPECT_EQ(third->reusedEntries(), 3);
    FilterState state;
    state.searchText = "greek";
    EXPECT_EQ(names(updateFilteredItems(*third, state, berlinTime(2024, 5, 16, 0, 0), berlinCalendar()).items(*third)),
              QStringList({"a"}));
    state.searchText = "";
    EXPECT_EQ(names(updateFilteredItems(*third, state, berlinTime(2024, 5, 16, 0, 0), berlinCalendar()).items(*third)),
              QStringList({"a", "c", "b"}));
}

} // namespace
