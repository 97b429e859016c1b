#include "ui/items/editors/RichTextFormatting.h"

#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

#include <QTextCursor>
#include <QTextDocument>

namespace lumra {
namespace {

namespace Formatting = RichTextFormatting;
using Formatting::Style;

QTextCharFormat at(QTextDocument& document, int position)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

QTextCursor selecting(QTextDocument& document, int from, int to)
{
    QTextCursor cursor(&document);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    return cursor;
}

TEST(RichTextFormatting, BoldFlipsEachRunOfTheSelectionOnItsOwn)
{
    QTextDocument document;
    QTextCursor writer(&document);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    writer.insertText("bold", bold);
    writer.insertText(" plain", QTextCharFormat());
    QTextCharFormat typing;
    QTextCursor all = selecting(document, 0, 10);

    Formatting::toggle(all, Style::bold, typing);
    EXPECT_LT(at(document, 0).fontWeight(), QFont::Bold);
    EXPECT_GE(at(document, 6).fontWeight(), QFont::Bold);
    Formatting::toggle(all, Style::bold, typing);
    EXPECT_GE(at(document, 0).fontWeight(), QFont::Bold);
    EXPECT_LT(at(document, 6).fontWeight(), QFont::Bold);
    EXPECT_EQ(document.toPlainText(), "bold plain");
}

TEST(RichTextFormatting, UnderlineAndStrikeFollowTheFirstCharacter)
{
    QTextDocument document;
    QTextCursor writer(&document);
    QTextCharFormat underlined;
    underlined.setFontUnderline(true);
    writer.insertText("under", underlined);
    writer.insertText(" not", QTextCharFormat());
    QTextCharFormat typing;

    QTextCursor fromUnderlined = selecting(document, 0, 9);
    Formatting::toggle(fromUnderlined, Style::underline, typing);
    EXPECT_FALSE(at(document, 0).fontUnderline());
    EXPECT_FALSE(at(document, 7).fontUnderline());

    QTextCursor fromPlain = selecting(document, 6, 0);
    Formatting::toggle(fromPlain, Style::strikethrough, typing);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(at(document, i).fontStrikeOut()) << i;
    EXPECT_FALSE(at(document, 7).fontStrikeOut());
}

TEST(RichTextFormatting, ACaretChangesOnlyWhatIsTypedNext)
{
    QTextDocument document;
    document.setPlainText("text");
    QTextCursor caret(&document);
    caret.setPosition(4);
    QTextCharFormat typing;
    Formatting::toggle(caret, Style::bold, typing);
    EXPECT_GE(typing.fontWeight(), QFont::Bold);
    EXPECT_LT(at(document, 0).fontWeight(), QFont::Bold);
    Formatting::toggle(caret, Style::underline, typing);
    Formatting::toggle(caret, Style::underline, typing);
    EXPECT_TRUE(typing.hasProperty(QTextFormat::TextUnderlineStyle));
    EXPECT_FALSE(typing.fontUnderline());
}

TEST(RichTextFormatting, LoadsRichTextOrFallsBackToThePlainText)
{
    QTextDocument rich;
    Formatting::load(rich, RichText::rtfFromHtml("<ul><li>one <a href=\"https://x.test\">link</a></li></ul>"), "ignored");
    EXPECT_EQ(Formatting::plainText(rich), "one link");
    EXPECT_EQ(at(rich, 5).anchorHref(), "https://x.test");

    QTextDocument broken;
    Formatting::load(broken, QByteArray("not rtf at all"), QString::fromUtf8("plain\u00a0text\nline"));
    EXPECT_EQ(Formatting::plainText(broken), QString::fromUtf8("plain\u00a0text\nline")) << "no-break spaces stay";
    EXPECT_TRUE(Formatting::rtf(broken).has_value());
}

} // namespace
} // namespace lumra
