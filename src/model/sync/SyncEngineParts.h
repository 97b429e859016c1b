#pragma once

// What the parts of the sync engine share: small helpers of its state and records.

#include "model/sync/SyncEngine.h"

namespace lumra::sync::detail {

inline constexpr int applyBatch = 2000;
inline constexpr int keptWriters = 32;
inline constexpr int stateVersion = 5;
// How far ahead of our clock another clock is believed on how young a row is (see m_seenAhead):
// a clock off by more is broken, and named in the status.
inline constexpr qint64 ageEvidenceAheadMs = 2 * 366LL * 24 * 60 * 60 * 1000;
// A record waiting for its image is tried again this often even when no file came, for an image
// completed where it lies.
inline constexpr qint64 heldImageRecheckMs = 10 * 60 * 1000;
// How often our manifest says our clock again: readers take a clock that changed by then as read
// when it was written, give or take this.
inline constexpr qint64 clockRepublishMs = 60 * 60 * 1000;

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
    // Each field's far stamp goes with it, so that it keeps its order against what others stamp again.
    if (record.op == SyncRecord::Op::put)
        for (const QString& name : mergedFields(record.entity))
            if (const qint64 before = record.stampOf(name); before > bound) {
                if (!record.was.contains(name)) // else it keeps where it stood already
                    record.was.insert(name, before);
                record.stamps.insert(name, before);
            }
    if (record.op == SyncRecord::Op::remove && record.mtime > bound)
        record.before = std::max(record.before, record.mtime);
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
// The hash is fieldHash of the line's hex text, worked out as it goes: a line may be tens of
// megabytes, and its hex text as a string four times that.
inline QString tailText(QByteArrayView line)
{
    quint64 h = 1469598103934665603ULL;
    const auto add = [&h](char c) {
        h ^= quint8(c);
        h *= 1099511628211ULL;
    };
    static constexpr char digits[] = "0123456789abcdef";
    add('s');
    for (const char byte : line) {
        add(digits[quint8(byte) >> 4]);
        add(digits[quint8(byte) & 0xF]);
    }
    return QString::number(h == 0 ? 1 : h, 16) + u':' + QString::number(line.size());
}

} // namespace lumra::sync::detail
