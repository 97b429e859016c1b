#pragma once

#include "platform/core/Result.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>
#include <QUuid>

#include <atomic>
#include <optional>

namespace lumra::sync {

// The rules that remove items for their age alone, as one computer has them set.
struct AgeRules {
    qint64 retentionDays = 0;    // 0: kept for ever
    qint64 autoCleanMinutes = 0; // 0: off
    qint64 recycleBinDays = 0;   // 0: the bin is not emptied for age

    friend bool operator==(const AgeRules&, const AgeRules&) = default;
};

// What made a delete an age rule's: the rule and its threshold in seconds.
struct AgeRuleDelete {
    QString rule; // "retention", "autoClean" or "recycleBin"
    qint64 thresholdSeconds = 0;
};

inline const QString retentionRule = QStringLiteral("retention");
inline const QString autoCleanRule = QStringLiteral("autoClean");
inline const QString recycleBinRule = QStringLiteral("recycleBin");

// The file beside the store where the ledger below keeps its notes, with sync on or off.
inline QString ageRuleLedgerPath(const QString& storeFolder) { return storeFolder + QStringLiteral("/sync-age-rule-deletes.json"); }

// Milliseconds since 1970 of a synced date (seconds since 2001); none when absent.
std::optional<qint64> dateMs(const QJsonObject& fields, const char* name);

// Whether one of `rules`, by the clock `nowMs`, removes an item with these synced fields: the same
// choice as the housekeeping's (a starred, pinned or decorated item is never removed for its age; a
// binned one only by the bin's rule).
// `madeMs`: the latest time another clock says the row was made (RowAges), when later than its dateAdded.
bool ageRuleRemoves(const QJsonObject& fields, const AgeRules& rules, qint64 nowMs, std::optional<qint64> madeMs = std::nullopt);

// Per synced row, the latest time any clock the sync sees says it was made (ms since 1970): the
// stamp of its dateAdded, and when this history learned of it. A computer whose clock ran far behind
// dates its copies long ago, so an age rule measures a row by this too. Written by the sync worker,
// read by the housekeeping: shared between threads.
class RowAges {
public:
    void note(const QUuid& id, qint64 madeMs);
    void forget(const QUuid& id);
    std::optional<qint64> madeAt(const QUuid& id) const;
    // The rows the age rules by this clock would take as made before `cutoffMs` that are not.
    QList<QUuid> madeSince(const QList<QUuid>& ids, qint64 cutoffMs) const;
    QList<QUuid> madeSince(qint64 cutoffMs) const;
    QList<std::pair<QUuid, qint64>> all() const;
    // Whether the sync state was read into it: before that, no row's age is known.
    void setLoaded() { m_loaded = true; }
    bool loaded() const { return m_loaded; }

private:
    mutable QMutex m_mutex;
    QHash<QUuid, qint64> m_made;
    std::atomic<bool> m_loaded = false;
};

// The deletes the age rules made and the sync worker has not published yet. Written by the
// housekeeping, read by the sync worker: shared between threads.
class AgeRuleLedger {
public:
    // Kept in the file at `path` from now on, and read from it: a delete made before a quit, or
    // before a backup a restore brings back, still travels as its rule's.
    void keepIn(const QString& path);
    // Fails, noting nothing, when the file cannot be written: the deletes must then not be made,
    // or after a restart they would go out as a user's.
    Status note(const QList<QUuid>& ids, const AgeRuleDelete& why);
    std::optional<AgeRuleDelete> find(const QUuid& id) const;
    void forget(const QList<QUuid>& ids);
    qsizetype size() const;

private:
    Status save(); // with the mutex held

    mutable QMutex m_mutex;
    QHash<QUuid, AgeRuleDelete> m_deletes;
    QString m_path;
};

} // namespace lumra::sync
