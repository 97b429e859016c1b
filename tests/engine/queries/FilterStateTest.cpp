#include "QueriesTestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <functional>

using namespace lumra;
using namespace std::chrono_literals;

namespace {

class FilterStateTest : public test::QueriesTest {
protected:
    FilterStateTest()
    {
        manager->setClipboardItems({text("apple", "apple pie", 1), text("apricot", "apricot jam", 2),
                                    text("banana", "banana bread", 3)});
    }
};

// ---------------------------------------------------------------------------- search debounce

TEST_F(FilterStateTest, TypingFastRecomputesOnceAfterThePause)
{
    const quint64 before = manager->filters().filterRecomputations();
    manager->filters().setSearchText("a");
    clock.advance(50ms);
    manager->filters().setSearchText("ap");
    clock.advance(50ms);
    manager->filters().setSearchText("apr");
    clock.advance(119ms);
    EXPECT_EQ(manager->filters().filterRecomputations(), before);
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));

    clock.advance(1ms);
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
    EXPECT_EQ(shown(), QStringList({"apricot"}));
    clock.advance(1s);
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
}

TEST_F(FilterStateTest, RetypingTheSameTextRestartsThePause)
{
    manager->filters().setSearchText("ban");
    clock.advance(100ms);
    const quint64 before = manager->filters().filterRecomputations();
    manager->filters().setSearchText("ban");
    clock.advance(100ms);
    EXPECT_EQ(manager->filters().filterRecomputations(), before);
    clock.advance(20ms);
    EXPECT_EQ(shown(), QStringList({"banana"}));
}

TEST_F(FilterStateTest, ClearingTheSearchRecomputesAtOnceAndCancelsThePendingOne)
{
    manager->filters().setSearchText("ban");
    clock.advance(120ms);
    manager->filters().setSearchText("apr");
    manager->filters().setSearchText("");
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));
    const quint64 after = manager->filters().filterRecomputations();
    clock.advance(1s);
    EXPECT_EQ(manager->filters().filterRecomputations(), after);
}

TEST_F(FilterStateTest, ABlankIsSearchTextLikeAnyOther)
{
    const quint64 before = manager->filters().filterRecomputations();
    manager->filters().setSearchText(" ");
    EXPECT_EQ(manager->filters().filterRecomputations(), before);
    clock.advance(120ms);
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
}

// ---------------------------------------------------------------------------- batches

TEST_F(FilterStateTest, NestedBatchRecomputesOnceAtTheOutermostEnd)
{
    QSignalSpy changed(&manager->filters(), &HistoryFilter::filteredItemsChanged);
    const quint64 before = manager->filters().filterRecomputations();
    manager->filters().beginFilterUpdateBatch();
    {
        HistoryFilter::FilterUpdateBatch inner(manager->filters());
        manager->filters().setSearchText("");
        manager->filters().setExcludedAppBundleIds({"org.example.app"});
        manager->filters().setShowRecycleBin(false);
    }
    manager->filters().setSearchTagsOnly(true);
    manager->filters().setSearchText("a");
    EXPECT_EQ(manager->filters().filterRecomputations(), before);
    EXPECT_EQ(changed.count(), 0);
    manager->filters().endFilterUpdateBatch();
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
}

TEST_F(FilterStateTest, BatchWithoutChangesDoesNotRecompute)
{
    const quint64 before = manager->filters().filterRecomputations();
    { HistoryFilter::FilterUpdateBatch batch(manager->filters()); }
    EXPECT_EQ(manager->filters().filterRecomputations(), before);
}

TEST_F(FilterStateTest, UnbalancedBatchEndIsIgnored)
{
    manager->filters().endFilterUpdateBatch();
    manager->filters().beginFilterUpdateBatch();
    manager->filters().setShowStarredOnly(true);
    EXPECT_EQ(shown().size(), 3);
    manager->filters().endFilterUpdateBatch();
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(FilterStateTest, HistoryLoadedDuringABatchShowsAtItsEnd)
{
    manager->filters().beginFilterUpdateBatch();
    manager->setClipboardItems({text("cherry", "cherry")});
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));
    EXPECT_EQ(manager->filters().filteredItemCount(), 3);
    manager->filters().endFilterUpdateBatch();
    EXPECT_EQ(shown(), QStringList({"cherry"}));
    EXPECT_EQ(manager->filters().filteredItemAt(0).comment, "cherry");
}

// ---------------------------------------------------------------------------- setter rule

struct PropertyCase {
    const char* name;
    std::function<void(HistoryFilter&)> assign;
};
void PrintTo(const PropertyCase& c, std::ostream* os) { *os << c.name; }

