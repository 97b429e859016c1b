#include "platform/cloud/SyncFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace lumra::sync {

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

QUuid parseUuid(QStringView text)
{
    if (text.size() != 36)
        return {};
    return QUuid::fromString(text);
}

namespace {

const QString missingText = QStringLiteral("missing");
std::atomic<qint64> spaceLeft {-1};

QString errnoText(int error) { return QString::fromLocal8Bit(strerror(error)); }

QByteArray encoded(const QString& name) { return QFile::encodeName(name); }

// One name inside the folder: no separators, no "." or "..".
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

Status badName(const QString& name) { return Status::failure(QStringLiteral("not a plain name: %1").arg(name.left(80))); }

Status writeAll(int fd, const QByteArray& bytes)
{
    qint64 length = bytes.size();
    const qint64 left = spaceLeft.load();
    if (left >= 0) {
        length = std::min(length, left);
        spaceLeft = left - length;
    }
    qint64 written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(length - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Status::failure(errnoText(errno));
        }
        written += n;
    }
    if (length < bytes.size())
        return Status::failure(errnoText(ENOSPC));
    return {};
}

} // namespace

bool isMissing(const Status& status) { return !status.ok() && status.error() == missingText; }

SyncDir::~SyncDir()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

SyncDir::SyncDir(SyncDir&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }

