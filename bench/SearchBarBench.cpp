// The search bar's pickers over a large history: opening one, and applying the filter it offers.
#include "engine/ClipboardManager.h"
#include "engine/HistoryFilter.h"
#include "platform/cloud/CloudKeyValueStore.h"
#include "platform/defaults/UserDefaults.h"
#include "ui/items/FilterPickers.h"
#include "ui/popup/SearchBar.h"

#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

using namespace lumra;

namespace {

constexpr int appCount = 60;
constexpr int categoryCount = 25;

struct Fixture {
    explicit Fixture(int size)
        : defaults(folder.path() + QStringLiteral("/settings.json"))
    {
        ClipboardManager::registerDefaultSettings(defaults);
        manager = std::make_unique<ClipboardManager>(defaults, &kv);
        QList<ClipboardCategory> categories;
        for (int c = 0; c < categoryCount; ++c)
            categories.append({QUuid::createUuid(), QStringLiteral("Category %1").arg(c), QStringLiteral("folder"), false, c});
        manager->setCategories(categories);
        items.reserve(size);
        const QDateTime start = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < size; ++i) {
            ClipboardItem item;
            item.id = QUuid::createUuid();
            item.textContent = i % 7 == 0 ? QStringLiteral("https://example.com/page/%1").arg(i)
                                          : QStringLiteral("Copied text number %1, notes for the review").arg(i);
            item.dateAdded = start.addSecs(-qint64(i) * 90);
            item.sourceAppBundleId = QStringLiteral("org.example.App%1").arg(i % appCount);
            item.sourceAppName = QStringLiteral("Application %1").arg(i % appCount);
            item.categoryId = categories[i % categoryCount].id;
            items.append(std::move(item));
        }
        manager->setClipboardItems(items);
        bar = std::make_unique<SearchBar>(*manager);
        bar->resize(560, 36);
        bar->show();
        QCoreApplication::processEvents();
    }

    // A history change, so the application list is gathered again at the next opening.
    void touchHistory()
    {
        items[0].textContent = QStringLiteral("Copied text %1").arg(++touches);
        manager->setClipboardItems(items);
    }

    QTemporaryDir folder;
    UserDefaults defaults;
    InMemoryCloudKeyValueStore kv;
    std::unique_ptr<ClipboardManager> manager;
    std::unique_ptr<SearchBar> bar;
    QList<ClipboardItem> items;
    int touches = 0;
};

const std::array<FilterPopover, 5> pickers{FilterPopover::date, FilterPopover::type, FilterPopover::app,
                                           FilterPopover::category, FilterPopover::excludeApp};

// Opening a picker after the history changed, until it is on screen.
void BM_OpenPicker(benchmark::State& state)
{
    Fixture f(bench::historySize(100000));
    const FilterPopover popover = pickers[size_t(state.range(0))];
    for (auto _ : state) {
        state.PauseTiming();
        f.touchHistory();
        state.ResumeTiming();
        f.bar->openPopover(popover);
        QCoreApplication::processEvents();
        state.PauseTiming();
        f.bar->closePopover();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(f.items.size());
}

// A click on the picker's second row: the filter is set, the list computed, the bar redrawn.
void BM_ApplyPickedFilter(benchmark::State& state)
{
    Fixture f(bench::historySize(100000));
    const FilterPopover popover = pickers[size_t(state.range(0))];
    for (auto _ : state) {
        state.PauseTiming();
        f.bar->openPopover(popover);
        QCoreApplication::processEvents();
        auto* picker = qobject_cast<FilterPickerView*>(f.bar->popover()->content());
        PickerRow* row = picker ? picker->rows().value(1) : nullptr;
        if (!row) {
            state.SkipWithError("no row to pick");
            break;
        }
        state.ResumeTiming();
        row->click();
        QCoreApplication::processEvents();
        state.PauseTiming();
        clearAllFilters(*f.manager);
        f.manager->filters().setSelectedCategoryId(std::nullopt);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(f.items.size());
}

} // namespace

BENCHMARK(BM_OpenPicker)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ApplyPickedFilter)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(10);
