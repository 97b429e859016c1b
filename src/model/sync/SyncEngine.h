#pragma once

#include "model/store/ManagedObjectContext.h"
#include "model/store/Sqlite.h"
#include "model/sync/SyncRecord.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/core/Result.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <memory>
#include <optional>

namespace lumra::sync {

// Mirrors the rows of the synced store file through a sync folder. Used on one worker thread:
// it reads and writes the store through its own context, whose saves reach the main thread like
// any other background save, and keeps what it knows of every row in a small state file beside
// the store (each field's time stamp and a hash of its value; how far each other device was read).
//
// The folder is shared with a file-sync tool and with whoever else can write to it, so: nothing is
// opened through a link; a reader never moves past a file a device's manifest names that has not
// arrived; our journal is appended only at a record boundary and a record counts as published once
// flushed; our device folder carries an incarnation and the secret of the run that writes it, so a
// cloned or restored computer notices records it did not write and takes a new device id.
class SyncEngine {
public:
    struct Config {
        QString root;        // SyncFiles::root() of the chosen folder
        QUuid device;        // this computer
        QString stateFile;   // "LumraSync.sqlite" in the store folder
        QString storeFolder; // where the device id is kept; empty: a new id is not kept
        qint64 compactAfterRecords = 5000;
        qint64 maxImageBytes = 64 * 1024 * 1024;
        qint64 maxRecordBytes = maxLineBytes;
        qint64 readChunkBytes = 4 * 1024 * 1024;
        qint64 stallGraceMs = 60 * 1000; // a missing file counts as a stall after this long
        SyncFiles::NewId newId;          // incarnations, a new device id, run secrets; empty: random
    };

    struct Outcome {
        int written = 0;  // records exported
        int applied = 0;  // records imported into the store
        QStringList problems; // what was refused or skipped, one line each (device, line, reason)
        QStringList notices;  // what the log should say (a new device id, a folder made again)
        Status status;
        bool compacted = false;
    };

    // What the status must admit to, beyond failures.
    struct Health {
        int keptLocal = 0;       // items too large (or not an image) to sync, kept on this computer
        int waitingForImages = 0; // records waiting for their image file
        QStringList stalled;     // "device: file" a reader waits for beyond the grace time
    };

    SyncEngine(Config config, std::unique_ptr<store::ManagedObjectContext> context, const store::PersistentStore* cloudStore);
    ~SyncEngine();

    // Opens the state and our device folder. A different folder than last time (or the first
    // time) forgets how far the others were read and publishes every synced row again.
    Status open(qint64 nowMs, Outcome* outcome = nullptr);

    // Writes what changed in the store since it was last exported: the rows with these ids, or
    // every row when `ids` is empty and `full` is set.
    Outcome exportChanges(const QSet<QUuid>& ids, bool full, qint64 nowMs);
    // Reads the other devices' new records and merges them into the store.
    Outcome importChanges(qint64 nowMs);
    Health health(qint64 nowMs);

    const Config& config() const { return m_config; }
    QUuid device() const { return m_config.device; }

private:
    struct FieldState {
        qint64 stamp = 0;
        quint32 hash = 0;
    };
    struct RowState {
        QByteArray digest;
        qint64 mtime = 0; // the latest field stamp, or when deleted the time of the delete
        bool deleted = false;
        QList<FieldState> fields; // mergedFields() order; empty in a state written before fields merged
    };
    struct Cursor {
        QString incarnation;
        qint64 generation = 0;
        bool inJournal = false;
        qint64 offset = 0;
        qint64 line = 0;
        bool skipping = false; // inside a line too long to read, looking for its end
    };
    using Key = std::pair<int, QUuid>;
    enum class Applied { yes, skipped, wait };
    struct Change {
        Key key;
        RowState state;
    };

