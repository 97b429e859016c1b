#pragma once

#include "model/store/ManagedObjectContext.h"
#include "model/store/Sqlite.h"
#include "model/sync/SyncRecord.h"
#include "platform/core/Result.h"

#include <QHash>
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
// the store (last digest, time and device per row; how far each other device was read).
class SyncEngine {
public:
    struct Config {
        QString root;        // SyncFiles::root() of the chosen folder
        QUuid device;        // this computer
        QString stateFile;   // "LumraSync.sqlite" in the store folder
        qint64 compactAfterRecords = 5000;
        qint64 maxImageBytes = 64 * 1024 * 1024;
        qint64 missingImageGraceMs = 10 * 60 * 1000; // how long a record may wait for its image file
    };

    struct Outcome {
        int written = 0;  // records exported
        int applied = 0;  // records imported into the store
        QStringList problems; // what was skipped, one line each (device, line, reason)
        Status status;
        bool compacted = false;
    };

    SyncEngine(Config config, std::unique_ptr<store::ManagedObjectContext> context, const store::PersistentStore* cloudStore);
    ~SyncEngine();

    // Opens the state and our device folder. A different folder than last time (or the first
    // time) forgets how far the others were read and publishes every synced row again.
    Status open(qint64 nowMs);

    // Writes what changed in the store since it was last exported: the rows with these ids, or
    // every row when `ids` is empty and `full` is set.
    Outcome exportChanges(const QSet<QUuid>& ids, bool full, qint64 nowMs);
    // Reads the other devices' new records and applies those that win.
    Outcome importChanges(qint64 nowMs);

    const Config& config() const { return m_config; }

private:
    struct RowState {
        QByteArray digest;
        qint64 mtime = 0;
        QUuid device;
        bool deleted = false;
    };
    struct Cursor {
        qint64 generation = 0;
        bool inJournal = false;
        qint64 offset = 0;
        qint64 line = 0;
    };
    using Key = std::pair<int, QUuid>;

    Status openState();
    std::optional<RowState> rowState(store::EntityKind entity, const QUuid& id);
    Status putRowState(store::EntityKind entity, const QUuid& id, const RowState& state);
    QList<std::pair<store::EntityKind, QUuid>> liveRowsOfState();
    std::optional<Cursor> cursor(const QUuid& device);
    Status putCursor(const QUuid& device, const Cursor& cursor);
    QString meta(const QString& key);
    Status putMeta(const QString& key, const QString& value);

    Result<QList<store::ManagedObjectPtr>> cloudRows(store::EntityKind entity, const std::optional<QUuid>& id);
    Status appendRecords(const QList<SyncRecord>& records, Outcome& outcome);
    Status compact();
    Status importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome);
    enum class Applied { yes, skipped, wait };
    // `wait`: its image has not arrived yet. `skipped`: refused, or the row has a change made here
    // that is not published yet (that change is newer and wins when it is).
    Applied applyRecord(const QString& deviceFolder, const SyncRecord& record, const std::optional<RowState>& known,
                        qint64 nowMs, qint64 offset, Outcome& outcome, const QString& where);

    Config m_config;
    QString m_ownFolder;
    std::unique_ptr<store::ManagedObjectContext> m_context;
    const store::PersistentStore* m_cloudStore;
    sql::Database m_state;
    qint64 m_generation = 1;
    qint64 m_journalRecords = 0;
    bool m_republish = false;
    QHash<QString, qint64> m_waitingForImage; // "device/offset" -> first seen
};

} // namespace lumra::sync
