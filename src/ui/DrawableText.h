#pragma once

#include <QFont>
#include <QString>

namespace lumra {

// Whether `cluster` (one character as the user sees it) can be drawn in `font` or in one of the
// fonts it falls back to; a symbol that no installed font has would show as an empty box.
bool canDraw(const QString& cluster, const QFont& font);

// `text` without the symbols that no installed font can draw, and without the space that stood
// beside one, so "Synced ✅" reads "Synced" on a computer with no emoji font.
QString drawableText(const QString& text, const QFont& font);

} // namespace lumra
