#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

namespace lumra::sync {

// A folder under the sync folder, held open. Every name is opened relative to it and never
// through a link, so nothing outside the sync folder is read or written whatever another
// computer (or anyone who can write to the shared folder) planted there.
class SyncDir {
public:
    enum class Kind { missing, file, folder, other };

    SyncDir() = default;
    ~SyncDir();
    SyncDir(SyncDir&& other) noexcept;
    SyncDir& operator=(SyncDir&& other) noexcept;
    SyncDir(const SyncDir&) = delete;
    SyncDir& operator=(const SyncDir&) = delete;

    // The sync folder's "Lumra" folder: the folder the user chose (which may itself be a link, that
    // being the user's choice), then "Lumra" below it, no link followed, made when `create` is set.
    static Result<SyncDir> openRoot(const QString& root, bool create);

    bool isOpen() const { return m_fd >= 0; }
    // A folder below this one. `create`: make it when missing and replace a link or file in its way.
    Result<SyncDir> folder(const QString& name, bool create) const;

    Kind kind(const QString& name) const;
    // The size of a regular file; nullopt when there is none (or it is a link or anything else).
    std::optional<qint64> size(const QString& name) const;
    // Up to `maxBytes` of a regular file from `offset`; "missing" when it is not there.
    Result<QByteArray> read(const QString& name, qint64 maxBytes, qint64 offset = 0) const;
    // A whole file through a temporary one, flushed and renamed over the name (a link in its
    // place is replaced, not followed), 0600.
    Status write(const QString& name, const QByteArray& bytes) const;
    // Appends and flushes; fails on a link. Nothing counts as written unless this succeeds.
    Status append(const QString& name, const QByteArray& bytes) const;
    Status truncate(const QString& name, qint64 size) const;
    Status remove(const QString& name) const;
    // Names of the real files (or folders) in it, links left out.
    QStringList entries(Kind kind) const;
    // What changes when the entry changes, and for a folder when a name in it comes or goes: its
    // inode, size and times. Empty when it is missing.
    QByteArray stamp(const QString& name) const;

private:
    explicit SyncDir(int fd) : m_fd(fd) { }
    int m_fd = -1;
};

// "missing": what read() answers for a file that is not there.
bool isMissing(const Status& status);
template <typename T>
bool isMissing(const Result<T>& result) { return isMissing(result.status()); }

// What a device folder's "manifest.json" says: which generation of its files to read, which
// incarnation of the folder it is, which run of which install wrote it last and the snapshot
// the generation starts from.
struct Manifest {
    qint64 generation = 1;
    QString incarnation;          // empty: written before folders had one
    QString writer;               // the secret of the run that wrote it
    bool snapshotKnown = false;   // false: an older manifest that does not say
    qint64 snapshotBytes = -1;    // -1: the generation has no snapshot
    QByteArray snapshotSha256;    // hex
    QStringList former;           // ids its computer had before (a restore or a clone made it take a new one)
    QStringList ahead;            // devices whose records it holds as stamped ahead of its clock
    qint64 aheadFrom = 0;         // its clock's bound as it named them: they stamped beyond it (0: it does not say)
    qint64 clock = 0;             // its writer's clock as it wrote it, ms since 1970 (0: it does not say)
};

// Where things live in the sync folder the user chose:
//   <chosen>/Lumra/devices/<DEVICE-UUID>/manifest.json      {"v":1,"generation":N,...}
//                                        snapshot-N.jsonl   the rows as of generation N
//                                        journal-N.jsonl    changes since, appended
//                                        images/<sha256>.png
//                                        settings.json      the mirrored settings
// Each computer writes only below its own device folder and reads the others'.
namespace SyncFiles {

QString root(const QString& chosenFolder);
QString devicesFolder(const QString& root);
QString deviceFolder(const QString& root, const QUuid& device);
QString manifestPath(const QString& deviceFolder);
QString snapshotPath(const QString& deviceFolder, qint64 generation);
QString journalPath(const QString& deviceFolder, qint64 generation);
QString imagesFolder(const QString& deviceFolder);
QString imagePath(const QString& deviceFolder, const QString& imageHash);
QString settingsPath(const QString& deviceFolder);

inline constexpr const char* devicesName = "devices";
inline constexpr const char* imagesName = "images";
inline constexpr const char* manifestName = "manifest.json";
inline constexpr const char* settingsName = "settings.json";
QString snapshotName(qint64 generation);
QString journalName(qint64 generation);
QString imageName(const QString& imageHash);

// Set, there, a folder (or a link to one) and writable; `why` says which is missing.
bool isUsable(const QString& chosenFolder, QString* why = nullptr);

// The computers' device folders under devices/: real folders named by a UUID (links are never followed).
QList<QUuid> devices(const SyncDir& devicesDir);
QList<QUuid> otherDevices(const QString& root, const QUuid& self);
// A device's folder under `root`, reached without following a link; made when `create` is set.
Result<SyncDir> openDeviceFolder(const QString& root, const QUuid& device, bool create);

// nullopt when the folder has no manifest; an error when it is unreadable.
Result<std::optional<Manifest>> readManifest(const SyncDir& deviceDir);
Status writeManifest(const SyncDir& deviceDir, const Manifest& manifest);
// Tests: the generation a device folder's manifest names (1 when it has none).
Result<qint64> readManifest(const QString& deviceFolder);

// By path, for the few callers outside the engine; the last name is never followed as a link.
Status writeAtomically(const QString& path, const QByteArray& bytes);
Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, qint64 offset = 0);

// Tests: how many more bytes writes under the sync folder take before they fail as on a full disk
// (the last write landing in part); negative: no limit.
void setSpaceLeftForTests(qint64 bytes);

// Where new ids come from: empty means random; tests give a seeded one so a run replays.
using NewId = std::function<QUuid()>;
QUuid newId(const NewId& source);

// This computer's id in the sync folder, kept in `storeFolder`; made once.
QUuid deviceId(const QString& storeFolder, const NewId& source = {});
// A new id for this computer, replacing the one kept (a cloned or restored disk).
QUuid renewDeviceId(const QString& storeFolder, const NewId& source = {});

} // namespace SyncFiles

// UUIDs as the sync folder writes them: upper case, no braces; anything else reads as null.
QString uuidText(const QUuid& id);
QUuid parseUuid(QStringView text);

} // namespace lumra::sync
