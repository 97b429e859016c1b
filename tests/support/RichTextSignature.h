#pragma once

#include <QBrush>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

#include <string>

namespace lumra::test {

// What a reader would notice about each character: its text and the attributes the codec keeps.
inline std::string signature(const QTextDocument& document)
{
    QStringList out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QString line = QStringLiteral("[%1]").arg(int(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask));
        if (const QTextList* list = block.textList())
            line += QStringLiteral("list%1/%2 ").arg(int(list->format().style())).arg(list->format().indent());
        QString previous;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            const auto brush = [](const QBrush& b) { return b.style() == Qt::NoBrush ? QString() : b.color().name(); };
            const QString attributes = QStringLiteral("<%1%2%3%4 %5 %6 %7 %8>")
                                           .arg(f.fontWeight() >= QFont::Bold ? "b" : "")
                                           .arg(f.fontItalic() ? "i" : "")
                                           .arg(f.fontUnderline() ? "u" : "")
                                           .arg(f.fontStrikeOut() ? "s" : "")
                                           .arg(f.fontPointSize())
                                           .arg(brush(f.foreground()), brush(f.background()), f.anchorHref());
            if (attributes != previous)
                line += attributes;
            line += it.fragment().text();
            previous = attributes;
        }
        out.append(line);
    }
    return out.join(u'\n').toStdString();
}

} // namespace lumra::test
