#pragma once

#include <QByteArray>
#include <QString>
#include <QTextCharFormat>

#include <optional>

class QTextCursor;
class QTextDocument;

// The content editor's formatting buttons, as operations on a cursor of its document.
namespace lumra::RichTextFormatting {

enum class Style { bold, italic, underline, strikethrough };

// On a selection: bold and italic flip each run of the selection on its own; underline and strike
// follow the selection's first character (on there: off for all, else on for all). On a caret the
// change goes into `typing`, the format the next typed characters get.
void toggle(QTextCursor& cursor, Style style, QTextCharFormat& typing);

// The document's text as the editor saves it: paragraphs end in line feeds, other characters
// (non-breaking spaces among them) stay as they are.
QString plainText(const QTextDocument& document);
// The document's RTF; nothing when it cannot be produced.
std::optional<QByteArray> rtf(const QTextDocument& document);
// Loads the item's rich text, or its plain text when there is none or it cannot be read.
void load(QTextDocument& document, const std::optional<QByteArray>& rtf, const QString& text);

} // namespace lumra::RichTextFormatting
