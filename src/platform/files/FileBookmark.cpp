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

std::optional<QByteArray> create(const QString& urlString, const std::optional<FileState>& state)
{
    if (!localPath(urlString) || !state || !state->exists)
        return std::nullopt;
    return urlString.toUtf8();
}

std::optional<QByteArray> create(const QString& urlString)
{
    const auto path = localPath(urlString);
    return create(urlString, path ? std::optional(FileState {QFileInfo::exists(*path)}) : std::nullopt);
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

bool isDirectory(const QString& urlString, const std::optional<FileState>& state)
{
    const QUrl url(urlString, QUrl::StrictMode);
    if (urlString.isEmpty() || !url.isValid())
        return false;
    if (url.isLocalFile() && state && state->exists)
        return state->isDirectory;
    return url.path().endsWith(QLatin1Char('/'));
}

bool isDirectory(const QString& urlString)
{
    const QUrl url(urlString, QUrl::StrictMode);
    std::optional<FileState> state;
    if (url.isValid() && url.isLocalFile()) {
        const QFileInfo info(url.toLocalFile());
        state = FileState {info.exists(), info.isDir()};
    }
    return isDirectory(urlString, state);
}

} // namespace lumra::FileBookmark
