#include "model/sync/SyncEngineParts.h"

#include <algorithm>

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

// ------------------------------------------------------------------------------------------------ merge

SyncEngine::Applied SyncEngine::applyRecord(const SyncDir* images, const SyncRecord& record, Outcome& outcome,
                                            const QString& where, QList<Change>& changes)
{
    const Key key {entityCode(record.entity), record.id};
    // What the writer put before its delete goes first, as where both were read at once: should the
    // delete lose to a later change here, the row lives on with it. Where the put cannot go in now (its
    // image is not here yet), the delete alone decides, as it did before the put was kept.
    if (record.op == SyncRecord::Op::remove && record.ageRule.isEmpty() && record.mtime <= clockBound(m_now))
        if (const std::optional<SyncRecord> put = takeHeldUnder(record))
            if (const std::optional<RowState> state = stateInBatch(key, changes); state && !state->deleted)
                applyRecord(images, *put, outcome, where, changes);
    std::optional<RowState> known = stateInBatch(key, changes);
    store::ManagedObjectPtr row = m_batchRows.value(key);
    if (!row || row->isDeleted())
        row = m_context->fetchById(record.entity, record.id);
    if (row && row->store() != m_cloudStore) {
        outcome.problems.append(where + QStringLiteral(": the row is kept on this computer only"));
        return Applied::skipped;
    }
    auto republish = [&] { checkBatchWrite(republishRow(key)); };

    const QStringList& names = mergedFields(record.entity);
    QJsonObject current;
    QString currentImage;
    QByteArray digest;
    QList<quint64> currentHashes;
    bool localChange = false;
    QList<FieldState> knownFields;
    if (row) {
        current = fieldsOfRow(*row, &currentImage);
        currentHashes = fieldHashes(record.entity, current, currentImage);
        digest = contentDigest(current, currentImage);
        if (!known && record.op == SyncRecord::Op::put && record.mtime <= clockBound(m_now)
            && digest == contentDigest(record.fields, record.imageHash)) {
            // Never published from here, yet just as this record has it: a restored or cloned copy
            // of what was published. It takes the record's stamps, so that what followed the record
            // (a delete) still applies, rather than going out again as made now.
            const QList<quint64> recordHashes = fieldHashes(record.entity, record.fields, record.imageHash);
            RowState state;
            state.digest = digest;
            state.mtime = record.mtime;
            for (qsizetype i = 0; i < names.size(); ++i)
                state.fields.append({record.stampOf(names[i]), hash32(recordHashes[i])});
            changes.append({key, state, farStampsOf(key, record, changes)});
            return Applied::yes;
        }
        // Made here and not published yet: it is stamped later when it is. Unless this is what our
        // former id published of it: then the row is as a restore took it back, older than that.
        const bool restoredUnpublished = !known && m_readingFormerSelf;
        if ((!known || known->deleted) && !restoredUnpublished)
            return Applied::skipped;
        if (restoredUnpublished) {
            known = RowState {digest, 0, false, false, {}};
            for (qsizetype i = 0; i < names.size(); ++i)
                known->fields.append({0, hash32(currentHashes[i])});
        }
        knownFields = known->fields;
        if (knownFields.size() != names.size()) {
            // A state kept before fields merged: the row as published, every field at its time.
            knownFields.clear();
            for (qsizetype i = 0; i < names.size(); ++i)
                knownFields.append({known->mtime, known->digest == digest ? hash32(currentHashes[i]) : 0u});
        }
        for (qsizetype i = 0; i < names.size(); ++i)
            localChange = localChange || knownFields[i].hash != hash32(currentHashes[i]);
        // A delete read by a copy of this history (a clone, a restore) before it published what it
        // carried: that was made before the copy, and is weighed at the stamps it goes out with.
        if (localChange && m_carried && record.op == SyncRecord::Op::remove && !restoredUnpublished && known->fields.size() == names.size()) {
            for (qsizetype i = 0; i < names.size(); ++i)
                if (const quint32 h = hash32(currentHashes[i]); knownFields[i].hash != h) {
                    knownFields[i] = {changeStamp(knownFields[i].stamp), h};
                    known->mtime = std::max(known->mtime, knownFields[i].stamp);
                }
            localChange = false;
        }
    }

    // Another computer's clock may be wrong by years: what it stamped further ahead of ours than
    // the bound waits until our clock comes near, rather than winning over everything here.
    const bool ahead = record.mtime > clockBound(m_now);
    const bool ageRule = record.op == SyncRecord::Op::remove && !record.ageRule.isEmpty();
    if (record.op == SyncRecord::Op::remove) {
        // An age rule's delete is its writer's clock and rule speaking: here it counts only where
        // our own rule, by our own clock, removes the row too. Otherwise the row lives, and goes
        // out again so that its writer has it back once its own rule no longer removes it.
        if (ageRule && row && !ageRuleRemoves(current, ageRules(), m_now, m_config.rowAges->madeAt(record.id))) {
            if (known && !known->deleted)
                republish();
            return Applied::skipped;
        }
        if (ahead)
            return Applied::ahead;
        if (!row) {
            if (known && !known->deleted)
                return Applied::skipped; // deleted here, not published yet
            if (known && known->mtime >= record.mtime)
                return Applied::yes;
            // Deleted here by a user's delete already: an age rule's later one does not make it a row
            // that may live again.
            const bool userDeleted = known && known->deleted && !known->ageRule;
            changes.append({key, RowState {userDeleted ? known->digest : record.held, record.mtime, true, ageRule && !userDeleted, {}}});
            noteMadeAfter(record);
            return Applied::yes;
        }
        // Unless what is newer was only stamped again here after a clock ran far ahead, from no later
        // than the delete's own stamp before, or is just what the delete's writer held (another copy
        // of the row published as new): then the delete was made last, and goes out above both.
        // A change here that our former self held when it deleted the row is older than the delete.
        const bool newerHere = localChange && !m_madeOverOurs;
        const bool overtook = !newerHere && known->mtime > record.mtime && !ageRule
            && ((!record.held.isEmpty() && record.held == digest)
                || madeBeforeDelete(record.entity, record.id, knownFields, record.mtime, record.before));
        if (!overtook && (newerHere || known->mtime > record.mtime)) {
            republish(); // something of the row is newer than the delete: the row lives, everywhere
            return Applied::skipped;
        }
        m_context->deleteObject(row);
        changes.append({key, RowState {record.held, overtook ? std::min(known->mtime + 1, latestMtime) : record.mtime, true, ageRule, {}}});
        noteMadeAfter(record);
        if (overtook)
            republish();
        return Applied::yes;
    }
    if (ahead)
        return Applied::ahead;

    const QList<quint64> recordHashes = fieldHashes(record.entity, record.fields, record.imageHash);
    if (!row) {
        if (known && !known->deleted)
            return Applied::skipped; // deleted here, not published yet: that delete is stamped later
        if (known && known->deleted && !known->ageRule && record.mtime > known->mtime
            && ((!known->digest.isEmpty() && known->digest == contentDigest(record.fields, record.imageHash))
                || deleteFollows(record, known->mtime))) {
            // Just what the delete was made over, published as new by another holder of a copy, or
            // stamped again after a clock ran far ahead as it was before the delete: it stays
            // deleted, and the delete goes out above it.
            changes.append({key, RowState {known->digest, std::min(record.mtime + 1, latestMtime), true, false, {}}});
            republish();
            return Applied::skipped;
        }
        bool revived = false;
        if (known && known->deleted && record.mtime <= known->mtime) {
            if (!known->ageRule)
                return Applied::yes; // older than the delete
            // Removed by an age rule, here or elsewhere, and kept by its writer: it lives again here
            // once our own rule no longer removes it (our clock was ahead, and is right again).
            if (ageRuleRemoves(record.fields, ageRules(), m_now, madeAt(record)))
                return Applied::aged;
            revived = true;
        }
        QByteArray image;
        if (!record.imageHash.isEmpty()) {
            bool wait = false;
            Result<QByteArray> bytes = imageOf(images, record.imageHash, outcome, where, &wait);
            if (wait)
                return Applied::wait;
            if (!bytes)
                return Applied::skipped;
            image = std::move(bytes).value();
        }
        RowState state;
        state.digest = contentDigest(record.fields, record.imageHash);
        state.mtime = record.mtime;
        for (qsizetype i = 0; i < names.size(); ++i)
            state.fields.append({record.stampOf(names[i]), hash32(recordHashes[i])});
        if (mergeDuplicate(record, state, changes))
            return Applied::yes;
        row = m_context->insert(record.entity, m_cloudStore);
        row->set(0, record.id);
        m_batchRows.insert(key, row); // not found by a fetch until saved
        applyFields(*row, record.fields);
        if (record.entity == EntityKind::item) {
            row->setReceivedDate(receivedDate(record.id, record.stampOf(QStringLiteral("dateAdded"))));
            noteBatchText(row);
            row->setValue(store::ItemAttr::imageData, image.isEmpty() ? sql::Value() : sql::Value(image));
        }
        changes.append({key, state, farStampsOf(key, record, changes)});
        // Alive here though an age rule elsewhere removed it: it goes out again, so that the rule's
        // computer has it back once its own rule no longer removes it.
        if (revived)
            republish();
        return Applied::yes;
    }

    // Field by field: the later wins, equal go to the greater value's hash; a field changed here and
    // not published yet wins (it is stamped later than anything read). A value stamped again after a
    // clock ran far ahead, here or by its writer, stands where it stood before, and so do the changes
    // made on it since, after it: the same on every computer whatever it read first, and whoever
    // stamped it again when.
    QJsonObject merged = current;
    QString mergedImage = currentImage;
    RowState state;
    state.fields = knownFields;
    bool changed = false;
    bool oursKept = localChange;
    const std::optional<Restamp> again = farStamps(key, changes);
    std::optional<Restamp> far = again;
    bool farChanged = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const quint32 mine = hash32(currentHashes[i]);
        const qint64 theirStamp = record.stampOf(names[i]);
        const FieldState& ours = knownFields[i];
        const std::pair<qint64, qint64> ourOrder = again ? again->orderOf(names[i], ours.stamp) : std::pair(ours.stamp, qint64(0));
        const std::pair<qint64, qint64> theirOrder = orderOf(record, names[i]);
        if (knownFields[i].hash != mine) {
            // Kept over this value: a change a copy of this history carried goes out right after
            // what it changed (changeStamp), so it must stand on this one.
            if (m_carried && theirOrder > ourOrder) {
                // Just what this record has: the copy carried it unpublished, and the record published
                // it, so it is no change made here and what followed the record stands over it.
                state.fields[i] = {theirStamp, hash32(recordHashes[i]) == mine ? mine : ours.hash};
                farChanged = takeFarStamp(far, record, names[i], theirStamp) || farChanged;
            }
            continue;
        }
        const quint32 theirs = hash32(recordHashes[i]);
        const bool later = theirOrder > ourOrder || (theirOrder == ourOrder && theirs > ours.hash);
        if (later) {
            state.fields[i] = {theirStamp, theirs};
            farChanged = takeFarStamp(far, record, names[i], theirStamp) || farChanged;
            if (theirs != mine) {
                changed = true;
                if (names[i] == QLatin1String(imageField))
                    mergedImage = record.imageHash;
                else if (record.fields.contains(names[i]))
                    merged.insert(names[i], record.fields.value(names[i]));
                else
                    merged.remove(names[i]);
            }
        } else if (theirs != mine) {
            oursKept = true;
        }
    }
    if (changed) {
        if (mergedImage != currentImage && !mergedImage.isEmpty()) {
            bool wait = false;
            Result<QByteArray> bytes = imageOf(images, mergedImage, outcome, where, &wait);
            if (wait)
                return Applied::wait;
            if (!bytes)
                return Applied::skipped;
            row->setValue(store::ItemAttr::imageData, sql::Value(bytes.value()));
        } else if (mergedImage.isEmpty() && record.entity == EntityKind::item) {
            row->setValue(store::ItemAttr::imageData, sql::Value());
        }
        applyFields(*row, merged);
        if (record.entity == EntityKind::item && m_batchRows.value(key) == row)
            noteBatchText(row);
    }
    for (const FieldState& f : std::as_const(state.fields))
        state.mtime = std::max(state.mtime, f.stamp);
    // With a change made here still to publish, the digest must not say the row is as published.
    state.digest = localChange ? QByteArray() : contentDigest(merged, mergedImage);
    changes.append({key, state, farChanged ? far : std::nullopt});
    if (oursKept)
        republish();
    return changed ? Applied::yes : Applied::skipped;
}

