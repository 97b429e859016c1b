#pragma once

// What the parts of the sync engine share: small helpers of its state and records.

#include "model/sync/SyncEngine.h"

namespace lumra::sync::detail {

inline constexpr int applyBatch = 2000;
inline constexpr int keptWriters = 32;
inline constexpr int stateVersion = 3;
// A record waiting for its image is tried again this often even when no file came, for an image
// completed where it lies.
inline constexpr qint64 heldImageRecheckMs = 10 * 60 * 1000;

inline int entityCode(store::EntityKind kind) { return kind == store::EntityKind::item ? 0 : 1; }
inline store::EntityKind entityFromCode(qint64 code) { return code == 0 ? store::EntityKind::item : store::EntityKind::category; }

inline QString problemLine(const QUuid& device, qint64 line, const QString& reason)
{
    return QStringLiteral("device %1 line %2: %3").arg(uuidText(device)).arg(line).arg(reason);
}

// Whether the bytes are an image a reader would take, of a sane size.
bool isImage(const QByteArray& bytes);

// A record as if made at `stamp`: every stamp of it beyond `bound` comes down to it.
inline SyncRecord restamped(SyncRecord record, qint64 stamp, qint64 bound)
{
    for (auto it = record.stamps.begin(); it != record.stamps.end(); ++it)
        if (it.value() > bound)
            it.value() = stamp;
    record.mtime = stamp;
    for (auto it = record.stamps.cbegin(); it != record.stamps.cend(); ++it)
        record.mtime = std::max(record.mtime, it.value());
    return record;
}

inline quint32 hash32(quint64 h) { return quint32(h ^ (h >> 32)); }

// What the state remembers of the last line we appended: a hash and its length.
inline QString tailText(const QByteArray& line)
{
    return QString::number(fieldHash(QString::fromLatin1(line.toHex())), 16) + u':' + QString::number(line.size());
}

} // namespace lumra::sync::detail
