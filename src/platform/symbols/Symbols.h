#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace lumra::Symbols {

// Stored symbol names ("doc.on.clipboard.fill", "folder.fill", a category's icon, the tray icon
// setting) stay identifiers; this turns one into an icon of the desktop's theme. Lumra falls back to
// the Adwaita theme, and a name the table or the themes do not know gets a generic icon, never
// an empty one, so the tray icon and category chips always show something.
QIcon icon(const QString& symbolName);

// The freedesktop names tried for a symbol, best first; empty for an unknown symbol.
QStringList themeNames(const QString& symbolName);

bool isKnown(const QString& symbolName);

// Sets up the icon theme Lumra asks for symbols, once, and has it checked before Qt opens any of
// its files. Run at start, before any window; the first symbol asked runs it otherwise.
void prepareTheme();

// The icon used when nothing better is found.
QIcon genericIcon();

} // namespace lumra::Symbols
