#include "model/sync/AgeRules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>

namespace lumra::sync {

namespace {

constexpr qint64 msFrom1970To2001 = 978307200000LL;
constexpr qint64 ledgerBound = 200000; // deletes are published within seconds; beyond this, the oldest notes go

bool decorated(const QJsonObject& fields)
{
    const QJsonValue key = fields.value(QStringLiteral("shortcutKeyCode"));
    if (key.isDouble() && key.toDouble() >= 0)
        return true;
    if (fields.value(QStringLiteral("categoryId")).isString())
        return true;
    if (!fields.value(QStringLiteral("comment")).toString().isEmpty())
        return true;
    const QJsonDocument tags = QJsonDocument::fromJson(fields.value(QStringLiteral("tagsJSON")).toString().toUtf8());
    if (tags.isArray() && !tags.array().isEmpty()) {
        bool allText = true;
        for (const QJsonValue& tag : tags.array())
            allText = allText && tag.isString();
        return allText;
    }
    return false;
}

} // namespace

std::optional<qint64> dateMs(const QJsonObject& fields, const char* name)
{
    const QJsonValue v = fields.value(QLatin1String(name));
    if (!v.isDouble())
        return std::nullopt;
    return qint64(v.toDouble() * 1000.0) + msFrom1970To2001;
}

bool ageRuleRemoves(const QJsonObject& fields, const AgeRules& rules, qint64 nowMs, std::optional<qint64> madeMs)
{
    if (fields.value(QStringLiteral("isTrashed")).toBool()) {
        // Binned elsewhere (an import, another computer) a row may have no trash date: its age is dateAdded.
        std::optional<qint64> binned = dateMs(fields, "trashedDate");
        if (!binned)
            binned = dateMs(fields, "dateAdded");
        if (!binned || rules.recycleBinDays <= 0)
            return false;
        return std::max(*binned, madeMs.value_or(*binned)) < nowMs - rules.recycleBinDays * 86'400'000;
    }
    if (fields.value(QStringLiteral("isPinned")).toBool() || fields.value(QStringLiteral("isPinnedToTop")).toBool())
        return false;
    std::optional<qint64> added = dateMs(fields, "dateAdded");
    if (!added)
        return false;
    if (madeMs)
        added = std::max(*added, *madeMs);
    if (rules.retentionDays > 0 && *added < nowMs - rules.retentionDays * 86'400'000)
        return true;
    if (rules.autoCleanMinutes > 0) {
        const qint64 cutoff = nowMs - rules.autoCleanMinutes * 60'000;
        const std::optional<qint64> pasted = dateMs(fields, "lastPastedDate");
        if (*added < cutoff && (!pasted || *pasted < cutoff) && !decorated(fields))
            return true;
    }
    return false;
}

void AgeRuleLedger::keepIn(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    // Every note since the first call is in the file: what it holds is the truth (a restore may
    // have put back an older one). Notes made before are added to it.
    QHash<QUuid, AgeRuleDelete> kept;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
        for (auto it = saved.begin(); it != saved.end() && kept.size() < ledgerBound; ++it) {
            const QUuid id = QUuid::fromString(it.key());
            const QJsonArray why = it.value().toArray();
            if (!id.isNull() && why.size() == 2 && why[0].isString())
                kept.insert(id, {why[0].toString(), qint64(why[1].toDouble())});
        }
    }
    const qsizetype read = kept.size();
    if (m_path.isEmpty())
        for (auto it = m_deletes.cbegin(); it != m_deletes.cend() && kept.size() < ledgerBound; ++it)
            kept.insert(it.key(), it.value());
    m_path = path;
    m_deletes = std::move(kept);
    if (m_deletes.size() != read)
        (void)save(); // unsaved, the notes made before still hold while this process runs
}

Status AgeRuleLedger::save()
{
    if (m_path.isEmpty())
        return {};
    QJsonObject kept;
    for (auto it = m_deletes.cbegin(); it != m_deletes.cend(); ++it)
        kept.insert(it.key().toString(QUuid::WithoutBraces), QJsonArray {it->rule, double(it->thresholdSeconds)});
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(kept).toJson(QJsonDocument::Compact)) >= 0 && file.commit())
        return {};
    return Status::failure(QStringLiteral("The note of the age rules' deletes could not be written to %1: %2").arg(m_path, file.errorString()));
}

Status AgeRuleLedger::note(const QList<QUuid>& ids, const AgeRuleDelete& why)
{
    if (ids.isEmpty())
        return {};
    QMutexLocker lock(&m_mutex);
    const QHash<QUuid, AgeRuleDelete> before = m_deletes;
    if (m_deletes.size() + ids.size() > ledgerBound)
        m_deletes.clear(); // unpublished for that long: those deletes go out as plain ones
    for (const QUuid& id : ids)
        m_deletes.insert(id, why);
    Status saved = save();
    if (!saved)
        m_deletes = before;
    return saved;
}

std::optional<AgeRuleDelete> AgeRuleLedger::find(const QUuid& id) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_deletes.constFind(id);
    return it == m_deletes.cend() ? std::nullopt : std::optional<AgeRuleDelete>(*it);
}

void AgeRuleLedger::forget(const QList<QUuid>& ids)
{
    QMutexLocker lock(&m_mutex);
    bool any = false;
    for (const QUuid& id : ids)
        any = m_deletes.remove(id) || any;
    if (any)
        (void)save(); // a note kept too long only makes a published delete go out again as its rule's
}

void RowAges::note(const QUuid& id, qint64 madeMs)
{
    QMutexLocker lock(&m_mutex);
    m_made.insert(id, madeMs);
}

void RowAges::forget(const QUuid& id)
{
    QMutexLocker lock(&m_mutex);
    m_made.remove(id);
}

std::optional<qint64> RowAges::madeAt(const QUuid& id) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_made.constFind(id);
    return it == m_made.cend() ? std::nullopt : std::optional<qint64>(*it);
}

QList<QUuid> RowAges::madeSince(const QList<QUuid>& ids, qint64 cutoffMs) const
{
    QMutexLocker lock(&m_mutex);
    QList<QUuid> since;
    for (const QUuid& id : ids)
        if (m_made.value(id, cutoffMs - 1) >= cutoffMs)
            since.append(id);
    return since;
}

QList<QUuid> RowAges::madeSince(qint64 cutoffMs) const
{
    QMutexLocker lock(&m_mutex);
    QList<QUuid> since;
    for (auto it = m_made.cbegin(); it != m_made.cend(); ++it)
        if (*it >= cutoffMs)
            since.append(it.key());
    return since;
}

QList<std::pair<QUuid, qint64>> RowAges::all() const
{
    QMutexLocker lock(&m_mutex);
    QList<std::pair<QUuid, qint64>> made;
    made.reserve(m_made.size());
    for (auto it = m_made.cbegin(); it != m_made.cend(); ++it)
        made.append({it.key(), *it});
    return made;
}

qsizetype AgeRuleLedger::size() const
{
    QMutexLocker lock(&m_mutex);
    return m_deletes.size();
}

} // namespace lumra::sync
