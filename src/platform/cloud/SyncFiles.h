#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

namespace lumra::sync {

// Where things live in the sync folder the user chose:
//   <chosen>/Lumra/devices/<DEVICE-UUID>/manifest.json      {"v":1,"generation":N}
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

// Set, there, a folder (or a link to one) and writable; `why` says which is missing.
bool isUsable(const QString& chosenFolder, QString* why = nullptr);

// The other computers' device folders: entries of devices/ named by a UUID that are real folders
// (a link is never followed, so nothing outside the sync folder is read).
QList<QUuid> otherDevices(const QString& root, const QUuid& self);

// The generation a device's manifest names; 1 when it has none yet, an error when it is unreadable.
Result<qint64> readManifest(const QString& deviceFolder);
Status writeManifest(const QString& deviceFolder, qint64 generation);

// Whole-file writes go through a temporary file and a rename, 0600; folders are made 0700.
Status writeAtomically(const QString& path, const QByteArray& bytes);
Status appendBytes(const QString& path, const QByteArray& bytes);
Status makePrivateFolder(const QString& path);
// A regular file (not a link) of at most `maxBytes`, read whole.
Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, qint64 offset = 0);

// This computer's id in the sync folder, kept in `storeFolder`; made once.
QUuid deviceId(const QString& storeFolder);

} // namespace SyncFiles

// UUIDs as the sync folder writes them: upper case, no braces; anything else reads as null.
QString uuidText(const QUuid& id);
QUuid parseUuid(QStringView text);

} // namespace lumra::sync
