#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringView>

#include <chrono>
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
// A long article copied whole has some tens of thousands of elements; QTextDocument spends about a
// kilobyte and some microseconds on each, and a table of 400,000 cells cost it 450 MB.
inline constexpr qsizetype kMaxHtmlElements = 100'000;
// Conversions run in a program of their own, ended when they cost it more CPU time than
// htmlConversionTime(): this for a short page, more for a longer one up to the cap. Qt's parser
// costs more than in proportion to a page's length (a 116,000-character list of 2,000 items
// with paragraphs takes the program 0.7 to 1.7 s of CPU on a busy 8-core machine, one of 1,000
// items a quarter of that), so one budget for every size either ends real pages or lets a
// small hostile one run long.
inline constexpr std::chrono::milliseconds kHtmlConversionTime {2000};
inline constexpr std::chrono::milliseconds kHtmlConversionTimePer100kCharacters {2000};
inline constexpr std::chrono::milliseconds kHtmlConversionTimeCap {6000};
std::chrono::milliseconds htmlConversionTime(qsizetype characters);
// RTF made from copied HTML is kept up to the bound of copied text; beyond it only the text is.
inline constexpr qsizetype kMaxConvertedRtfBytes = 16 * 1024 * 1024;

// Replaces the document's content with the RTF's. Input that is not RTF, exceeds a limit or
// nests groups deeper than kMaxGroupDepth gives false and an empty document. A truncated
// or slightly malformed RTF is read as far as it goes.
bool readRtf(const QByteArray& rtf, QTextDocument* document);

// What a read worked out, counted: whatever an input repeats is worked out once, and what grows
// with the square of the input stays within its budget.
struct RtfReadWork {
    qsizetype linkInstructionsRead = 0; // field instructions searched for their link
    qsizetype listTableSearches = 0; // list tables searched for a paragraph's list style
    qsizetype listItemsTouched = 0; // list items QTextDocument revisits as paragraphs join lists
};
bool readRtf(const QByteArray& rtf, QTextDocument* document, RtfReadWork* work);

// The document as RTF 1 (ANSI, code page 1252, every other character as \uN); empty when it
// would be longer than maxBytes, or its lane stops. Reads on a lane that stops fail.
QByteArray writeRtf(const QTextDocument& document, qsizetype maxBytes = kMaxRtfBytes);

// How deep the HTML's elements nest, counted from its tags in one pass without parsing it;
// counting stops once it passes `stopAbove`. Void elements and those whose end tag may be left
// out (p, li, td ...) do not nest.
int htmlNestingDepth(QStringView html, int stopAbove = kMaxHtmlDepth);

// The start tags of the HTML as Qt's tokenizer meets them: every "<" it does not read as an end
// tag, comment or declaration, attribute values and script included. Counting stops past `stopAbove`.
qsizetype htmlElementCount(QStringView html, qsizetype stopAbove = kMaxHtmlElements);

// The HTML as RTF, converted by the converter program (see HtmlConverter.h), which is ended once
// the conversion has cost it `cpuTime` (by default htmlConversionTime() of the page's length). Empty for HTML longer than kMaxHtmlCharacters, with more
// than kMaxHtmlElements elements or nested deeper than kMaxHtmlDepth, for RTF longer than
// kMaxConvertedRtfBytes, and when the conversion failed or was ended.
QByteArray rtfFromHtml(const QString& html, std::optional<std::chrono::milliseconds> cpuTime = std::nullopt);
std::optional<QString> htmlFromRtf(const QByteArray& rtf);
std::optional<QString> plainTextFromRtf(const QByteArray& rtf);

// The RTF as it may be handed to another program: one with hyperlink fields is rewritten, so links
// of schemes Lumra would not open (javascript:, file: …) leave as plain text; none when such an
// RTF cannot be read. Any other RTF is returned as it is.
std::optional<QByteArray> rtfWithOpenableLinks(const QByteArray& rtf);

// The RTF with one more, unformatted, paragraph break at its end; none when it cannot be read.
std::optional<QByteArray> rtfAppendingParagraph(const QByteArray& rtf);

} // namespace lumra::RichText