    Status openState();
    std::optional<RowState> rowState(store::EntityKind entity, const QUuid& id);
    Status putRowState(store::EntityKind entity, const QUuid& id, const RowState& state);
    QList<std::pair<store::EntityKind, QUuid>> liveRowsOfState();
    std::optional<Cursor> cursor(const QUuid& device);
    Status putCursor(const QUuid& device, const Cursor& cursor);
    QString meta(const QString& key);
    Status putMeta(const QString& key, const QString& value);
    Status putOwnMeta();

    // Our device folder, checked: made again when gone, a torn tail cut, a new device id taken when
    // it holds what this computer did not write.
    Status openFolders(bool create);
    Status ensureOwnFolder(qint64 nowMs, Outcome& outcome);
    // `remade`: it was not ours as written, so the folder was made again.
    Status checkOwnJournal(Outcome& outcome, bool* foreign, bool* remade);
    // Our manifest, written and remembered; what it said last, while its files are still there.
    Status writeOwnManifest(const Manifest& manifest);
    std::optional<Manifest> lastOwnManifest();
    Status recreateOwnFolder(Outcome& outcome, const QString& why);
    // The records of our folder's old files, kept in the state to be applied like others' waiting ones.
    Status keepOldRecords();
    Status takeNewDeviceId(Outcome& outcome);
    QString ownName() const { return uuidText(m_config.device); }

    Result<QList<store::ManagedObjectPtr>> cloudRows(store::EntityKind entity, const std::optional<QUuid>& id);
    Status appendRecords(const QList<SyncRecord>& records, Outcome& outcome);
    Status compact();
    Status importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome);
    void retryPending(qint64 nowMs, Outcome& outcome);
    Applied applyRecord(const SyncDir* deviceDir, const SyncRecord& record, Outcome& outcome, const QString& where,
                        QList<Change>& changes);
    // One copy of a text: its id, synced fields, their stamps, and its row when it is one here.
    struct Copy {
        QUuid id;
        QJsonObject fields;
        RowState state;
        store::ManagedObjectPtr row;
    };
    std::optional<Copy> storedCopy(const store::ManagedObjectPtr& row);
    // Keeps one of two copies of a text, merged, and answers it; the other becomes a tombstone.
    Copy mergeCopies(const Copy& x, const Copy& y, QList<Change>& changes);
    // The record's row (new here) has the text of another row: keeps one of the two. True when it did.
    bool mergeDuplicate(const SyncRecord& record, RowState& state, QList<Change>& changes);
    // Rows here that share a text: one is kept of each. Answers every item row as fetched, or none
    // when a merge changed them.
    Result<QList<store::ManagedObjectPtr>> mergeStoredDuplicates();
    std::optional<QByteArray> imageElsewhere(const QString& hash);
    Result<QByteArray> imageOf(const SyncDir* deviceDir, const QString& hash, Outcome& outcome, const QString& where, bool* wait);
    void stall(const QUuid& device, const QString& what, qint64 nowMs);
    qint64 nextStamp(qint64 nowMs) const { return std::max(nowMs, m_clockFloor + 1); }

    Config m_config;
    std::unique_ptr<store::ManagedObjectContext> m_context;
    const store::PersistentStore* m_cloudStore;
    sql::Database m_state;
    SyncDir m_rootDir;
    SyncDir m_devicesDir;
    SyncDir m_ownDir;
    QString m_writer; // this run's secret, written into our manifest and records
    QString m_incarnation;
    qint64 m_generation = 1;
    qint64 m_journalEnd = 0; // bytes of our journal known written and flushed
    qint64 m_journalRecords = 0;
    QString m_journalTail; // hash and length of the last line we appended
    std::optional<Cursor> m_readBack; // where our own folder is ahead of the state: read from here
    qint64 m_clockFloor = 0; // the latest stamp written or read: local changes are stamped after it
    bool m_republish = false;
    QHash<Key, store::ManagedObjectPtr> m_batchRows; // inserted by the batch under way
    QHash<QString, std::pair<QString, qint64>> m_stalls; // device -> (what, since)
};

} // namespace lumra::sync
