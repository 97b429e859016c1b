// Recomputing the filtered list per search mode over a generated history, against a baseline that
// scans the same folded haystacks with a plain substring search.
#include "engine/filter/FilteredItems.h"
#include "engine/filter/SearchText.h"

#include "BenchSize.h"
#include "TextHistory.h"

#include <benchmark/benchmark.h>

#include <QStringList>

#include <memory>
#include <random>

using namespace lumra;

namespace {

const char* const vocabulary[] = {
    "the", "and", "server", "error", "config", "configuration", "user", "account", "password", "meeting",
    "tomorrow", "invoice", "payment", "order", "release", "build", "version", "update", "please", "thanks",
    "project", "report", "quarterly", "draft", "review", "merge", "branch", "commit", "deploy", "cluster",
    "database", "query", "index", "table", "column", "value", "function", "return", "string", "number",
    "address", "street", "phone", "contact", "schedule", "calendar", "weekend", "holiday", "flight", "hotel",
    "Ürün", "café", "naïve", "straße", "東京", "résumé", "über", "señor", "Zürich", "piñata"};

// A deterministic history of realistic texts: words, sentences, paragraphs, code, links, addresses,
// commands, colours, images with recognised text and files; a tenth carry tags.
class HistoryGenerator {
public:
    explicit HistoryGenerator(quint32 seed) : m_random(seed) { }

