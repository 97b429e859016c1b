#include "platform/core/Folders.h"

#include <QDir>
#include <QFileInfo>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumra::Folders {

namespace {

QString xdg(const char* variable, const QString& fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return homeFolder() + QLatin1Char('/') + fallbackBelowHome;
}

QString ensured(const QString& path)
{
    (void)ensurePrivateFolder(path);
    return path;
}

} // namespace

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return QDir::cleanPath(home);
    // A relative HOME would put every folder below wherever Lumra was started from.
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && QDir::isAbsolutePath(QFile::decodeName(entry->pw_dir)))
        return QDir::cleanPath(QFile::decodeName(entry->pw_dir));
    return QDir::rootPath();
}

QStringList dataFolders()
{
    QStringList folders {xdg("XDG_DATA_HOME", QStringLiteral(".local/share"))};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            folders.append(dir);
    }
    return folders;
}

Status ensurePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (!QDir().mkpath(path))
            return Status::failure(QStringLiteral("Could not create folder %1").arg(path));
        if (::lstat(native.constData(), &st) != 0)
            return Status::failure(QStringLiteral("Could not read folder %1").arg(path));
    }
    if (S_ISLNK(st.st_mode))
        return Status::failure(QStringLiteral("Refusing folder %1: it is a symbolic link").arg(path));
    if (!S_ISDIR(st.st_mode))
        return Status::failure(QStringLiteral("Refusing folder %1: it is not a folder").arg(path));
    if (st.st_uid != ::getuid())
        return Status::failure(QStringLiteral("Refusing folder %1: it belongs to another user").arg(path));
    if ((st.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return Status::failure(QStringLiteral("Could not make folder %1 private").arg(path));
    return {};
}

QString supportFolder() { return ensured(xdg("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/Lumra")); }
QString configFolder() { return ensured(xdg("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/Lumra")); }
QString cacheFolder() { return ensured(xdg("XDG_CACHE_HOME", QStringLiteral(".cache")) + QStringLiteral("/Lumra")); }

Result<QString> privateTempFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString path = (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        ? runtime + QStringLiteral("/lumra")
        : cacheFolder() + QStringLiteral("/tmp");
    if (Status s = ensurePrivateFolder(path); !s)
        return Result<QString>::failure(s.error());
    return path;
}

Result<QString> privateTempSubfolder(const QString& name)
{
    auto base = privateTempFolder();
    if (!base)
        return base;
    const QString path = base.value() + QLatin1Char('/') + name;
    if (Status s = ensurePrivateFolder(path); !s)
        return Result<QString>::failure(s.error());
    return path;
}

} // namespace lumra::Folders
