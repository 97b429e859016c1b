#pragma once

#include "platform/core/BackgroundWork.h"
#include "platform/files/FileLookups.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

namespace lumra {

namespace image {
class ImageDecoder;
}

// A cache entry of Lumra's own folder is valid for one version of one file at one pixel size: a
// file that changed (size or modification time) or a different size asks for a new picture.
QString thumbnailCacheKey(const QString& path, qint64 size, qint64 modifiedMs, int pixelSize);
// The disk entry of a key: the SHA-256 of its UTF-8 bytes in hexadecimal, then ".png".
QString thumbnailCacheFileName(const QString& key);

// Where file thumbnails are looked up and made.
struct FileThumbnailSources {
    QString ownFolder; // Lumra's "file-thumbnails"; empty for none
    QString sharedRoot; // the desktop's shared cache; empty for none
    std::shared_ptr<const thumbnails::ThumbnailerIndex> thumbnailers;
    thumbnails::RunLimits limits;
    image::ImageDecoder* decoder = nullptr; // pictures' decoder programs; null: the shared display ones

    // $XDG_CACHE_HOME/Lumra/file-thumbnails, $XDG_CACHE_HOME/thumbnails and the installed thumbnailers.
    static FileThumbnailSources fromEnvironment();
};

// What a worker found or made for one file; an empty image means "keep the icon". `late`: no
// decoder program came free while the row could still be shown, which says nothing of the file,
// so it is asked again when next shown.
struct FileThumbnailResult {
    enum class Outcome { found, made, toMake, none, late };
    Outcome outcome = Outcome::none;
    QImage image;
};

// Looks in the caches only, so it is quick: the shared cache (a valid entry at or above the
// size), then Lumra's own folder. `toMake` when the file is a regular file that can be drawn
// (an image, a PDF, or a type with a thumbnailer) and no failure is recorded for its version.
FileThumbnailResult findFileThumbnail(const FileThumbnailSources& sources, const QString& path, int pixelSize);
// Draws it (images decoded, the first page of a PDF, other types through their thumbnailer) and
// keeps it in the shared cache, or records the failure there so this version is not tried again.
FileThumbnailResult makeFileThumbnail(
    const FileThumbnailSources& sources, const QString& path, int pixelSize, const std::atomic<bool>* stop = nullptr);
// Both, one after the other. Runs on any thread.
FileThumbnailResult loadOrMakeFileThumbnail(const FileThumbnailSources& sources, const QString& path, int pixelSize);

// Thumbnails of copied files for the rows, made off the main thread and kept in memory (by path
// and pixel size, for the version of the file FileLookups last saw). A file that changed since is
// looked up again, whether it had a picture or none. Cache look-ups and drawing run on separate
// workers, so a row whose picture is cached never waits behind a slow thumbnailer. Main thread only.
class FileThumbnailCache : public QObject {
    Q_OBJECT
public:
    // Without sources, they are read from the environment for each request. `work` null:
    // BackgroundWork::current().
    explicit FileThumbnailCache(std::optional<FileThumbnailSources> sources = std::nullopt, QObject* parent = nullptr,
                                BackgroundWork* work = nullptr);
    // Waits about a second for the workers (none once quitting began), then leaves the ones still stuck behind.
    ~FileThumbnailCache() override;

    static FileThumbnailCache& shared();

    // The picture when it is in memory (an older version's until the new one is ready); otherwise
    // none, and thumbnailReady(path) follows once a worker found or made one, or found that a
    // changed file has none. Folders and files nothing can render stay on their icon.
    std::optional<QImage> thumbnail(const QString& path, int pixelSize);
    void waitForWorkers(); // tests and benchmarks
    int drawingsStarted() const { return m_drawings; } // files sent to be drawn, not found in a cache

signals:
    void thumbnailReady(const QString& path);

private:
    // The file as FileLookups saw it when its picture was asked; none before it looked.
    using Version = std::optional<FileLook>;
    struct Kept {
        QImage image;
        Version version;
    };
    void deliver(const QString& path, const QString& key, const Version& version, const QImage& image);
    void make(const FileThumbnailSources& sources, const QString& path, int pixelSize, const QString& key,
              const Version& version);

    std::optional<FileThumbnailSources> m_sources;
    QCache<QString, Kept> m_memory; // path + size → picture
    QSet<QString> m_pending; // asked, not answered
    QHash<QString, Version> m_failed; // nothing to show for that version
    int m_drawings = 0;
    std::shared_ptr<std::atomic<bool>> m_stop;
    BackgroundWork& m_work;
    BackgroundWork::Tasks m_tasks;
};

} // namespace lumra
