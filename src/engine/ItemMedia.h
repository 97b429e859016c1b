#pragma once

#include "model/ClipboardItem.h"
#include "platform/core/Result.h"
#include "platform/image/Thumbnails.h"

#include <QByteArray>
#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

namespace lumra {

class ClipboardManager;
namespace store {
class ManagedObjectContext;
}

// What the history holds besides its values: image bytes and thumbnails, rich text kept in the
// store, and the files a file item names. The manager owns it and lends it its store and settings.
class ItemMedia : public QObject {
    Q_OBJECT
public:
    explicit ItemMedia(ClipboardManager& manager);
    // Waits for a running bookmark refresh: its context must not outlive the store.
    ~ItemMedia() override;

    // The stored bytes of an image item; none for other kinds or a missing row.
    std::optional<QByteArray> imageData(const ClipboardItem& item);
    // The same read, made where the returned function is called (a lane), through a context of its
    // own: a photo is tens of megabytes. Empty for other kinds.
    std::function<std::optional<QByteArray>()> imageReader(const ClipboardItem& item) const;
    // An item's rich text (RTF): the value's own, else, for a value of the list, which leaves it out,
    // the store's. None for an item without any.
    std::optional<QByteArray> richText(const ClipboardItem& item) const;
    // The same read, made where the returned function is called (a lane): the store's bytes come
    // through a context of its own. Empty for an item without rich text.
    std::function<std::optional<QByteArray>()> richTextReader(const ClipboardItem& item) const;
    // The cached thumbnail; on a miss none is returned, one is made off the main thread and
    // thumbnailReady(id) follows. It is decoded to fit `box`, the device pixels it is painted in
    // (image::thumbnailLongSide; an empty box: the quality rule alone). A cached thumbnail is
    // returned whatever is asked now; one too small for `box` is made again meanwhile.
    std::optional<QImage> thumbnail(const ClipboardItem& item, double requestedLength, QSize box = {});
    // Pixel size as stored (orientation not applied); cached.
    std::optional<QSize> imageDimensions(const ClipboardItem& item);
    // The manager's hooks clearThumbnailCache() and evictItemCaches() land here.
    void clearThumbnailCache();
    void evictItemCaches(const QUuid& itemId);

    // The item's files whose bookmarks resolve, in bookmark order.
    QList<FileBookmarkAccessPtr> fileURLs(const ClipboardItem& item);
    // For each of the item's files by index: its resolved access, else null (the caller may use
    // the stored URL of that index).
    QList<FileBookmarkAccessPtr> fileAccessByIndex(const ClipboardItem& item, QStringList* storedUrls = nullptr);
    // Holds the accesses open for `hold`, then lets them go.
    void keepFileAccess(const QList<FileBookmarkAccessPtr>& accesses, std::chrono::milliseconds hold);
    void dropExpiredFileAccess();
    int pendingFileAccessCount() const { return int(m_pendingFileAccess.size()); }

    // A file bookmark as stored in fileBookmarksJSON (the Base64 of the file URL), and back.
    static QString fileBookmarkString(const QUrl& fileUrl);
    static std::optional<QUrl> fileUrlFromBookmark(const QString& bookmark);
    // Brings stored paths and directory flags of file rows up to date from their bookmarks, in
    // `context`, and saves once when something changed. Each file check is bounded by `fileCheckBound`
    // (a file on a hung mount counts as unresolved). True when rows were changed and saved.
    static Result<bool> refreshFileBookmarkRows(
        store::ManagedObjectContext& context, std::chrono::milliseconds fileCheckBound);
    // The same on a worker over every file row: at start, every five minutes and when Lumra is activated.
    void refreshFileBookmarksInBackground();

    static const QSet<QString>& imageFileExtensions();

signals:
    // A thumbnail asked for by thumbnail() is in the cache.
    void thumbnailReady(const QUuid& id);
    // A background refresh of file paths finished (`changed`: rows were updated).
    void fileBookmarksRefreshed(bool changed);

private:
    void storeThumbnail(const QUuid& id, quint64 generation, const Result<image::Thumbnail>& made);
    bool thumbnailTooSmall(const QUuid& id, const QImage& cached, double requestedLength, QSize box);
    void finishBookmarkRefresh(const Result<bool>& outcome);

    ClipboardManager& m_manager;
    struct PendingFileAccess {
        FileBookmarkAccessPtr token;
        QDateTime expires;
    };
    image::ThumbnailCache m_thumbnailCache;
    QHash<QUuid, QSize> m_imageDimensionsCache;
    QSet<QUuid> m_thumbnailsInFlight;
    quint64 m_thumbnailGeneration = 0;
    QList<PendingFileAccess> m_pendingFileAccess;
    bool m_bookmarkRefreshAgain = false;
    QFuture<void> m_bookmarkRefresh;
};

} // namespace lumra