std::optional<SyncEngine::RowState> SyncEngine::stateInBatch(const Key& key, const QList<Change>& changes)
{
    // A row earlier in the same batch is not in the state yet.
    for (qsizetype i = changes.size() - 1; i >= 0; --i)
        if (changes[i].key == key)
            return changes[i].state;
    return rowState(entityFromCode(key.first), key.second);
}

std::optional<SyncEngine::Restamp> SyncEngine::farStamps(const Key& key, const QList<Change>& changes)
{
    for (qsizetype i = changes.size() - 1; i >= 0; --i)
        if (changes[i].key == key && changes[i].far)
            return changes[i].far;
    return restampOf(entityFromCode(key.first), key.second);
}

std::pair<qint64, qint64> SyncEngine::orderOf(const SyncRecord& record, const QString& field)
{
    const qint64 stamp = record.stampOf(field);
    if (!record.was.contains(field))
        return {stamp, 0};
    return {record.was.value(field), record.after.value(field)};
}

bool SyncEngine::takeFarStamp(std::optional<Restamp>& far, const SyncRecord& record, const QString& field, qint64 stamp)
{
    // The value taken is the record's: where it stood before it was stamped again goes with it, or nothing.
    if (record.was.contains(field)) {
        if (!far)
            far = Restamp {};
        far->set(field, orderOf(record, field), stamp);
        return true;
    }
    return far && far->drop(field);
}

