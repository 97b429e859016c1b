#include "engine/ItemMedia.h"

#include "engine/ClipboardManager.h"

#include "model/store/PersistenceController.h"
#include "model/store/StoreSchema.h"
#include "platform/core/Allocator.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"

#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcMedia, "lumra.media")

namespace lumra {

using namespace std::chrono_literals;

namespace {

// One stored attribute of a row, read where the returned function is called; none when empty.
std::function<std::optional<QByteArray>()> storedBytesReader(
    std::shared_ptr<store::ManagedObjectContext> context, const QUuid& id, int attribute)
{
    return [context = std::move(context), id, attribute]() mutable {
        std::optional<QByteArray> bytes;
        if (const store::ManagedObjectPtr row = context ? context->fetchById(store::EntityKind::item, id) : nullptr)
            bytes = row->bytes(attribute);
        context.reset(); // on the thread that used it
        return bytes && !bytes->isEmpty() ? bytes : std::nullopt;
    };
}

using store::ItemAttr::fileBookmarksJSON;
using store::ItemAttr::fileURLIsDirectoryJSON;
using store::ItemAttr::fileURLStringsJSON;

constexpr auto interactiveFileCheckBound = 500ms;
constexpr auto backgroundFileCheckBound = 2s;

// A JSON array stored as text whose entries all pass `read`; none when anything does not.
template <typename T, typename Read> std::optional<QList<T>> jsonArray(const sql::Value& value, Read read)
{
    const auto text = store::stringFrom(value);
    if (!text)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8());
    if (!document.isArray())
        return std::nullopt;
    QList<T> entries;
    for (const QJsonValue& entry : document.array()) {
        const std::optional<T> item = read(entry);
        if (!item)
            return std::nullopt;
        entries.append(*item);
    }
    return entries;
}

std::optional<QStringList> stringArray(const sql::Value& value)
{
    return jsonArray<QString>(
        value, [](const QJsonValue& v) { return v.isString() ? std::optional(v.toString()) : std::nullopt; });
}

std::optional<QList<bool>> boolArray(const sql::Value& value)
{
    return jsonArray<bool>(
        value, [](const QJsonValue& v) { return v.isBool() ? std::optional(v.toBool()) : std::nullopt; });
}

QString jsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString urlString(const QUrl& url)
{
    return QString::fromUtf8(url.toEncoded());
}

} // namespace

ItemMedia::ItemMedia(ClipboardManager& manager)
    : m_manager(manager)
{
}

ItemMedia::~ItemMedia()
{
    m_bookmarkRefresh.waitForFinished();
}

// ----------------------------------------------------------------------------------------------------- images

std::optional<QByteArray> ItemMedia::imageData(const ClipboardItem& item)
{
    if (item.contentType != ClipboardContentType::image)
        return std::nullopt;
    const store::ManagedObjectPtr row = m_manager.fetchManagedItem(item.id);
    return row ? row->bytes(store::ItemAttr::imageData) : std::nullopt;
}

std::function<std::optional<QByteArray>()> ItemMedia::imageReader(const ClipboardItem& item) const
{
    if (item.contentType != ClipboardContentType::image || !m_manager.persistence())
        return {};
    return storedBytesReader(m_manager.persistence()->newBackgroundContext(), item.id, store::ItemAttr::imageData);
}

std::optional<QByteArray> ItemMedia::richText(const ClipboardItem& item) const
{
    if (item.rtfData && !item.rtfData->isEmpty())
        return *item.rtfData;
    if (!item.richTextInStore || !m_manager.persistence())
        return std::nullopt;
    const store::ManagedObjectPtr row
        = m_manager.persistence()->viewContext().fetchById(store::EntityKind::item, item.id);
    std::optional<QByteArray> bytes = row ? row->bytes(store::ItemAttr::rtfData) : std::nullopt;
    return bytes && !bytes->isEmpty() ? bytes : std::nullopt;
}

std::function<std::optional<QByteArray>()> ItemMedia::richTextReader(const ClipboardItem& item) const
{
    if (item.rtfData && !item.rtfData->isEmpty())
        return [rtf = *item.rtfData] { return std::optional<QByteArray>(rtf); };
    if (!item.richTextInStore || !m_manager.persistence())
        return {};
    return storedBytesReader(m_manager.persistence()->newBackgroundContext(), item.id, store::ItemAttr::rtfData);
}

bool ItemMedia::thumbnailTooSmall(const QUuid& id, const QImage& cached, double requestedLength, QSize box)
{
    const auto stored = m_imageDimensionsCache.constFind(id);
    if (box.isEmpty() || stored == m_imageDimensionsCache.constEnd())
        return false;
    // Made at another row size or pixel ratio. A turned picture's sides swap; a square one fits alike.
    const bool quarterTurned = (cached.width() > cached.height()) != (stored->width() > stored->height());
    const int wanted
        = image::thumbnailLongSide(m_manager.thumbnailQuality(), requestedLength, *stored, quarterTurned, box);
    return std::max(cached.width(), cached.height()) + 1 < wanted;
}

