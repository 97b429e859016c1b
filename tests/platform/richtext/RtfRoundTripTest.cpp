#include "platform/richtext/RtfCodec.h"

#include "RtfTestHelpers.h"

#include <QTextList>

#include <functional>

namespace RichText = lumra::RichText;
using lumra::test::blockOf;
using lumra::test::documentFromRtf;
using lumra::test::formatOf;

namespace {

struct CharacterCase {
    const char* name;
    QString html;
    std::function<bool(const QTextCharFormat&)> holds;
};

void PrintTo(const CharacterCase& c, std::ostream* os) { *os << c.name; }

class RtfCharacterRoundTrip : public testing::TestWithParam<CharacterCase> { };

// Each attribute survives HTML -> RTF -> document on the marked word, and does not leak to
// the plain words around it.
TEST_P(RtfCharacterRoundTrip, KeepsTheAttributeOnItsTextOnly)
{
    const CharacterCase& c = GetParam();
    const QString html = QStringLiteral("<p>before ") + c.html + QStringLiteral(" after</p>");
    const auto document = documentFromRtf(RichText::rtfFromHtml(html));
    EXPECT_EQ(document->toPlainText(), QStringLiteral("before probe after"));
    EXPECT_TRUE(c.holds(formatOf(*document, QStringLiteral("probe"))));
    EXPECT_FALSE(c.holds(formatOf(*document, QStringLiteral("after"))));
    EXPECT_FALSE(c.holds(formatOf(*document, QStringLiteral("before"))));
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, RtfCharacterRoundTrip,
    testing::Values(
        CharacterCase {"bold", "<b>probe</b>", [](const QTextCharFormat& f) { return f.fontWeight() >= QFont::Bold; }},
        CharacterCase {"italic", "<i>probe</i>", [](const QTextCharFormat& f) { return f.fontItalic(); }},
        CharacterCase {"underline", "<u>probe</u>", [](const QTextCharFormat& f) { return f.fontUnderline(); }},
        CharacterCase {"strike", "<s>probe</s>", [](const QTextCharFormat& f) { return f.fontStrikeOut(); }},
        CharacterCase {"family", "<span style=\"font-family:'Courier New'\">probe</span>",
                       [](const QTextCharFormat& f) {
                           return f.fontFamilies().toStringList().value(0) == QStringLiteral("Courier New");
                       }},
        CharacterCase {"points", "<span style=\"font-size:18pt\">probe</span>",
                       [](const QTextCharFormat& f) { return f.fontPointSize() == 18.0; }},
        CharacterCase {"half points", "<span style=\"font-size:10.5pt\">probe</span>",
                       [](const QTextCharFormat& f) { return f.fontPointSize() == 10.5; }},
        CharacterCase {"pixels", "<span style=\"font-size:16px\">probe</span>",
                       [](const QTextCharFormat& f) { return f.fontPointSize() == 12.0; }},
        CharacterCase {"foreground", "<span style=\"color:#c81e32\">probe</span>",
                       [](const QTextCharFormat& f) {
                           return f.foreground().style() != Qt::NoBrush && f.foreground().color() == QColor(0xc81e32);
                       }},
        CharacterCase {"background", "<span style=\"background-color:#10e020\">probe</span>",
                       [](const QTextCharFormat& f) {
                           return f.background().style() != Qt::NoBrush && f.background().color() == QColor(0x10e020);
                       }},
        CharacterCase {"link", "<a href=\"https://example.com/a?b=1&amp;c=%C3%A9#top\">probe</a>",
                       [](const QTextCharFormat& f) {
                           return f.isAnchor() && f.anchorHref() == QStringLiteral("https://example.com/a?b=1&c=%C3%A9#top");
                       }},
        CharacterCase {"link with quote and braces", "<a href=\"https://x.test/{a}&quot;b\\c\">probe</a>",
                       [](const QTextCharFormat& f) {
                           return f.anchorHref() == QStringLiteral("https://x.test/{a}%22b\\c");
                       }},
        CharacterCase {"combined", "<b><i><span style=\"color:#0000ff;font-size:9pt\">probe</span></i></b>",
                       [](const QTextCharFormat& f) {
                           return f.fontWeight() >= QFont::Bold && f.fontItalic() && f.fontPointSize() == 9.0
                               && f.foreground().color() == QColor(Qt::blue);
                       }}),
    lumra::test::CaseName());

TEST(RtfRoundTrip, KeepsParagraphAlignment)
{
    const auto document = documentFromRtf(RichText::rtfFromHtml(QStringLiteral(
        "<p>left</p><p align=\"center\">middle</p><p align=\"right\">end</p><p align=\"justify\">full</p>")));
    EXPECT_EQ(document->blockCount(), 4);
    EXPECT_EQ(blockOf(*document, "middle").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(blockOf(*document, "end").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(blockOf(*document, "full").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
    EXPECT_EQ(blockOf(*document, "left").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
}

TEST(RtfRoundTrip, KeepsParagraphsLineBreaksTabsAndEmptyParagraphs)
{
    QTextDocument source;
    source.setPlainText(QStringLiteral("one\n\nthree\tcolumn\n"));
    QTextCursor cursor(&source);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString(QChar::LineSeparator) + QStringLiteral("after break"));
    const auto document = documentFromRtf(RichText::writeRtf(source));
    EXPECT_EQ(document->blockCount(), source.blockCount());
    EXPECT_EQ(document->toRawText(), source.toRawText());
}

TEST(RtfRoundTrip, KeepsListsWithTheirKindAndNesting)
{
    const auto document = documentFromRtf(RichText::rtfFromHtml(QStringLiteral(
        "<ul><li>apple</li><li>pear<ul type=\"circle\"><li>green</li></ul></li></ul>"
        "<p>between</p>"
        "<ol><li>first</li><li>second</li></ol>"
        "<ol type=\"a\"><li>alpha</li></ol><ul type=\"square\"><li>boxed</li></ul>")));
    const QTextList* bullets = blockOf(*document, "apple").textList();
    ASSERT_NE(bullets, nullptr);
    EXPECT_EQ(bullets->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(blockOf(*document, "pear").textList(), bullets);
    EXPECT_EQ(bullets->count(), 2);

    const QTextList* nested = blockOf(*document, "green").textList();
    ASSERT_NE(nested, nullptr);
    EXPECT_NE(nested, bullets);
    EXPECT_EQ(nested->format().indent(), bullets->format().indent() + 1);
    EXPECT_EQ(nested->format().style(), QTextListFormat::ListCircle);

    EXPECT_EQ(blockOf(*document, "between").textList(), nullptr);

    const QTextList* numbers = blockOf(*document, "first").textList();
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(numbers->format().style(), QTextListFormat::ListDecimal);
    EXPECT_EQ(numbers->itemNumber(blockOf(*document, "second")), 1);
    ASSERT_NE(blockOf(*document, "alpha").textList(), nullptr);
    EXPECT_EQ(blockOf(*document, "alpha").textList()->format().style(), QTextListFormat::ListLowerAlpha);
    ASSERT_NE(blockOf(*document, "boxed").textList(), nullptr);
    EXPECT_EQ(blockOf(*document, "boxed").textList()->format().style(), QTextListFormat::ListSquare);
}

TEST(RtfRoundTrip, HtmlBackFromRtfCarriesTheFormatting)
{
    const auto html = RichText::htmlFromRtf(RichText::rtfFromHtml(
        QStringLiteral("<p><b>bold</b> <a href=\"https://example.com\">site</a></p><ul><li>item</li></ul>")));
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(html->contains(QStringLiteral("font-weight:700")));
    EXPECT_TRUE(html->contains(QStringLiteral("href=\"https://example.com\"")));
    EXPECT_TRUE(html->contains(QStringLiteral("<ul")));
}

TEST(RtfRoundTrip, HtmlLinksKeepOnlySchemesARowWouldOpen)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral(
        "<p><a href=\"javascript:alert(1)\">a</a> <a href=\" JAVASCRIPT:alert(2)\">b</a> "
        "<a href=\"java&#9;script:alert(3)\">c</a> <a href=\"data:text/html,x\">d</a> "
        "<a href=\"vbscript:x\">e</a> <a href=\"file:///etc/passwd\">f</a> <a href=\"https://ok.test/\">g</a> "
        "<a href=\"ftp://ok.test/f\">h</a> <a href=\"mailto:a@ok.test\">i</a> <a href=\"#top\">j</a></p>"));
    const QByteArray lower = rtf.toLower();
    for (const char* refused : {"script", "data:", "file:"})
        EXPECT_FALSE(lower.contains(refused)) << refused << "\n" << rtf.constData();
    for (const char* kept : {"https://ok.test/", "ftp://ok.test/f", "mailto:a@ok.test", "#top"})
        EXPECT_TRUE(rtf.contains(kept)) << kept;
    EXPECT_EQ(RichText::plainTextFromRtf(rtf).value_or(QString()), QStringLiteral("a b c d e f g h i j"));
}

struct TextCase {
    const char* name;
    QString text;
    QByteArray encoded; // how the writer must spell the text, or empty
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class RtfTextRoundTrip : public testing::TestWithParam<TextCase> { };

TEST_P(RtfTextRoundTrip, WritesSevenBitRtfThatReadsBackToTheSameText)
{
    QTextDocument source;
    source.setPlainText(GetParam().text);
    const QByteArray rtf = RichText::writeRtf(source);
    for (char c : rtf) {
        ASSERT_TRUE(uchar(c) < 0x80) << "non-ASCII byte in RTF";
    }
    if (!GetParam().encoded.isEmpty()) {
        EXPECT_TRUE(rtf.contains(GetParam().encoded)) << rtf.toStdString();
    }
    EXPECT_EQ(RichText::plainTextFromRtf(rtf), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Text, RtfTextRoundTrip,
    testing::Values(TextCase {"accents", QStringLiteral(u"Café naïve Ærø"), "Caf\\u233\\'e9 na\\u239\\'ef"},
                    TextCase {"cjk", QStringLiteral(u"日本語のテキスト"), "\\u26085?"},
                    TextCase {"high bmp", QStringLiteral(u"\uFB01 ligature \uFFFD"), "\\u-1279?"},
                    TextCase {"emoji", QStringLiteral(u"smile 😀 clef 𝄞"), "\\u-10179?\\u-8704?"},
                    TextCase {"escapes", QStringLiteral(u"a\\b{c}d \\par {\\rtf1}"), "a\\\\b\\{c\\}d \\\\par"},
                    TextCase {"control words in text", QStringLiteral(u"\\u233? \\'e9"), {}},
                    TextCase {"digits after unicode", QStringLiteral(u"é1 €2"), "\\u8364?2"}),
    lumra::test::CaseName());

TEST(RtfWriter, ReplacesALoneSurrogateInsteadOfWritingBrokenUtf16)
{
    QTextDocument source;
    source.setPlainText(QStringLiteral("a") + QChar(0xD83D) + QStringLiteral("b"));
    EXPECT_EQ(RichText::plainTextFromRtf(RichText::writeRtf(source)),
              QStringLiteral("a") + QChar(QChar::ReplacementCharacter) + QStringLiteral("b"));
}

TEST(RtfWriter, DeclaresAnsiCodePageAndTables)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<span style=\"color:#102030\">x</span>"));
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0"));
    EXPECT_TRUE(rtf.contains("{\\colortbl;\\red16\\green32\\blue48;}"));
    EXPECT_TRUE(rtf.trimmed().endsWith('}'));
}

TEST(RtfPasteVariant, AppendsOneParagraphAndKeepsTheFormatting)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<p><b>bold</b> text</p>"));
    const auto appended = RichText::rtfAppendingParagraph(rtf);
    ASSERT_TRUE(appended.has_value());
    EXPECT_EQ(RichText::plainTextFromRtf(*appended), QStringLiteral("bold text\n"));
    const auto document = documentFromRtf(*appended);
    EXPECT_EQ(document->blockCount(), 2);
    EXPECT_GE(formatOf(*document, "bold").fontWeight(), QFont::Bold);

    const auto twice = RichText::rtfAppendingParagraph(*appended);
    ASSERT_TRUE(twice.has_value());
    EXPECT_EQ(RichText::plainTextFromRtf(*twice), QStringLiteral("bold text\n\n"));
}

TEST(RtfPasteVariant, TheNewParagraphDoesNotJoinATrailingList)
{
    const QByteArray rtf = RichText::rtfFromHtml(QStringLiteral("<ul><li>item</li></ul>"));
    const auto appended = RichText::rtfAppendingParagraph(rtf);
    ASSERT_TRUE(appended.has_value());
    const auto document = documentFromRtf(*appended);
    ASSERT_EQ(document->blockCount(), 2);
    EXPECT_NE(document->firstBlock().textList(), nullptr);
    EXPECT_EQ(document->lastBlock().textList(), nullptr);
}

TEST(RtfPasteVariant, UnreadableRtfGivesNothingToAppendTo)
{
    EXPECT_FALSE(RichText::rtfAppendingParagraph("plain words").has_value());
    EXPECT_FALSE(RichText::rtfAppendingParagraph(QByteArray()).has_value());
}

} // namespace
