#include "ui/items/editors/RichTextFormatting.h"

#include "platform/richtext/RtfCodec.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>
#include <vector>

namespace lumra::RichTextFormatting {

namespace {

bool has(const QTextCharFormat& format, Style style)
{
    switch (style) {
    case Style::bold: return format.fontWeight() >= QFont::Bold;
    case Style::italic: return format.fontItalic();
    case Style::underline: return format.fontUnderline();
    case Style::strikethrough: return format.fontStrikeOut();
    }
    return false;
}

QTextCharFormat with(Style style, bool on)
{
    QTextCharFormat format;
    switch (style) {
    case Style::bold: format.setFontWeight(on ? QFont::Bold : QFont::Normal); break;
    case Style::italic: format.setFontItalic(on); break;
    case Style::underline: format.setFontUnderline(on); break;
    case Style::strikethrough: format.setFontStrikeOut(on); break;
    }
    return format;
}

// The selection's runs of one format, clipped to it.
std::vector<std::pair<std::pair<int, int>, QTextCharFormat>> runs(const QTextDocument& document, int start, int end)
{
    std::vector<std::pair<std::pair<int, int>, QTextCharFormat>> result;
    for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() < end; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = std::max(start, fragment.position());
            const int to = std::min(end, fragment.position() + fragment.length());
            if (from < to)
                result.push_back({{from, to}, fragment.charFormat()});
        }
    }
    return result;
}

} // namespace

void toggle(QTextCursor& cursor, Style style, QTextCharFormat& typing)
{
    if (!cursor.hasSelection()) {
        typing.merge(with(style, !has(typing, style)));
        return;
    }
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QTextDocument& document = *cursor.document();
    const auto selected = runs(document, start, end);
    if (selected.empty())
        return;
    QTextCursor edit(&document);
    edit.beginEditBlock();
    if (style == Style::bold || style == Style::italic) {
        for (const auto& [range, format] : selected) {
            edit.setPosition(range.first);
            edit.setPosition(range.second, QTextCursor::KeepAnchor);
            edit.mergeCharFormat(with(style, !has(format, style)));
        }
    } else {
        edit.setPosition(start);
        edit.setPosition(end, QTextCursor::KeepAnchor);
        edit.mergeCharFormat(with(style, !has(selected.front().second, style)));
    }
    edit.endEditBlock();
}

QString plainText(const QTextDocument& document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.remove(QChar::ObjectReplacementCharacter);
    return text;
}

std::optional<QByteArray> rtf(const QTextDocument& document)
{
    QByteArray data = RichText::writeRtf(document);
    if (data.isEmpty())
        return std::nullopt;
    return data;
}

void load(QTextDocument& document, const std::optional<QByteArray>& rtf, const QString& text)
{
    if (rtf && RichText::readRtf(*rtf, &document))
        return;
    document.setPlainText(text);
}

} // namespace lumra::RichTextFormatting
