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
    // The same bytes also stand for a later version of the file and for another file: an entry
    // names one version, so at most one of the three takes it.
    static const FileVersion later { version.path, version.uri, version.mtime + 1 };
    static const FileVersion another { QStringLiteral("/tmp/fuzz/other.png"), QStringLiteral("file:///tmp/fuzz/other.png"), version.mtime };
    for (const QString& uri : {version.uri, another.uri}) {
        fuzz::writeScratchFile(QStringLiteral("cache/thumbnails/normal/") + entryName(uri), png);
        fuzz::writeScratchFile(QStringLiteral("cache/thumbnails/fail/lumra/") + entryName(uri), png);
    }
    int entries = 0, failures = 0;
    for (const FileVersion* v : {&version, &later, &another}) {
        if (const auto entry = readEntry(root, *v, 128)) {
            FUZZ_CHECK(decoded.ok() && entry->size() == decoded->size());
            ++entries;
        }
        failures += hasFailure(root, *v) ? 1 : 0;
    }
    FUZZ_CHECK(entries <= 1 && failures <= 1);
    return 0;
}