void SyncEngine::placeChange(std::optional<Restamp>& far, const QString& field, qint64 before, qint64 stamp,
                             const QList<SyncRecord>& madeBefore)
{
    // Made here on a value that stands no earlier than this stamp (stamped again from far ahead, or
    // at the last stamp readers accept): it stands right after it. Else its stamp says where.
    std::pair<qint64, qint64> was = far ? far->orderOf(field, before) : std::pair(before, qint64(0));
    // What a former self of ours wrote before a restore or a clone took it back, held until a clock
    // says how far ahead it was stamped, was made before anything done here since, however far.
    for (const SyncRecord& held : madeBefore)
        if (held.op == SyncRecord::Op::put)
            was = std::max(was, orderOf(held, field));
    if (was.first >= stamp) {
        if (!far)
            far = Restamp {};
        far->set(field, {was.first, was.second + 1}, stamp);
    } else if (far) {
        far->drop(field);
    }
}

std::optional<SyncEngine::Restamp> SyncEngine::farStampsOf(const Key& key, const SyncRecord& record, const QList<Change>& changes)
{
    std::optional<Restamp> far = farStamps(key, changes);
    bool changed = false;
    for (const QString& name : mergedFields(record.entity))
        changed = takeFarStamp(far, record, name, record.stampOf(name)) || changed;
    return changed ? far : std::nullopt;
}

