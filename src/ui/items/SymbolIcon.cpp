#include "ui/items/SymbolIcon.h"

#include "platform/symbols/Symbols.h"

#include <QPainter>
#include <QPixmap>

namespace lumra {

QIcon tintedSymbol(const QString& symbolName, const QColor& color)
{
    const QIcon source = Symbols::icon(symbolName);
    QIcon tinted;
    for (int side : {16, 24, 32, 48, 64}) {
        QPixmap pixmap = source.pixmap(QSize(side, side));
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        tinted.addPixmap(pixmap);
    }
    return tinted.isNull() ? source : tinted;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QColor secondaryColor(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(isDark(palette) ? 0.6 : 0.55);
    return color;
}

QColor starYellow() { return QColor(0xF2, 0xB7, 0x05); }

QColor filterBlue(const QPalette& palette) { return isDark(palette) ? QColor(0x4C, 0x9A, 0xFF) : QColor(0x1F, 0x6F, 0xEB); }

QColor destructiveRed(const QPalette& palette) { return isDark(palette) ? QColor(0xFF, 0x6B, 0x61) : QColor(0xD7, 0x26, 0x1E); }

} // namespace lumra
