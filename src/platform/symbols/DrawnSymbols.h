#pragma once

#include <QIcon>
#include <QString>

namespace lumra::Symbols {

// Symbols Lumra draws itself because the desktop themes give several of them one picture (the
// clipboard family of the tray choices, a gift, a cart and a light bulb among the category icons).
// Monochrome on a 16-unit grid in the symbolic icons' ink; null for a symbol not drawn here.
QIcon drawnSymbol(const QString& symbolName);

} // namespace lumra::Symbols
