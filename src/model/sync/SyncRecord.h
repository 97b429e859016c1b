#pragma once

#include "model/store/StoreSchema.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

namespace lumra::store {
class ManagedObject;
}

namespace lumra::sync {

// One change of one row of the synced store, as a line of a device's journal. Records are
// written by one computer and read by the others, so everything read is checked before use.
struct SyncRecord {
    enum class Op { put, remove };
    Op op = Op::put;
    store::EntityKind entity = store::EntityKind::item;
    QUuid id;
    qint64 mtime = 0; // milliseconds since 1970 UTC, by the writing computer's clock
    QUuid device;
    QJsonObject fields; // put only: the row's attributes by name (no id, no image bytes, no bookmarks)
    QString imageHash;  // put only: SHA-256 of the image bytes in lower-case hex, or empty

    // Which of two records of one row wins: the later one, a tie going to the greater device id.
    bool supersedes(qint64 otherMtime, const QUuid& otherDevice) const;
};

inline constexpr int recordVersion = 1;
// Bounds of what a record may carry.
inline constexpr qint64 maxLineBytes = 96 * 1024 * 1024;
inline constexpr qint64 maxTextBytes = 32 * 1024 * 1024;

// One line of JSON, without the newline.
QByteArray encodeRecord(const SyncRecord& record);
// Checks version, kinds, id, dates, field names, types and ranges; the error says what was wrong.
Result<SyncRecord> decodeRecord(QByteArrayView line);

bool isImageHash(QStringView name);

// The synced attributes of a stored row. The image bytes are summarised by their hash.
QJsonObject fieldsOfRow(const store::ManagedObject& row, QString* imageHash = nullptr);
// Writes decoded fields onto a row: every synced attribute, absent ones at the model's default.
void applyFields(store::ManagedObject& row, const QJsonObject& fields);
// A digest of what a put carries, to tell whether a row changed since it was last written or read.
QByteArray contentDigest(const QJsonObject& fields, const QString& imageHash);

// One pass over a journal's bytes from `offset`: the complete lines' records, the lines
// skipped and why, and where the next pass starts (a torn last line is left for later).
struct JournalChunk {
    struct Entry {
        qint64 line = 0;
        qint64 startOffset = 0; // of the line, in the bytes read
        SyncRecord record;
    };
    struct Problem {
        qint64 line = 0;
        QString reason;
    };
    QList<Entry> records;
    QList<Problem> problems;
    qint64 nextOffset = 0;
    qint64 nextLine = 0;
};
// Records that name another device than `device` are refused: a computer speaks only for itself.
JournalChunk readJournal(QByteArrayView data, qint64 offset, qint64 firstLine, const QUuid& device);

} // namespace lumra::sync
