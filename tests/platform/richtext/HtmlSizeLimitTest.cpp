#include "platform/richtext/HtmlConverter.h"
#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

using namespace lumra;

namespace {

TEST(HtmlSizeLimit, HtmlOverTheLimitGivesNoRichText)
{
    // Plain characters with no markup: without the limit this would be parsed as a whole.
    const QString html = QStringLiteral("<p>") + QString(RichText::kMaxHtmlCharacters, QLatin1Char('a'))
        + QStringLiteral("</p>");
    EXPECT_TRUE(RichText::rtfFromHtml(html).isEmpty());
}

TEST(HtmlSizeLimit, HtmlWithinTheLimitIsConverted)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<p><b>bold</b> text</p>"));
    ASSERT_FALSE(rtf.isEmpty());
    EXPECT_EQ(RichText::plainTextFromRtf(rtf), QStringLiteral("bold text"));
}

} // namespace

namespace {

QString nested(int levels, const QString& element = QStringLiteral("div"))
{
    return QStringLiteral("<b>deep</b>") + QStringLiteral("<%1>").arg(element).repeated(levels) + QStringLiteral("text")
        + QStringLiteral("</%1>").arg(element).repeated(levels);
}

TEST(HtmlNesting, DeepNestingGivesNoRichTextAndIsToldWithoutParsing)
{
    // Parsed, 20,000 levels cost QTextDocument many seconds.
    EXPECT_GT(RichText::htmlNestingDepth(nested(20'000)), RichText::kMaxHtmlDepth);
    EXPECT_TRUE(RichText::rtfFromHtml(nested(20'000)).isEmpty());
    EXPECT_TRUE(RichText::rtfFromHtml(nested(RichText::kMaxHtmlDepth + 1, "span")).isEmpty());
    EXPECT_FALSE(RichText::rtfFromHtml(nested(RichText::kMaxHtmlDepth, "span")).isEmpty());
}

TEST(HtmlNesting, PagesAsBrowsersCopyThemCountOnlyRealNesting)
{
    // Elements without end tags, optional end tags, comments and declarations do not nest.
    QString page = QStringLiteral("<!DOCTYPE html><html><body><!-- <div><div> --><ul>");
    for (int i = 0; i < 2000; ++i)
        page += QStringLiteral("<li>item<br><img src=\"x.png\"><p>para<input type=checkbox/>");
    page += QStringLiteral("</ul><table><tr><td>cell<td>cell</table><div class=\"a>b\">x</div></body></html>");
    EXPECT_EQ(RichText::htmlNestingDepth(page), 3);
    EXPECT_LE(RichText::htmlElementCount(page), RichText::kMaxHtmlElements);
    // The bound under test is the nesting: the conversion's time is bench/HtmlConversionBench's, so
    // no clock cuts this one short on a machine at load.
    const std::chrono::hours unbounded {1};
    RichText::HtmlConverter converter(RichText::HtmlConverter::installedProgram(), {}, 1, unbounded);
    EXPECT_FALSE(converter.convert(page, unbounded).isEmpty());
}

} // namespace

namespace {

TEST(HtmlSizeLimit, RtfPastTheBoundOfCopiedTextIsNotKept)
{
    // The bound under test is the size, not the time: a converter of its own that no clock cuts
    // short, which on a machine at load would empty the answer before the size is reached.
    const std::chrono::hours unbounded {1};
    RichText::HtmlConverter converter(RichText::HtmlConverter::installedProgram(), {}, 1, unbounded);
    // Each CJK character takes some eight bytes of RTF: 2.1 M of them would make 17 MB per copy.
    const QString cjk = QStringLiteral("<p>") + QString(u'\u4E2D').repeated(2'100'000) + QStringLiteral("</p>");
    EXPECT_TRUE(converter.convert(cjk, unbounded).isEmpty());
    const QString shorter = QStringLiteral("<p>") + QString(u'\u4E2D').repeated(1'000'000) + QStringLiteral("</p>");
    const QByteArray rtf = converter.convert(shorter, unbounded);
    EXPECT_GT(rtf.size(), 7'000'000);
    EXPECT_LE(rtf.size(), RichText::kMaxConvertedRtfBytes);
}

} // namespace
