#include "engine/filter/FilterIndex.h"
#include "engine/filter/FilteredItems.h"

#include "FilterTestItems.h"

#include <gtest/gtest.h>

#include <random>

using namespace lumra;
using namespace lumra::test;

namespace {

// Random edits of a small history, each applied to the index in place and compared with an index
// built from scratch: the index and every filtered list must come out the same.
class RandomHistory {
public:
    explicit RandomHistory(quint32 seed) : m_random(seed) { }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    ClipboardItem make()
    {
        static const char* const words[] = {"alpha", "beta", "gamma", "Äpfel", "straße", "b", "https://example.com/x",
                                            "mail@example.org", "#ff8800", "東京"};
        ClipboardItem item;
        const int kind = pick(10);
        if (kind < 7) {
            QStringList text;
            for (int i = 0, n = 1 + pick(4); i < n; ++i) text << QString::fromUtf8(words[pick(int(std::size(words)))]);
            item.textContent = text.join(u' ');
        } else if (kind < 8) {
            item.contentType = ClipboardContentType::image;
            item.imageFileName = QStringLiteral("0123456789abcdef0123456789abcdef.png");
            if (pick(2)) item.ocrText = QStringLiteral("gamma beta");
        } else {
            item.contentType = ClipboardContentType::file;
            item.fileURLStrings = QStringList {QStringLiteral("file:///home/u/alpha%20%1.pdf").arg(pick(3))};
            item.fileURLIsDirectory = QList<bool> {pick(2) == 0};
        }
        item = named(QString::number(m_nextName++), item);
        retouch(item);
        return item;
    }

    // New flags, tags, app and date; few distinct dates, so that ties are common.
    void retouch(ClipboardItem& item)
    {
        item.dateAdded = berlinTime(2024, 5, 15, 12, pick(6));
        item.isPinned = pick(5) == 0;
        item.isPinnedToTop = pick(8) == 0;
        item.tags = pick(4) == 0 ? QStringList {QStringLiteral("work"), QStringLiteral("beta")} : QStringList();
        item.sourceAppBundleId = pick(2) ? std::optional<QString>(QStringLiteral("app%1").arg(pick(3))) : std::nullopt;
        item.lastPastedDate = pick(4) == 0 ? std::optional<QDateTime>(item.dateAdded) : std::nullopt;
        item.categoryId = pick(4) == 0 ? std::optional<QUuid>(category) : std::nullopt;
    }

    // One random edit of `items` in place, described the way the engine describes it.
    HistoryChange edit(QList<ClipboardItem>& items)
    {
        HistoryChange change;
        std::vector<bool> removed(size_t(items.size()), false), changed(size_t(items.size()), false);
        for (int n = 1 + pick(3); n > 0 && !items.isEmpty(); --n) {
            const qsizetype i = pick(int(items.size()));
            ClipboardItem& item = items[i];
            switch (pick(6)) {
            case 0: removed[size_t(i)] = true; break;
            case 1:
                item.isTrashed = !item.isTrashed;
                item.trashedDate = item.isTrashed && pick(3) ? std::optional<QDateTime>(berlinTime(2024, 5, 16, pick(3), 0))
                                                             : std::nullopt;
                changed[size_t(i)] = true;
                break;
            case 2: item.textContent = make().textContent; changed[size_t(i)] = true; break;
            case 3: retouch(item); changed[size_t(i)] = true; break;
            default: break; // a capture below
            }
        }
        QList<ClipboardItem> kept;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (removed[size_t(i)]) {
                change.removed.push_back(qint32(i));
                continue;
            }
            if (changed[size_t(i)]) change.changed.push_back(qint32(kept.size()));
            kept << items[i];
        }
        for (int n = pick(3); n > 0; --n) {
            kept << make();
            ++change.appended;
        }
        items = kept;
        return change;
    }

    const QUuid category = QUuid::createUuid();

private:
    std::mt19937 m_random;
    int m_nextName = 0;
};

QList<FilterState> filterStates(const QUuid& category)
{
    QList<FilterState> states;
    auto add = [&](auto set) {
        FilterState state;
        set(state);
        states << state;
    };
    add([](FilterState&) { });
    add([](FilterState& s) { s.searchText = "al be"; });
    add([](FilterState& s) { s.searchText = "pha b"; s.searchMode = "exact"; });
    add([](FilterState& s) { s.searchText = "aea"; s.searchMode = "fuzzy"; });
    add([](FilterState& s) { s.searchText = "^g.*a$|pdf"; s.searchMode = "regex"; });
    add([](FilterState& s) { s.searchText = "beta"; s.searchTagsOnly = true; });
    add([](FilterState& s) { s.showStarredOnly = true; s.searchText = "a"; });
    add([](FilterState& s) { s.excludeStarred = true; s.showPastedOnly = true; });
    add([](FilterState& s) { s.typeFilterOption = TypeFilterOption::links; });
    add([](FilterState& s) { s.excludedTypes = {TypeFilterOption::images, TypeFilterOption::colors}; });
    add([](FilterState& s) { s.appFilterBundleId = "app1"; });
    add([](FilterState& s) { s.excludedAppBundleIds = {"app0", "app2"}; });
    add([&](FilterState& s) { s.selectedCategoryId = category; });
    add([](FilterState& s) { s.showRecycleBin = true; });
    return states;
}