bool SyncEngine::madeBeforeDelete(EntityKind entity, const QUuid& id, const QList<FieldState>& fields, qint64 stamp, qint64 before)
{
    // Each field stamped above the delete must have stood no later than it: one we stamped again
    // where it stood before, one still stamped far ahead (no clock right then could) as it is.
    if (before <= 0)
        return false;
    const std::optional<Restamp> again = restampOf(entity, id);
    const QStringList& names = mergedFields(entity);
    for (qsizetype i = 0; i < fields.size() && i < names.size(); ++i) {
        if (fields[i].stamp <= stamp)
            continue;
        const bool restamped = again && fields[i].stamp == again->givenTo(names[i]) && again->was.contains(names[i]);
        if (restamped ? again->was.value(names[i]) > before : fields[i].stamp > before || fields[i].stamp <= clockBound(stamp))
            return false;
    }
    return true;
}

bool SyncEngine::deleteFollows(const SyncRecord& put, qint64 deleted)
{
    // The same test from the other side: the delete is here, and says what it was made after.
    const std::optional<Restamp> again = restampOf(put.entity, put.id);
    if (!again || again->before <= 0)
        return false;
    for (const QString& name : mergedFields(put.entity)) {
        const qint64 s = put.stampOf(name);
        if (s <= deleted)
            continue;
        if (put.was.contains(name) ? put.was.value(name) > again->before : s > again->before || s <= clockBound(deleted))
            return false;
    }
    return true;
}