std::optional<QImage> ItemMedia::thumbnail(const ClipboardItem& item, double requestedLength, QSize box)
{
    if (item.contentType != ClipboardContentType::image)
        return std::nullopt;
    std::optional<QImage> cached = m_thumbnailCache.object(item.id);
    if (cached && !thumbnailTooSmall(item.id, *cached, requestedLength, box))
        return cached;
    if (m_thumbnailsInFlight.contains(item.id))
        return cached;
    const auto data = imageData(item);
    if (!data)
        return cached;

    m_thumbnailsInFlight.insert(item.id);
    auto made = std::make_shared<std::optional<Result<image::Thumbnail>>>();
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this,
        [this, watcher, made, id = item.id, generation = m_thumbnailGeneration] {
            watcher->deleteLater();
            if (*made)
                storeThumbnail(id, generation, **made);
            else // dropped at quit
                m_thumbnailsInFlight.remove(id);
        });
    watcher->setFuture(m_manager.work().run(BackgroundWork::Lane::thumbnails,
        [made, data = *data, quality = m_manager.thumbnailQuality(), requestedLength, box] {
            *made = image::makeThumbnail(data, quality, requestedLength, box);
        }));
    return cached;
}

void ItemMedia::storeThumbnail(const QUuid& id, quint64 generation, const Result<image::Thumbnail>& made)
{
    m_thumbnailsInFlight.remove(id);
    // The pictures' bytes and whole decodes are gone; what the cache keeps is small.
    if (m_thumbnailsInFlight.isEmpty())
        releaseFreedMemory();
    if (!made) {
        qCDebug(lcMedia).noquote() << "No thumbnail for" << id << made.error();
        return;
    }
    if (!m_imageDimensionsCache.contains(id))
        m_imageDimensionsCache.insert(id, made->pixelSize);
    // Made at a quality that has since changed: the view asks again and gets a fresh one.
    if (generation == m_thumbnailGeneration)
        m_thumbnailCache.insert(id, made->image);
    emit thumbnailReady(id);
}

void ItemMedia::clearThumbnailCache()
{
    m_thumbnailCache.clear();
    ++m_thumbnailGeneration;
}

void ItemMedia::evictItemCaches(const QUuid& itemId)
{
    m_thumbnailCache.remove(itemId);
    m_imageDimensionsCache.remove(itemId);
}

std::optional<QSize> ItemMedia::imageDimensions(const ClipboardItem& item)
{
    if (const auto found = m_imageDimensionsCache.constFind(item.id); found != m_imageDimensionsCache.constEnd())
        return *found;
    const auto data = imageData(item);
    if (!data)
        return std::nullopt;
    const auto size = image::imageDimensions(*data);
    if (size)
        m_imageDimensionsCache.insert(item.id, *size);
    return size;
}

const QSet<QString>& ItemMedia::imageFileExtensions()
{
    return image::imageFileExtensions();
}

// ----------------------------------------------------------------------------------------------------- files

QString ItemMedia::fileBookmarkString(const QUrl& fileUrl)
{
    return QString::fromLatin1(fileUrl.toEncoded().toBase64());
}

