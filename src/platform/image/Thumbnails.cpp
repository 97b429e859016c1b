#include "platform/image/Thumbnails.h"

#include "platform/image/ImageDecoder.h"

#include <algorithm>
#include <cmath>

namespace lumra::image {

namespace {

struct QualityRule {
    int factor;
    int floor;
};

QualityRule ruleFor(const QString& quality)
{
    if (quality == QLatin1String("low"))
        return { 2, 240 };
    if (quality == QLatin1String("high"))
        return { 5, 600 };
    return { 3, 400 };
}

} // namespace

int thumbnailMaxPixelSize(const QString& quality, double requestedLength, std::optional<QSize> pixelSize)
{
    const QualityRule rule = ruleFor(quality);
    double ratio = 1.0;
    if (pixelSize && pixelSize->height() > 0)
        ratio = double(pixelSize->width()) / pixelSize->height();
    double base = std::max(0.0, requestedLength) * rule.factor;
    if (ratio > 1.0)
        base *= ratio;
    // Keeps a panorama's edge within int range; no screen needs more.
    base = std::min(base, 1.0e6);
    return std::max(int(std::lround(base)), rule.floor);
}

int thumbnailLongSide(const QString& quality, double requestedLength, QSize stored, bool quarterTurned, QSize box)
{
    const int own = std::max(stored.width(), stored.height());
    int side = std::min(thumbnailMaxPixelSize(quality, requestedLength, stored), own);
    if (box.width() > 0 && box.height() > 0 && !stored.isEmpty()) {
        const QSizeF shown = QSizeF(quarterTurned ? stored.transposed() : stored).scaled(QSizeF(box), Qt::KeepAspectRatio);
        // Up to the next whole pixel, so the row never stretches its thumbnail.
        side = std::min(side, int(std::ceil(std::max(shown.width(), shown.height()) - 1e-6)));
    }
    return std::max(side, 1);
}

Result<Thumbnail> makeThumbnail(const QByteArray& data, const QString& quality, double requestedLength, QSize box,
                                const DecodeLimits& limits)
{
    const Result<ImageHeader> header = readImageHeader(data, limits);
    if (!header)
        return Result<Thumbnail>::failure(header.error());
    const bool quarterTurned = header->transformation & QImageIOHandler::TransformationRotate90;
    Result<QImage> decoded = decodeImage(data, limits, thumbnailLongSide(quality, requestedLength, header->size, quarterTurned, box),
                                         DecodeTurn::shownWithin(ImageDecoder::shownWithin));
    if (!decoded)
        return Result<Thumbnail>::failure(decoded.error());
    QImage image = std::move(decoded).value();
    // Deep colour and 16-bit channels take twice the bytes and are converted at every paint.
    if (image.depth() > 32)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return Thumbnail { std::move(image), header->size };
}

ThumbnailCache::ThumbnailCache(int countLimit, qint64 costLimit)
    : m_countLimit(countLimit)
    , m_costLimit(costLimit)
{
}

qint64 ThumbnailCache::costOf(const QImage& image)
{
    return std::max<qint64>(image.sizeInBytes(), qint64(image.width()) * image.height() * 4);
}

std::optional<QImage> ThumbnailCache::object(const QUuid& id)
{
    const auto found = m_index.constFind(id);
    if (found == m_index.constEnd())
        return std::nullopt;
    m_entries.splice(m_entries.begin(), m_entries, *found);
    return m_entries.front().image;
}

void ThumbnailCache::insert(const QUuid& id, const QImage& image)
{
    remove(id);
    const qint64 cost = costOf(image);
    if (cost > m_costLimit)
        return;
    m_entries.push_front(Entry { id, image, cost });
    m_index.insert(id, m_entries.begin());
    m_totalCost += cost;
    trim();
}

void ThumbnailCache::remove(const QUuid& id)
{
    const auto found = m_index.find(id);
    if (found == m_index.end())
        return;
    m_totalCost -= (*found)->cost;
    m_entries.erase(*found);
    m_index.erase(found);
}

void ThumbnailCache::clear()
{
    m_entries.clear();
    m_index.clear();
    m_totalCost = 0;
}

void ThumbnailCache::trim()
{
    while (!m_entries.empty() && (int(m_entries.size()) > m_countLimit || m_totalCost > m_costLimit)) {
        m_totalCost -= m_entries.back().cost;
        m_index.remove(m_entries.back().id);
        m_entries.pop_back();
    }
}

} // namespace lumra::image
