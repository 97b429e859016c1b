#pragma once

#include "model/store/StoreSchema.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/core/Result.h"
#include "platform/pasteboard/OfferReader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QMap>
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
    // put only: each field's own time stamp where it is older than `mtime` (the latest of them);
    // "image" stands for the image. Readers that predate them take the whole row at `mtime`.
    QMap<QString, qint64> stamps;
    // put only: the fields its writer stamped again once its clock was right, each with the stamp
    // it had before (far ahead). Stamped again on two computers at two moments, two such fields
    // keep the order they were made in by these.
    QMap<QString, qint64> was;
    // put only: a field of `was` whose value was changed on one stamped again: how many changes
    // since. They come after the value they changed, though no later a stamp before.
    QMap<QString, qint64> after;
    QString writer; // a tag of the run that wrote it, so a computer knows its own records
    // remove only: the age rule that made the delete ("retention", "autoClean") and its threshold in
    // seconds; empty for a delete the user made. Readers that predate it take a plain delete.
    QString ageRule;
    qint64 ageThreshold = 0;
    // remove only: the latest stamp far ahead that the row had before its writer stamped it again,
    // or 0. The delete was made after it: a put stamped again elsewhere from no later loses to it.
    qint64 before = 0;
    // remove only, a user's delete: the contentDigest of the row as its writer last held it synced. A put
    // carrying just that carries nothing the delete was not made over, however late its stamp (the
    // same row published as new by another holder of a copy, a clone's or a restore's).
    QByteArray held;

    // Which of two records of one row wins: the later one, a tie going to the greater device id.
    bool supersedes(qint64 otherMtime, const QUuid& otherDevice) const;
    qint64 stampOf(const QString& field) const { return stamps.value(field, mtime); }
};

inline constexpr int recordVersion = 1;
inline constexpr const char* imageField = "image";
// Bounds of what a record may carry, from the largest item a copy keeps: the capture's largest text
// with every character escaped (six bytes, as \u0001) and its largest rich text in Base64, with room
// for the rest of the row. Export keeps back a row whose line its reader would skip; a record is
// parsed whole, so the cap is also what one line may cost a reader. Earlier builds wrote lines of
// up to 96 MB, strings of up to 32 M characters and rich texts of up to 32 MB: all still read.
inline constexpr qint64 maxTextBytes = 32 * 1024 * 1024;
inline constexpr qint64 maxRichTextBytes = OfferLimits::maxRtfBytes;
inline constexpr qint64 maxLineBytes = 6 * OfferLimits::maxTextBytes + (maxRichTextBytes + 2) / 3 * 4 + 8 * 1024 * 1024;
static_assert(maxLineBytes >= 96 * 1024 * 1024 && maxRichTextBytes >= maxTextBytes && OfferLimits::maxTextBytes <= maxTextBytes);
// The values (keys included) of the largest record: its keys, every field and every field's stamp.
inline constexpr qint64 maxRecordValues = 512;
// The stamps a reader accepts: from 2001 to 2200.
inline constexpr qint64 earliestMtime = 978307200000LL;
inline constexpr qint64 latestMtime = 7'258'118'400'000LL;
inline constexpr qint64 maxChangesAfter = 1LL << 40;

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

// The fields that merge one by one: the synced attributes of the entity, in its order, and for an
// item "image" last.
const QStringList& mergedFields(store::EntityKind entity);
// A hash of one field's value, the same on every computer (it breaks ties of equal stamps); an
// absent field hashes as 0.
quint64 fieldHash(const QJsonValue& value);
// The hashes of every merged field of a put, in mergedFields() order.
QList<quint64> fieldHashes(store::EntityKind entity, const QJsonObject& fields, const QString& imageHash);

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
// Records that name another device than `device` are refused: a computer speaks only for itself,
// and so are lines longer than `maxLine`.
JournalChunk readJournal(QByteArrayView data, qint64 offset, qint64 firstLine, const QUuid& device, qint64 maxLine = maxLineBytes);

} // namespace lumra::sync