void SyncEngine::noteMadeAfter(const SyncRecord& remove)
{
    // A delete made after its row stood far ahead: kept with the tombstone, so that a put from then,
    // held until now or stamped again elsewhere, stays older than it here too.
    if (remove.before > 0 && remove.ageRule.isEmpty())
        checkBatchWrite(noteRestamp(remove, remove.before));
}

namespace {

bool isMergeableText(const QJsonObject& fields)
{
    return !fields.value(QStringLiteral("textContent")).toString().isEmpty()
        && fields.value(QStringLiteral("contentType")).toString(QStringLiteral("text")) == u"text"
        && !fields.value(QStringLiteral("isTrashed")).toBool();
}

} // namespace

std::optional<SyncEngine::Copy> SyncEngine::storedCopy(const store::ManagedObjectPtr& row, const QList<Change>& changes)
{
    // A row as stamped; a change made here and not published yet is the latest of all. None for a
    // row made here and never published: it is merged when it is, or comes back from elsewhere.
    const QUuid id = *row->uuid(store::ItemAttr::id);
    const std::optional<RowState> known = stateInBatch({entityCode(EntityKind::item), id}, changes);
    if (!known || known->deleted)
        return std::nullopt;
    Copy copy {id, {}, {}, row, farStamps({entityCode(EntityKind::item), id}, changes)};
    QString image;
    copy.fields = fieldsOfRow(*row, &image);
    const QList<quint64> hashes = fieldHashes(EntityKind::item, copy.fields, image);
    const QStringList& names = mergedFields(EntityKind::item);
    const bool hasFields = known->fields.size() == names.size();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool local = !hasFields || known->fields[i].hash != hash32(hashes[i]);
        const qint64 before = hasFields ? known->fields[i].stamp : known->mtime;
        const qint64 stamp = !local ? before : hasFields ? changeStamp(before) : freshStamp(before);
        copy.state.fields.append({stamp, hash32(hashes[i])});
        if (local && hasFields)
            placeChange(copy.far, names[i], before, stamp);
    }
    return copy;
}

