#include "ui/items/SymbolPixmap.h"

#include "platform/symbols/Symbols.h"

#include <QPainter>

namespace lumra {

QPixmap symbolPixmap(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio)
{
    QPixmap pixmap = Symbols::icon(symbol).pixmap(QSize(size, size), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QIcon symbolIcon(const QString& symbol, int size, const QColor& color)
{
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbol, size, color, 1.0));
    icon.addPixmap(symbolPixmap(symbol, size, color, 2.0));
    return icon;
}

} // namespace lumra
