#include "platform/richtext/RtfCodec.h"

#include <QTextCursor>
#include <QTextDocument>

namespace lumra::RichText {

QByteArray rtfFromHtml(const QString& html)
{
    // Runs while a copy is captured: a page-sized clipboard must not stall it.
    if (html.size() > kMaxHtmlCharacters)
        return {};
    QTextDocument document;
    document.setHtml(html);
    return writeRtf(document);
}

std::optional<QString> htmlFromRtf(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, &document))
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
    if (!readRtf(rtf, &document))
        return std::nullopt;
    return writeRtf(document);
}

std::optional<QByteArray> rtfAppendingParagraph(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, &document))
        return std::nullopt;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    return writeRtf(document);
}

} // namespace lumra::RichText
