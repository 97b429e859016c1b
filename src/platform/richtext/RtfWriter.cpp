#include "platform/richtext/RtfCodec.h"

#include "platform/core/BackgroundWork.h"
#include "platform/core/LinkSchemes.h"

#include <QColor>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>

#include <algorithm>
#include <cmath>

namespace lumra::RichText {
namespace {

// Appends text as 7-bit RTF: specials escaped, everything beyond ASCII as \uN with a
// one-byte fallback (\uc1) for readers without Unicode support.
void appendEscaped(QByteArray& out, QStringView text, bool breaks = true)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!breaks && (c == u'\t' || c == QChar::LineSeparator)) {
            continue;
        } else if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c == QChar::LineSeparator) {
            out += "\\line ";
        } else if (c < 0x20 || c == QChar::ObjectReplacementCharacter || c == QChar::ParagraphSeparator) {
            continue;
        } else {
            char16_t unit = c;
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                out += "\\u" + QByteArray::number(int(c) - 65536) + '?';
                unit = text[++i].unicode();
            } else if (QChar::isSurrogate(c)) {
                unit = QChar::ReplacementCharacter;
            }
            out += "\\u" + QByteArray::number(unit > 0x7FFF ? int(unit) - 65536 : int(unit));
            if (unit >= 0xA0 && unit <= 0xFF) // Latin-1 and code page 1252 agree here
                out += "\\'" + QByteArray::number(unit, 16);
            else
                out += '?';
        }
    }
}

int listNumberFormat(QTextListFormat::Style style)
{
    switch (style) {
    case QTextListFormat::ListDecimal: return 0;
    case QTextListFormat::ListUpperRoman: return 1;
    case QTextListFormat::ListLowerRoman: return 2;
    case QTextListFormat::ListUpperAlpha: return 3;
    case QTextListFormat::ListLowerAlpha: return 4;
    default: return 23; // bullet
    }
}

QString bulletFor(QTextListFormat::Style style)
{
    switch (style) {
    case QTextListFormat::ListCircle: return QStringLiteral(u"\u25E6");
    case QTextListFormat::ListSquare: return QStringLiteral(u"\u25AA");
    default: return QStringLiteral(u"\u2022");
    }
}

int listLevel(const QTextList* list)
{
    return std::clamp(list->format().indent() - 1, 0, 8);
}

class RtfWriter {
public:
    RtfWriter(const QTextDocument& document, qsizetype maxBytes)
        : m_document(document)
        , m_maxBytes(maxBytes)
    {
    }

    QByteArray write();

private:
    int fontIndex(const QString& family);
    int colorIndex(const QColor& color);
    void writeBlock(const QTextBlock& block);
    void writeFragment(const QTextFragment& fragment);
    QByteArray header() const;

    const QTextDocument& m_document;
    const qsizetype m_maxBytes;
    QByteArray m_body;
    // Each in the order first used, with its index: a document may have as many as it has paragraphs.
    QStringList m_fonts;
    QHash<QString, int> m_fontIndexes;
    QList<QRgb> m_colors;
    QHash<QRgb, int> m_colorIndexes;
    QList<const QTextList*> m_lists;
    QHash<const QTextList*, int> m_listIndexes;
};

template<typename Key>
int indexIn(QList<Key>& ordered, QHash<Key, int>& indexes, const Key& key)
{
    if (const auto known = indexes.constFind(key); known != indexes.constEnd())
        return *known;
    indexes.insert(key, int(ordered.size()));
    ordered.append(key);
    return int(ordered.size()) - 1;
}

int RtfWriter::fontIndex(const QString& family)
{
    return indexIn(m_fonts, m_fontIndexes, family);
}

int RtfWriter::colorIndex(const QColor& color)
{
    return indexIn(m_colors, m_colorIndexes, color.rgb()) + 1; // entry 0 is the reader's default colour
}

QByteArray RtfWriter::write()
{
    const QString defaultFamily = m_document.defaultFont().family();
    fontIndex(defaultFamily.isEmpty() ? QStringLiteral("Helvetica") : defaultFamily);
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (block != m_document.begin())
            m_body += "\\par\n";
        writeBlock(block);
        // Empty also when the lane stops (see BackgroundWork::stopAsked).
        if (m_body.size() > m_maxBytes || BackgroundWork::stopAsked())
            return {};
    }
    QByteArray out = header() + m_body + "}\n";
    return out.size() > m_maxBytes ? QByteArray() : out;
}

