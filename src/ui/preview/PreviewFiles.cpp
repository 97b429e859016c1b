#include "ui/preview/PreviewFiles.h"

#include "platform/core/Folders.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

namespace lumra::PreviewFiles {

namespace {
const QString previewFolderName = QStringLiteral("preview-tmp");
const QString thumbnailFolderName = QStringLiteral("file-thumbnails");
const QString dragFolderName = QStringLiteral("LumraDrag");
} // namespace

bool isAcceptedPngFileName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32,64}\\.png$"));
    return pattern.match(name).hasMatch();
}

QString checkedPngFileName(const QString& name)
{
    if (isAcceptedPngFileName(name))
        return name;
    return QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".png");
}

Status writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    return {};
}

Status removeFolderOrLink(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        if (::unlink(native.constData()) != 0)
            return Status::failure(QStringLiteral("Could not remove %1").arg(path));
        return {};
    }
    if (!QDir(path).removeRecursively())
        return Status::failure(QStringLiteral("Could not empty %1").arg(path));
    return {};
}

Result<QString> ensureSubfolder(const QString& base, const QString& name)
{
    const QString path = base + QLatin1Char('/') + name;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (Status removed = removeFolderOrLink(path); !removed)
            return Result<QString>::failure(removed.error());
    }
    if (Status made = Folders::ensurePrivateFolder(path); !made)
        return Result<QString>::failure(made.error());
    return path;
}

Result<QString> resetSubfolder(const QString& base, const QString& name)
{
    if (Status removed = removeFolderOrLink(base + QLatin1Char('/') + name); !removed)
        return Result<QString>::failure(removed.error());
    return ensureSubfolder(base, name);
}

Result<QString> previewFolder() { return ensureSubfolder(Folders::cacheFolder(), previewFolderName); }
Result<QString> thumbnailFolder() { return ensureSubfolder(Folders::cacheFolder(), thumbnailFolderName); }

Result<QString> dragFolder()
{
    auto base = Folders::privateTempFolder();
    if (!base)
        return base;
    return ensureSubfolder(base.value(), dragFolderName);
}

Status resetWorkingFolders()
{
    if (auto preview = resetSubfolder(Folders::cacheFolder(), previewFolderName); !preview)
        return Status::failure(preview.error());
    auto base = Folders::privateTempFolder();
    if (!base)
        return Status::failure(base.error());
    if (auto drag = resetSubfolder(base.value(), dragFolderName); !drag)
        return Status::failure(drag.error());
    return {};
}

} // namespace lumra::PreviewFiles