SyncDir& SyncDir::operator=(SyncDir&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Result<SyncDir> SyncDir::openRoot(const QString& root, bool create)
{
    const QFileInfo info(QDir::cleanPath(root));
    const int chosen = ::open(encoded(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (chosen < 0)
        return Result<SyncDir>::failure(QStringLiteral("The sync folder is not available"));
    const SyncDir parent(chosen);
    return parent.folder(info.fileName(), create);
}

Result<SyncDir> SyncDir::folder(const QString& name, bool create) const
{
    using R = Result<SyncDir>;
    if (!isPlainName(name))
        return R::failure(badName(name).error());
    const QByteArray n = encoded(name);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::openat(m_fd, n.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            return SyncDir(fd);
        const int error = errno;
        if (!create)
            return R::failure(error == ENOENT ? missingText : QStringLiteral("%1: %2").arg(name, error == ELOOP ? QStringLiteral("is a link") : errnoText(error)));
        if (error == ELOOP || error == ENOTDIR) {
            // Planted in the place of one of our folders: ours replaces it, its target is left alone.
            if (::unlinkat(m_fd, n.constData(), 0) != 0 && errno != ENOENT)
                return R::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
        } else if (error != ENOENT) {
            return R::failure(QStringLiteral("%1: %2").arg(name, errnoText(error)));
        }
        if (::mkdirat(m_fd, n.constData(), 0700) != 0 && errno != EEXIST)
            return R::failure(QStringLiteral("could not make %1: %2").arg(name, errnoText(errno)));
    }
    return R::failure(QStringLiteral("%1 keeps changing").arg(name));
}

SyncDir::Kind SyncDir::kind(const QString& name) const
{
    struct stat st {};
    if (!isPlainName(name) || ::fstatat(m_fd, encoded(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::missing;
    if (S_ISREG(st.st_mode))
        return Kind::file;
    if (S_ISDIR(st.st_mode))
        return Kind::folder;
    return Kind::other;
}

std::optional<qint64> SyncDir::size(const QString& name) const
{
    struct stat st {};
    if (!isPlainName(name) || ::fstatat(m_fd, encoded(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return qint64(st.st_size);
}

QByteArray SyncDir::stamp(const QString& name) const
{
    struct stat st {};
    if (!isPlainName(name) || ::fstatat(m_fd, encoded(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    const qint64 parts[] = {qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec),
                            qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)};
    return QByteArray(reinterpret_cast<const char*>(parts), sizeof parts);
}

Result<QByteArray> SyncDir::read(const QString& name, qint64 maxBytes, qint64 offset) const
{
    using R = Result<QByteArray>;
    if (!isPlainName(name))
        return R::failure(badName(name).error());
    // Non-blocking: a FIFO planted under the name must not hang the reader.
    const int fd = ::openat(m_fd, encoded(name).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return R::failure(errno == ENOENT ? missingText : QStringLiteral("cannot open: ") + (errno == ELOOP ? QStringLiteral("a link") : errnoText(errno)));
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

Status SyncDir::write(const QString& name, const QByteArray& bytes) const
{
    if (!isPlainName(name))
        return badName(name);
    const QByteArray temp = encoded(QStringLiteral(".%1.%2.tmp").arg(name).arg(QRandomGenerator::global()->generate64(), 0, 16));
    const int fd = ::openat(m_fd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Status::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
    Status s = writeAll(fd, bytes);
    if (s && ::fsync(fd) != 0)
        s = Status::failure(QStringLiteral("could not flush %1: %2").arg(name, errnoText(errno)));
    ::close(fd);
    if (s && ::renameat(m_fd, temp.constData(), m_fd, encoded(name).constData()) != 0)
        s = Status::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
    if (!s) {
        ::unlinkat(m_fd, temp.constData(), 0);
        return s;
    }
    ::fsync(m_fd);
    return {};
}

Status SyncDir::append(const QString& name, const QByteArray& bytes) const
{
    if (!isPlainName(name))
        return badName(name);
    const int fd = ::openat(m_fd, encoded(name).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Status::failure(QStringLiteral("%1: %2").arg(name, errno == ELOOP ? QStringLiteral("is a link") : errnoText(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::failure(QStringLiteral("%1 is not a regular file").arg(name));
    }
    Status s = writeAll(fd, bytes);
    if (s && ::fsync(fd) != 0)
        s = Status::failure(QStringLiteral("could not flush %1: %2").arg(name, errnoText(errno)));
    ::close(fd);
    return s;
}

Status SyncDir::truncate(const QString& name, qint64 size) const
{
    if (!isPlainName(name))
        return badName(name);
    const int fd = ::openat(m_fd, encoded(name).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return Status::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
    struct stat st {};
    Status s;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        s = Status::failure(QStringLiteral("%1 is not a regular file").arg(name));
    else if (::ftruncate(fd, size) != 0 || ::fsync(fd) != 0)
        s = Status::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
    ::close(fd);
    return s;
}

Status SyncDir::remove(const QString& name) const
{
    if (!isPlainName(name))
        return badName(name);
    if (::unlinkat(m_fd, encoded(name).constData(), 0) != 0 && errno != ENOENT)
        return Status::failure(QStringLiteral("%1: %2").arg(name, errnoText(errno)));
    return {};
}

QStringList SyncDir::entries(Kind wanted) const
{
    QStringList names;
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == u"." || name == u"..")
            continue;
        if (kind(name) == wanted)
            names.append(name);
    }
    ::closedir(dir);
    names.sort();
    return names;
}

namespace SyncFiles {

QString root(const QString& chosenFolder) { return QDir::cleanPath(chosenFolder) + QStringLiteral("/Lumra"); }
QString devicesFolder(const QString& root) { return root + QStringLiteral("/devices"); }
QString deviceFolder(const QString& root, const QUuid& device) { return devicesFolder(root) + u'/' + uuidText(device); }
QString manifestPath(const QString& folder) { return folder + QStringLiteral("/manifest.json"); }
QString snapshotName(qint64 generation) { return QStringLiteral("snapshot-%1.jsonl").arg(generation); }
QString journalName(qint64 generation) { return QStringLiteral("journal-%1.jsonl").arg(generation); }
QString imageName(const QString& hash) { return hash + QStringLiteral(".png"); }
QString snapshotPath(const QString& folder, qint64 generation) { return folder + u'/' + snapshotName(generation); }
QString journalPath(const QString& folder, qint64 generation) { return folder + u'/' + journalName(generation); }
QString imagesFolder(const QString& folder) { return folder + QStringLiteral("/images"); }
QString imagePath(const QString& folder, const QString& hash) { return imagesFolder(folder) + u'/' + imageName(hash); }
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

QList<QUuid> devices(const SyncDir& devicesDir)
{
    QList<QUuid> ids;
    for (const QString& name : devicesDir.entries(SyncDir::Kind::folder)) {
        const QUuid id = parseUuid(name);
        if (!id.isNull() && name == uuidText(id))
            ids.append(id);
    }
    return ids;
}

QList<QUuid> otherDevices(const QString& root, const QUuid& self)
{
    Result<SyncDir> rootDir = SyncDir::openRoot(root, false);
    if (!rootDir)
        return {};
    Result<SyncDir> devicesDir = rootDir->folder(QString::fromLatin1(devicesName), false);
    if (!devicesDir)
        return {};
    QList<QUuid> ids = devices(devicesDir.value());
    ids.removeAll(self);
    return ids;
}

Result<SyncDir> openDeviceFolder(const QString& root, const QUuid& device, bool create)
{
    Result<SyncDir> rootDir = SyncDir::openRoot(root, create);
    if (!rootDir)
        return rootDir;
    Result<SyncDir> devicesDir = rootDir->folder(QString::fromLatin1(devicesName), create);
    if (!devicesDir)
        return devicesDir;
    return devicesDir->folder(uuidText(device), create);
}

Result<std::optional<Manifest>> readManifest(const SyncDir& dir)
{
    using R = Result<std::optional<Manifest>>;
    Result<QByteArray> bytes = dir.read(QString::fromLatin1(manifestName), 64 * 1024);
    if (isMissing(bytes))
        return std::optional<Manifest>();
    if (!bytes)
        return R::failure(bytes.error());
    const QJsonObject o = QJsonDocument::fromJson(bytes.value()).object();
    const double generation = o.value(QStringLiteral("generation")).toDouble(-1);
    if (o.value(QStringLiteral("v")).toDouble(-1) != 1 || generation < 1 || generation > 1e9 || generation != qint64(generation))
        return R::failure(QStringLiteral("unreadable manifest"));
    Manifest m;
    m.generation = qint64(generation);
    m.incarnation = o.value(QStringLiteral("incarnation")).toString().left(64);
    m.writer = o.value(QStringLiteral("writer")).toString().left(64);
    const QJsonValue snapshot = o.value(QStringLiteral("snapshot"));
    if (snapshot.isNull()) {
        m.snapshotKnown = true;
    } else if (snapshot.isObject()) {
        const double size = snapshot.toObject().value(QStringLiteral("bytes")).toDouble(-1);
        const QString sha = snapshot.toObject().value(QStringLiteral("sha256")).toString();
        if (size < 0 || size > 1e15 || size != qint64(size) || sha.size() != 64)
            return R::failure(QStringLiteral("unreadable manifest"));
        m.snapshotKnown = true;
        m.snapshotBytes = qint64(size);
        m.snapshotSha256 = sha.toLatin1();
    }
    for (auto [key, list] : {std::pair {"former", &m.former}, std::pair {"ahead", &m.ahead}})
        for (const QJsonValue& id : o.value(QLatin1String(key)).toArray())
            if (const QUuid device = parseUuid(id.toString()); !device.isNull() && list->size() < 64)
                list->append(uuidText(device));
    if (const double from = o.value(QStringLiteral("aheadFrom")).toDouble(0); from > 0 && from < 1e15 && from == qint64(from))
        m.aheadFrom = qint64(from);
    if (const double clock = o.value(QStringLiteral("clock")).toDouble(0); clock > 0 && clock < 1e15 && clock == qint64(clock))
        m.clock = qint64(clock);
    return std::optional<Manifest>(m);
}

Status writeManifest(const SyncDir& dir, const Manifest& m)
{
    QJsonObject o;
    o.insert(QStringLiteral("v"), 1);
    o.insert(QStringLiteral("generation"), double(m.generation));
    o.insert(QStringLiteral("incarnation"), m.incarnation);
    o.insert(QStringLiteral("writer"), m.writer);
    if (m.snapshotBytes < 0)
        o.insert(QStringLiteral("snapshot"), QJsonValue::Null);
    else
        o.insert(QStringLiteral("snapshot"), QJsonObject {{QStringLiteral("bytes"), double(m.snapshotBytes)},
                                                          {QStringLiteral("sha256"), QString::fromLatin1(m.snapshotSha256)}});
    if (!m.former.isEmpty())
        o.insert(QStringLiteral("former"), QJsonArray::fromStringList(m.former));
    if (!m.ahead.isEmpty())
        o.insert(QStringLiteral("ahead"), QJsonArray::fromStringList(m.ahead));
    if (!m.ahead.isEmpty() && m.aheadFrom > 0)
        o.insert(QStringLiteral("aheadFrom"), double(m.aheadFrom));
    if (m.clock > 0)
        o.insert(QStringLiteral("clock"), double(m.clock));
    return dir.write(QString::fromLatin1(manifestName), QJsonDocument(o).toJson(QJsonDocument::Compact));
}

Result<qint64> readManifest(const QString& deviceFolder)
{
    const QFileInfo info(deviceFolder);
    Result<SyncDir> parent = SyncDir::openRoot(info.path(), false);
    if (!parent)
        return Result<qint64>::failure(parent.error());
    Result<SyncDir> dir = parent->folder(info.fileName(), false);
    if (!dir)
        return isMissing(dir) ? Result<qint64>(1) : Result<qint64>::failure(dir.error());
    Result<std::optional<Manifest>> m = readManifest(dir.value());
    if (!m)
        return Result<qint64>::failure(m.error());
    return m.value() ? m.value()->generation : qint64(1);
}

Status writeAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size())
        return Status::failure(file.errorString());
    if (!file.commit())
        return Status::failure(file.errorString());
    return {};
}

Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, qint64 offset)
{
    const QFileInfo info(path);
    Result<SyncDir> dir = SyncDir::openRoot(info.path(), false);
    if (!dir)
        return Result<QByteArray>::failure(dir.error());
    return dir->read(info.fileName(), maxBytes, offset);
}

void setSpaceLeftForTests(qint64 bytes) { spaceLeft = bytes; }

QUuid newId(const NewId& source) { return source ? source() : QUuid::createUuid(); }

QUuid deviceId(const QString& storeFolder, const NewId& source)
{
    const QString path = storeFolder + QStringLiteral("/sync-device-id");
    if (Result<QByteArray> stored = readRegularFile(path, 128)) {
        const QUuid id = parseUuid(QString::fromLatin1(stored.value().trimmed()));
        if (!id.isNull())
            return id;
    }
    return renewDeviceId(storeFolder, source);
}

QUuid renewDeviceId(const QString& storeFolder, const NewId& source)
{
    const QUuid id = newId(source);
    (void)writeAtomically(storeFolder + QStringLiteral("/sync-device-id"), uuidText(id).toLatin1() + '\n');
    return id;
}

} // namespace SyncFiles

} // namespace lumra::sync
