#include "platform/richtext/RtfCodec.h"

#include "platform/core/BackgroundWork.h"
#include "platform/richtext/HtmlConverter.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace lumra::RichText {

namespace {

bool startsWith(QStringView text, qsizetype at, QLatin1String prefix)
{
    return text.sliced(at).startsWith(prefix, Qt::CaseInsensitive);
}

bool nests(QStringView name)
{
    static constexpr const char* flat[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
                                           "meta", "param", "source", "track", "wbr", "p", "li", "dt", "dd",
                                           "tr", "td", "th", "option", "optgroup", "thead", "tbody", "tfoot",
                                           "colgroup", "rb", "rt", "rp", "rtc"};
    for (const char* element : flat) {
        if (name.compare(QLatin1String(element), Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

} // namespace

int htmlNestingDepth(QStringView html, int stopAbove)
{
    int depth = 0;
    int deepest = 0;
    const qsizetype size = html.size();
    qsizetype at = 0;
    while ((at = html.indexOf(QLatin1Char('<'), at)) >= 0) {
        if (startsWith(html, at, QLatin1String("<!--"))) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), at + 4);
            if (end < 0)
                break;
            at = end + 3;
            continue;
        }
        const bool closing = at + 1 < size && html[at + 1] == QLatin1Char('/');
        const qsizetype nameStart = at + (closing ? 2 : 1);
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && (html[nameEnd].isLetterOrNumber() || html[nameEnd] == QLatin1Char('-')))
            ++nameEnd;
        if (nameEnd == nameStart) { // "<!DOCTYPE", "<?xml", a lone "<"
            ++at;
            continue;
        }
        const qsizetype end = html.indexOf(QLatin1Char('>'), nameEnd);
        if (end < 0)
            break;
        const QStringView name = html.sliced(nameStart, nameEnd - nameStart);
        if (nests(name)) {
            if (closing)
                depth = qMax(0, depth - 1);
            else if (html[end - 1] != QLatin1Char('/') && ++depth > deepest) {
                deepest = depth;
                if (deepest > stopAbove)
                    return deepest;
            }
        }
        at = end + 1;
    }
    return deepest;
}

qsizetype htmlElementCount(QStringView html, qsizetype stopAbove)
{
    // Counts more than the tokenizer may (a "<" in an attribute value, "< /b>"), never less.
    qsizetype count = 0;
    const qsizetype last = html.size() - 1;
    for (qsizetype at = 0; (at = html.indexOf(QLatin1Char('<'), at)) >= 0; ++at) {
        if (at < last && (html[at + 1] == QLatin1Char('/') || html[at + 1] == QLatin1Char('!')))
            continue;
        if (++count > stopAbove)
            break;
    }
    return count;
}

std::chrono::milliseconds htmlConversionTime(qsizetype characters)
{
    const auto sized = kHtmlConversionTime + kHtmlConversionTimePer100kCharacters * characters / 100'000;
    return std::min<std::chrono::milliseconds>(sized, kHtmlConversionTimeCap);
}

QByteArray rtfFromHtml(const QString& html, std::optional<std::chrono::milliseconds> cpuTime)
{
    // Runs while a copy is captured. What is too big is refused before any of it is parsed; the
    // parse itself, which Qt cannot interrupt, runs in the converter program and is ended there.
    if (html.size() > kMaxHtmlCharacters || htmlElementCount(html) > kMaxHtmlElements
        || htmlNestingDepth(html) > kMaxHtmlDepth)
        return {};
    return HtmlConverter::shared().convert(html, cpuTime.value_or(htmlConversionTime(html.size())));
}

std::optional<QString> htmlFromRtf(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, &document) || BackgroundWork::stopAsked())
        return std::nullopt;
    return document.toHtml();
}

std::optional<QString> plainTextFromRtf(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, &document))
        return std::nullopt;
    return document.toPlainText();
}

std::optional<QByteArray> rtfWithOpenableLinks(const QByteArray& rtf)
{
    if (!rtf.toLower().contains("hyperlink"))
        return rtf;
    QTextDocument document;
    if (!readRtf(rtf, &document) || BackgroundWork::stopAsked())
        return std::nullopt;
    return writeRtf(document);
}

std::optional<QByteArray> rtfAppendingParagraph(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, &document) || BackgroundWork::stopAsked())
        return std::nullopt;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    return writeRtf(document);
}

} // namespace lumra::RichText
