// What converting copied HTML costs the capture worker: the time it waits and the memory Lumra's
// own process keeps afterwards. "inProcess" parses the same HTML inside the caller, the way capture
// did before the converter program, for comparison.
#include "platform/richtext/RtfCodec.h"

#include "BenchSize.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <QTextDocument>

using namespace lumra;

namespace {

QString sample(const std::string& kind)
{
    const int repeats = bench::shortMode() ? 2'000 : 20'000;
    if (kind == "article")
        return QStringLiteral("<p>A paragraph with <b>bold</b>, <i>italic</i> and <a href=\"https://x.test\">a link</a>.</p>")
            .repeated(repeats / 10);
    if (kind == "listItems") // as browsers copy lists: no end tags, void elements
        return QStringLiteral("<ul>")
            + QStringLiteral("<li>item<br><img src=\"x.png\"><p>para<input type=checkbox/>").repeated(repeats / 10)
            + QStringLiteral("</ul>");
    if (kind == "unmatchedEndTags") // end tags that close nothing: Qt nests every div
        return QStringLiteral("<div></x>").repeated(repeats) + QStringLiteral("text");
    // 4 MB, 400,000 cells
    return QStringLiteral("<table>") + (QStringLiteral("<tr>") + QStringLiteral("<td>x</td>").repeated(10)).repeated(repeats * 2)
        + QStringLiteral("</table>");
}

void report(benchmark::State& state, double residentBefore)
{
    state.counters["keptMB"] = bench::residentMegabytes() - residentBefore;
    state.counters["peakMB"] = bench::residentMegabytes("VmHWM");
}

void BM_HtmlToRtf(benchmark::State& state, const std::string& kind)
{
    const QString html = sample(kind);
    const double before = bench::residentMegabytes();
    bool converted = true;
    for (auto _ : state)
        converted = !RichText::rtfFromHtml(html).isEmpty() && converted;
    report(state, before);
    // The CPU time the converter program may spend on this page; what it spends must stay well under it.
    state.counters["budgetMs"] = double(RichText::htmlConversionTime(html.size()).count());
    state.counters["converted"] = converted;
}
BENCHMARK_CAPTURE(BM_HtmlToRtf, article, std::string("article"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToRtf, listItems, std::string("listItems"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToRtf, unmatchedEndTags, std::string("unmatchedEndTags"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToRtf, table, std::string("table"))->Unit(benchmark::kMillisecond);

// Last: the peak it leaves in this process would show in the others' figures.
void BM_HtmlToRtfInProcess(benchmark::State& state, const std::string& kind)
{
    const QString html = sample(kind);
    const double before = bench::residentMegabytes();
    for (auto _ : state) {
        QTextDocument document;
        document.setHtml(html);
        benchmark::DoNotOptimize(RichText::writeRtf(document));
    }
    report(state, before);
}
BENCHMARK_CAPTURE(BM_HtmlToRtfInProcess, article, std::string("article"))->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_HtmlToRtfInProcess, unmatchedEndTags, std::string("unmatchedEndTags"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_HtmlToRtfInProcess, table, std::string("table"))->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
