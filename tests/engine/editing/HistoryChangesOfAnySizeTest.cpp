#include "EditingTestSupport.h"
#include "engine/HistoryClearing.h"
#include "engine/HistoryFilter.h"

#include "engine/filter/FilteredItems.h"
#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"
#include "ui/popup/HistoryListModel.h"

#include <random>

using namespace lumra;
using namespace lumra::test;
using namespace std::chrono_literals;

namespace {

// Changes of the history of every size, through every road that makes them (captures, edits,
// deletes, the item limit, clearing, rows saved by another connection as sync and import do),
// must leave the shown list, the filtered results and the popup's rows as a fresh load gives them.
class HistoryChangesOfAnySizeTest : public EditingTest {
protected:
    std::mt19937 random {20261207};
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    int nextName = 0;

    // Distinct dates, so that a fresh load orders the list the same whatever its row order.
    ClipboardItem fresh()
    {
        const int name = nextName++;
        static const char* const words[] = {"apple", "pear", "https://example.com/p", "#ff8800", "Straße", "plum"};
        ClipboardItem item = text(QStringLiteral("%1 %2").arg(QString::fromUtf8(words[pick(6)])).arg(name), 0);
        item.dateAdded = clock.now().addMSecs(-qint64(pick(1'000'000)) * 997 - name % 997);
        item.isPinned = pick(12) == 0;
        item.isPinnedToTop = pick(40) == 0;
        if (pick(10) == 0)
            item.tags = {QStringLiteral("apple")};
        return item;
    }

    QList<ClipboardItem> some(int n, bool untrashedOnly = true)
    {
        QList<ClipboardItem> all;
        for (const ClipboardItem& item : manager->clipboardItems())
            if (!untrashedOnly || !item.isTrashed)
                all << item;
        std::shuffle(all.begin(), all.end(), random);
        return all.mid(0, n);
    }

    // Saves through a connection of its own, as the sync worker and an import do; the engine hears
    // of it as a remote change.
    void saveElsewhere(const std::function<void(store::ManagedObjectContext&)>& change)
    {
        std::unique_ptr<store::ManagedObjectContext> context = manager->persistence()->newBackgroundContext();
        change(*context);
        ASSERT_TRUE(context->save().ok());
        context.reset();
        QCoreApplication::processEvents();
    }

    std::vector<FilterState> states()
    {
        std::vector<FilterState> all(6);
        all[1].searchText = QStringLiteral("apple");
        all[2].showStarredOnly = true;
        all[3].showRecycleBin = true;
        all[4].searchText = QStringLiteral("apple");
        all[4].searchTagsOnly = true;
        all[5].typeFilterOption = TypeFilterOption::links;
        for (FilterState& state : all)
            state.searchMode = manager->searchMode();
        return all;
    }

    void show(const FilterState& state)
    {
        HistoryFilter::FilterUpdateBatch batch(manager->filters());
        manager->filters().resetFiltersToPinned();
        manager->filters().setShowStarredOnly(state.showStarredOnly);
        manager->filters().setShowRecycleBin(state.showRecycleBin);
        manager->filters().setSearchTagsOnly(state.searchTagsOnly);
        manager->filters().setTypeFilterOption(state.typeFilterOption);
        manager->filters().setSearchText(state.searchText);
        manager->filters().applyPendingSearch();
    }

    static std::string firstDifference(const QList<ClipboardItem>& shown, const QList<ClipboardItem>& fresh)
    {
        for (qsizetype i = 0; i < std::min(shown.size(), fresh.size()); ++i) {
            if (!(shown[i] == fresh[i]))
                return QStringLiteral("at %1: %2 \"%3\" against %4 \"%5\"")
                    .arg(i)
                    .arg(shown[i].id.toString(), shown[i].displayText(), fresh[i].id.toString(), fresh[i].displayText())
                    .toStdString();
        }
        return shown.size() == fresh.size() ? std::string() : QStringLiteral("%1 items against %2").arg(shown.size()).arg(fresh.size()).toStdString();
    }

    // The history, the list under `state` and the popup's rows against a fresh read of the store.
    void expectAsFreshLoad(const FilterState& state, const HistoryListModel& rows, const QString& step)
    {
        manager->filters().applyPendingSearch();
        const Result<QList<ClipboardItem>> stored = HistoryReader(*manager->persistence()).loadItems();
        ASSERT_TRUE(stored.ok());
        auto byId = [](QList<ClipboardItem> items) {
            std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.id.toString() < b.id.toString(); });
            return items;
        };
        ASSERT_EQ(firstDifference(byId(manager->clipboardItems()), byId(*stored)), "") << qPrintable(step);
        const QList<ClipboardItem> expected = lumra::filteredItems(*stored, state, clock.now(), CalendarSettings::current());
        ASSERT_EQ(manager->filters().filteredItemCount(), expected.size()) << qPrintable(step);
        for (qsizetype i = 0; i < expected.size(); ++i)
            ASSERT_TRUE(manager->filters().filteredItemAt(i) == expected[i]) << qPrintable(step) << " position " << i;
        EXPECT_EQ(firstDifference(manager->filters().filteredItems(), expected), "") << qPrintable(step);

