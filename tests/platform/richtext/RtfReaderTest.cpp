#include "platform/richtext/RtfCodec.h"

#include "RtfTestHelpers.h"

#include <QTextList>

namespace RichText = lumra::RichText;
using lumra::test::blockOf;
using lumra::test::documentFromRtf;
using lumra::test::formatOf;
using lumra::test::richTextFixture;

namespace {

Qt::Alignment alignmentOf(const QTextBlock& block)
{
    return block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
}

QTextListFormat::Style listStyleOf(const QTextDocument& document, const QString& text)
{
    const QTextList* list = blockOf(document, text).textList();
    return list ? list->format().style() : QTextListFormat::ListStyleUndefined;
}

TEST(RtfReaderFixtures, ReadsCocoaStyleRtf)
{
    const auto document = documentFromRtf(richTextFixture("textedit.rtf"));
    EXPECT_EQ(document->toPlainText(),
              QStringLiteral(u"Plain café and bold and red.\nCentered 日本 😀\nfirst\nsecond\none\ntwo\na link\nTab\tend"));
    EXPECT_EQ(formatOf(*document, "Plain").fontFamilies().toStringList().value(0), QStringLiteral("Helvetica"));
    EXPECT_EQ(formatOf(*document, "Plain").fontPointSize(), 12.0);
    EXPECT_GE(formatOf(*document, "bold").fontWeight(), QFont::Bold);
    EXPECT_LT(formatOf(*document, "and red").fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(*document, "red").foreground().color(), QColor(251, 0, 7));
    EXPECT_EQ(alignmentOf(blockOf(*document, "Centered")), Qt::AlignHCenter);
    EXPECT_EQ(listStyleOf(*document, "first"), QTextListFormat::ListDisc);
    EXPECT_EQ(blockOf(*document, "second").textList(), blockOf(*document, "first").textList());
    EXPECT_EQ(listStyleOf(*document, "two"), QTextListFormat::ListDecimal);
    const QTextCharFormat link = formatOf(*document, "a link");
    EXPECT_EQ(link.anchorHref(), QStringLiteral("https://example.org/path?q=1"));
    EXPECT_TRUE(link.fontUnderline());
    EXPECT_EQ(link.fontFamilies().toStringList().value(0), QStringLiteral("Courier"));
    EXPECT_EQ(link.fontPointSize(), 13.0);
    EXPECT_FALSE(formatOf(*document, "Tab").isAnchor());
}

TEST(RtfReaderFixtures, ReadsWordStyleRtf)
{
    const auto document = documentFromRtf(richTextFixture("word.rtf"));
    EXPECT_EQ(document->toPlainText(),
              QStringLiteral("Quarterly Report\nRevenue grew by twelve percent; see the full report. Costs were flat "
                             "lower.\nApples\nGreen apples\nStep one\nInline picture: done\n"));
    const QTextCharFormat title = formatOf(*document, "Quarterly");
    EXPECT_GE(title.fontWeight(), QFont::Bold);
    EXPECT_EQ(title.fontFamilies().toStringList().value(0), QStringLiteral("Arial"));
    EXPECT_EQ(title.fontPointSize(), 16.0);
    EXPECT_EQ(alignmentOf(blockOf(*document, "Quarterly")), Qt::AlignHCenter);
    EXPECT_EQ(alignmentOf(blockOf(*document, "Revenue")), Qt::AlignJustify);
    EXPECT_TRUE(formatOf(*document, "twelve").fontItalic());
    EXPECT_FALSE(formatOf(*document, "percent").fontItalic());
    const QTextCharFormat link = formatOf(*document, "full report");
    EXPECT_EQ(link.anchorHref(), QStringLiteral("https://example.com/report"));
    EXPECT_EQ(link.foreground().color(), QColor(5, 99, 193));
    EXPECT_FALSE(formatOf(*document, "Costs").isAnchor());
    EXPECT_TRUE(formatOf(*document, "flat").fontStrikeOut());
    EXPECT_EQ(formatOf(*document, "lower").background().color(), QColor(255, 255, 0));
    EXPECT_EQ(listStyleOf(*document, "Apples"), QTextListFormat::ListDisc);
    EXPECT_EQ(listStyleOf(*document, "Green apples"), QTextListFormat::ListCircle);
    EXPECT_EQ(blockOf(*document, "Green apples").textList()->format().indent(), 2);
    EXPECT_EQ(listStyleOf(*document, "Step one"), QTextListFormat::ListDecimal);
    EXPECT_EQ(blockOf(*document, "Inline").textList(), nullptr);
    EXPECT_EQ(formatOf(*document, "done").foreground().color(), QColor(255, 0, 0));
}

TEST(RtfReaderFixtures, ReadsRichEditStyleRtfWithOldListNumbering)
{
    const auto document = documentFromRtf(richTextFixture("wordpad.rtf"));
    EXPECT_EQ(document->toPlainText(),
              QStringLiteral(u"Naïve résumé “quoted” costs € 5\nmilk\neggs\nfirst\nsecond\nBlue bold italic\n"));
    EXPECT_EQ(formatOf(*document, "Blue").foreground().color(), QColor(0, 77, 187));
    EXPECT_TRUE(formatOf(*document, "Blue").fontItalic());
    EXPECT_EQ(listStyleOf(*document, "milk"), QTextListFormat::ListDisc);
    EXPECT_EQ(blockOf(*document, "eggs").textList(), blockOf(*document, "milk").textList());
    EXPECT_EQ(listStyleOf(*document, "second"), QTextListFormat::ListDecimal);
    EXPECT_EQ(blockOf(*document, "Blue").textList(), nullptr);
    EXPECT_EQ(document->lastBlock().textList(), nullptr);
}

TEST(RtfReaderFixtures, ReadsLibreOfficeStyleRtfWithPerFontCodePages)
{
    const auto document = documentFromRtf(richTextFixture("libreoffice.rtf"));
    EXPECT_EQ(document->toPlainText(),
              QStringLiteral(u"Hello Привет world при\nRight, someone@example.org and {braces} and back\\slash—end"));
    EXPECT_EQ(formatOf(*document, "Hello").fontFamilies().toStringList().value(0), QStringLiteral("Liberation Serif"));
    EXPECT_TRUE(formatOf(*document, QStringLiteral(u"при")).fontItalic());
    EXPECT_EQ(alignmentOf(blockOf(*document, "Right")), Qt::AlignRight);
    EXPECT_EQ(formatOf(*document, "someone").anchorHref(), QStringLiteral("mailto:someone@example.org"));
    EXPECT_EQ(formatOf(*document, "Right").foreground().color(), QColor(42, 96, 153));
}

struct TextCase {
    const char* name;
    QByteArray rtf;
    const char* text; // UTF-8
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class RtfReaderText : public testing::TestWithParam<TextCase> { };

TEST_P(RtfReaderText, ReadsTheText)
{
    EXPECT_EQ(RichText::plainTextFromRtf(GetParam().rtf), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, RtfReaderText,
    testing::Values(
        TextCase {"unknown starred destination is skipped", R"({\rtf1 a{\*\madeup secret {nested} text}b})", "ab"},
        TextCase {"unknown word keeps the text", R"({\rtf1 a\madeup b\madeup42 c})", "abc"},
        TextCase {"known destinations are skipped", R"({\rtf1{\info{\title T}}{\stylesheet{Normal;}}{\pict 0a}x})", "x"},
        TextCase {"unicode skips one fallback", R"({\rtf1 \u233?x})", "éx"},
        TextCase {"uc2 skips two fallbacks", R"({\rtf1\uc2 \u233\'65\'65x})", "éx"},
        TextCase {"uc0 skips nothing", R"({\rtf1\uc0\u233 x})", "éx"},
        TextCase {"uc is scoped by group", R"({\rtf1{\uc2\u233 ab}\u233 cd})", "ééd"},
        TextCase {"skipping stops at a group", R"({\rtf1\uc3\u233 a{b}})", "éb"},
        TextCase {"negative unicode", R"({\rtf1\u-4064?})", "\uF020"},
        TextCase {"surrogate pair", R"({\rtf1\u-10179?\u-8704?})", "😀"},
        TextCase {"lone surrogate", R"({\rtf1 a\u-10179?b})", "a\uFFFDb"},
        TextCase {"code page 1252", R"({\rtf1\ansi \'93q\'94 \'80})", "“q” €"},
        TextCase {"code page 1251", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", "При"},
        TextCase {"code page 932 double byte", R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2})", "あい"},
        TextCase {"font charset", R"({\rtf1{\fonttbl{\f1\fcharset161 G;}}\f1\'e1})", "α"},
        TextCase {"unknown code page falls back", R"({\rtf1\ansicpg77777 \'e9})", "é"},
        TextCase {"paragraph, line and tab", R"({\rtf1 a\par b\line c\tab d})", "a\nb\nc\td"},
        TextCase {"escaped newline is a paragraph", "{\\rtf1 a\\\nb}", "a\nb"},
        TextCase {"raw newlines are ignored", "{\\rtf1 a\r\nb}", "ab"},
        TextCase {"symbols", R"({\rtf1 \{\}\\\~\emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})",
                  "{}\\ —–•‘’“”"},
        TextCase {"binary data may hold braces", R"({\rtf1 a{\pict\bin4 {}{}}b})", "ab"},
        TextCase {"hidden text", R"({\rtf1 a{\v hidden}b})", "ab"},
        TextCase {"field without link shows its result", R"({\rtf1{\field{\*\fldinst PAGE}{\fldrslt 3}}})", "3"},
        TextCase {"table cells", R"({\rtf1\trowd a\cell b\cell\row c})", "a\tb\t\nc"},
        TextCase {"nul and control bytes dropped", R"({\rtf1 a\'00\'01b})", "ab"},
        TextCase {"text after the document is ignored", R"({\rtf1 a}b{c})", "a"},
        TextCase {"truncated document", R"({\rtf1 {\b bold te)", "bold te"},
        TextCase {"leading whitespace", "\n  {\\rtf1 a}", "a"},
        TextCase {"long parameter", R"({\rtf1\fs99999999999999999999 a\u99999999999999999999?b})", "ab"}),
    lumra::test::CaseName());

TEST(RtfReader, ReadsLinksFromHyperlinkFields)
{
    const auto document = documentFromRtf(
        R"({\rtf1 {\field{\*\fldinst{HYPERLINK "https://a.test/x y"}}{\fldrslt one}} )"
        R"({\field{\*\fldinst HYPERLINK \\l "top"}{\fldrslt two}} )"
        R"({\field{\*\fldinst hyperlink https://b.test \\o "tip"}{\fldrslt {\b three}}} four})");
    EXPECT_EQ(document->toPlainText(), QStringLiteral("one two three four"));
    EXPECT_EQ(formatOf(*document, "one").anchorHref(), QStringLiteral("https://a.test/x y"));
    EXPECT_EQ(formatOf(*document, "two").anchorHref(), QStringLiteral("#top"));
    EXPECT_EQ(formatOf(*document, "three").anchorHref(), QStringLiteral("https://b.test"));
    EXPECT_GE(formatOf(*document, "three").fontWeight(), QFont::Bold);
    EXPECT_FALSE(formatOf(*document, "four").isAnchor());
}

TEST(RtfReader, ALinksTooltipAndFrameAreNeverItsTarget)
{
    // Switches may come before the link; a tooltip may itself read like one.
    const auto document = documentFromRtf(
        R"({\rtf1 {\field{\*\fldinst HYPERLINK \\o "https://tip.test/" "https://a.test/"}{\fldrslt one}} )"
        R"({\field{\*\fldinst HYPERLINK \\t "https://frame.test/" \\o "https://tip.test/" https://b.test/}{\fldrslt two}}})");
    EXPECT_EQ(formatOf(*document, "one").anchorHref(), QStringLiteral("https://a.test/"));
    EXPECT_EQ(formatOf(*document, "two").anchorHref(), QStringLiteral("https://b.test/"));
}

TEST(RtfReader, PlainResetsCharacterFormatting)
{
    const auto document = documentFromRtf(R"({\rtf1{\colortbl;\red1\green2\blue3;}\b\i\ul\cf1 a\plain b})");
    const QTextCharFormat b = formatOf(*document, "b");
    EXPECT_LT(b.fontWeight(), QFont::Bold);
    EXPECT_FALSE(b.fontItalic());
    EXPECT_FALSE(b.fontUnderline());
    EXPECT_EQ(b.foreground().style(), Qt::NoBrush);
    EXPECT_TRUE(formatOf(*document, "a").fontUnderline());
}

TEST(RtfReader, IgnoresColourIndexesOutsideTheTable)
{
    const auto document = documentFromRtf(R"({\rtf1{\colortbl;\red1\green2\blue3;}\cf7\highlight-3 a})");
    EXPECT_EQ(formatOf(*document, "a").foreground().style(), Qt::NoBrush);
    EXPECT_EQ(formatOf(*document, "a").background().style(), Qt::NoBrush);
}

struct RefusedCase {
    const char* name;
    QByteArray rtf;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RtfReaderRefuses : public testing::TestWithParam<RefusedCase> { };

TEST_P(RtfReaderRefuses, GivesAnErrorAndAnEmptyDocument)
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("previous"));
    EXPECT_FALSE(RichText::readRtf(GetParam().rtf, &document));
    EXPECT_TRUE(document.isEmpty());
    EXPECT_FALSE(RichText::htmlFromRtf(GetParam().rtf).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Input, RtfReaderRefuses,
    testing::Values(RefusedCase {"empty", QByteArray()}, RefusedCase {"plain text", "just words"},
                    RefusedCase {"html", "<p>{\\rtf1 a}</p>"}, RefusedCase {"other brace", "{\\rtx1 a}"},
                    RefusedCase {"deep nesting",
                                 "{\\rtf1 " + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + "}"},
                    RefusedCase {"too large", "{\\rtf1 " + QByteArray(RichText::kMaxRtfBytes, 'a') + "}"},
                    RefusedCase {"too many characters",
                                 "{\\rtf1 " + QByteArray(RichText::kMaxDocumentCharacters + 1, 'a') + "}"}),
    lumra::test::CaseName());

TEST(RtfReaderLimits, AcceptsNestingUpToTheLimit)
{
    const int inner = RichText::kMaxGroupDepth - 1; // the document's own group counts too
    const QByteArray rtf = "{\\rtf1 " + QByteArray(inner, '{') + "x" + QByteArray(inner, '}') + "}";
    EXPECT_EQ(RichText::plainTextFromRtf(rtf), QStringLiteral("x"));
    const QByteArray deeper = "{\\rtf1 " + QByteArray(inner + 1, '{') + "x" + QByteArray(inner + 1, '}') + "}";
    EXPECT_FALSE(RichText::plainTextFromRtf(deeper).has_value());
}

TEST(RtfReaderLimits, RefusesMoreParagraphsThanTheLimit)
{
    QByteArray rtf = "{\\rtf1 ";
    for (int i = 0; i < RichText::kMaxParagraphs; ++i)
        rtf += "\\par";
    EXPECT_FALSE(RichText::plainTextFromRtf(rtf + "}").has_value());
}

} // namespace

namespace {

TEST(RtfReaderLimits, WhatTheInputRepeatsIsWorkedOutOnce)
{
    // Small inputs that repeat what refers to something large: a field's result after a long
    // instruction, a paragraph in a list of a long list table. Either is read at paste and in the
    // preview, so each thing it repeats is worked out once (bench/RtfReadBench times it).
    const QByteArray instruction = "HYPERLINK \"https://a.test/\"" + QByteArray(" a").repeated(4096);
    const QByteArray fields = "{\\rtf1{\\field{\\*\\fldinst " + instruction + "}"
        + QByteArray("\\fldrslt ").repeated(10'000) + "x}}";
    QByteArray lists = "{\\rtf1{\\*\\listtable";
    for (int i = 1; i <= 1024; ++i)
        lists += "{\\list\\listid" + QByteArray::number(i) + "{\\listlevel\\levelnfc0}}";
    lists += "}{\\*\\listoverridetable";
    for (int i = 1; i <= 1024; ++i)
        lists += "{\\listoverride\\listid" + QByteArray::number(i) + "\\ls" + QByteArray::number(i) + "}";
    lists += "}\\ls1024 " + QByteArray("x\\par ").repeated(20'000) + "}";

    RichText::RtfReadWork work;
    QTextDocument listed;
    EXPECT_TRUE(RichText::readRtf(lists, &listed, &work));
    EXPECT_EQ(work.listTableSearches, 1) << "one list and level, looked up once";
    // Each paragraph joining a list of n costs QTextDocument n: 20,000 of them would cost 2·10⁸.
    EXPECT_GT(work.listItemsTouched, 1'000'000);
    EXPECT_LE(work.listItemsTouched, 2'000'000) << "list membership within its budget";

    QTextDocument document;
    ASSERT_TRUE(RichText::readRtf(fields, &document, &work));
    EXPECT_EQ(work.linkInstructionsRead, 1) << "the instruction is read once, not at each of its results";
    EXPECT_EQ(formatOf(document, "x").anchorHref(), QStringLiteral("https://a.test/"));
}

} // namespace