    QList<ClipboardItem> generate(int count)
    {
        QList<ClipboardItem> items;
        items.reserve(count);
        const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
        for (int i = 0; i < count; ++i) {
            ClipboardItem item = next();
            item.id = QUuid::createUuid();
            item.dateAdded = start.addSecs(qint64(i) * 97);
            item.isPinned = pick(50) == 0;
            item.isPinnedToTop = pick(500) == 0;
            if (pick(10) == 0) item.tags = {words(1), words(2)};
            if (pick(5) == 0) item.sourceAppBundleId = QStringLiteral("org.example.app%1").arg(pick(20));
            items.append(std::move(item));
        }
        return items;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    QString words(int n)
    {
        QStringList list;
        for (int i = 0; i < n; ++i) list.append(QString::fromUtf8(vocabulary[pick(int(std::size(vocabulary)))]));
        return list.join(u' ');
    }

    ClipboardItem text(QString content)
    {
        ClipboardItem item;
        item.textContent = std::move(content);
        return item;
    }

    ClipboardItem next()
    {
        const int kind = pick(100);
        if (kind < 25) return text(words(2 + pick(8)));
        if (kind < 55) return text(words(15 + pick(50)) + u'.');
        if (kind < 63) return text(words(80 + pick(250)).replace(QStringLiteral(" the "), QStringLiteral(".\nThe ")));
        if (kind < 70) return text(QStringLiteral("int %1(const %2& v) {\n    return v.%3() + %4;\n}\n")
                                       .arg(words(1), words(1), words(1)).arg(pick(1000)).repeated(1 + pick(8)));
        if (kind < 78) return text(QStringLiteral("https://%1.example.com/%2?id=%3").arg(words(1), words(1)).arg(pick(99999)));
        if (kind < 82) return text(QStringLiteral("%1.%2@example.org").arg(words(1), words(1)));
        if (kind < 86) return text(QStringLiteral("$ git commit -m \"%1\"").arg(words(4)));
        if (kind < 88) return text(QStringLiteral("#%1").arg(pick(0xffffff), 6, 16, QLatin1Char('0')));
        if (kind < 94) {
            ClipboardItem image;
            image.contentType = ClipboardContentType::image;
            image.imageFileName = QStringLiteral("%1.png").arg(pick(1 << 30), 32, 16, QLatin1Char('0'));
            if (pick(2) == 0) image.ocrText = words(10 + pick(40));
            return image;
        }
        ClipboardItem file;
        file.contentType = ClipboardContentType::file;
        file.fileURLStrings = QStringList{QStringLiteral("file:///home/user/Documents/%1%20%2.%3")
                                              .arg(words(1), words(1), pick(2) ? QStringLiteral("pdf") : QStringLiteral("png"))};
        file.fileURLIsDirectory = QList<bool>{false};
        return file;
    }

    std::mt19937 m_random;
};

const QList<ClipboardItem>& history()
{
    static const QList<ClipboardItem> items = HistoryGenerator(2024).generate(bench::historySize(100'000));
    return items;
}

const FilterIndex& sharedIndex()
{
    static const std::shared_ptr<const FilterIndex> index = FilterIndex::build(history(), 1);
    return *index;
}

// 13,600 long texts (3.4 KB on average, one in fifty up to 50 KB), as the memory benchmark has them.
const FilterIndex& longTextIndex()
{
    static const std::shared_ptr<const FilterIndex> index = [] {
        qint64 utf8Bytes = 0;
        return FilterIndex::build(bench::textHistory(bench::historySize(13'600), bench::longTextLength, &utf8Bytes), 1);
    }();
    return *index;
}

// The last is found nowhere: every text is read to its end.
const char* const queries[] = {"ser", "server error", "zebra"};

void searchBench(benchmark::State& state, SearchMode mode, const FilterIndex& index = sharedIndex())
{
    FilterState filters;
    filters.searchMode = toRawValue(mode);
    filters.searchText = QString::fromUtf8(queries[state.range(0)]);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const CalendarSettings calendar = CalendarSettings::current();
    size_t found = 0;
    for (auto _ : state) {
        const FilterResult result = updateFilteredItems(index, filters, now, calendar);
        found = result.indices.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["items"] = double(index.size());
    state.counters["found"] = double(found);
    state.SetLabel(queries[state.range(0)]);
}

void BM_Contains(benchmark::State& state) { searchBench(state, SearchMode::contains); }
void BM_Exact(benchmark::State& state) { searchBench(state, SearchMode::exact); }
void BM_Fuzzy(benchmark::State& state) { searchBench(state, SearchMode::fuzzy); }
void BM_Regex(benchmark::State& state) { searchBench(state, SearchMode::regex); }
void BM_ContainsLongTexts(benchmark::State& state) { searchBench(state, SearchMode::contains, longTextIndex()); }
void BM_ExactLongTexts(benchmark::State& state) { searchBench(state, SearchMode::exact, longTextIndex()); }

// The floor: one substring scan of every folded haystack, no filters, no terms, no order.
void BM_BaselineSubstring(benchmark::State& state)
{
    const FilterIndex& index = sharedIndex();
    const QString textNeedle = foldForSearch(QString::fromUtf8(queries[state.range(0)]));
    const QByteArray needle = textNeedle.toUtf8();
    size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (qsizetype i = 0; i < index.size(); ++i) {
            const FilterIndex::Entry& entry = index.entry(i);
            if (entry.foldsInPlace() ? entry.text().contains(textNeedle, Qt::CaseInsensitive) : entry.folded().contains(needle))
                ++found;
        }
        benchmark::DoNotOptimize(found);
    }
    double chars = 0;
    for (qsizetype i = 0; i < index.size(); ++i)
        chars += double(index.entry(i).foldsInPlace() ? index.entry(i).text().toUtf8().size() : index.entry(i).folded().size());
    state.counters["found"] = double(found);
    state.counters["avgBytes"] = chars / double(index.size());
    state.SetLabel(queries[state.range(0)]);
}

void BM_FiltersWithoutSearch(benchmark::State& state)
{
    const FilterIndex& index = sharedIndex();
    FilterState filters;
    filters.typeFilterOption = TypeFilterOption::text;
    filters.excludedTypes = {TypeFilterOption::emails};
    filters.dateFilterOption = DateFilterOption::last30Days;
    const QDateTime now = history().last().dateAdded;
    for (auto _ : state) benchmark::DoNotOptimize(updateFilteredItems(index, filters, now, CalendarSettings::current()));
}

void BM_BuildIndex(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(FilterIndex::build(history(), 2));
}

// The index of 13,600 long texts, as the start-up builds it.
void BM_BuildIndexLongTexts(benchmark::State& state)
{
    qint64 utf8Bytes = 0;
    const QList<ClipboardItem> items = bench::textHistory(bench::historySize(13'600), bench::longTextLength, &utf8Bytes);
    for (auto _ : state) benchmark::DoNotOptimize(FilterIndex::build(items, 2));
    state.counters["items"] = double(items.size());
}

// Whether each long text can be searched in place: /0 by folding it, as every text once was,
// /1 from the table of common characters, as the index now asks first.
void BM_InPlaceCheckLongTexts(benchmark::State& state)
{
    qint64 utf8Bytes = 0;
    const QList<ClipboardItem> items = bench::textHistory(bench::historySize(13'600), bench::longTextLength, &utf8Bytes);
    const bool byTable = state.range(0) == 1;
    qsizetype inPlace = 0;
    for (auto _ : state) {
        inPlace = 0;
        for (const ClipboardItem& item : items) {
            const QString& text = *item.textContent;
            if (byTable) {
                inPlace += foldsInPlace(text);
            } else {
                const QString folded = foldForSearch(text);
                inPlace += foldsAsAscii(text, folded) && hasOnlySingleUnitCharacters(folded);
            }
        }
    }
    state.counters["in_place"] = double(inPlace);
    state.counters["items"] = double(items.size());
}

// A capture: one new item on top of an unchanged history.
void BM_RebuildIndexAfterCapture(benchmark::State& state)
{
    QList<ClipboardItem> items = history();
    ClipboardItem captured;
    captured.id = QUuid::createUuid();
    captured.textContent = QStringLiteral("freshly copied text");
    captured.dateAdded = QDateTime::currentDateTimeUtc();
    items.prepend(captured);
    for (auto _ : state) benchmark::DoNotOptimize(FilterIndex::build(items, 3, &sharedIndex()));
}

// The same capture brought into an index in place, as the engine does it.
void BM_UpdateIndexAfterCapture(benchmark::State& state)
{
    QList<ClipboardItem> items = history();
    const std::shared_ptr<FilterIndex> index = FilterIndex::build(items, 1);
    quint64 revision = 1;
    for (auto _ : state) {
        ClipboardItem captured;
        captured.id = QUuid::createUuid();
        captured.textContent = QStringLiteral("freshly copied text");
        captured.dateAdded = QDateTime::currentDateTimeUtc();
        // The oldest goes, the new one comes, as at the item limit.
        index->releaseItems();
        items.removeLast();
        items.append(captured);
        index->update(items, HistoryChange {{qint32(items.size()) - 1}, {}, 1}, ++revision);
    }
}

void BM_MaterializeAllItems(benchmark::State& state)
{
    const FilterIndex& index = sharedIndex();
    const FilterResult all = updateFilteredItems(index, FilterState(), QDateTime::currentDateTimeUtc(),
                                                 CalendarSettings::current());
    for (auto _ : state) benchmark::DoNotOptimize(all.items(index));
}

} // namespace

BENCHMARK(BM_Contains)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Exact)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fuzzy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsLongTexts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactLongTexts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineSubstring)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiltersWithoutSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildIndexLongTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InPlaceCheckLongTexts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildIndexAfterCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateIndexAfterCapture)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaterializeAllItems)->Unit(benchmark::kMillisecond);
