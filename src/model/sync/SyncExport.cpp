#include "model/sync/SyncEngineParts.h"

#include <QCryptographicHash>

#include <algorithm>
#include <limits>
#include <map>

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

// ------------------------------------------------------------------------------------------------ export

Result<QList<store::ManagedObjectPtr>> SyncEngine::cloudRows(EntityKind entity, const std::optional<QUuid>& id)
{
    store::FetchRequest request;
    request.entity = entity;
    request.affectedStore = m_cloudStore;
    if (id)
        request.predicate = store::Predicate::eq("id", *id);
    return m_context->fetch(request);
}

SyncEngine::Outcome SyncEngine::exportChanges(const QSet<QUuid>& ids, bool full, qint64 nowMs)
{
    Outcome outcome;
    m_now = nowMs;
    if (Status s = ensureOwnFolder(nowMs, outcome); !s) {
        outcome.status = s;
        return outcome;
    }
    if (const std::optional<QUuid> before = std::exchange(m_formerToRead, std::nullopt); before && m_devicesDir.isOpen()) {
        // A restore took back what our former id published: read it before stamping what changed
        // here since, so that a change made on the restored history goes above what it overtakes.
        if (Status s = settleClock(nowMs); !s) {
            outcome.status = s;
            return outcome;
        }
        if (Status s = importDevice(*before, nowMs, outcome); !s)
            outcome.problems.append(QStringLiteral("device %1: %2").arg(uuidText(*before), s.error()));
    }
    if (Status s = settleClock(nowMs); !s) {
        outcome.status = s;
        return outcome;
    }
    full = full || m_republish;
    // Every item, fetched once for the duplicates and the export, unless a merge changed them.
    std::optional<QList<store::ManagedObjectPtr>> allItems;
    if (full) {
        Result<QList<store::ManagedObjectPtr>> items = mergeStoredDuplicates();
        if (!items) {
            outcome.status = items.status();
            return outcome;
        }
        if (!items->isEmpty())
            allItems = std::move(items).value();
    }

    // Rows whose merge kept something newer than what another computer wrote: publish them as they are.
    QSet<QUuid> lookupIds = ids;
    QSet<Key> forced;
    {
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id FROM republish"));
        while (st->step()) {
            const Key key {int(st->int64(0)), parseUuid(st->text(1))};
            forced.insert(key);
            lookupIds.insert(key.second);
        }
    }
    if (!full && lookupIds.isEmpty())
        return outcome;

    const qint64 stamp = nextStamp(nowMs);
    QList<SyncRecord> records;
    QList<Change> changes;
    QList<Key> keptLocal, published;
    QSet<Key> seen;
    auto consider = [&](const store::ManagedObjectPtr& row) -> Status {
        const auto id = row->uuid(0);
        if (!id)
            return {};
        const EntityKind entity = row->entity().kind;
        const Key key {entityCode(entity), *id};
        seen.insert(key);
        QString imageHash;
        const QJsonObject fields = fieldsOfRow(*row, &imageHash);
        const QByteArray digest = contentDigest(fields, imageHash);
        const std::optional<RowState> known = rowState(entity, *id);
        const bool alive = known && !known->deleted;
        if (alive && known->digest == digest && !m_republish && !forced.contains(key)) {
            // Published already; its image file must still be there, whole (a planted link replaced
            // our images folder, someone removed it, or a tool left a piece of it in its place).
            if (full && !imageHash.isEmpty())
                if (Result<SyncDir> images = m_ownDir.folder(QString::fromLatin1(SyncFiles::imagesName), true)) {
                    const QByteArray bytes = row->bytes(store::ItemAttr::imageData).value_or(QByteArray());
                    if (images->kind(SyncFiles::imageName(imageHash)) != SyncDir::Kind::file
                        || images->size(SyncFiles::imageName(imageHash)) != std::optional<qint64>(bytes.size()))
                        if (Status s = images->write(SyncFiles::imageName(imageHash), bytes); !s)
                            return s;
                }
            return {};
        }

        const QStringList& names = mergedFields(entity);
        const QList<quint64> hashes = fieldHashes(entity, fields, imageHash);
        RowState state;
        state.digest = digest;
        const bool hasFields = alive && known->fields.size() == names.size();
        bool anyFieldDiffers = !hasFields;
        for (qsizetype i = 0; hasFields && i < names.size(); ++i)
            anyFieldDiffers = anyFieldDiffers || known->fields[i].hash != hash32(hashes[i]);
        // The digest changed while no field hash did (a collision of the short hashes): every field counts as changed.
        const bool collision = hasFields && !anyFieldDiffers && !known->digest.isEmpty() && known->digest != digest;
        bool changed = false;
        std::optional<QList<SyncRecord>> former; // read once a field changed here
        const std::optional<Restamp> again = restampOf(entity, *id);
        std::optional<Restamp> far = again;
        bool farChanged = false;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const quint32 h = hash32(hashes[i]);
            qint64 s = 0;
            if (hasFields && known->fields[i].hash == h && !collision) {
                s = known->fields[i].stamp;
            } else if (!hasFields && alive && known->digest == digest) {
                s = known->mtime; // a state kept before fields merged: the row as it was published
            } else {
                // A change made here is later than what it changes, whatever our clock says: a clock
                // behind must not undo what the user did after seeing the row.
                const qint64 before = hasFields ? known->fields[i].stamp : known ? known->mtime : 0;
                s = hasFields ? changeStamp(before) : freshStamp(before);
                // Never published from this state: nobody else holds it unless a former self of ours
                // (before a restore took its publishing back) did, and then another's change made over
                // that must stand. So it goes out as old as the row is, never above that.
                if (!known)
                    if (const std::optional<qint64> added = dateMs(fields, "dateAdded"); added && *added > 0)
                        s = std::min(s, std::max(*added, earliestMtime)); // a clock before 2001 made it
                changed = true;
                if (alive && hasFields) {
                    if (!former)
                        former = heldFromFormer(entity, *id);
                    placeChange(far, names[i], before, s, *former);
                    farChanged = true;
                }
            }
            state.fields.append({s, h});
        }
        if (!changed && alive && !m_republish && !forced.contains(key)) {
            changes.append({key, RowState {digest, known->mtime, false, false, known->fields}});
            return {};
        }
        SyncRecord record;
        record.op = SyncRecord::Op::put;
        record.entity = entity;
        record.id = *id;
        record.device = m_config.device;
        record.writer = m_writer;
        record.fields = fields;
        record.imageHash = imageHash;
        record.mtime = 0;
        for (const FieldState& f : state.fields)
            record.mtime = std::max(record.mtime, f.stamp);
        for (qsizetype i = 0; i < names.size(); ++i)
            record.stamps.insert(names[i], state.fields[i].stamp);
        state.mtime = record.mtime;
        // A value stamped again from far ahead, or made on one, says where it stands.
        for (qsizetype i = 0; far && i < names.size(); ++i)
            if (const std::pair<qint64, qint64> order = far->orderOf(names[i], state.fields[i].stamp); order.first != state.fields[i].stamp || order.second) {
                record.was.insert(names[i], order.first);
                if (order.second)
                    record.after.insert(names[i], order.second);
            }

        // Never write what a reader would refuse: such an item stays on this computer, and the status says so.
        const QByteArray line = encodeRecord(record);
        bool refused = line.size() > m_config.maxRecordBytes || !decodeRecord(line);
        if (!refused && !imageHash.isEmpty()) {
            const QString name = SyncFiles::imageName(imageHash);
            Result<SyncDir> images = m_ownDir.folder(QString::fromLatin1(SyncFiles::imagesName), true);
            if (!images)
                return images.status();
            const QByteArray bytes = row->bytes(store::ItemAttr::imageData).value_or(QByteArray());
            if (images->kind(name) != SyncDir::Kind::file || images->size(name) != std::optional<qint64>(bytes.size())) {
                refused = bytes.size() > m_config.maxImageBytes || !isImage(bytes);
                if (!refused)
                    if (Status s = images->write(name, bytes); !s)
                        return s;
            }
        }
        if (refused) {
            keptLocal.append(key);
            return {};
        }
        published.append(key);
        records.append(record);
        changes.append({key, state, farChanged ? far : std::nullopt});
        return {};
    };

    // In a set order, so that the journal says the same however the sets hash.
    QList<QUuid> sortedIds = lookupIds.values();
    std::sort(sortedIds.begin(), sortedIds.end(), [](const QUuid& x, const QUuid& y) { return uuidText(x) < uuidText(y); });
    QList<Key> sortedForced = forced.values();
    std::sort(sortedForced.begin(), sortedForced.end(),
              [](const Key& x, const Key& y) { return std::pair(x.first, uuidText(x.second)) < std::pair(y.first, uuidText(y.second)); });
    QList<std::optional<QUuid>> lookups;
    if (full)
        lookups.append(std::nullopt); // every row
    else
        for (const QUuid& id : std::as_const(sortedIds))
            lookups.append(id);
    for (EntityKind entity : {EntityKind::category, EntityKind::item}) {
        for (const std::optional<QUuid>& id : std::as_const(lookups)) {
            Result<QList<store::ManagedObjectPtr>> rows = entity == EntityKind::item && !id && allItems ? *allItems : cloudRows(entity, id);
            if (!rows) {
                outcome.status = rows.status();
                return outcome;
            }
            for (const auto& row : rows.value())
                if (Status s = consider(row); !s) {
                    outcome.status = s;
                    return outcome;
                }
        }
    }

    // Rows we knew that the store no longer holds (deleted, or moved to the local file) are gone.
    QList<std::pair<EntityKind, QUuid>> candidates;
    if (full) {
        candidates = liveRowsOfState();
        for (const Key& key : std::as_const(sortedForced))
            candidates.append({entityFromCode(key.first), key.second});
    } else {
        for (const QUuid& id : std::as_const(sortedIds))
            for (EntityKind entity : {EntityKind::item, EntityKind::category})
                candidates.append({entity, id});
    }
    // A delete says whether an age rule made it (which travels with it again), so that other
    // computers apply it only where their own rule agrees.
    // A user's delete also says what it was made over: the row as last synced here.
    auto deleteRecord = [&](EntityKind entity, const QUuid& id, qint64 mtime, const std::optional<AgeRuleDelete>& age, const QByteArray& held) {
        SyncRecord record;
        record.op = SyncRecord::Op::remove;
        record.entity = entity;
        record.id = id;
        record.device = m_config.device;
        record.writer = m_writer;
        record.mtime = mtime;
        if (age) {
            record.ageRule = age->rule;
            record.ageThreshold = age->thresholdSeconds;
        } else {
            record.held = held;
            if (const std::optional<Restamp> again = restampOf(entity, id))
                record.before = again->before; // made after what the row was stamped before
        }
        return record;
    };
    const std::optional<AgeRuleDelete> learnt = AgeRuleDelete {QStringLiteral("age"), 0}; // the rule of another computer
    QList<QUuid> agedHere;
    for (const auto& [entity, id] : candidates) {
        const Key key {entityCode(entity), id};
        if (seen.contains(key))
            continue;
        const std::optional<RowState> known = rowState(entity, id);
        if (known && known->deleted && forced.contains(key) && !m_republish) {
            // A delete learnt from a former folder of ours travels again, as it was.
            records.append(deleteRecord(entity, id, known->mtime, known->ageRule ? learnt : std::nullopt, known->digest));
            published.append(key);
            continue;
        }
        if (!known || known->deleted)
            continue;
        std::optional<AgeRuleDelete> age;
        if (m_config.ageRuleDeletes && entity == EntityKind::item)
            age = m_config.ageRuleDeletes->find(id);
        if (age)
            agedHere.append(id);
        // A restore took back that the row's delete was published, not what its former self wrote of
        // it since, still held as stamped ahead: that was made before this delete. Its age rule's
        // delete is this one; a put of it stands below it.
        qint64 madeAfter = 0;
        for (const SyncRecord& held : age ? QList<SyncRecord>() : heldFromFormer(entity, id)) {
            if (held.op == SyncRecord::Op::remove && !held.ageRule.isEmpty())
                age = AgeRuleDelete {held.ageRule, held.ageThreshold};
            else if (held.op == SyncRecord::Op::put)
                madeAfter = std::max(madeAfter, held.mtime);
        }
        records.append(deleteRecord(entity, id, std::min(std::max(stamp, known->mtime + 1), latestMtime), age, known->digest));
        std::optional<Restamp> gone;
        if (!age && madeAfter > records.last().before) {
            records.last().before = madeAfter;
            gone = Restamp {};
            gone->at = records.last().mtime;
            gone->before = madeAfter;
        }
        published.append(key);
        changes.append({key, RowState {records.last().held, records.last().mtime, true, age.has_value(), {}}, gone});
    }

    if (m_republish) {
        // Deletes too: under a new id or in a new folder, what this computer knows of deleted rows
        // must travel again, at the time they were deleted.
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id, mtime, ageRule, digest FROM rowState WHERE deleted = 1"));
        while (st->step()) {
            const QUuid id = parseUuid(st->text(1));
            if (!id.isNull() && !seen.contains({int(st->int64(0)), id}))
                records.append(deleteRecord(entityFromCode(st->int64(0)), id, st->int64(2), st->int64(3) ? learnt : std::nullopt, st->blob(4)));
        }
    }
    if (!records.isEmpty()) {
        if (Status s = appendRecords(records, outcome); !s) {
            outcome.status = s;
            return outcome;
        }
    }
    sql::Transaction t(m_state);
    for (const Change& change : std::as_const(changes)) {
        if (Status s = putChange(change); !s) {
            outcome.status = s;
            return outcome;
        }
    }
    auto keyStatement = [&](const QString& sql, const QList<Key>& keys) -> Status {
        for (const Key& key : keys) {
            sql::Statement* st = m_state.prepare(sql);
            st->bind(1, qint64(key.first));
            st->bind(2, uuidText(key.second));
            st->step();
            if (Status s = st->status(); !s)
                return s;
        }
        return {};
    };
    if (Status s = keyStatement(QStringLiteral("INSERT OR IGNORE INTO keptLocal(entity, id) VALUES(?, ?)"), keptLocal); !s) {
        outcome.status = s;
        return outcome;
    }
    if (Status s = keyStatement(QStringLiteral("DELETE FROM keptLocal WHERE entity = ? AND id = ?"), published); !s) {
        outcome.status = s;
        return outcome;
    }
    QList<Key> forcedDone;
    for (const Key& key : std::as_const(sortedForced))
        if (seen.contains(key) || published.contains(key) || full)
            forcedDone.append(key);
    if (Status s = keyStatement(QStringLiteral("DELETE FROM republish WHERE entity = ? AND id = ?"), forcedDone); !s) {
        outcome.status = s;
        return outcome;
    }
    if (full) {
        // Rows gone from the store that were kept local are no longer waiting for anything.
        QList<Key> gone;
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id FROM keptLocal"));
        while (st->step()) {
            const Key key {int(st->int64(0)), parseUuid(st->text(1))};
            if (!seen.contains(key))
                gone.append(key);
        }
        if (Status s = keyStatement(QStringLiteral("DELETE FROM keptLocal WHERE entity = ? AND id = ?"), gone); !s) {
            outcome.status = s;
            return outcome;
        }
    }
    if (Status s = putOwnMeta(); !s) {
        outcome.status = s;
        return outcome;
    }
    if (m_republish)
        if (Status s = putMeta(QStringLiteral("republish"), QString()); !s) {
            outcome.status = s;
            return outcome;
        }
    if (m_carried)
        if (Status s = putMeta(QStringLiteral("carried"), QString()); !s) {
            outcome.status = s;
            return outcome;
        }
    if (Status s = t.commit(); !s) {
        outcome.status = s;
        return outcome;
    }
    m_republish = false;
    m_carried = false;
    if (m_config.ageRuleDeletes)
        m_config.ageRuleDeletes->forget(agedHere);
    if (m_journalRecords > m_config.compactAfterRecords) {
        outcome.status = compact();
        outcome.compacted = outcome.status.ok();
    }
    return outcome;
}