SyncEngine::Copy SyncEngine::mergeCopies(const Copy& x, const Copy& y, QList<Change>& changes)
{
    // The same on every computer: the lesser id is kept, the other becomes a tombstone, and their
    // fields merge one by one. A star, tags or a comment set on either copy survives the other's
    // default; between two set values the later wins. The result is as new as the newer of the two.
    const bool xWins = uuidText(x.id) < uuidText(y.id);
    const Copy& winner = xWins ? x : y;
    const Copy& loser = xWins ? y : x;
    const QStringList& names = mergedFields(EntityKind::item);
    Copy merged = winner;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i] == QLatin1String(imageField) || names[i] == u"textContent" || names[i] == u"contentType")
            continue;
        const FieldState& w = winner.state.fields[i];
        const FieldState& l = loser.state.fields[i];
        const bool loserSet = loser.fields.contains(names[i]);
        const bool winnerSet = winner.fields.contains(names[i]);
        const std::pair<qint64, qint64> lo = loser.far ? loser.far->orderOf(names[i], l.stamp) : std::pair(l.stamp, qint64(0));
        const std::pair<qint64, qint64> wo = winner.far ? winner.far->orderOf(names[i], w.stamp) : std::pair(w.stamp, qint64(0));
        const bool takeLoser = loserSet != winnerSet ? loserSet : (lo > wo || (lo == wo && l.hash > w.hash));
        if (takeLoser) {
            // It goes out under the kept id, whose readers hold the kept copy's value: it stands after that.
            const qint64 stamp = std::max(l.stamp, w.stamp);
            const std::pair<qint64, qint64> order = lo > wo ? lo : stamp > wo.first ? std::pair(stamp, qint64(0)) : std::pair(wo.first, wo.second + 1);
            merged.state.fields[i] = {stamp, l.hash};
            if (order != std::pair(stamp, qint64(0))) {
                if (!merged.far)
                    merged.far = Restamp {};
                merged.far->set(names[i], order, stamp);
            } else if (merged.far) {
                merged.far->drop(names[i]);
            }
            if (loserSet)
                merged.fields.insert(names[i], loser.fields.value(names[i]));
            else
                merged.fields.remove(names[i]);
        }
    }
    merged.state.mtime = 0;
    for (const FieldState& f : std::as_const(merged.state.fields))
        merged.state.mtime = std::max(merged.state.mtime, f.stamp);
    merged.state.digest.clear(); // published again
    qint64 loserMtime = 0;
    for (const FieldState& f : loser.state.fields)
        loserMtime = std::max(loserMtime, f.stamp);

    if (loser.row)
        m_context->deleteObject(loser.row);
    if (!merged.row) {
        merged.row = m_context->insert(EntityKind::item, m_cloudStore);
        merged.row->set(store::ItemAttr::id, merged.id);
        static const qsizetype dateAdded = mergedFields(EntityKind::item).indexOf(QStringLiteral("dateAdded"));
        merged.row->setReceivedDate(receivedDate(merged.id, merged.state.fields.value(dateAdded).stamp));
        m_batchRows.insert({entityCode(EntityKind::item), merged.id}, merged.row);
    }
    applyFields(*merged.row, merged.fields);
    if (m_batchRows.value({entityCode(EntityKind::item), merged.id}) == merged.row)
        noteBatchText(merged.row);
    changes.append({{entityCode(EntityKind::item), merged.id}, merged.state, merged.far});
    changes.append({{entityCode(EntityKind::item), loser.id}, RowState {{}, loserMtime, true, false, {}}});
    for (const QUuid& again : {merged.id, loser.id})
        checkBatchWrite(republishRow({entityCode(EntityKind::item), again}));
    return merged;
}

bool SyncEngine::mergeDuplicate(const SyncRecord& record, RowState& state, QList<Change>& changes)
{
    // The same text copied on two computers while apart: met as the second copy arrives.
    using namespace store::ItemAttr;
    if (record.entity != EntityKind::item || !isMergeableText(record.fields))
        return false;
    const QString text = record.fields.value(QStringLiteral("textContent")).toString();
    store::FetchRequest request;
    request.entity = EntityKind::item;
    request.affectedStore = m_cloudStore;
    request.predicate = store::Predicate::eq(store::contentKeyColumn, store::contentKeyForText(text))
        && (store::Predicate::eq("isTrashed", false) || store::Predicate::isNull("isTrashed"));
    Result<QList<store::ManagedObjectPtr>> rows = m_context->fetch(request);
    if (!rows)
        return false;
    auto sameText = [&](const store::ManagedObjectPtr& row) {
        return !row->isDeleted() && row->uuid(id) != record.id && row->string(textContent).value_or(QString()) == text
            && row->string(contentType).value_or(QStringLiteral("text")) == u"text" && !row->boolean(isTrashed).value_or(false);
    };
    store::ManagedObjectPtr other;
    for (const store::ManagedObjectPtr& row : rows.value())
        if (sameText(row))
            other = row;
    // A copy made earlier in this batch (an earlier record, or a merge it kept) is no row of the
    // store until the batch is saved: missed, the copies would merge only where read in other batches.
    if (!other)
        for (const store::ManagedObjectPtr& row : m_batchTexts.values(text))
            if (sameText(row) && (!other || uuidText(*row->uuid(id)) < uuidText(*other->uuid(id))))
                other = row;
    if (!other)
        return false;
    const std::optional<Copy> stored = storedCopy(other, changes);
    if (!stored)
        return false;
    mergeCopies(Copy {record.id, record.fields, state, {}, farStampsOf({entityCode(EntityKind::item), record.id}, record, changes)}, *stored, changes);
    return true;
}

