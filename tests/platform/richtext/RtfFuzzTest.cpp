#include "platform/richtext/RtfCodec.h"

#include "ui/items/editors/RichTextFormatting.h"

#include "RtfTestHelpers.h"
#include "RichTextSignature.h"

#include <QTextBlock>
#include <QTextList>

#include <random>

namespace RichText = lumra::RichText;
using lumra::test::richTextFixture;
using lumra::test::signature;

namespace {

constexpr unsigned kSeed = 20240601;

// Whatever the reader accepted, the writer must turn into RTF that reads back the same.
void expectStableRewrite(const QTextDocument& document, const QByteArray& origin)
{
    const QByteArray rewritten = RichText::writeRtf(document);
    QTextDocument again;
    ASSERT_TRUE(RichText::readRtf(rewritten, &again)) << origin.toStdString();
    EXPECT_EQ(signature(again), signature(document)) << origin.toStdString();
}

QByteArray mutate(QByteArray data, std::mt19937& rng)
{
    static const QByteArray tokens[] = {
        "{", "}", "\\", "\\'", "\\'f", "\\*", "\\u", "\\u-", "\\u65535 ", "\\u-32768?", "\\uc9 ", "\\uc0 ",
        "\\bin", "\\bin99999999 ", "\\bin3 {}{", "\\par ", "\\pard", "\\plain", "\\field", "{\\*\\fldinst HYPERLINK \"",
        "{\\fldrslt ", "\\fonttbl", "{\\colortbl;", "\\cf9999", "\\f-1 ", "\\fs0", "\\fs-20", "\\ls1\\ilvl8 ",
        "\\ls-5", "\\ilvl99", "{\\*\\listtable{\\list{\\listlevel\\levelnfc23{\\leveltext", "\\listid", "\\listoverride",
        "\\ansicpg932 ", "\\ansicpg1 ", "\\fcharset128 ", "\\'82", "\\pn\\pnlvlblt", "\\pntext", "\\*\\pn", "\\v",
        "\\line", "\\tab", "\\cell", "\\row", "\\~", "\\\n", "\\-", "\\ql\\qc\\qr\\qj", "\\b0\\i\\ul\\strike", "\0",
        "\xff", "\\highlight2", "\\deff99 ", "99999999999999999999", "-", "?", ";", "\\lquote", "\\emdash"};
    const int mutations = 1 + int(rng() % 4);
    for (int m = 0; m < mutations && !data.isEmpty(); ++m) {
        const qsizetype at = qsizetype(rng() % uint32_t(data.size()));
        switch (rng() % 6) {
        case 0:
            data[at] = char(rng());
            break;
        case 1: {
            const QByteArray& token = tokens[rng() % std::size(tokens)];
            data.insert(at, token);
            break;
        }
        case 2:
            data.remove(at, qsizetype(rng() % 64));
            break;
        case 3:
            if (data.size() < 64 * 1024)
                data.insert(at, data.mid(at, qsizetype(rng() % 256)));
            break;
        case 4:
            data.truncate(at);
            break;
        case 5:
            data.insert(at, QByteArray(int(rng() % 8), rng() % 2 ? '{' : '}'));
            break;
        }
    }
    return data;
}

TEST(RtfFuzz, MutatedDocumentsAreReadOrRefusedAndReadOnesRewriteStably)
{
    QList<QByteArray> corpus;
    for (const char* name : {"textedit.rtf", "word.rtf", "wordpad.rtf", "libreoffice.rtf"})
        corpus.append(richTextFixture(QString::fromLatin1(name)));
    corpus.append(RichText::rtfFromHtml(QStringLiteral(
        u"<p align=center><b>Ti</b><i>tle</i> 😀 é</p><ul><li><a href=\"https://x.test\">link</a></li>"
        u"<li><span style=\"color:#123456;background-color:#abcdef;font-size:20pt\">big</span></li></ul>"
        u"<ol><li><s>one</s></li></ol>")));

    std::mt19937 rng(kSeed);
    int accepted = 0;
    for (int i = 0; i < 600; ++i) {
        const QByteArray input = mutate(corpus[int(rng() % corpus.size())], rng);
        QTextDocument document;
        if (RichText::readRtf(input, &document)) {
            ++accepted;
            expectStableRewrite(document, input);
        } else {
            EXPECT_TRUE(document.isEmpty());
        }
        if (HasFailure())
            break;
    }
    EXPECT_GT(accepted, 300); // the mutations mostly leave readable documents: the property was exercised
}

TEST(RtfFuzz, RandomNestingTerminatesAndOnlyTheDepthLimitRefuses)
{
    // Each opener with the number of groups it leaves open.
    static const std::pair<QByteArray, int> openers[] = {
        {"{", 1}, {"{\\b ", 1}, {"{\\*\\unknown ", 1}, {"{\\field{\\*\\fldinst HYPERLINK \"u\"}{\\fldrslt ", 2},
        {"{\\fonttbl", 1}, {"{\\pict\\bin1 {", 1}, {"{\\listtext ", 1}, {"{\\uc5\\u233 ", 1}};
    std::mt19937 rng(kSeed + 1);
    for (int i = 0; i < 200; ++i) {
        QByteArray rtf = "{\\rtf1 ";
        int depth = 1;
        int deepest = 1;
        const int steps = int(rng() % 2000);
        for (int s = 0; s < steps; ++s) {
            if (rng() % 3 && depth < 2 * RichText::kMaxGroupDepth) {
                const auto& [opener, opened] = openers[rng() % std::size(openers)];
                rtf += opener;
                depth += opened;
                deepest = std::max(deepest, depth);
            } else if (depth > 1) {
                rtf += "x}";
                --depth;
            }
        }
        QTextDocument document;
        const bool read = RichText::readRtf(rtf, &document);
        if (deepest > RichText::kMaxGroupDepth) {
            EXPECT_FALSE(read) << "depth " << deepest;
        } else {
            EXPECT_TRUE(read) << "depth " << deepest;
        }
    }
}

TEST(RtfFuzz, RandomlyFormattedTextSurvivesWriteAndRead)
{
    static const char16_t alphabet[] = u"aZ09 \\{}\t;?\"'éß€ñ日本\u00A0\u2028\u2014\uFB01";
    static const char16_t* const emoji[] = {u"😀", u"𝄞", u"🇫🇷"};
    std::mt19937 rng(kSeed + 2);
    for (int i = 0; i < 150; ++i) {
        QTextDocument source;
        QTextCursor cursor(&source);
        const int runs = 1 + int(rng() % 12);
        for (int r = 0; r < runs; ++r) {
            QString text;
            const int length = 1 + int(rng() % 12);
            for (int c = 0; c < length; ++c) {
                if (rng() % 10 == 0)
                    text += QString::fromUtf16(emoji[rng() % std::size(emoji)]);
                else
                    text += QChar(alphabet[rng() % (std::size(alphabet) - 1)]);
            }
            QTextCharFormat format;
            if (rng() % 2)
                format.setFontWeight(QFont::Bold);
            if (rng() % 3 == 0)
                format.setFontItalic(true);
            if (rng() % 4 == 0)
                format.setFontUnderline(true);
            if (rng() % 5 == 0)
                format.setFontStrikeOut(true);
            if (rng() % 3 == 0)
                format.setFontPointSize(6 + int(rng() % 60) / 2.0);
            if (rng() % 3 == 0)
                format.setForeground(QColor::fromRgb(rng() & 0xFFFFFF));
            if (rng() % 4 == 0)
                format.setBackground(QColor::fromRgb(rng() & 0xFFFFFF));
            if (rng() % 5 == 0) {
                format.setAnchor(true);
                format.setAnchorHref(QStringLiteral("https://x.test/%1{}\\ y").arg(rng() % 3));
            }
            cursor.insertText(text, format);
            if (rng() % 4 == 0) {
                QTextBlockFormat block;
                block.setAlignment(rng() % 2 ? Qt::AlignHCenter : Qt::AlignRight);
                cursor.insertBlock(block);
            }
        }
        QTextDocument read;
        ASSERT_TRUE(RichText::readRtf(RichText::writeRtf(source), &read));
        ASSERT_EQ(read.toRawText(), source.toRawText());
        ASSERT_EQ(signature(read), signature(source));
    }
}

// What the content editor saves: its buttons over random selections of a document that may hold
// lists and links, and typing with the formats they leave behind.
TEST(RtfFuzz, EditedDocumentsSaveAsRtfThatReadsBackTheSame)
{
    namespace Formatting = lumra::RichTextFormatting;
    static const Formatting::Style styles[] = {Formatting::Style::bold, Formatting::Style::italic,
                                               Formatting::Style::underline, Formatting::Style::strikethrough};
    static const QString words[] = {"plain", "w\\ith {braces}", QString::fromUtf8("caf\u00e9 \U0001F600"), "\t tab", "x"};
    std::mt19937 rng(kSeed + 3);
    for (int i = 0; i < 150; ++i) {
        QTextDocument document;
        Formatting::load(document, RichText::rtfFromHtml(QStringLiteral(
                             "<p>start <a href=\"https://x.test/a?b=c\">link</a></p><ul><li>one</li><li>two</li></ul>")),
                         QString());
        QTextCharFormat typing;
        for (int step = 0; step < 12; ++step) {
            const int length = document.characterCount() - 1;
            QTextCursor cursor(&document);
            // The editor's caret never stands inside a surrogate pair.
            const auto position = [&] {
                const int p = int(rng() % uint32_t(length + 1));
                return document.characterAt(p).isLowSurrogate() ? p - 1 : p;
            };
            const int a = position(), b = position();
            cursor.setPosition(a);
            cursor.setPosition(rng() % 3 ? b : a, QTextCursor::KeepAnchor);
            if (rng() % 3 == 0) {
                if (cursor.hasSelection())
                    typing = cursor.charFormat();
                cursor.clearSelection();
                Formatting::toggle(cursor, styles[rng() % 4], typing);
                cursor.insertText(words[rng() % std::size(words)], typing);
                if (rng() % 4 == 0)
                    cursor.insertBlock();
            } else {
                Formatting::toggle(cursor, styles[rng() % 4], typing);
            }
        }
        const std::optional<QByteArray> saved = Formatting::rtf(document);
        ASSERT_TRUE(saved);
        QTextDocument read;
        ASSERT_TRUE(RichText::readRtf(*saved, &read));
        ASSERT_EQ(Formatting::plainText(read), Formatting::plainText(document)) << saved->toStdString();
        ASSERT_EQ(signature(read), signature(document));
    }
}

} // namespace
