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
    const quint64 before = manager->filterRecomputations();
    manager->setSearchText("a");
    clock.advance(50ms);
    manager->setSearchText("ap");
    clock.advance(50ms);
    manager->setSearchText("apr");
    clock.advance(119ms);
    EXPECT_EQ(manager->filterRecomputations(), before);
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));

    clock.advance(1ms);
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
    EXPECT_EQ(shown(), QStringList({"apricot"}));
    clock.advance(1s);
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
}

TEST_F(FilterStateTest, RetypingTheSameTextRestartsThePause)
{
    manager->setSearchText("ban");
    clock.advance(100ms);
    const quint64 before = manager->filterRecomputations();
    manager->setSearchText("ban");
    clock.advance(100ms);
    EXPECT_EQ(manager->filterRecomputations(), before);
    clock.advance(20ms);
    EXPECT_EQ(shown(), QStringList({"banana"}));
}

TEST_F(FilterStateTest, ClearingTheSearchRecomputesAtOnceAndCancelsThePendingOne)
{
    manager->setSearchText("ban");
    clock.advance(120ms);
    manager->setSearchText("apr");
    manager->setSearchText("");
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));
    const quint64 after = manager->filterRecomputations();
    clock.advance(1s);
    EXPECT_EQ(manager->filterRecomputations(), after);
}

TEST_F(FilterStateTest, ABlankIsSearchTextLikeAnyOther)
{
    const quint64 before = manager->filterRecomputations();
    manager->setSearchText(" ");
    EXPECT_EQ(manager->filterRecomputations(), before);
    clock.advance(120ms);
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
}

// ---------------------------------------------------------------------------- batches

TEST_F(FilterStateTest, NestedBatchRecomputesOnceAtTheOutermostEnd)
{
    QSignalSpy changed(manager.get(), &ClipboardManager::filteredItemsChanged);
    const quint64 before = manager->filterRecomputations();
    manager->beginFilterUpdateBatch();
    {
        ClipboardManager::FilterUpdateBatch inner(*manager);
        manager->setSearchText("");
        manager->setExcludedAppBundleIds({"org.example.app"});
        manager->setShowRecycleBin(false);
    }
    manager->setSearchTagsOnly(true);
    manager->setSearchText("a");
    EXPECT_EQ(manager->filterRecomputations(), before);
    EXPECT_EQ(changed.count(), 0);
    manager->endFilterUpdateBatch();
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
}

TEST_F(FilterStateTest, BatchWithoutChangesDoesNotRecompute)
{
    const quint64 before = manager->filterRecomputations();
    { ClipboardManager::FilterUpdateBatch batch(*manager); }
    EXPECT_EQ(manager->filterRecomputations(), before);
}

