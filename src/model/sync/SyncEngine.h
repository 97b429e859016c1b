#pragma once

#include "model/store/ManagedObjectContext.h"
#include "model/store/Sqlite.h"
#include "model/sync/AgeRules.h"
#include "model/sync/SyncRecord.h"
#include "platform/cloud/SyncFiles.h"
#include "platform/core/Result.h"

#include <QHash>
#include <QMap>
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
        // How far ahead of this computer's clock a stamp is still trusted: a record further ahead
        // is held, unapplied, until this clock comes within the bound of it.
        qint64 maxClockAheadMs = 24LL * 60 * 60 * 1000;
        std::shared_ptr<AgeRuleLedger> ageRuleDeletes; // the deletes this computer's age rules made
        std::shared_ptr<RowAges> rowAges = std::make_shared<RowAges>(); // told what every clock seen says of each row's age
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
        QMap<QString, int> refused;        // device -> records of its folder refused, each counted once
        QMap<QString, QString> unreadable; // device -> why its folder cannot be read now
        int heldAhead = 0;       // records held because they are stamped too far ahead of our clock
        QMap<QString, int> heldFrom;       // device -> how many of those it wrote
        // device -> how far ahead of our clock it stamped the latest record read from it (ms), while
        // that is beyond the bound: its clock still runs ahead
        QMap<QString, qint64> clocksAhead;
        // device -> how far behind our clock its own clock was as it last published it (ms), while
        // that is beyond the bound: it dates its copies long ago
        QMap<QString, qint64> clocksBehind;
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

    // This computer's age rules as now set: an age rule's delete from elsewhere applies only where they agree.
    void setAgeRules(const AgeRules& rules) { m_ageRules = rules; }

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
        bool ageRule = false; // deleted by an age rule (here or elsewhere): the row may live again
        QList<FieldState> fields; // mergedFields() order; empty in a state written before fields merged
    };
    struct Cursor {
        QString incarnation;
        qint64 generation = 0;
        bool inJournal = false;
        qint64 offset = 0;
        qint64 line = 0;
        bool skipping = false; // inside a line too long to read, looking for its end
        QString prefix;        // the last line before `offset` as read (tailText), to notice a rewrite
    };
    using Key = std::pair<int, QUuid>;
    // `wait`: for its image; `ahead`: stamped too far ahead of our clock; `aged`: a row our own age
    // rule removed, which its writer keeps. All three are held and tried again on later passes.
    enum class Applied { yes, skipped, wait, ahead, aged };
    // What of a row was stamped again after a clock ran far ahead, here (settleClock) or by the writer
    // of a value we took: per field the far stamp its value had before, the stamp it was given, and
    // how many changes were made on it since (each on the one before, none getting above that far stamp).
    struct Restamp {
        qint64 at = 0; // the latest stamp given
        QMap<QString, qint64> was;
        QMap<QString, qint64> given;
        QMap<QString, qint64> after;
        qint64 before = 0; // the row's latest stamp before we stamped it again: a delete made since is later than it
        qint64 givenTo(const QString& field) const { return given.value(field, at); }
        // Where the field's value, stamped `stamp`, stands among all values of the field: a value
        // stamped again where it stood before, and after those it was made on.
        std::pair<qint64, qint64> orderOf(const QString& field, qint64 stamp) const
        {
            if (was.contains(field) && givenTo(field) == stamp)
                return {was.value(field), after.value(field)};
            return {stamp, 0};
        }
        void set(const QString& field, std::pair<qint64, qint64> order, qint64 stamp)
        {
            was.insert(field, order.first);
            given.insert(field, stamp);
            if (order.second > 0)
                after.insert(field, order.second);
            else
                after.remove(field);
            at = std::max(at, stamp);
        }
        bool drop(const QString& field)
        {
            given.remove(field);
            after.remove(field);
            return was.remove(field) > 0;
        }
    };
    struct Change {
        Change(const Key& key, const RowState& state, const std::optional<Restamp>& far = std::nullopt)
            : key(key), state(state), far(far)
        {
        }
        Key key;
        RowState state;
        std::optional<Restamp> far; // the row's far stamps before, as they are after this change
    };

    Status openState();
    std::optional<RowState> rowState(store::EntityKind entity, const QUuid& id);
    Status putRowState(store::EntityKind entity, const QUuid& id, const RowState& state);
    // Tells rowAges when the row was made by the latest clock seen: the stamp of its dateAdded, and
    // when this history learned of it.
    void noteRowAge(const QUuid& id, const QList<FieldState>& fields, qint64 learnt);
    Status loadRowAges();
    // Once per state: the rows taken in before the store kept a receivedDate get rowAges' date.
    Status fillReceivedDates();
    // The latest time a clock seen says the record's row was made: its dateAdded, that field's
    // stamp, and when this history learned of the row (kept after it was deleted), as rowAges has it.
    qint64 madeAt(const SyncRecord& record);
    // When this history first learned of the row, as rowState keeps it; none for a row new to it.
    std::optional<qint64> learntAt(store::EntityKind entity, const QUuid& id);
    // When this history learns of a row now, by the latest clock seen (rowState's learnt).
    qint64 learntNow() const;
    // The receivedDate of an item row this history takes in now (or again): as old as rowAges says,
    // so that the age rules measure it alike with sync on or off, as an import's from the import.
    QDateTime receivedDate(const QUuid& id, qint64 dateAddedStamp);
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
    // Which snapshot a manifest names, as kept when we write one: one we wrote must stay as written.
    static QString snapshotWritten(const Manifest& m);
    Status recreateOwnFolder(Outcome& outcome, const QString& why);
    // The records of our folder's old files, kept in the state to be applied like others' waiting ones.
    Status keepOldRecords();
    Status takeNewDeviceId(Outcome& outcome);
    QString ownName() const { return uuidText(m_config.device); }

    Result<QList<store::ManagedObjectPtr>> cloudRows(store::EntityKind entity, const std::optional<QUuid>& id);
    Status appendRecords(const QList<SyncRecord>& records, Outcome& outcome);
    // The records of a former id of ours held for the row as stamped ahead of our clock.
    QList<SyncRecord> heldFromFormer(store::EntityKind entity, const QUuid& id);
    Status compact();
    // `empty`: the folder holds no manifest and nothing published (yet, or any more).
    Status importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome, bool* empty = nullptr);
    void retryPending(qint64 nowMs, Outcome& outcome);
    // What changes when a file comes or goes in any device's images folder.
    QByteArray imageFoldersStamp();
    Applied applyRecord(const SyncDir* deviceDir, const SyncRecord& record, Outcome& outcome, const QString& where,
                        QList<Change>& changes);
    // One copy of a text: its id, synced fields, their stamps, and its row when it is one here.
    struct Copy {
        QUuid id;
        QJsonObject fields;
        RowState state;
        store::ManagedObjectPtr row;
        std::optional<Restamp> far;
    };
    // A row as the batch so far left it.
    std::optional<RowState> stateInBatch(const Key& key, const QList<Change>& changes);
    std::optional<Copy> storedCopy(const store::ManagedObjectPtr& row, const QList<Change>& changes);
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
    // A hybrid logical clock: after every stamp seen, but never trusting one further ahead of our
    // own clock than the bound, and always a stamp readers accept.
    qint64 nextStamp(qint64 nowMs) const;
    qint64 clockBound(qint64 nowMs) const { return nowMs + m_config.maxClockAheadMs; }
    // After our clock was set back: the floor comes back within the bound, and what is stamped beyond
    // it, once another computer says it holds that as ahead, is stamped again within it and published again.
    Status settleClock(qint64 nowMs);
    // This computer's id and the ids it had before (a restore or a clone made it take a new one).
    QStringList ownIds();
    // Whether another computer's manifest says it holds records of ours as stamped ahead of its
    // clock: none if none does, else the least of those computers' clock bounds.
    std::optional<qint64> namedAhead(const QStringList& own);
    // Beyond which our stamps ran ahead, and are stamped again; none while no computer names us.
    std::optional<qint64> restampLimit(const QStringList& own, qint64 nowMs);
    // Says in our manifest whose records we hold as stamped ahead of our clock, when that changed.
    Status nameAhead(qint64 nowMs);
    // Devices another one names as its former self: what they stamped ahead is published again by it.
    QStringList superseded();
    // Whether the row's stamp, before we stamped it again (settleClock), was at or after this record's
    // (at the same stamp: unless a field of the record stands after where that field stood).
    bool overtaken(const SyncRecord& record);
    std::optional<Restamp> restampOf(store::EntityKind entity, const QUuid& id);
    // The row's far stamps before, as the latest change of the batch left them, else as kept.
    std::optional<Restamp> farStamps(const Key& key, const QList<Change>& changes);
    // Where a field's value in a record stands among all values of the field (see Restamp::orderOf).
    static std::pair<qint64, qint64> orderOf(const SyncRecord& record, const QString& field);
    // A field of the record taken: `far` says its far stamp before as the record does. True if that changed it.
    static bool takeFarStamp(std::optional<Restamp>& far, const SyncRecord& record, const QString& field, qint64 stamp);
    // A field changed here from a value stamped `before` to one stamped `stamp`: where the change stands.
    // `madeBefore`: puts of the row a former id of ours wrote, held as stamped ahead; the change is after them.
    static void placeChange(std::optional<Restamp>& far, const QString& field, qint64 before, qint64 stamp,
                            const QList<SyncRecord>& madeBefore = {});
    // The row's far stamps before once every field of the record is taken, if that changes them.
    std::optional<Restamp> farStampsOf(const Key& key, const SyncRecord& record, const QList<Change>& changes);
    // Keeps what was stamped again of a record of a former id of ours, once applied, as settleClock
    // does (and in the change of the batch not kept yet that says the row's far stamps).
    Status noteRestamp(const SyncRecord& record, qint64 before, QList<Change>* changes = nullptr);
    Status putRestamp(const Key& key, const Restamp& restamp);
    // Keeps a row's state, and its far stamps before where the change says them.
    Status putChange(const Change& change);
    // Whether a delete made after `before` (its stamp before) is later than every field of the row
    // stamped above it: each stood no later than that, before it was stamped again or still far ahead.
    bool madeBeforeDelete(store::EntityKind entity, const QUuid& id, const QList<FieldState>& fields, qint64 stamp, qint64 before);
    // Whether a put, as it stood before it was stamped again or still far ahead, is no later than what
    // the delete here was made after.
    bool deleteFollows(const SyncRecord& put, qint64 deleted);
    // Keeps with a tombstone what its delete says it was made after.
    void noteMadeAfter(const SyncRecord& remove);
    Status supersede(const QStringList& former);
    // A former id's record held as ahead, dropped for its successor to publish again: named in our manifest.
    Status noteGoneAhead(const QString& device, qint64 stamp);
    // Whether the latest record read from a device was stamped beyond the bound, and by how much.
    void noteWriterClock(const QUuid& device, qint64 stamp, qint64 nowMs);
    // What a device's manifest says of its clock, when it says something new: how far behind ours it is.
    Status noteClockPublished(const QUuid& device, qint64 clock, qint64 nowMs);
    // Our manifest says our clock again now and then, and as soon as our clock was set back or on.
    Status publishClock(qint64 nowMs);
    void raiseFloor(qint64 stamp, qint64 nowMs);
    // The floor and where it stood before each jump beyond the bound, kept in the state.
    Status putFloor();
    const AgeRules& ageRules() const { return m_ageRules; }
    // Whether records of a former id of ours at this place in its folder are published again.
    bool republishFromFormer(const QUuid& device, const Cursor& at, qint64 offset);
    // Whether a record of a former id of ours at this place in its folder was written after the history
    // restored (or cloned) here: it was made over every change that history holds unpublished.
    bool writtenAfterOurs(const QUuid& device, const Cursor& at, qint64 offset);
    // Keeps a record applyRecord held (or drops the one held for its row when it was not).
    Status holdRecord(const QUuid& device, const SyncRecord& record, Applied applied);
    // Everything this computer holds is published again at the next export (kept across a restart).
    Status republishAll();
    // This row is published again at the next export.
    Status republishRow(const Key& key);
    Status forgetRefused(const QString& device);
    // What was held from a device folder read again from its start.
    Status dropHeld(const QUuid& device);
    // A put held for its stamp that its writer's delete took the place of (see holdRecord).
    std::optional<SyncRecord> takeHeldUnder(const SyncRecord& remove);
    Status forgetHeldUnder(const SyncRecord& record);
    // Reads the device's folder again from `from`, publishing again what we learnt from it.
    Status readAgain(const QUuid& device, Cursor& at, const Cursor& from);
    Status checkCursorPrefix(const SyncDir& dir, const QString& name, Cursor& at, Outcome& outcome, const QUuid& device);

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
    std::optional<QUuid> m_formerToRead; // the id we just left: read before our changes are stamped
    qint64 m_clockFloor = 0; // the latest stamp written or read: local changes are stamped after it
    qint64 m_now = 0;        // our clock at the pass under way
    // The latest stamp read or held, even beyond the bound of our clock (another clock ahead of ours,
    // or ours behind): rows learned meanwhile are as young as that clock says, for the age rules.
    qint64 m_seenAhead = 0;
    bool m_readingFormerSelf = false; // applying what a former id of ours published
    bool m_madeOverOurs = false;      // the record applied was made over our unpublished changes (writtenAfterOurs)
    // A copy of this history was taken over (a clone, a restore) and has not been exported since:
    // what it changed and had not published was made before the copy, so it stands right after
    // what it changed, not at our clock (which would put it above a delete the original made since).
    bool m_carried = false;
    // The stamp of a change made here on a value stamped `before`.
    qint64 changeStamp(qint64 before) const
    {
        return m_carried ? std::min(before + 1, latestMtime) : freshStamp(before);
    }
    // Our clock's stamp, and never at or below what the change was made on.
    qint64 freshStamp(qint64 before) const { return std::min(std::max(nextStamp(m_now), before + 1), latestMtime); }
    // Where the floor stood before it jumped further than the bound (our clock ran far ahead): once
    // the clock is right, the floor comes back to the latest of these within the bound, so what is
    // stamped again still goes above what it changed before the jump.
    QList<qint64> m_floorSteps;
    AgeRules m_ageRules;
    bool m_republish = false;
    QHash<Key, store::ManagedObjectPtr> m_batchRows; // inserted by the batch under way
    // Their items by the text the batch gave them: a copy met in the batch is found without a scan.
    QMultiHash<QString, store::ManagedObjectPtr> m_batchTexts;
    void noteBatchText(const store::ManagedObjectPtr& row);
    void clearBatchRows();
    // The first write of the batch under way to the state that failed (a full disk): the batch is not kept.
    Status m_batchWrites;
    void checkBatchWrite(const Status& s)
    {
        if (!s && m_batchWrites)
            m_batchWrites = s;
    }
    QHash<QString, std::pair<QString, qint64>> m_stalls; // device -> (what, since)
    QMap<QString, QString> m_unreadable;                 // device -> why its folder could not be read last pass
    // What the last retry of held records saw, so that a record is tried again only once what
    // held it can have changed.
    struct HeldRetry {
        bool done = false;
        qint64 now = 0;
        AgeRules rules;
        QByteArray images;
        qint64 imagesAt = 0;
    };
    HeldRetry m_heldRetry;
    QSet<QString> m_partialImages; // image files a held record found not all there
};

} // namespace lumra::sync
