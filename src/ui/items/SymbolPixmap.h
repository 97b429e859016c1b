#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace lumra {

// A symbol drawn in one colour, so the monochrome theme icons stay readable on a dark palette.
QPixmap symbolPixmap(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(const QString& symbol, int size, const QColor& color);

} // namespace lumra
