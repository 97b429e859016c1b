#include "EditingTestSupport.h"
#include "engine/HistoryFilter.h"

#include "engine/filter/FilteredItems.h"

#include <random>

using namespace lumra;
using namespace lumra::test;
using namespace std::chrono_literals;

namespace {

// The list the manager shows after captures and edits, which it updates item by item, must be the
// list a full computation over its history gives.
class FilteredListAfterEditsTest : public EditingTest {
protected:
    void expectShownIsRecomputed(const FilterState& state, const char* step)
    {
        const QList<ClipboardItem> expected =
            lumra::filteredItems(manager->clipboardItems(), state, clock.now(), CalendarSettings::current());
        EXPECT_EQ(manager->filters().filteredItems(), expected) << step;
        ASSERT_EQ(manager->filters().filteredItemCount(), expected.size()) << step;
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_EQ(manager->filters().filteredItemAt(i), expected[i]) << step;
    }

    std::mt19937 random {7};
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    ClipboardItem anyItem() { return manager->clipboardItems()[pick(int(manager->clipboardItems().size()))]; }
};

} // namespace

TEST_F(FilteredListAfterEditsTest, CapturesAndEditsUnderASearchShowWhatAFullRecomputeShows)
{
    open();
    manager->setRecycleBinEnabled(true);
    QList<ClipboardItem> history;
    for (int i = 0; i < 30; ++i)
        history << text(i % 3 ? QStringLiteral("note %1 apple").arg(i) : QStringLiteral("pear %1").arg(i), 600 - i);
    store(history);
    manager->setMaxItems(32);

    FilterState state;
    state.searchText = QStringLiteral("apple");
    state.searchMode = manager->searchMode();
    manager->filters().setSearchText(state.searchText);
    clock.advance(120ms);
    expectShownIsRecomputed(state, "search");

    for (int step = 0; step < 60; ++step) {
        clock.advance(1s);
        switch (pick(7)) {
        case 0: manager->addTextItem(QStringLiteral("apple %1").arg(step), std::nullopt, CaptureCategory::text, std::nullopt, std::nullopt); break;
        case 1: manager->addTextItem(anyItem().textContent.value_or("x"), std::nullopt, CaptureCategory::text, std::nullopt, std::nullopt); break;
        case 2: manager->togglePinnedToTop(anyItem()); break;
        case 3: manager->setItemTags(anyItem(), {QStringLiteral("apple")}); break;
        case 4: manager->deleteItem(anyItem()); break;
        case 5: manager->restoreItem(anyItem().id); break;
        default: {
            // Edits inside a batch show at its end: an item that starts or stops matching, then one
            // before it in the history removed, which moves it.
            const QList<ClipboardItem>& items = manager->clipboardItems();
            const qsizetype at = 1 + pick(int(items.size()) - 1);
            const ClipboardItem edited = items[at], removed = items[pick(int(at))];
            const bool matched = edited.textContent.value_or("").contains("apple");
            HistoryFilter::FilterUpdateBatch batch(manager->filters());
            manager->updateItemContent(edited, QString::fromLatin1(matched ? "pear %1" : "apple %1").arg(step), std::nullopt);
            manager->deleteItemPermanently(removed.id);
            break;
        }
        }
        expectShownIsRecomputed(state, qPrintable(QStringLiteral("step %1").arg(step)));
        if (HasFailure())
            return;
    }
    expectHistoryMatchesStore();
}

TEST_F(FilteredListAfterEditsTest, TheRecycleBinViewFollowsDeletesAndRestores)
{
    open();
    manager->setRecycleBinEnabled(true);
    const ClipboardItem a = text("a", 30), b = text("b", 20), c = text("c", 10);
    store({a, b, c});
    manager->filters().setShowRecycleBin(true);
    FilterState state;
    state.showRecycleBin = true;
    clock.advance(1s);
    manager->deleteItem(b);
    clock.advance(1s);
    manager->deleteItem(a);
    expectShownIsRecomputed(state, "two trashed");
    ASSERT_EQ(manager->filters().filteredItemCount(), 2);
    EXPECT_EQ(manager->filters().filteredItemAt(0).id, a.id); // trashed last
    manager->restoreItem(a.id);
    expectShownIsRecomputed(state, "one restored");
    manager->deleteItemPermanently(b.id);
    EXPECT_EQ(manager->filters().filteredItemCount(), 0);
}