QList<SyncRecord> SyncEngine::heldFromFormer(EntityKind entity, const QUuid& id)
{
    QList<SyncRecord> held;
    const QStringList own = ownIds();
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT device, record FROM pending WHERE entity = ? AND id = ? AND why = 'ahead'"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    while (st->step())
        if (st->text(0) != ownName() && own.contains(st->text(0)))
            if (Result<SyncRecord> record = decodeRecord(st->blob(1)))
                held.append(std::move(record).value());
    return held;
}

Status SyncEngine::appendRecords(const QList<SyncRecord>& records, Outcome& outcome)
{
    QByteArray bytes;
    for (const SyncRecord& record : records) {
        bytes += encodeRecord(record);
        bytes += '\n';
    }
    const QString name = SyncFiles::journalName(m_generation);
    if (Status s = m_ownDir.append(name, bytes); !s) {
        // A full disk may have taken part of it: cut back to the last whole record, so the next
        // attempt starts on a line of its own. Nothing of it counts as published.
        (void)m_ownDir.truncate(name, m_journalEnd);
        return s;
    }
    m_journalEnd += bytes.size();
    m_journalRecords += records.size();
    m_journalTail = tailText(encodeRecord(records.last()) + '\n');
    outcome.written += int(records.size());
    return {};
}

