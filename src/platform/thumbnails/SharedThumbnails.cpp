#include "platform/thumbnails/SharedThumbnails.h"

#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

namespace lumra::thumbnails {

namespace {

// Entries are pictures of at most 1024 pixels across; a few MB is already generous.
constexpr qint64 maxEntryBytes = 16ll * 1024 * 1024;
constexpr int maxEntrySide = 4096;

constexpr char uriKey[] = "Thumb::URI";
constexpr char mtimeKey[] = "Thumb::MTime";

QString failureFolder(const QString& root)
{
    return root + QStringLiteral("/fail/lumra");
}

// Looks at the entry's Thumb:: chunks only, so a stale or foreign entry costs no decoding. A
// file URI is at most a few times PATH_MAX; the bound keeps a crafted entry from inflating more.
bool matches(const QByteArray& png, const FileVersion& version)
{
    constexpr qsizetype maxTextBytes = 64 * 1024;
    std::optional<QString> uri;
    std::optional<QString> mtime;
    for (const image::PngText& text : image::pngTexts(png, maxTextBytes)) {
        if (text.keyword == uriKey && !uri)
            uri = text.text;
        else if (text.keyword == mtimeKey && !mtime)
            mtime = text.text;
    }
    bool ok = false;
    return uri && mtime && mtime->toLongLong(&ok) == version.mtime && ok && *uri == version.uri;
}

// Thumb::MTime counts whole seconds: an entry written in the second the file last changed, but
// before the change, is of the version it replaced (a file of the same name and second).
bool writtenBeforeTheChange(const QString& file, const FileVersion& version)
{
    struct stat st {};
    if (version.modifiedNs <= 0 || ::stat(QFile::encodeName(file).constData(), &st) != 0)
        return false;
    const qint64 written = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return st.st_mtim.tv_sec == version.mtime && written < version.modifiedNs;
}

std::optional<QImage> readMatching(const QString& file, const FileVersion& version)
{
    const auto bytes = readRegularFile(file, maxEntryBytes);
    if (!bytes || !matches(*bytes, version) || writtenBeforeTheChange(file, version))
        return std::nullopt;
    Result<QImage> image = decodeThumbnailPng(*bytes);
    if (!image)
        return std::nullopt;
    return std::move(image).value();
}

// The standard asks for private folders; each missing level is made 0700.
bool ensureFolder(const QString& path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).path();
    if (parent != path && !ensureFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || QFileInfo(path).isDir();
}

Status writeTagged(const QString& folder, const FileVersion& version, QImage image)
{
    if (!ensureFolder(folder))
        return Status::failure(QStringLiteral("Could not make %1").arg(folder));
    image.setText(QLatin1String(uriKey), version.uri);
    image.setText(QLatin1String(mtimeKey), QString::number(version.mtime));
    image.setText(QStringLiteral("Software"), QStringLiteral("Lumra"));
    const Result<QByteArray> png = image::encodePng(image);
    if (!png)
        return png.status();
    // QSaveFile writes a temporary file beside the entry and renames it over, so a reader in
    // another program never sees half a picture.
    const QString path = folder + QLatin1Char('/') + entryName(version.uri);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(*png) != png->size() || !file.commit())
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    return {};
}

} // namespace

int sizeFolderIndex(int pixelSize)
{
    for (int i = 0; i < sizeFolderCount; ++i) {
        if (sizeFolders[i].pixels >= pixelSize)
            return i;
    }
    return sizeFolderCount - 1;
}

QString sharedThumbnailRoot()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || QDir::isRelativePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/thumbnails");
}

std::optional<FileVersion> regularFileVersion(const QString& path)
{
    struct stat st { };
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileVersion { path, fileUri(path), qint64(st.st_mtim.tv_sec),
                         qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec };
}

QString fileUri(const QString& path)
{
    // Escaped as GLib escapes file names, so entries match those the file managers wrote.
    return QStringLiteral("file://") + QString::fromLatin1(QFile::encodeName(path).toPercentEncoding("!*'():@&=+$,/"));
}

QString entryName(const QString& uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex())
        + QStringLiteral(".png");
}

Result<QImage> decodeThumbnailPng(const QByteArray& bytes, const image::DecodeTurn& turn)
{
    const image::DecodeLimits limits { maxEntryBytes, qint64(maxEntrySide) * maxEntrySide };
    const Result<image::ImageHeader> header = image::readImageHeader(bytes, limits);
    if (!header)
        return Result<QImage>::failure(header.error());
    if (header->format != "png")
        return Result<QImage>::failure(
            QStringLiteral("A thumbnail must be a PNG, not %1.").arg(QString::fromLatin1(header->format)));
    if (header->size.width() > maxEntrySide || header->size.height() > maxEntrySide)
        return Result<QImage>::failure(QStringLiteral("A thumbnail of %1 × %2 pixels is no thumbnail.")
                                           .arg(header->size.width())
                                           .arg(header->size.height()));
    return image::decodeImage(bytes, limits, 0, turn);
}

std::optional<QImage> readEntry(const QString& root, const FileVersion& version, int pixelSize)
{
    const QString name = entryName(version.uri);
    for (int i = sizeFolderIndex(pixelSize); i < sizeFolderCount; ++i) {
        const QString file = root + QLatin1Char('/') + QLatin1String(sizeFolders[i].name) + QLatin1Char('/') + name;
        if (auto image = readMatching(file, version))
            return image;
    }
    return std::nullopt;
}

Status writeEntry(const QString& root, const FileVersion& version, int folderIndex, QImage image)
{
    if (image.isNull())
        return Status::failure(QStringLiteral("No picture to keep."));
    const SizeFolder& folder = sizeFolders[std::clamp(folderIndex, 0, sizeFolderCount - 1)];
    if (image.width() > folder.pixels || image.height() > folder.pixels)
        image = image.scaled(folder.pixels, folder.pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return writeTagged(root + QLatin1Char('/') + QLatin1String(folder.name), version, std::move(image));
}

bool hasFailure(const QString& root, const FileVersion& version)
{
    return readMatching(failureFolder(root) + QLatin1Char('/') + entryName(version.uri), version).has_value();
}

Status writeFailure(const QString& root, const FileVersion& version)
{
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    return writeTagged(failureFolder(root), version, std::move(mark));
}

} // namespace lumra::thumbnails
