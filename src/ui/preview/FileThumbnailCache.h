#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <optional>

namespace lumra {

// A cache entry is valid for one version of one file at one pixel size: a file that changed
// (size or modification time) or a different size asks for a new picture.
QString thumbnailCacheKey(const QString& path, qint64 size, qint64 modifiedMs, int pixelSize);
// The disk entry of a key: the SHA-256 of its UTF-8 bytes in hexadecimal, then ".png".
QString thumbnailCacheFileName(const QString& key);

// What a worker found or made for one file; an empty image means "keep the icon".
struct FileThumbnailResult {
    QImage image;
    QString key;
};
// Reads the disk entry under `folder`, or renders the file (images decoded scaled with the
// allocation limit, the first page of a PDF) and writes the entry atomically. An entry that does
// not decode is made again. Runs on any thread.
FileThumbnailResult loadOrMakeFileThumbnail(const QString& folder, const QString& path, int pixelSize);

// Thumbnails of copied files for the rows, made off the main thread and kept in memory (by path
// and pixel size) and on disk (by the full key) in "file-thumbnails". Main thread only.
class FileThumbnailCache : public QObject {
    Q_OBJECT
public:
    explicit FileThumbnailCache(QString folder, QObject* parent = nullptr);
    ~FileThumbnailCache() override;

    // The one cache of the process, over $XDG_CACHE_HOME/Lumra/file-thumbnails.
    static FileThumbnailCache& shared();

    // The picture when it is in memory; otherwise none, and thumbnailReady(path) follows once a
    // worker found or made one. Folders and files nothing can render stay on their icon.
    std::optional<QImage> thumbnail(const QString& path, int pixelSize);
    void waitForWorkers(); // tests and benchmarks

signals:
    void thumbnailReady(const QString& path);

private:
    QString m_folder;
    QCache<QString, QImage> m_memory;     // path + size → picture
    QSet<QString> m_pending;              // asked, not answered
    QSet<QString> m_failed;               // nothing to show this run
    QThreadPool m_pool;
};

} // namespace lumra