Status SyncEngine::compact()
{
    // The last record of each row from our own snapshot and journal make the next snapshot.
    std::map<Key, SyncRecord> latest;
    QList<Key> order;
    for (const QString& name : {SyncFiles::snapshotName(m_generation), SyncFiles::journalName(m_generation)}) {
        Result<QByteArray> bytes = m_ownDir.read(name, std::numeric_limits<qint64>::max());
        if (isMissing(bytes))
            continue;
        if (!bytes)
            return bytes.status();
        const JournalChunk chunk = readJournal(bytes.value(), 0, 0, m_config.device);
        for (const auto& entry : chunk.records) {
            const Key key {entityCode(entry.record.entity), entry.record.id};
            if (!latest.count(key))
                order.append(key);
            latest[key] = entry.record;
        }
    }
    QByteArray snapshot;
    QSet<QString> images;
    for (const Key& key : order) {
        const SyncRecord& record = latest[key];
        snapshot += encodeRecord(record);
        snapshot += '\n';
        if (!record.imageHash.isEmpty())
            images.insert(record.imageHash);
    }
    const qint64 next = m_generation + 1;
    if (Status s = m_ownDir.write(SyncFiles::snapshotName(next), snapshot); !s)
        return s;
    if (Status s = m_ownDir.write(SyncFiles::journalName(next), {}); !s)
        return s;
    Manifest m;
    m.generation = next;
    m.incarnation = m_incarnation;
    m.writer = m_writer;
    m.snapshotKnown = true;
    m.snapshotBytes = snapshot.size();
    m.snapshotSha256 = QCryptographicHash::hash(snapshot, QCryptographicHash::Sha256).toHex();
    if (Status s = putMeta(QStringLiteral("snapshotWritten"), snapshotWritten(m)); !s)
        return s;
    if (Status s = writeOwnManifest(m); !s)
        return s;
    (void)m_ownDir.remove(SyncFiles::snapshotName(m_generation));
    (void)m_ownDir.remove(SyncFiles::journalName(m_generation));
    m_generation = next;
    m_journalRecords = 0;
    m_journalEnd = 0;
    m_journalTail.clear();
    if (Result<SyncDir> imageDir = m_ownDir.folder(QString::fromLatin1(SyncFiles::imagesName), false))
        for (const QString& name : imageDir->entries(SyncDir::Kind::file))
            if (!images.contains(name.chopped(4)))
                (void)imageDir->remove(name);
    return putOwnMeta();
}

} // namespace lumra::sync