std::optional<QUrl> ItemMedia::fileUrlFromBookmark(const QString& bookmark)
{
    const auto decoded = QByteArray::fromBase64Encoding(bookmark.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    const QUrl url = QUrl::fromEncoded(decoded.decoded, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    return url;
}

QList<FileBookmarkAccessPtr> ItemMedia::fileAccessByIndex(const ClipboardItem& item, QStringList* storedUrls)
{
    if (item.contentType != ClipboardContentType::file)
        return {};
    const store::ManagedObjectPtr row = m_manager.fetchManagedItem(item.id);
    if (!row)
        return {};
    if (storedUrls)
        *storedUrls = stringArray(row->value(fileURLStringsJSON)).value_or(item.fileURLStrings.value_or(QStringList()));

    QList<std::optional<QUrl>> urls;
    QStringList paths;
    for (const QString& bookmark : stringArray(row->value(fileBookmarksJSON)).value_or(QStringList())) {
        urls.append(fileUrlFromBookmark(bookmark));
        paths.append(urls.last() ? urls.last()->toLocalFile() : QString());
    }
    const auto states = checkFiles(paths, interactiveFileCheckBound);
    QList<FileBookmarkAccessPtr> accesses;
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const bool resolves = urls[i] && states[i] && states[i]->exists;
        accesses.append(resolves ? std::make_shared<FileBookmarkAccess>(*urls[i], true) : nullptr);
    }
    return accesses;
}

QList<FileBookmarkAccessPtr> ItemMedia::fileURLs(const ClipboardItem& item)
{
    QList<FileBookmarkAccessPtr> accesses = fileAccessByIndex(item);
    accesses.removeAll(nullptr);
    return accesses;
}

void ItemMedia::keepFileAccess(const QList<FileBookmarkAccessPtr>& accesses, std::chrono::milliseconds hold)
{
    if (accesses.isEmpty())
        return;
    const QDateTime expires = m_manager.clock().now().addMSecs(hold.count());
    for (const FileBookmarkAccessPtr& access : accesses)
        m_pendingFileAccess.append({ access, expires });
    m_manager.clock().after(hold + 100ms, this, [this] { dropExpiredFileAccess(); });
}

void ItemMedia::dropExpiredFileAccess()
{
    const QDateTime now = m_manager.clock().now();
    m_pendingFileAccess.removeIf([&](const PendingFileAccess& pending) { return pending.expires <= now; });
}

// ----------------------------------------------------------------------------------------------------- bookmark
// refresh

Result<bool> ItemMedia::refreshFileBookmarkRows(
    store::ManagedObjectContext& context, std::chrono::milliseconds fileCheckBound)
{
    using store::Predicate;
    store::FetchRequest request;
    request.predicate = Predicate::eq("contentType", "file")
        && (Predicate::eq("isTrashed", false) || Predicate::isNull("isTrashed"))
        && Predicate::isNotNull("fileBookmarksJSON");
    const auto rows = context.fetch(request);
    if (!rows)
        return false;

    struct RowWork {
        store::ManagedObjectPtr row;
        QStringList urlStrings;
        std::optional<QList<bool>> flags;
        QList<std::optional<QUrl>> resolved;
        qsizetype firstPath = 0;
    };
    QList<RowWork> work;
    QStringList paths;
    for (const store::ManagedObjectPtr& row : *rows) {
        const auto bookmarks = stringArray(row->value(fileBookmarksJSON));
        const auto urlStrings = stringArray(row->value(fileURLStringsJSON));
        if (!bookmarks || !urlStrings || bookmarks->size() != urlStrings->size())
            continue;
        RowWork entry { row, *urlStrings, boolArray(row->value(fileURLIsDirectoryJSON)), {}, paths.size() };
        if (entry.flags && entry.flags->size() != urlStrings->size())
            entry.flags.reset();
        for (const QString& bookmark : *bookmarks) {
            entry.resolved.append(fileUrlFromBookmark(bookmark));
            paths.append(entry.resolved.last() ? entry.resolved.last()->toLocalFile() : QString());
        }
        work.append(std::move(entry));
    }
    // All files of all rows in one bounded batch, off the store's thread of work.
    const auto states = checkFiles(paths, fileCheckBound);

    bool passChanged = false;
    for (RowWork& entry : work) {
        bool changed = false;
        for (qsizetype i = 0; i < entry.resolved.size(); ++i) {
            const auto& state = states[entry.firstPath + i];
            if (!entry.resolved[i] || !state || !state->exists)
                continue;
            const QString resolved = urlString(*entry.resolved[i]);
            if (resolved != entry.urlStrings[i]) {
                entry.urlStrings[i] = resolved;
                changed = true;
            }
            if (!entry.flags) {
                entry.flags = QList<bool>(entry.urlStrings.size(), false);
                changed = true;
            }
            if ((*entry.flags)[i] != state->isDirectory) {
                (*entry.flags)[i] = state->isDirectory;
                changed = true;
            }
        }
        if (!changed)
            continue;
        QJsonArray flags;
        for (bool flag : *entry.flags)
            flags.append(flag);
        entry.row->set(fileURLStringsJSON, jsonText(QJsonArray::fromStringList(entry.urlStrings)));
        entry.row->set(fileURLIsDirectoryJSON, jsonText(flags));
        passChanged = true;
    }
    if (!passChanged)
        return false;
    if (Status saved = context.save(); !saved) {
        qCWarning(lcMedia).noquote() << "bookmark refresh save error:" << saved.error();
        return Result<bool>::failure(saved.error());
    }
    return true;
}

void ItemMedia::refreshFileBookmarksInBackground()
{
    if (!m_manager.persistence())
        return;
    // Activations come in bursts: one pass at a time, and one more when asked for during it.
    if (m_bookmarkRefresh.isRunning()) {
        m_bookmarkRefreshAgain = true;
        return;
    }
    m_bookmarkRefreshAgain = false;
    std::shared_ptr<store::ManagedObjectContext> context = m_manager.persistence()->newBackgroundContext();
    auto outcome = std::make_shared<std::optional<Result<bool>>>();
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, outcome] {
        watcher->deleteLater();
        if (*outcome) // else dropped at quit
            finishBookmarkRefresh(**outcome);
    });
    m_bookmarkRefresh = m_manager.work().run(BackgroundWork::Lane::bookmarks, [context, outcome]() mutable {
        *outcome = refreshFileBookmarkRows(*context, backgroundFileCheckBound);
        context.reset();
    });
    watcher->setFuture(m_bookmarkRefresh);
}

void ItemMedia::finishBookmarkRefresh(const Result<bool>& outcome)
{
    // The pass's save has reached the history already, as a remoteChange posted before this.
    const bool changed = outcome.ok() && *outcome;
    emit fileBookmarksRefreshed(changed);
    if (m_bookmarkRefreshAgain)
        refreshFileBookmarksInBackground();
}

} // namespace lumra
