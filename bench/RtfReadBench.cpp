// What reading stored RTF costs at paste and in the preview, for RTF whose units refer to
// something large (a field's result after a long instruction), and the size of the RTF a page of
// CJK text makes.
#include "platform/richtext/RtfCodec.h"

#include "BenchSize.h"

#include <benchmark/benchmark.h>

#include <QTextDocument>

using namespace lumra;

namespace {

QByteArray repeatedFieldResults(int results)
{
    return "{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"https://a.test/\"" + QByteArray(" a").repeated(4096) + "}"
        + QByteArray("\\fldrslt ").repeated(results) + "x}}";
}

void BM_ReadRtf(benchmark::State& state)
{
    const QByteArray rtf = repeatedFieldResults(int(state.range(0)));
    for (auto _ : state) {
        QTextDocument document;
        benchmark::DoNotOptimize(RichText::readRtf(rtf, &document));
    }
    state.counters["inputKB"] = rtf.size() / 1024.0;
}
BENCHMARK(BM_ReadRtf)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Paragraphs of one list, declared after a list table of a thousand entries.
void BM_ReadRtfListParagraphs(benchmark::State& state)
{
    QByteArray rtf = "{\\rtf1{\\*\\listtable";
    for (int i = 1; i <= 1024; ++i)
        rtf += "{\\list\\listid" + QByteArray::number(i) + "{\\listlevel\\levelnfc0}}";
    rtf += "}{\\*\\listoverridetable";
    for (int i = 1; i <= 1024; ++i)
        rtf += "{\\listoverride\\listid" + QByteArray::number(i) + "\\ls" + QByteArray::number(i) + "}";
    rtf += "}\\ls1024 " + QByteArray("x\\par ").repeated(int(state.range(0))) + "}";
    for (auto _ : state) {
        QTextDocument document;
        benchmark::DoNotOptimize(RichText::readRtf(rtf, &document));
    }
    state.counters["inputKB"] = rtf.size() / 1024.0;
}
BENCHMARK(BM_ReadRtfListParagraphs)->Arg(20'000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Paste reads the stored RTF and writes it as HTML too.
void BM_HtmlFromRtf(benchmark::State& state)
{
    const QByteArray rtf = repeatedFieldResults(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RichText::htmlFromRtf(rtf));
}
BENCHMARK(BM_HtmlFromRtf)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The most text a stored RTF may hold, as a synced record or a backup brings it.
void BM_HtmlFromLargestRtf(benchmark::State& state)
{
    const int paragraphs = bench::shortMode() ? 1'000 : RichText::kMaxParagraphs - 1;
    const QByteArray line = QByteArray("{\\b word} ").repeated(int(RichText::kMaxDocumentCharacters / paragraphs / 6));
    const QByteArray rtf = "{\\rtf1 " + (line + "\\par ").repeated(paragraphs) + "}";
    for (auto _ : state)
        benchmark::DoNotOptimize(RichText::htmlFromRtf(rtf));
    state.counters["rtfMB"] = rtf.size() / 1048576.0;
}
BENCHMARK(BM_HtmlFromLargestRtf)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RtfOfCjkPage(benchmark::State& state)
{
    const int characters = bench::shortMode() ? 100'000 : 2'700'000;
    const QString html = QStringLiteral("<p>") + QString(u'\u4E2D').repeated(characters) + QStringLiteral("</p>");
    QByteArray rtf;
    for (auto _ : state)
        rtf = RichText::rtfFromHtml(html, std::chrono::minutes(1));
    state.counters["htmlMB"] = html.toUtf8().size() / 1048576.0;
    state.counters["rtfMB"] = rtf.size() / 1048576.0;
}
BENCHMARK(BM_RtfOfCjkPage)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