void expectSameIndex(const FilterIndex& updated, const FilterIndex& built)
{
    ASSERT_EQ(updated.size(), built.size());
    EXPECT_EQ(updated.historyOrder(), built.historyOrder());
    EXPECT_EQ(updated.trashOrder(), built.trashOrder());
    for (qsizetype i = 0; i < built.size(); ++i) {
        const FilterIndex::Entry& a = updated.entry(i);
        const FilterIndex::Entry& b = built.entry(i);
        EXPECT_EQ(a.haystack, b.haystack) << i;
        EXPECT_EQ(a.tagsBegin, b.tagsBegin) << i;
        EXPECT_EQ(a.tagsEnd, b.tagsEnd) << i;
        EXPECT_EQ(a.dateAddedMs, b.dateAddedMs) << i;
        EXPECT_EQ(a.types.raw(), b.types.raw()) << i;
        EXPECT_EQ(a.singleUnit, b.singleUnit) << i;
                const std::span<const qint32> sa = updated.separators(i), sb = built.separators(i);
        EXPECT_EQ(std::vector<qint32>(sa.begin(), sa.end()), std::vector<qint32>(sb.begin(), sb.end())) << i;
    }
}

} // namespace

TEST(IndexUpdate, RandomEditsGiveTheSameIndexAndListsAsAFullBuild)
{
    for (quint32 seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        RandomHistory random(seed);
        QList<ClipboardItem> items;
        for (int i = 0; i < 40; ++i) items << random.make();
        std::shared_ptr<FilterIndex> index = FilterIndex::build(items, 0);
        const QList<FilterState> states = filterStates(random.category);
        const QDateTime now = berlinTime(2024, 5, 16, 12, 0);
        std::vector<FilterResult> carried;
        for (const FilterState& state : states) carried.push_back(updateFilteredItems(*index, state, now, berlinCalendar()));

        for (quint64 revision = 1; revision <= 150; ++revision) {
            const HistoryChange change = random.edit(items);
            index->update(items, change, revision);
            const std::shared_ptr<const FilterIndex> built = FilterIndex::build(items, revision);
            expectSameIndex(*index, *built);

            std::vector<qint32> touched = change.changed;
            for (qint32 i = qint32(items.size()) - change.appended; i < qint32(items.size()); ++i) touched.push_back(i);
            for (qsizetype s = 0; s < states.size(); ++s) {
                ASSERT_TRUE(canUpdateFilteredItems(states[s]));
                carried[size_t(s)].carry(change);
                const FilterResult updated = updateFilteredItems(*index, states[s], carried[size_t(s)], touched);
                const FilterResult full = updateFilteredItems(*built, states[s], now, berlinCalendar());
                ASSERT_EQ(updated.indices, full.indices) << "state " << s << " at revision " << revision;
                EXPECT_EQ(updated.revision, revision);
                carried[size_t(s)] = updated;
            }
            if (HasFatalFailure()) return;
        }
    }
}

TEST(IndexUpdate, AFullBuildAfterUpdatesReusesTheUnchangedEntries)
{
    QList<ClipboardItem> items {textItem("a", "alpha"), textItem("b", "beta"), textItem("c", "gamma")};
    std::shared_ptr<FilterIndex> index = FilterIndex::build(items, 1);
    items.removeAt(0);
    items[0].textContent = QStringLiteral("delta");
    index->update(items, HistoryChange {{0}, {0}, 0}, 2);
    const auto rebuilt = FilterIndex::build(items, 3, index.get());
    EXPECT_EQ(rebuilt->reusedEntries(), 2);
    FilterState state;
    state.searchText = "delta";
    EXPECT_EQ(names(updateFilteredItems(*rebuilt, state, berlinTime(2024, 5, 16, 0, 0), berlinCalendar()).items(*rebuilt)),
              QStringList({"b"}));
}

TEST(IndexUpdate, DateFiltersAreAlwaysComputedInFull)
{
    FilterState state;
    EXPECT_TRUE(canUpdateFilteredItems(state));
    state.dateFilterOption = DateFilterOption::today;
    EXPECT_FALSE(canUpdateFilteredItems(state));
    state.dateFilterOption.reset();
    state.excludedDateOption = DateFilterOption::last24Hours;
    EXPECT_FALSE(canUpdateFilteredItems(state));
}
