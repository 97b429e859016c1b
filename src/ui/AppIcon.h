#pragma once

#include <QIcon>
#include <QPixmap>

namespace lumra::AppIcon {

// Lumra's own icon, drawn from its compiled-in SVG at any size.
QIcon icon();
// The icon `size` logical pixels wide for a screen of `devicePixelRatio`, sharp there.
QPixmap pixmap(int size, qreal devicePixelRatio);

} // namespace lumra::AppIcon