        ASSERT_EQ(rows.filteredCount(), expected.size()) << qPrintable(step);
        HistoryListModel fromScratch(*manager);
        const ListWindow::Range window = rows.visibleRange();
        ASSERT_LE(window.upper, expected.size()) << qPrintable(step);
        for (int k = 0; k < window.size(); ++k) {
            const int row = rows.firstItemRow() + k;
            const ClipboardItem* item = rows.itemAt(row);
            ASSERT_TRUE(item) << qPrintable(step) << " row " << row;
            ASSERT_EQ(item->id, expected[window.lower + k].id) << qPrintable(step) << " row " << row;
            if (k % 7 == 0) { // a sample: each costs a walk of the list
                ASSERT_TRUE(fromScratch.showWindowAround(item->id));
                EXPECT_EQ(rows.data(rows.index(row)).toString().toStdString(),
                          fromScratch.facts(fromScratch.rowOf(item->id)).text.toStdString())
                    << qPrintable(step) << " row " << row;
            }
        }
    }
};

} // namespace

TEST_F(HistoryChangesOfAnySizeTest, RandomChangesOfOneFiftyAndTwoThousandRowsLeaveTheListAsAFreshLoad)
{
    open();
    manager->setRecycleBinEnabled(true);
    manager->setMaxItems(100'000);
    QList<ClipboardItem> history;
    for (int i = 0; i < 2'600; ++i)
        history << fresh();
    store(history);
    HistoryListModel rows(*manager);
    const std::vector<FilterState> filters = states();

    for (int step = 0; step < 36; ++step) {
        clock.advance(1s);
        const int size = std::array {1, 50, 2'000}[size_t(pick(3))];
        const FilterState& state = filters[size_t(pick(int(filters.size())))];
        show(state); // the change below is then taken into the list item by item
        QString what;
        switch (pick(9)) {
        case 0:
            what = QStringLiteral("capture");
            for (int n = std::min(size, 50); n > 0; --n) {
                clock.advance(1ms);
                manager->addTextItem(QStringLiteral("apple capture %1").arg(nextName++), std::nullopt, CaptureCategory::text,
                                     std::nullopt, std::nullopt);
            }
            break;
        case 1:
            what = QStringLiteral("rows added elsewhere");
            saveElsewhere([&](store::ManagedObjectContext& context) {
                for (int n = 0; n < size; ++n)
                    populateManagedItem(*context.insert(store::EntityKind::item), fresh());
            });
            break;
        case 2:
            what = QStringLiteral("rows edited elsewhere");
            saveElsewhere([&](store::ManagedObjectContext& context) {
                for (const ClipboardItem& item : some(size, false)) {
                    ClipboardItem edited = fresh();
                    edited.id = item.id;
                    edited.isTrashed = item.isTrashed;
                    edited.trashedDate = item.trashedDate;
                    populateManagedItem(*context.fetchById(store::EntityKind::item, item.id), edited);
                }
            });
            break;
        case 3:
            what = QStringLiteral("rows deleted elsewhere");
            saveElsewhere([&](store::ManagedObjectContext& context) {
                for (const ClipboardItem& item : some(size, false))
                    context.deleteObject(context.fetchById(store::EntityKind::item, item.id));
            });
            break;
        case 4: {
            what = QStringLiteral("limit lowered");
            const qsizetype untrashed = some(1'000'000).size();
            manager->setMaxItems(int(std::max<qsizetype>(1, untrashed - size)));
            ASSERT_TRUE(manager->enforceMaxItems().ok());
            manager->setMaxItems(100'000);
            break;
        }
        case 5:
            what = QStringLiteral("deleted");
            manager->setRecycleBinEnabled(pick(2) == 0);
            ASSERT_TRUE(manager->deleteItems(some(size)).ok());
            manager->setRecycleBinEnabled(true);
            break;
        case 6:
            what = QStringLiteral("restored");
            ASSERT_TRUE(manager->restoreItems(manager->filters().trashedItems().mid(0, size)).ok());
            break;
        case 7: {
            what = QStringLiteral("stars, pins and tags");
            const QList<ClipboardItem> chosen = some(size);
            QList<QUuid> ids;
            for (const ClipboardItem& item : chosen)
                ids << item.id;
            ASSERT_TRUE(manager->setTagsForItems(ids, pick(2) ? QStringList {QStringLiteral("apple")} : QStringList()).ok());
            for (const ClipboardItem& item : chosen.mid(0, 3)) {
                ASSERT_TRUE(manager->togglePinned(*find(item.id)).ok());
                ASSERT_TRUE(manager->togglePinnedToTop(*find(item.id)).ok());
            }
            break;
        }
        default:
            what = QStringLiteral("cleared");
            if (size < 2'000)
                ASSERT_TRUE(manager->emptyRecycleBin().ok());
            else
                ASSERT_TRUE(manager->clearing().clearUnpinnedHistory(pick(2) == 0).ok());
            QCoreApplication::processEvents();
            break;
        }
        expectAsFreshLoad(state, rows, QStringLiteral("step %1: %2 of %3 rows").arg(step).arg(what).arg(size));
        if (HasFailure())
            return;
        if (manager->clipboardItems().size() < 600) {
            QList<ClipboardItem> more;
            for (int i = 0; i < 2'000; ++i)
                more << fresh();
            store(more); // a whole read, as at the next start
        }
    }
}
