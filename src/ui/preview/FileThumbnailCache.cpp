#include "ui/preview/FileThumbnailCache.h"

#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"
#include "platform/thumbnails/SharedThumbnails.h"
#include "ui/preview/PreviewFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>

namespace lumra {

namespace {

Q_LOGGING_CATEGORY(lcFileThumbnails, "lumra.thumbnails")

enum class Kind { none, image, pdf, thumbnailer };

QString memoryKey(const QString& path, int pixelSize)
{
    return QString::number(pixelSize) + QLatin1Char(':') + path;
}

Kind kindOf(const FileThumbnailSources& sources, const QString& path,
    std::optional<thumbnails::Thumbnailer>* thumbnailer = nullptr)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (image::imageFileExtensions().contains(suffix))
        return Kind::image;
    if (suffix == QLatin1String("pdf"))
        return Kind::pdf;
    if (!sources.thumbnailers)
        return Kind::none;
    // By name only: guessing from the content would mean opening the file here.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    QStringList names = type.aliases();
    names.prepend(type.name());
    for (const QString& name : names) {
        if (auto found = sources.thumbnailers->forMimeType(name)) {
            if (thumbnailer)
                *thumbnailer = std::move(found);
            return Kind::thumbnailer;
        }
    }
    return Kind::none;
}

QImage fitted(const QImage& image, int pixelSize)
{
    if (image.isNull() || (image.width() <= pixelSize && image.height() <= pixelSize))
        return image;
    return image.scaled(pixelSize, pixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// None when the picture was not decoded in time (see FileThumbnailResult::Outcome::late).
std::optional<QImage> render(const FileThumbnailSources& sources, const QString& path, int pixelSize,
                             const std::atomic<bool>* stop)
{
    // A display program held by a slow picture holds no other file's thumbnail past the row's time.
    const auto turn = image::DecodeTurn::shownWithin(image::ImageDecoder::shownWithin, sources.decoder);
    const auto late = [](const Result<QImage>& decoded) {
        return !decoded && decoded.error() == image::ImageDecoder::notWanted;
    };
    std::optional<thumbnails::Thumbnailer> thumbnailer;
    switch (kindOf(sources, path, &thumbnailer)) {
    case Kind::image: {
        const auto file = RegularFile::open(path);
        if (!file)
            return QImage();
        auto decoded = image::decodeImage(*file, {}, pixelSize, turn);
        if (late(decoded))
            return std::nullopt;
        return decoded ? decoded.value() : QImage();
    }
    case Kind::pdf: {
        // Its first page, drawn by the decoder program from the open file, as a picture is.
        const auto file = RegularFile::open(path);
        if (!file)
            return QImage();
        auto page = image::renderPdfPage(*file, 0, pixelSize, turn);
        if (!page && page.error() == image::ImageDecoder::notWanted)
            return std::nullopt;
        return page ? page->image : QImage();
    }
    case Kind::thumbnailer: {
        if (!isRegularFile(path))
            return QImage();
        const Result<QByteArray> png = thumbnails::runThumbnailer(*thumbnailer, path, pixelSize, sources.limits, stop);
        if (!png) {
            qCWarning(lcFileThumbnails, "%s", qUtf8Printable(png.error()));
            return QImage();
        }
        // Another program's output: only a sound PNG is shown.
        Result<QImage> image = thumbnails::decodeThumbnailPng(*png, turn);
        if (late(image))
            return std::nullopt;
        if (!image) {
            qCWarning(lcFileThumbnails, "Thumbnail refused: %s", qUtf8Printable(image.error()));
            return QImage();
        }
        return fitted(image.value(), pixelSize);
    }
    case Kind::none:
        break;
    }
    return QImage();
}

QString ownEntry(const QString& folder, const QString& path, int pixelSize)
{
    const QFileInfo info(path);
    return folder + QLatin1Char('/')
        + thumbnailCacheFileName(
            thumbnailCacheKey(path, info.size(), info.lastModified().toMSecsSinceEpoch(), pixelSize));
}

std::optional<QImage> readOwnEntry(const QString& folder, const QString& path, int pixelSize)
{
    const auto bytes = readRegularFile(ownEntry(folder, path, pixelSize), 16ll * 1024 * 1024);
    if (!bytes)
        return std::nullopt;
    Result<QImage> image = thumbnails::decodeThumbnailPng(*bytes);
    // Pages cached before they were laid on paper are made again.
    const bool transparentPage = QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
        && image && image->format() != QImage::Format_RGB32;
    if (!image || transparentPage)
        return std::nullopt;
    return std::move(image).value();
}

bool isInside(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

QString thumbnailCacheKey(const QString& path, qint64 size, qint64 modifiedMs, int pixelSize)
{
    return QStringLiteral("%1\n%2\n%3\n%4").arg(path).arg(size).arg(modifiedMs).arg(pixelSize);
}

QString thumbnailCacheFileName(const QString& key)
{
    return image::sha256Hex(key.toUtf8()) + QStringLiteral(".png");
}

FileThumbnailSources FileThumbnailSources::fromEnvironment()
{
    FileThumbnailSources sources;
    if (auto folder = PreviewFiles::thumbnailFolder())
        sources.ownFolder = folder.value();
    sources.sharedRoot = thumbnails::sharedThumbnailRoot();
    sources.thumbnailers = thumbnails::ThumbnailerIndex::installed();
    return sources;
}

FileThumbnailResult findFileThumbnail(const FileThumbnailSources& sources, const QString& path, int pixelSize)
{
    using Outcome = FileThumbnailResult::Outcome;
    // Folders, FIFOs, devices and missing files keep their icon; nothing here opens them.
    const auto version = thumbnails::regularFileVersion(path);
    if (!version || isInside(path, sources.sharedRoot) || isInside(path, sources.ownFolder))
        return {};
    if (!sources.sharedRoot.isEmpty()) {
        if (auto image = thumbnails::readEntry(sources.sharedRoot, *version, pixelSize))
            return { Outcome::found, fitted(*image, pixelSize) };
    }
    if (!sources.ownFolder.isEmpty()) {
        if (auto image = readOwnEntry(sources.ownFolder, path, pixelSize))
            return { Outcome::found, fitted(*image, pixelSize) };
    }
    if (kindOf(sources, path) == Kind::none)
        return {};
    if (!sources.sharedRoot.isEmpty() && thumbnails::hasFailure(sources.sharedRoot, *version))
        return {};
    return { Outcome::toMake, {} };
}

FileThumbnailResult makeFileThumbnail(
    const FileThumbnailSources& sources, const QString& path, int pixelSize, const std::atomic<bool>* stop)
{
    const auto version = thumbnails::regularFileVersion(path);
    if (!version)
        return {};
    // Drawn at the shared cache's size, so other programs can use it too.
    const int folder = thumbnails::sizeFolderIndex(pixelSize);
    const std::optional<QImage> rendered = render(sources, path, thumbnails::sizeFolders[folder].pixels, stop);
    if (stop && stop->load())
        return {}; // interrupted, not failed
    if (!rendered)
        return {FileThumbnailResult::Outcome::late, {}};
    const QImage& image = *rendered;
    if (image.isNull()) {
        if (!sources.sharedRoot.isEmpty())
            (void)thumbnails::writeFailure(sources.sharedRoot, *version);
        return {};
    }
    const bool shared
        = !sources.sharedRoot.isEmpty() && thumbnails::writeEntry(sources.sharedRoot, *version, folder, image).ok();
    const QImage shown = fitted(image, pixelSize);
    if (!shared && !sources.ownFolder.isEmpty()) {
        if (auto png = image::encodePng(shown))
            (void)PreviewFiles::writeFileAtomically(ownEntry(sources.ownFolder, path, pixelSize), png.value());
    }
    return { FileThumbnailResult::Outcome::made, shown };
}

FileThumbnailResult loadOrMakeFileThumbnail(const FileThumbnailSources& sources, const QString& path, int pixelSize)
{
    FileThumbnailResult found = findFileThumbnail(sources, path, pixelSize);
    if (found.outcome != FileThumbnailResult::Outcome::toMake)
        return found;
    return makeFileThumbnail(sources, path, pixelSize);
}

FileThumbnailCache::FileThumbnailCache(std::optional<FileThumbnailSources> sources, QObject* parent, BackgroundWork* work)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_memory(64 * 1024 * 1024)
    , m_stop(std::make_shared<std::atomic<bool>>(false))
    , m_work(work ? *work : BackgroundWork::current())
    , m_tasks(m_work)
{
}

FileThumbnailCache::~FileThumbnailCache()
{
    m_stop->store(true); // queued tasks end at once, running thumbnailers are killed within a moment
    // A read stuck on a hung network mount must not keep Lumra from quitting: past the bound its
    // task is left to finish on its own, holding nothing of the cache.
    if (!m_tasks.wait(std::chrono::seconds(1)))
        qCWarning(lcFileThumbnails, "Thumbnail workers still busy at exit; not waiting for them.");
}

FileThumbnailCache& FileThumbnailCache::shared()
{
    static FileThumbnailCache* cache = new FileThumbnailCache(std::nullopt, qApp);
    return *cache;
}

std::optional<QImage> FileThumbnailCache::thumbnail(const QString& path, int pixelSize)
{
    const QString key = memoryKey(path, pixelSize);
    // The file is looked at off this thread; until it has been, what is kept stands.
    const Version now = path.isEmpty() ? Version() : FileLookups::instance().look(path);
    const auto current = [&](const Version& seen) { return !now || seen == now; };
    const Kept* kept = m_memory.object(key);
    if (kept && current(kept->version))
        return kept->image;
    const std::optional<QImage> shown = kept ? std::optional(kept->image) : std::nullopt;
    if (path.isEmpty() || m_pending.contains(key))
        return shown;
    if (const auto failed = m_failed.constFind(key); failed != m_failed.cend() && current(*failed))
        return shown;
    m_pending.insert(key);
    QPointer<FileThumbnailCache> self(this);
    m_work.start(BackgroundWork::Lane::thumbLookups, [token = m_tasks.token(), self, stop = m_stop, sources = m_sources, path,
                                                       pixelSize, key, now] {
        if (stop->load())
            return;
        FileThumbnailSources used = sources ? *sources : FileThumbnailSources::fromEnvironment();
        FileThumbnailResult result = findFileThumbnail(used, path, pixelSize);
        if (stop->load())
            return;
        QMetaObject::invokeMethod(
            qApp, [self, used = std::move(used), path, pixelSize, key, now, result = std::move(result)] {
                if (!self)
                    return;
                if (result.outcome == FileThumbnailResult::Outcome::toMake)
                    self->make(used, path, pixelSize, key, now);
                else
                    self->deliver(path, key, now, result.image);
            });
    });
    return shown;
}

void FileThumbnailCache::make(const FileThumbnailSources& sources, const QString& path, int pixelSize,
                              const QString& key, const Version& version)
{
    ++m_drawings;
    QPointer<FileThumbnailCache> self(this);
    m_work.start(BackgroundWork::Lane::thumbMakers, [token = m_tasks.token(), self, stop = m_stop, sources, path, pixelSize,
                                                      key, version] {
        if (stop->load())
            return;
        FileThumbnailResult result = makeFileThumbnail(sources, path, pixelSize, stop.get());
        if (stop->load())
            return;
        QMetaObject::invokeMethod(qApp, [self, path, key, version, result = std::move(result)] {
            if (!self)
                return;
            if (result.outcome == FileThumbnailResult::Outcome::late)
                self->m_pending.remove(key); // the icon stays, and the next ask tries again
            else
                self->deliver(path, key, version, result.image);
        });
    });
}

void FileThumbnailCache::deliver(const QString& path, const QString& key, const Version& version, const QImage& image)
{
    m_pending.remove(key);
    if (image.isNull()) {
        if (m_failed.size() >= 10000)
            m_failed.clear(); // asked again at worst
        m_failed.insert(key, version);
        // A changed file that has no picture any more shows its icon again.
        if (m_memory.remove(key))
            emit thumbnailReady(path);
        return;
    }
    m_failed.remove(key);
    m_memory.insert(key, new Kept {image, version}, int(std::min<qint64>(image.sizeInBytes(), INT_MAX)));
    emit thumbnailReady(path);
}

void FileThumbnailCache::waitForWorkers()
{
    const QDeadlineTimer deadline(60000);
    while (!m_pending.isEmpty() && !deadline.hasExpired()) {
        m_tasks.wait();
        QCoreApplication::processEvents();
    }
}

} // namespace lumra