class SetterRuleTest : public test::QueriesTest, public ::testing::WithParamInterface<PropertyCase> { };

TEST_P(SetterRuleTest, OnlyADifferentValueNotifies)
{
    QSignalSpy spy(&manager->filters(), &HistoryFilter::filtersChanged);
    GetParam().assign(manager->filters());
    EXPECT_EQ(spy.count(), 1);
    GetParam().assign(manager->filters());
    EXPECT_EQ(spy.count(), 1);
}

const QUuid someCategory = QUuid::fromString(QStringLiteral("{6f1c8a52-3f6e-4d8e-9a41-0d2c5b7e9f10}"));
const QDateTime someDate(QDate(2025, 7, 4), QTime(8, 0), Qt::UTC);

INSTANTIATE_TEST_SUITE_P(
    Filters, SetterRuleTest,
    ::testing::Values(
        PropertyCase{"searchText", [](HistoryFilter& m) { m.setSearchText("x"); }},
        PropertyCase{"showStarredOnly", [](HistoryFilter& m) { m.setShowStarredOnly(true); }},
        PropertyCase{"showImagesOnly", [](HistoryFilter& m) { m.setShowImagesOnly(true); }},
        PropertyCase{"showLinksOnly", [](HistoryFilter& m) { m.setShowLinksOnly(true); }},
        PropertyCase{"searchTagsOnly", [](HistoryFilter& m) { m.setSearchTagsOnly(true); }},
        PropertyCase{"showPastedOnly", [](HistoryFilter& m) { m.setShowPastedOnly(true); }},
        PropertyCase{"selectedCategoryId", [](HistoryFilter& m) { m.setSelectedCategoryId(someCategory); }},
        PropertyCase{"dateFilterOption", [](HistoryFilter& m) { m.setDateFilterOption(DateFilterOption::thisWeek); }},
        PropertyCase{"customDateStart", [](HistoryFilter& m) { m.setCustomDateStart(someDate); }},
        PropertyCase{"customDateEnd", [](HistoryFilter& m) { m.setCustomDateEnd(someDate); }},
        PropertyCase{"typeFilterOption", [](HistoryFilter& m) { m.setTypeFilterOption(TypeFilterOption::colors); }},
        PropertyCase{"excludedTypes", [](HistoryFilter& m) { m.setExcludedTypes({TypeFilterOption::files}); }},
        PropertyCase{"excludeStarred", [](HistoryFilter& m) { m.setExcludeStarred(true); }},
        PropertyCase{"excludedDateOption", [](HistoryFilter& m) { m.setExcludedDateOption(DateFilterOption::today); }},
        PropertyCase{"excludedCustomDateStart", [](HistoryFilter& m) { m.setExcludedCustomDateStart(someDate); }},
        PropertyCase{"excludedCustomDateEnd", [](HistoryFilter& m) { m.setExcludedCustomDateEnd(someDate); }},
        PropertyCase{"excludedAppBundleIds", [](HistoryFilter& m) { m.setExcludedAppBundleIds({"org.example"}); }},
        PropertyCase{"appFilterBundleId", [](HistoryFilter& m) { m.setAppFilterBundleId("org.example"); }},
        PropertyCase{"showRecycleBin", [](HistoryFilter& m) { m.setShowRecycleBin(true); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilterStateTest, CustomPeriodRecomputesOnlyWhileTheDateFilterIsCustom)
{
    manager->filters().setDateFilterOption(DateFilterOption::last7Days);
    quint64 before = manager->filters().filterRecomputations();
    manager->filters().setCustomDateStart(someDate);
    EXPECT_EQ(manager->filters().filterRecomputations(), before);

    manager->filters().setDateFilterOption(DateFilterOption::custom);
    before = manager->filters().filterRecomputations();
    manager->filters().setCustomDateEnd(someDate);
    EXPECT_EQ(manager->filters().filterRecomputations(), before + 1);
}

// ---------------------------------------------------------------------------- the published list

TEST_F(FilterStateTest, ListChangedIsToldOnlyWhenTheResultChanged)
{
    QSignalSpy changed(&manager->filters(), &HistoryFilter::filteredItemsChanged);
    manager->filters().setTypeFilterOption(TypeFilterOption::text); // every item is text
    EXPECT_EQ(changed.count(), 0);
    manager->filters().setShowPastedOnly(true);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(shown().isEmpty());
    manager->filters().setShowPastedOnly(true);
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(FilterStateTest, AnEditedItemInTheSameSlotIsNewsToo)
{
    QSignalSpy changed(&manager->filters(), &HistoryFilter::filteredItemsChanged);
    QList<ClipboardItem> items = manager->clipboardItems();
    items[0].textContent = QStringLiteral("apple crumble");
    manager->setClipboardItems(items);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager->filters().filteredItems().first().textContent, "apple crumble");
    EXPECT_EQ(manager->filters().filteredItemAt(0).textContent, "apple crumble");
}

TEST_F(FilterStateTest, RecycleBinViewIsLeftWhenThePopupCloses)
{
    ClipboardItem trashed = text("old", "apple core", 10);
    trashed.isTrashed = true;
    trashed.trashedDate = clock.now();
    manager->setClipboardItems({text("apple", "apple pie"), trashed});
    manager->filters().setSearchText("pie");
    clock.advance(120ms);
    manager->filters().setShowRecycleBin(true);
    EXPECT_EQ(shown(), QStringList({"old"}));
    EXPECT_EQ(names(manager->filters().trashedItems()), QStringList({"old"}));

    manager->filters().leaveRecycleBinView();
    EXPECT_FALSE(manager->filters().showRecycleBin());
    EXPECT_EQ(shown(), QStringList({"apple"}));
}

TEST_F(FilterStateTest, ASlowRegexSearchShowsTheWholeResultOnlyWhenItIsDone)
{
    manager->setSearchMode("regex");
    manager->filters().setSearchSlice(0ms); // one item per slice
    QSignalSpy changed(&manager->filters(), &HistoryFilter::filteredItemsChanged);
    manager->filters().setSearchText("^ap");
    clock.advance(120ms);
    EXPECT_FALSE(manager->filters().filteredItemsComplete());
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"})) << "never a part of the new result";

    while (!manager->filters().filteredItemsComplete())
        QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringList({"apple", "apricot"}));
    EXPECT_EQ(changed.count(), 1);

    // An edit of the history while a search runs starts it again over the new list.
    manager->filters().setSearchText("jam|bread");
    clock.advance(120ms);
    QList<ClipboardItem> items = manager->clipboardItems();
    items.append(text("cherry", "cherry jam", 0));
    manager->setClipboardItems(items);
    while (!manager->filters().filteredItemsComplete())
        QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringList({"cherry", "apricot", "banana"}));

    // A key that acts on the list (Return, an arrow) finishes a running search first, whether it is
    // still waiting for the pause in typing or already running in slices.
    for (const bool typingPaused : {false, true}) {
        manager->filters().setSearchText(typingPaused ? "^b" : "^ch");
        if (typingPaused) {
            clock.advance(120ms);
            ASSERT_FALSE(manager->filters().filteredItemsComplete());
        }
        manager->filters().applyPendingSearch();
        EXPECT_TRUE(manager->filters().filteredItemsComplete());
        EXPECT_EQ(shown(), typingPaused ? QStringList({"banana"}) : QStringList({"cherry"}));
    }
    QCoreApplication::processEvents(); // slices queued before stay without effect
    EXPECT_EQ(shown(), QStringList({"banana"}));
}

TEST_F(FilterStateTest, ARunawayRegexIsRefusedAndTheUserIsTold)
{
    manager->setSearchMode("regex");
    QSignalSpy error(&manager->filters(), &HistoryFilter::searchErrorChanged);
    manager->filters().setSearchText("(a+)+$");
    clock.advance(120ms);
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_FALSE(manager->filters().searchError().isEmpty());
    manager->filters().setSearchText("(a)+");
    clock.advance(120ms);
    EXPECT_TRUE(manager->filters().searchError().isEmpty());
    EXPECT_EQ(error.count(), 2);
}

// ---------------------------------------------------------------------------- source applications

TEST_F(FilterStateTest, SourceAppsFollowTheHistoryAndLeaveLumraOut)
{
    auto from = [this](const QString& name, const QString& app, int minutesAgo) {
        ClipboardItem item = text(name, name, minutesAgo);
        item.sourceAppBundleId = app;
        item.sourceAppName = app.toUpper();
        return item;
    };
    manager->setClipboardItems({from("a", "org.example.editor", 5), from("own", HistoryFilter::ownApplicationId(), 1)});
    ASSERT_EQ(manager->filters().sourceApps(), QList<SourceApp>({{"org.example.editor", "ORG.EXAMPLE.EDITOR"}}));

    QList<ClipboardItem> items = manager->clipboardItems();
    items.prepend(from("b", "org.example.term", 2));
    manager->setClipboardItems(items);
    EXPECT_EQ(manager->filters().sourceApps(), QList<SourceApp>({{"org.example.term", "ORG.EXAMPLE.TERM"},
                                                       {"org.example.editor", "ORG.EXAMPLE.EDITOR"}}));
}

} // namespace
