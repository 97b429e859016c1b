#include "platform/files/FileBookmark.h"

#include <QFileInfo>

namespace lumra::FileBookmark {

namespace {

std::optional<QString> localPath(const QString& urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace

std::optional<QByteArray> create(const QString& urlString)
{
    const auto path = localPath(urlString);
    if (!path || !QFileInfo::exists(*path))
        return std::nullopt;
    return urlString.toUtf8();
}

Result<QUrl> resolve(const QByteArray& bookmark)
{
    const QString urlString = QString::fromUtf8(bookmark);
    const auto path = localPath(urlString);
    if (!path)
        return Result<QUrl>::failure(QStringLiteral("The bookmark names no local file."));
    if (!QFileInfo::exists(*path))
        return Result<QUrl>::failure(QStringLiteral("The file is no longer there: %1").arg(*path));
    return QUrl(urlString);
}

QStringList createSlots(const QStringList& urlStrings)
{
    QStringList bookmarks;
    bookmarks.reserve(urlStrings.size());
    for (const QString& urlString : urlStrings) {
        const auto bookmark = create(urlString);
        bookmarks.append(bookmark ? QString::fromLatin1(bookmark->toBase64()) : QString());
    }
    return bookmarks;
}

bool isDirectory(const QString& urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (urlString.isEmpty() || !url.isValid())
        return false;
    if (url.isLocalFile()) {
        const QFileInfo info(url.toLocalFile());
        if (info.exists())
            return info.isDir();
    }
    return url.path().endsWith(QLatin1Char('/'));
}

} // namespace lumra::FileBookmark