void RtfWriter::writeBlock(const QTextBlock& block)
{
    m_body += "\\pard";
    const Qt::Alignment alignment = block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    if (alignment & Qt::AlignHCenter)
        m_body += "\\qc";
    else if (alignment & (Qt::AlignRight | Qt::AlignTrailing))
        m_body += "\\qr";
    else if (alignment & Qt::AlignJustify)
        m_body += "\\qj";
    if (const QTextList* list = block.textList()) {
        const int index = indexIn(m_lists, m_listIndexes, list);
        const int level = listLevel(list);
        m_body += "\\ls" + QByteArray::number(index + 1) + "\\ilvl" + QByteArray::number(level) + "\\li"
            + QByteArray::number(720 * (level + 1)) + "\\fi-360 {\\listtext ";
        const QTextListFormat::Style style = list->format().style();
        appendEscaped(m_body, listNumberFormat(style) == 23 ? bulletFor(style) : list->itemText(block));
        m_body += "\\tab}";
    } else {
        m_body += ' ';
    }

    QString linkOpen;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        const QTextCharFormat format = fragment.charFormat();
        const QString href = format.isAnchor() ? keptLinkTarget(format.anchorHref()).value_or(QString()) : QString();
        if (href != linkOpen) {
            if (!linkOpen.isEmpty())
                m_body += "}}";
            if (!href.isEmpty()) {
                m_body += "{\\field{\\*\\fldinst{HYPERLINK \"";
                appendEscaped(m_body, QString(href).replace(u'"', QStringLiteral("%22")), false);
                m_body += "\"}}{\\fldrslt ";
            }
            linkOpen = href;
        }
        writeFragment(fragment);
    }
    if (!linkOpen.isEmpty())
        m_body += "}}";
}

void RtfWriter::writeFragment(const QTextFragment& fragment)
{
    const QTextCharFormat format = fragment.charFormat();
    m_body += '{';
    const qsizetype start = m_body.size();
    const QStringList families = format.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.first().isEmpty())
        m_body += "\\f" + QByteArray::number(fontIndex(families.first()));
    double points = 0;
    if (format.hasProperty(QTextFormat::FontPointSize))
        points = format.fontPointSize();
    else if (format.hasProperty(QTextFormat::FontPixelSize))
        points = format.intProperty(QTextFormat::FontPixelSize) * 0.75;
    if (points > 0)
        m_body += "\\fs" + QByteArray::number(std::clamp(int(std::lround(points * 2)), 1, 3276));
    if (format.hasProperty(QTextFormat::FontWeight) && format.fontWeight() >= QFont::DemiBold)
        m_body += "\\b";
    if (format.fontItalic())
        m_body += "\\i";
    if (format.fontUnderline())
        m_body += "\\ul";
    if (format.fontStrikeOut())
        m_body += "\\strike";
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        m_body += "\\cf" + QByteArray::number(colorIndex(format.foreground().color()));
    if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush) {
        // Word reads \highlight, most other readers \cb.
        const QByteArray index = QByteArray::number(colorIndex(format.background().color()));
        m_body += "\\highlight" + index + "\\cb" + index;
    }
    if (m_body.size() > start)
        m_body += ' ';
    appendEscaped(m_body, fragment.text());
    m_body += '}';
}

QByteArray RtfWriter::header() const
{
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
    for (qsizetype i = 0; i < m_fonts.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
        appendEscaped(out, QString(m_fonts.at(i)).remove(u';'), false);
        out += ";}";
    }
    out += "}\n{\\colortbl;";
    for (QRgb rgb : m_colors) {
        out += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" + QByteArray::number(qGreen(rgb)) + "\\blue"
            + QByteArray::number(qBlue(rgb)) + ';';
    }
    out += "}\n";
    if (!m_lists.isEmpty()) {
        QByteArray overrides = "{\\*\\listoverridetable";
        out += "{\\*\\listtable";
        for (qsizetype i = 0; i < m_lists.size(); ++i) {
            const QByteArray id = QByteArray::number(i + 1);
            const QTextListFormat::Style style = m_lists.at(i)->format().style();
            const int numberFormat = listNumberFormat(style);
            out += "{\\list\\listtemplateid" + id;
            // Every level up to the one used, so that \ilvl always names a defined level.
            for (int level = 0; level <= listLevel(m_lists.at(i)); ++level) {
                out += "{\\listlevel\\levelnfc" + QByteArray::number(numberFormat) + "\\levelnfcn"
                    + QByteArray::number(numberFormat) + "\\leveljc0\\levelstartat1\\levelfollow0{\\leveltext ";
                if (numberFormat == 23) {
                    out += "\\'01";
                    appendEscaped(out, bulletFor(style));
                    out += ";}{\\levelnumbers;}";
                } else {
                    out += "\\'02\\'0" + QByteArray::number(level) + ".;}{\\levelnumbers\\'01;}";
                }
                out += "\\fi-360\\li" + QByteArray::number(720 * (level + 1)) + '}';
            }
            out += "\\listid" + id + '}';
            overrides += "{\\listoverride\\listid" + id + "\\listoverridecount0\\ls" + id + '}';
        }
        out += "}\n" + overrides + "}\n";
    }
    return out;
}

} // namespace

QByteArray writeRtf(const QTextDocument& document, qsizetype maxBytes)
{
    return RtfWriter(document, maxBytes).write();
}

} // namespace lumra::RichText
