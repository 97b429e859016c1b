#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

namespace lumra {

// A symbol drawn in one colour, so it reads on light and dark palettes alike (themes ship their
// symbolic icons dark).
QIcon tintedSymbol(const QString& symbolName, const QColor& color);

// The toolkit's secondary colour: the text colour, faded.
QColor secondaryColor(const QPalette& palette);
// Fixed colours of an active star filter, an active type filter and destructive entries.
QColor starYellow();
QColor filterBlue(const QPalette& palette);
QColor destructiveRed(const QPalette& palette);
bool isDark(const QPalette& palette);

} // namespace lumra
