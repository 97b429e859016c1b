// Pictures other programs leave for Lumra: entries of the thumbnail cache file managers share,
// with the Thumb:: chunks that say which file version they show, and what a thumbnailer wrote.
#include "FuzzSupport.h"

#include "platform/image/ImageDecoding.h"
#include "platform/thumbnails/SharedThumbnails.h"

#include <QDir>

using namespace lumra;
using namespace lumra::thumbnails;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray png = fuzz::unfold(data, size);
    const Result<QImage> decoded = decodeThumbnailPng(png);
    if (decoded)
        FUZZ_CHECK(decoded->width() <= 4096 && decoded->height() <= 4096 && decoded->textKeys().isEmpty());
    (void)image::pngTexts(png, 64 * 1024);

    // As the entry, and the failure mark, of one file version.
    static const FileVersion version { QStringLiteral("/tmp/fuzz/poster.png"), QStringLiteral("file:///tmp/fuzz/poster.png"), 1767225600 };
    static const QString root = [] {
        const QString path = fuzz::scratchFolder() + QStringLiteral("/cache/thumbnails");
        QDir().mkpath(path + QStringLiteral("/normal"));
        QDir().mkpath(path + QStringLiteral("/fail/lumra"));
        return path;
    }();
    const QString name = entryName(version.uri);
    fuzz::writeScratchFile(QStringLiteral("cache/thumbnails/normal/") + name, png);
    fuzz::writeScratchFile(QStringLiteral("cache/thumbnails/fail/lumra/") + name, png);
    if (const auto entry = readEntry(root, version, 128))
        FUZZ_CHECK(decoded.ok() && entry->size() == decoded->size());
    (void)hasFailure(root, version);
    return 0;
}
