#include "BenchImages.h"

#include "BenchSize.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace lumra::bench {

QByteArray screenshotPng(int variant)
{
    const QSize size = shortMode() ? QSize(800, 600) : QSize(4000, 3000);
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(40, 60, 90));
    gradient.setColorAt(1, QColor(200, 120, 60));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 12; ++i) {
        const QRect window(i * size.width() / 14, i * size.height() / 16, size.width() / 3, size.height() / 3);
        painter.fillRect(window, QColor(245, 245, 245));
        painter.setPen(Qt::black);
        for (int line = 0; line < 20; ++line)
            painter.drawText(window.adjusted(10, 20 + line * 18, 0, 0),
                             QStringLiteral("Screenshot %1, line %2").arg(variant).arg(line));
    }
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return png;
}

} // namespace lumra::bench
