#include "ui/AppIcon.h"

#include <QPainter>
#include <QSvgRenderer>

// The icon lives in a static library: its resources are registered by hand.
static void registerIconResources() { Q_INIT_RESOURCE(icons); }

namespace lumra::AppIcon {

namespace {

const QString resource = QStringLiteral(":/icons/lumra.svg");

void registerOnce()
{
    static const bool registered = (registerIconResources(), true);
    Q_UNUSED(registered);
}

} // namespace

QIcon icon()
{
    registerOnce();
    return QIcon(resource);
}

QPixmap pixmap(int size, qreal devicePixelRatio)
{
    registerOnce();
    // Drawn straight from the SVG, so that no icon engine picks a smaller bitmap to scale up.
    const qreal ratio = std::max<qreal>(devicePixelRatio, 1.0);
    const int pixels = qRound(size * ratio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace lumra::AppIcon
