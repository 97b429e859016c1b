#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>
#include <QUuid>

#include <optional>

namespace lumra::sync {

// The rules that remove items for their age alone, as one computer has them set.
struct AgeRules {
    qint64 retentionDays = 0;    // 0: kept for ever
    qint64 autoCleanMinutes = 0; // 0: off

    friend bool operator==(const AgeRules&, const AgeRules&) = default;
};

// What made a delete an age rule's: the rule and its threshold in seconds.
struct AgeRuleDelete {
    QString rule; // "retention" or "autoClean"
    qint64 thresholdSeconds = 0;
};

inline const QString retentionRule = QStringLiteral("retention");
inline const QString autoCleanRule = QStringLiteral("autoClean");

// Whether one of `rules`, by the clock `nowMs`, removes an item with these synced fields: the same
// choice as the housekeeping's (a starred, pinned or decorated item is never removed for its age).
bool ageRuleRemoves(const QJsonObject& fields, const AgeRules& rules, qint64 nowMs);

// The deletes the age rules made and the sync worker has not published yet. Written by the
// housekeeping, read by the sync worker: shared between threads.
class AgeRuleLedger {
public:
    void note(const QList<QUuid>& ids, const AgeRuleDelete& why);
    std::optional<AgeRuleDelete> find(const QUuid& id) const;
    void forget(const QList<QUuid>& ids);
    qsizetype size() const;

private:
    mutable QMutex m_mutex;
    QHash<QUuid, AgeRuleDelete> m_deletes;
};

} // namespace lumra::sync
