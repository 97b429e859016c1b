#pragma once

#include "platform/core/Result.h"
#include "platform/image/ImageDecoding.h"

#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUuid>

#include <list>
#include <optional>

namespace lumra::image {

// The largest edge, in pixels, of a thumbnail asked for at `requestedLength` points with the
// stored `thumbnailQuality` text ("low", "normal", "high"; anything else reads as "normal").
// Wide images (ratio above 1) grow along their long side; the quality's floor is a minimum.
int thumbnailMaxPixelSize(const QString& quality, double requestedLength, std::optional<QSize> pixelSize);

// The long side, in pixels, of the thumbnail of a picture stored at `stored` pixels: the picture
// fitted into `box` (the device pixels a row paints it in; an empty box sets no bound), never above
// thumbnailMaxPixelSize() nor the picture's own long side. `quarterTurned`: its orientation turns it
// by 90 degrees, so it fits the box turned.
int thumbnailLongSide(const QString& quality, double requestedLength, QSize stored, bool quarterTurned, QSize box);

struct Thumbnail {
    QImage image;     // orientation applied, never larger than the original
    QSize pixelSize;  // the stored image's pixel size, as imageDimensions() reports it
};

// Decodes `data` downscaled for a thumbnail shown in `box` (thumbnailLongSide()), in a format of
// at most 32 bits a pixel. Pure and thread-safe: may run on a worker.
Result<Thumbnail> makeThumbnail(const QByteArray& data, const QString& quality, double requestedLength,
                                QSize box = {}, const DecodeLimits& limits = {});

// Thumbnails by item id, evicting the least recently used entry beyond 300 entries or
// 100 MiB of pixels (cost = the image's bytes, width × height × 4 for 32-bit pixels). Main thread only.
class ThumbnailCache {
public:
    static constexpr int defaultCountLimit = 300;
    static constexpr qint64 defaultCostLimit = 100ll * 1024 * 1024;

    explicit ThumbnailCache(int countLimit = defaultCountLimit, qint64 costLimit = defaultCostLimit);

    static qint64 costOf(const QImage& image);

    std::optional<QImage> object(const QUuid& id);
    void insert(const QUuid& id, const QImage& image);
    void remove(const QUuid& id);
    void clear();

    int count() const { return int(m_entries.size()); }
    qint64 totalCost() const { return m_totalCost; }

private:
    struct Entry {
        QUuid id;
        QImage image;
        qint64 cost;
    };
    void trim();

    int m_countLimit;
    qint64 m_costLimit;
    qint64 m_totalCost = 0;
    std::list<Entry> m_entries; // most recently used first
    QHash<QUuid, std::list<Entry>::iterator> m_index;
};

} // namespace lumra::image
