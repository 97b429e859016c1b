#include "BenchImages.h"

#include "BenchSize.h"

#include "engine/ClipboardManager.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/image/ImageDecoding.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>

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

QByteArray photoJpeg(QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    QRandomGenerator grain(3);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(grain.bounded(24));
            line[x] = qRgb((x * 200 / size.width() + n) & 255, (y * 180 / size.height() + n) & 255, (90 + n) & 255);
        }
    }
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QImageWriter writer(&out, "jpeg");
    writer.setQuality(90);
    writer.write(picture);
    return out.data();
}

QByteArray noisePng(quint32 seed, QSize size, bool deepColour)
{
    QImage image(size, deepColour ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y)
        random.fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), int(image.bytesPerLine() / 4));
    if (deepColour) // opaque, as the format says
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                reinterpret_cast<quint64*>(image.scanLine(y))[x] |= quint64(0xffff) << 48;
    Result<QByteArray> png = image::encodePng(image);
    return png ? std::move(png).value() : QByteArray();
}

qint64 storeNoiseImages(PersistenceController& persistence, int count, QSize size, bool deepColour)
{
    auto& context = persistence.viewContext();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    qint64 storedBytes = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray png = noisePng(quint32(i + 1), size, deepColour);
        storedBytes += png.size();
        ClipboardItem item;
        item.id = QUuid::createUuid();
        item.contentType = ClipboardContentType::image;
        item.imageFileName = image::imageFileName(png);
        item.dateAdded = now.addSecs(-i);
        auto row = context.insert(store::EntityKind::item);
        populateManagedItem(*row, item);
        row->set(store::ItemAttr::imageData, png);
        // A few at a time: the pictures' bytes wait in memory until they are saved.
        if (i % 8 == 7 && !persistence.save())
            return -1;
    }
    return persistence.save() ? storedBytes : -1;
}

qint64 storeNoiseImages(ClipboardManager& manager, int count, QSize size, bool deepColour)
{
    const qint64 stored = storeNoiseImages(*manager.persistence(), count, size, deepColour);
    manager.loadItems();
    return stored;
}

} // namespace lumra::bench
