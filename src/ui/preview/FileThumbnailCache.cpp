#include "ui/preview/FileThumbnailCache.h"

#include "platform/image/ImageDecoding.h"
#include "platform/image/ImageFileExtensions.h"
#include "ui/preview/PreviewFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QPointer>
#include <QtConcurrent>

namespace lumra {

namespace {

QString memoryKey(const QString& path, int pixelSize) { return QString::number(pixelSize) + QLatin1Char(':') + path; }

QImage renderFile(const QString& path, int pixelSize)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (image::imageFileExtensions().contains(suffix)) {
        const image::DecodeLimits limits;
        QFile file(path);
        if (file.size() > limits.maxBytes || !file.open(QIODevice::ReadOnly))
            return {};
        auto decoded = image::decodeImage(file.readAll(), limits, pixelSize);
        return decoded ? decoded.value() : QImage();
    }
    if (suffix == QLatin1String("pdf")) {
        QPdfDocument document;
        if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
            return {};
        QSizeF page = document.pagePointSize(0);
        if (page.isEmpty())
            return {};
        page.scale(pixelSize, pixelSize, Qt::KeepAspectRatio);
        // Pages render transparent where nothing is printed: lay them on paper.
        const QImage rendered = document.render(0, page.toSize());
        QImage paper(rendered.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter(&paper).drawImage(0, 0, rendered);
        return paper;
    }
    return {};
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

FileThumbnailResult loadOrMakeFileThumbnail(const QString& folder, const QString& path, int pixelSize)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return {};
    FileThumbnailResult result;
    result.key = thumbnailCacheKey(path, info.size(), info.lastModified().toMSecsSinceEpoch(), pixelSize);
    const QString entry = folder + QLatin1Char('/') + thumbnailCacheFileName(result.key);
    if (QFileInfo::exists(entry)) {
        QImageReader reader(entry, "png");
        reader.setAllocationLimit(64);
        // Pages cached before they were laid on paper are made again.
        const bool transparentPage = QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
            && reader.imageFormat() != QImage::Format_RGB32;
        if (!transparentPage && reader.read(&result.image) && !result.image.isNull())
            return result;
        QFile::remove(entry); // damaged: made again below
    }
    result.image = renderFile(path, pixelSize);
    if (result.image.isNull())
        return result;
    if (auto png = image::encodePng(result.image); png && !folder.isEmpty())
        (void)PreviewFiles::writeFileAtomically(entry, png.value());
    return result;
}

FileThumbnailCache::FileThumbnailCache(QString folder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(folder))
    , m_memory(64 * 1024 * 1024)
{
    m_pool.setMaxThreadCount(2);
}

FileThumbnailCache::~FileThumbnailCache() { m_pool.waitForDone(); }

FileThumbnailCache& FileThumbnailCache::shared()
{
    static FileThumbnailCache* cache = [] {
        auto folder = PreviewFiles::thumbnailFolder();
        return new FileThumbnailCache(folder ? folder.value() : QString(), qApp);
    }();
    return *cache;
}

std::optional<QImage> FileThumbnailCache::thumbnail(const QString& path, int pixelSize)
{
    const QString key = memoryKey(path, pixelSize);
    if (const QImage* image = m_memory.object(key))
        return *image;
    if (path.isEmpty() || m_pending.contains(key) || m_failed.contains(key))
        return std::nullopt;
    m_pending.insert(key);
    QPointer<FileThumbnailCache> self(this);
    const QString folder = m_folder;
    (void)QtConcurrent::run(&m_pool, [self, folder, path, pixelSize, key] {
        FileThumbnailResult result = loadOrMakeFileThumbnail(folder, path, pixelSize);
        QMetaObject::invokeMethod(qApp, [self, path, key, image = std::move(result.image)] {
            if (!self)
                return;
            self->m_pending.remove(key);
            if (image.isNull()) {
                self->m_failed.insert(key);
                return;
            }
            self->m_memory.insert(key, new QImage(image), int(std::min<qint64>(image.sizeInBytes(), INT_MAX)));
            emit self->thumbnailReady(path);
        });
    });
    return std::nullopt;
}

void FileThumbnailCache::waitForWorkers()
{
    m_pool.waitForDone();
}

} // namespace lumra
