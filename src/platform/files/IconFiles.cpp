#include "platform/files/IconFiles.h"

#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"

#include <QImage>
#include <QPixmap>
#include <QThreadPool>

namespace lumra {

IconFiles& IconFiles::instance()
{
    static auto* icons = new IconFiles; // outlives every view that asks
    return *icons;
}

std::optional<QIcon> IconFiles::icon(const QString& path)
{
    if (const auto it = m_icons.constFind(path); it != m_icons.cend())
        return *it;
    if (m_reading.contains(path))
        return std::nullopt;
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool; // never destroyed: a read on a stalled mount must not hold up exit
        threads->setMaxThreadCount(2);
        return threads;
    }();
    m_reading.insert(path);
    pool->start([this, path] {
        QImage image;
        if (const std::optional<QByteArray> bytes = readRegularFile(path, maxBytes)) {
            const image::DecodeLimits limits {maxBytes, 4096ll * 4096};
            if (auto decoded = image::decodeImage(*bytes, limits, maxPixelSize))
                image = std::move(decoded).value();
        }
        QMetaObject::invokeMethod(this, [this, path, image] { finish(path, image); }, Qt::QueuedConnection);
    });
    return std::nullopt;
}

void IconFiles::finish(const QString& path, const QImage& image)
{
    m_reading.remove(path);
    m_icons.insert(path, image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
    emit loaded(path);
}

} // namespace lumra
