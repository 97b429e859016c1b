#include "platform/cloud/SyncFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumra::sync {

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

QUuid parseUuid(QStringView text)
{
    if (text.size() != 36)
        return {};
    return QUuid::fromString(text);
}

namespace SyncFiles {

namespace {
constexpr QFileDevice::Permissions privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

QString root(const QString& chosenFolder) { return QDir::cleanPath(chosenFolder) + QStringLiteral("/Lumra"); }
QString devicesFolder(const QString& root) { return root + QStringLiteral("/devices"); }
QString deviceFolder(const QString& root, const QUuid& device) { return devicesFolder(root) + u'/' + uuidText(device); }
QString manifestPath(const QString& folder) { return folder + QStringLiteral("/manifest.json"); }
QString snapshotPath(const QString& folder, qint64 generation)
{
    return folder + QStringLiteral("/snapshot-%1.jsonl").arg(generation);
}
QString journalPath(const QString& folder, qint64 generation) { return folder + QStringLiteral("/journal-%1.jsonl").arg(generation); }
QString imagesFolder(const QString& folder) { return folder + QStringLiteral("/images"); }
QString imagePath(const QString& folder, const QString& hash) { return imagesFolder(folder) + u'/' + hash + QStringLiteral(".png"); }
QString settingsPath(const QString& folder) { return folder + QStringLiteral("/settings.json"); }

bool isUsable(const QString& chosenFolder, QString* why)
{
    auto fail = [why](QString reason) {
        if (why)
            *why = std::move(reason);
        return false;
    };
    if (chosenFolder.trimmed().isEmpty())
        return fail(QStringLiteral("No sync folder is chosen"));
    if (QDir::isRelativePath(chosenFolder))
        return fail(QStringLiteral("The sync folder must be an absolute path"));
    const QFileInfo info(chosenFolder);
    if (!info.exists())
        return fail(QStringLiteral("The sync folder is not available"));
    if (!info.isDir())
        return fail(QStringLiteral("The sync folder is not a folder"));
    if (::access(QFile::encodeName(chosenFolder).constData(), W_OK | X_OK) != 0)
        return fail(QStringLiteral("The sync folder is not writable"));
    return true;
}

QList<QUuid> otherDevices(const QString& root, const QUuid& self)
{
    QList<QUuid> devices;
    const QDir dir(devicesFolder(root));
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        const QUuid id = parseUuid(entry.fileName());
        if (!id.isNull() && id != self && entry.fileName() == uuidText(id))
            devices.append(id);
    }
    return devices;
}

Result<qint64> readManifest(const QString& folder)
{
    const QString path = manifestPath(folder);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return qint64(1);
    Result<QByteArray> bytes = readRegularFile(path, 64 * 1024);
    if (!bytes)
        return Result<qint64>::failure(bytes.error());
    const QJsonObject o = QJsonDocument::fromJson(bytes.value()).object();
    const double generation = o.value(QStringLiteral("generation")).toDouble(-1);
    if (o.value(QStringLiteral("v")).toDouble(-1) != 1 || generation < 1 || generation > 1e9 || generation != qint64(generation))
        return Result<qint64>::failure(QStringLiteral("unreadable manifest"));
    return qint64(generation);
}

Status writeManifest(const QString& folder, qint64 generation)
{
    QJsonObject o;
    o.insert(QStringLiteral("v"), 1);
    o.insert(QStringLiteral("generation"), double(generation));
    return writeAtomically(manifestPath(folder), QJsonDocument(o).toJson(QJsonDocument::Compact));
}

Status writeAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(file.errorString());
    file.setPermissions(privateFile);
    if (file.write(bytes) != bytes.size())
        return Status::failure(file.errorString());
    if (!file.commit())
        return Status::failure(file.errorString());
    return {};
}

Status appendBytes(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Status::failure(QString::fromLocal8Bit(strerror(errno)));
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const QString error = QString::fromLocal8Bit(strerror(errno));
            ::close(fd);
            return Status::failure(error);
        }
        written += n;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced ? Status() : Status::failure(QStringLiteral("could not flush the journal"));
}

Status makePrivateFolder(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return Status::failure(QStringLiteral("%1 is a link").arg(path));
    if (!info.exists() && !QDir().mkpath(path))
        return Status::failure(QStringLiteral("could not make %1").arg(path));
    if (!QFileInfo(path).isDir())
        return Status::failure(QStringLiteral("%1 is not a folder").arg(path));
    ::chmod(QFile::encodeName(path).constData(), 0700);
    return {};
}

Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, qint64 offset)
{
    using R = Result<QByteArray>;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return R::failure(QStringLiteral("cannot open: ") + QString::fromLocal8Bit(strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return R::failure(QStringLiteral("not a regular file"));
    }
    if (offset > st.st_size) {
        ::close(fd);
        return R::failure(QStringLiteral("shorter than before"));
    }
    const qint64 length = std::min<qint64>(st.st_size - offset, maxBytes);
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(length - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    bytes.truncate(done);
    return bytes;
}

QUuid deviceId(const QString& storeFolder)
{
    const QString path = storeFolder + QStringLiteral("/sync-device-id");
    if (Result<QByteArray> stored = readRegularFile(path, 128)) {
        const QUuid id = parseUuid(QString::fromLatin1(stored.value().trimmed()));
        if (!id.isNull())
            return id;
    }
    const QUuid id = QUuid::createUuid();
    (void)writeAtomically(path, uuidText(id).toLatin1() + '\n');
    return id;
}

} // namespace SyncFiles

} // namespace lumra::sync