void SyncEngine::noteBatchText(const store::ManagedObjectPtr& row)
{
    // A text the row had earlier stays listed: the look-up checks the row's text as it is now.
    if (const std::optional<QString> text = row->string(store::ItemAttr::textContent); text && !text->isEmpty() && !m_batchTexts.contains(*text, row))
        m_batchTexts.insert(*text, row);
}

void SyncEngine::clearBatchRows()
{
    m_batchRows.clear();
    m_batchTexts.clear();
}

Result<QList<store::ManagedObjectPtr>> SyncEngine::mergeStoredDuplicates()
{
    // Copies of one text that are already rows here (both published before they met, or arrived
    // while one of them was not published yet) become one, by the same rule as above: every
    // computer holding both ends with the same row.
    using namespace store::ItemAttr;
    Result<QList<store::ManagedObjectPtr>> rows = cloudRows(EntityKind::item, std::nullopt);
    if (!rows)
        return rows;
    QHash<QString, QList<store::ManagedObjectPtr>> byText;
    bool any = false;
    for (const store::ManagedObjectPtr& row : rows.value()) {
        if (row->string(contentType).value_or(QStringLiteral("text")) != u"text" || row->boolean(isTrashed).value_or(false))
            continue;
        const QString text = row->string(textContent).value_or(QString());
        if (text.isEmpty())
            continue;
        QList<store::ManagedObjectPtr>& same = byText[text];
        same.append(row);
        any = any || same.size() > 1;
    }
    if (!any)
        return rows;
    QList<QList<store::ManagedObjectPtr>> groups;
    for (auto it = byText.cbegin(); it != byText.cend(); ++it)
        if (it.value().size() > 1)
            groups.append(it.value());
    QList<Change> changes;
    m_batchWrites = {};
    for (const QList<store::ManagedObjectPtr>& group : std::as_const(groups)) {
        QList<Copy> copies;
        for (const store::ManagedObjectPtr& row : group)
            if (std::optional<Copy> copy = storedCopy(row, {}))
                copies.append(*copy);
        // In id order, so that three or more copies fold the same way everywhere.
        std::sort(copies.begin(), copies.end(), [](const Copy& x, const Copy& y) { return uuidText(x.id) < uuidText(y.id); });
        for (qsizetype i = 1; i < copies.size(); ++i)
            copies[0] = mergeCopies(copies[0], copies[i], changes);
    }
    clearBatchRows();
    using R = Result<QList<store::ManagedObjectPtr>>;
    if (changes.isEmpty())
        return rows;
    if (Status s = m_batchWrites; !s) {
        m_context->rollback();
        return R::failure(s.error());
    }
    if (Status s = m_context->save(); !s) {
        m_context->rollback();
        return R::failure(s.error());
    }
    // The floor their stamps raised goes with them: the export that follows may fail before it keeps it.
    sql::Transaction t(m_state);
    for (const Change& change : std::as_const(changes))
        if (Status s = putChange(change); !s)
            return R::failure(s.error());
    if (Status s = putFloor(); !s)
        return R::failure(s.error());
    if (Status s = t.commit(); !s)
        return R::failure(s.error());
    return QList<store::ManagedObjectPtr>(); // changed: fetched again
}

} // namespace lumra::sync