TEST_F(FilterStateTest, UnbalancedBatchEndIsIgnored)
{
    manager->endFilterUpdateBatch();
    manager->beginFilterUpdateBatch();
    manager->setShowStarredOnly(true);
    EXPECT_EQ(shown().size(), 3);
    manager->endFilterUpdateBatch();
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(FilterStateTest, HistoryLoadedDuringABatchShowsAtItsEnd)
{
    manager->beginFilterUpdateBatch();
    manager->setClipboardItems({text("cherry", "cherry")});
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"}));
    EXPECT_EQ(manager->filteredItemCount(), 3);
    manager->endFilterUpdateBatch();
    EXPECT_EQ(shown(), QStringList({"cherry"}));
    EXPECT_EQ(manager->filteredItemAt(0).comment, "cherry");
}

// ---------------------------------------------------------------------------- setter rule

struct PropertyCase {
    const char* name;
    std::function<void(ClipboardManager&)> assign;
};
void PrintTo(const PropertyCase& c, std::ostream* os) { *os << c.name; }

class SetterRuleTest : public test::QueriesTest, public ::testing::WithParamInterface<PropertyCase> { };

TEST_P(SetterRuleTest, OnlyADifferentValueNotifies)
{
    QSignalSpy spy(manager.get(), &ClipboardManager::filtersChanged);
    GetParam().assign(*manager);
    EXPECT_EQ(spy.count(), 1);
    GetParam().assign(*manager);
    EXPECT_EQ(spy.count(), 1);
}

const QUuid someCategory = QUuid::fromString(QStringLiteral("{6f1c8a52-3f6e-4d8e-9a41-0d2c5b7e9f10}"));
const QDateTime someDate(QDate(2025, 7, 4), QTime(8, 0), Qt::UTC);

INSTANTIATE_TEST_SUITE_P(
    Filters, SetterRuleTest,
    ::testing::Values(
        PropertyCase{"searchText", [](ClipboardManager& m) { m.setSearchText("x"); }},
        PropertyCase{"showStarredOnly", [](ClipboardManager& m) { m.setShowStarredOnly(true); }},
        PropertyCase{"showImagesOnly", [](ClipboardManager& m) { m.setShowImagesOnly(true); }},
        PropertyCase{"showLinksOnly", [](ClipboardManager& m) { m.setShowLinksOnly(true); }},
        PropertyCase{"searchTagsOnly", [](ClipboardManager& m) { m.setSearchTagsOnly(true); }},
        PropertyCase{"showPastedOnly", [](ClipboardManager& m) { m.setShowPastedOnly(true); }},
        PropertyCase{"selectedCategoryId", [](ClipboardManager& m) { m.setSelectedCategoryId(someCategory); }},
        PropertyCase{"dateFilterOption", [](ClipboardManager& m) { m.setDateFilterOption(DateFilterOption::thisWeek); }},
        PropertyCase{"customDateStart", [](ClipboardManager& m) { m.setCustomDateStart(someDate); }},
        PropertyCase{"customDateEnd", [](ClipboardManager& m) { m.setCustomDateEnd(someDate); }},
        PropertyCase{"typeFilterOption", [](ClipboardManager& m) { m.setTypeFilterOption(TypeFilterOption::colors); }},
        PropertyCase{"excludedTypes", [](ClipboardManager& m) { m.setExcludedTypes({TypeFilterOption::files}); }},
        PropertyCase{"excludeStarred", [](ClipboardManager& m) { m.setExcludeStarred(true); }},
        PropertyCase{"excludedDateOption", [](ClipboardManager& m) { m.setExcludedDateOption(DateFilterOption::today); }},
        PropertyCase{"excludedCustomDateStart", [](ClipboardManager& m) { m.setExcludedCustomDateStart(someDate); }},
        PropertyCase{"excludedCustomDateEnd", [](ClipboardManager& m) { m.setExcludedCustomDateEnd(someDate); }},
        PropertyCase{"excludedAppBundleIds", [](ClipboardManager& m) { m.setExcludedAppBundleIds({"org.example"}); }},
        PropertyCase{"appFilterBundleId", [](ClipboardManager& m) { m.setAppFilterBundleId("org.example"); }},
        PropertyCase{"showRecycleBin", [](ClipboardManager& m) { m.setShowRecycleBin(true); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilterStateTest, CustomPeriodRecomputesOnlyWhileTheDateFilterIsCustom)
{
    manager->setDateFilterOption(DateFilterOption::last7Days);
    quint64 before = manager->filterRecomputations();
    manager->setCustomDateStart(someDate);
    EXPECT_EQ(manager->filterRecomputations(), before);

    manager->setDateFilterOption(DateFilterOption::custom);
    before = manager->filterRecomputations();
    manager->setCustomDateEnd(someDate);
    EXPECT_EQ(manager->filterRecomputations(), before + 1);
}

// ---------------------------------------------------------------------------- the published list

TEST_F(FilterStateTest, ListChangedIsToldOnlyWhenTheResultChanged)
{
    QSignalSpy changed(manager.get(), &ClipboardManager::filteredItemsChanged);
    manager->setTypeFilterOption(TypeFilterOption::text); // every item is text
    EXPECT_EQ(changed.count(), 0);
    manager->setShowPastedOnly(true);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(shown().isEmpty());
    manager->setShowPastedOnly(true);
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(FilterStateTest, AnEditedItemInTheSameSlotIsNewsToo)
{
    QSignalSpy changed(manager.get(), &ClipboardManager::filteredItemsChanged);
    QList<ClipboardItem> items = manager->clipboardItems();
    items[0].textContent = QStringLiteral("apple crumble");
    manager->setClipboardItems(items);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager->filteredItems().first().textContent, "apple crumble");
    EXPECT_EQ(manager->filteredItemAt(0).textContent, "apple crumble");
}

TEST_F(FilterStateTest, RecycleBinViewIsLeftWhenThePopupCloses)
{
    ClipboardItem trashed = text("old", "apple core", 10);
    trashed.isTrashed = true;
    trashed.trashedDate = clock.now();
    manager->setClipboardItems({text("apple", "apple pie"), trashed});
    manager->setSearchText("pie");
    clock.advance(120ms);
    manager->setShowRecycleBin(true);
    EXPECT_EQ(shown(), QStringList({"old"}));
    EXPECT_EQ(names(manager->trashedItems()), QStringList({"old"}));

    manager->leaveRecycleBinView();
    EXPECT_FALSE(manager->showRecycleBin());
    EXPECT_EQ(shown(), QStringList({"apple"}));
}

TEST_F(FilterStateTest, ASlowRegexSearchShowsTheWholeResultOnlyWhenItIsDone)
{
    manager->setSearchMode("regex");
    manager->setSearchSlice(0ms); // one item per slice
    QSignalSpy changed(manager.get(), &ClipboardManager::filteredItemsChanged);
    manager->setSearchText("^ap");
    clock.advance(120ms);
    EXPECT_FALSE(manager->filteredItemsComplete());
    EXPECT_EQ(shown(), QStringList({"apple", "apricot", "banana"})) << "never a part of the new result";

    while (!manager->filteredItemsComplete())
        QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringList({"apple", "apricot"}));
    EXPECT_EQ(changed.count(), 1);

    // An edit of the history while a search runs starts it again over the new list.
    manager->setSearchText("jam|bread");
    clock.advance(120ms);
    QList<ClipboardItem> items = manager->clipboardItems();
    items.append(text("cherry", "cherry jam", 0));
    manager->setClipboardItems(items);
    while (!manager->filteredItemsComplete())
        QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringList({"cherry", "apricot", "banana"}));

    // A key that acts on the list (Return, an arrow) finishes a running search first, whether it is
    // still waiting for the pause in typing or already running in slices.
    for (const bool typingPaused : {false, true}) {
        manager->setSearchText(typingPaused ? "^b" : "^ch");
        if (typingPaused) {
            clock.advance(120ms);
            ASSERT_FALSE(manager->filteredItemsComplete());
        }
        manager->applyPendingSearch();
        EXPECT_TRUE(manager->filteredItemsComplete());
        EXPECT_EQ(shown(), typingPaused ? QStringList({"banana"}) : QStringList({"cherry"}));
    }
    QCoreApplication::processEvents(); // slices queued before stay without effect
    EXPECT_EQ(shown(), QStringList({"banana"}));
}

TEST_F(FilterStateTest, ARunawayRegexIsRefusedAndTheUserIsTold)
{
    manager->setSearchMode("regex");
    QSignalSpy error(manager.get(), &ClipboardManager::searchErrorChanged);
    manager->setSearchText("(a+)+$");
    clock.advance(120ms);
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_FALSE(manager->searchError().isEmpty());
    manager->setSearchText("(a)+");
    clock.advance(120ms);
    EXPECT_TRUE(manager->searchError().isEmpty());
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
    manager->setClipboardItems({from("a", "org.example.editor", 5), from("own", ClipboardManager::ownApplicationId(), 1)});
    ASSERT_EQ(manager->sourceApps(), QList<SourceApp>({{"org.example.editor", "ORG.EXAMPLE.EDITOR"}}));

    QList<ClipboardItem> items = manager->clipboardItems();
    items.prepend(from("b", "org.example.term", 2));
    manager->setClipboardItems(items);
    EXPECT_EQ(manager->sourceApps(), QList<SourceApp>({{"org.example.term", "ORG.EXAMPLE.TERM"},
                                                       {"org.example.editor", "ORG.EXAMPLE.EDITOR"}}));
}

} // namespace
