#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

class QTextDocument;

// Lumra keeps rich text as standard RTF (readable by common word processors) while Linux
// applications exchange it as HTML. This codec converts between RTF and QTextDocument.
namespace lumra::RichText {

// Limits that keep hostile or broken input from costing unbounded time or memory.
inline constexpr qsizetype kMaxRtfBytes = 64 * 1024 * 1024;
inline constexpr int kMaxGroupDepth = 256;
inline constexpr qsizetype kMaxDocumentCharacters = 4'000'000;
inline constexpr int kMaxParagraphs = 200'000;
// HTML markup runs to several times its text; beyond this the conversion is not attempted.
inline constexpr qsizetype kMaxHtmlCharacters = 4 * 1024 * 1024;
// QTextDocument's time grows faster than the nesting of the HTML it parses (20,000 nested
// elements cost it many seconds); real pages nest a few dozen deep.
inline constexpr int kMaxHtmlDepth = 256;

// Replaces the document's content with the RTF's. Input that is not RTF, exceeds a limit or
// nests groups deeper than kMaxGroupDepth gives false and an empty document. A truncated
// or slightly malformed RTF is read as far as it goes.
bool readRtf(const QByteArray& rtf, QTextDocument* document);

// The document as RTF 1 (ANSI, code page 1252, every other character as \uN).
QByteArray writeRtf(const QTextDocument& document);

// How deep the HTML's elements nest, counted from its tags in one pass without parsing it;
// counting stops once it passes `stopAbove`. Void elements and those whose end tag may be left
// out (p, li, td ...) do not nest.
int htmlNestingDepth(QStringView html, int stopAbove = kMaxHtmlDepth);

// Empty for HTML longer than kMaxHtmlCharacters or nested deeper than kMaxHtmlDepth.
QByteArray rtfFromHtml(const QString& html);
std::optional<QString> htmlFromRtf(const QByteArray& rtf);
std::optional<QString> plainTextFromRtf(const QByteArray& rtf);

// The RTF as it may be handed to another program: one with hyperlink fields is rewritten, so links
// of schemes Lumra would not open (javascript:, file: …) leave as plain text; none when such an
// RTF cannot be read. Any other RTF is returned as it is.
std::optional<QByteArray> rtfWithOpenableLinks(const QByteArray& rtf);

// The RTF with one more, unformatted, paragraph break at its end; none when it cannot be read.
std::optional<QByteArray> rtfAppendingParagraph(const QByteArray& rtf);

} // namespace lumra::RichText
