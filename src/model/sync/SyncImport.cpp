#include "model/sync/SyncEngineParts.h"

#include <QCryptographicHash>
#include <QScopeGuard>

#include <algorithm>

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

// ------------------------------------------------------------------------------------------------ import

namespace {

// The last whole line before `end` in `bytes` (which holds a file from some offset on), as the
// writer's own tail check takes it; empty when no line ends there.
QString lineBefore(const QByteArray& bytes, qint64 end)
{
    if (end <= 0 || end > bytes.size() || bytes[end - 1] != '\n')
        return {};
    const qsizetype start = end >= 2 ? bytes.lastIndexOf('\n', end - 2) + 1 : 0;
    return tailText(QByteArrayView(bytes).sliced(start, end - start));
}

// What a cursor at the start of a journal keeps of the snapshot read before it: the same
// generation may be written again with another snapshot (its computer restored with its folder).
QString snapshotRead(const Manifest& manifest)
{
    return QStringLiteral("snapshot ") + QString::fromLatin1(manifest.snapshotSha256);
}

} // namespace

SyncEngine::Outcome SyncEngine::importChanges(qint64 nowMs)
{
    Outcome outcome;
    m_now = nowMs;
    if (!m_devicesDir.isOpen() || !m_rootDir.isOpen())
        if (Status s = openFolders(false); !s) {
            outcome.status = s;
            return outcome;
        }
    if (Status s = settleClock(nowMs); !s) {
        outcome.status = s;
        return outcome;
    }
    retryPending(nowMs, outcome);
    if (m_readBack) {
        if (Status s = putCursor(m_config.device, *m_readBack); !s) {
            outcome.status = s;
            return outcome;
        }
        m_readBack.reset();
        if (Status s = importDevice(m_config.device, nowMs, outcome); !s)
            outcome.problems.append(QStringLiteral("our own folder: %1").arg(s.error()));
        // Waiting on a file of our own folder: read on from where it stopped at the next pass.
        if (m_stalls.contains(ownName()))
            m_readBack = cursor(m_config.device);
    } else {
        m_stalls.remove(ownName()); // nothing of our own folder is awaited any more (made again since)
    }
    QStringList present;
    for (const QUuid& device : SyncFiles::devices(m_devicesDir)) {
        if (device == m_config.device)
            continue;
        const QString name = uuidText(device);
        const qsizetype before = outcome.problems.size();
        bool empty = false;
        const Status s = importDevice(device, nowMs, outcome, &empty);
        // A folder emptied of its files counts as gone: a file-sync tool that carries the removal
        // of a folder's files (a restore took them away) may leave the folder itself behind.
        if (!empty)
            present << name;
        if (!s) {
            outcome.problems.append(QStringLiteral("device %1: %2").arg(name, s.error()));
            m_unreadable.insert(name, s.error()); // as long as it lasts, not once per pass
        } else {
            m_unreadable.remove(name);
        }
        // Each refused record once, by where it lies, for as long as its folder is there as read.
        for (const QString& problem : outcome.problems.mid(before)) {
            const QString place = problem.section(QStringLiteral(": "), 0, 1);
            if (!place.startsWith(QStringLiteral("device %1 line ").arg(name)))
                continue;
            sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR REPLACE INTO refused(device, place, reason) VALUES(?, ?, ?)"));
            st->bind(1, name);
            st->bind(2, place);
            st->bind(3, problem.section(QStringLiteral(": "), 2));
            st->step();
        }
    }
    // A folder read before that is gone (removed, or a restore took it away) took its records
    // with it: what we learnt from it goes out again, and it is read from its start should it return.
    {
        QStringList vanished;
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT device FROM cursor"));
        while (st->step())
            if (st->text(0) != uuidText(m_config.device) && !present.contains(st->text(0)))
                vanished << st->text(0);
        for (const QString& device : std::as_const(vanished)) {
            outcome.notices.append(QStringLiteral("device %1: its folder is gone; what it held goes out again from here").arg(device));
            sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM cursor WHERE device = ?"));
            drop->bind(1, device);
            drop->step();
            if (Status s = republishAll(); !s) {
                outcome.status = s;
                return outcome;
            }
        }
    }
    // What was refused of a folder that is gone, or awaited in it, no longer applies.
    for (auto it = m_unreadable.begin(); it != m_unreadable.end();)
        it = present.contains(it.key()) ? std::next(it) : m_unreadable.erase(it);
    for (auto it = m_stalls.begin(); it != m_stalls.end();)
        it = present.contains(it.key()) || it.key() == ownName() ? std::next(it) : m_stalls.erase(it);
    {
        QStringList gone;
        sql::Statement* st = m_state.prepare(QStringLiteral(
            "SELECT key FROM meta WHERE key LIKE 'clockAhead:%' OR key LIKE 'clockSeen:%' OR key LIKE 'lastStamp:%'"));
        while (st->step())
            if (!present.contains(st->text(0).section(u':', 1)))
                gone << st->text(0);
        for (const QString& key : std::as_const(gone)) {
            sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM meta WHERE key = ?"));
            drop->bind(1, key);
            drop->step();
        }
    }
    {
        QStringList gone;
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT DISTINCT device FROM refused"));
        while (st->step())
            if (!present.contains(st->text(0)))
                gone << st->text(0);
        for (const QString& device : std::as_const(gone))
            if (Status s = forgetRefused(device); !s && outcome.status)
                outcome.status = s;
    }
    if (Status s = putFloor(); !s)
        outcome.status = s;
    if (Status s = nameAhead(nowMs); !s && outcome.status)
        outcome.status = s;
    if (Status s = publishClock(nowMs); !s && outcome.status)
        outcome.status = s;
    return outcome;
}

Status SyncEngine::publishClock(qint64 nowMs)
{
    const QString said = meta(QStringLiteral("clockPublished"));
    const qint64 at = said.toLongLong();
    if ((!said.isEmpty() && nowMs >= at && nowMs - at < std::min(clockRepublishMs, m_config.maxClockAheadMs / 4)) || !m_ownDir.isOpen())
        return {};
    Result<std::optional<Manifest>> manifest = SyncFiles::readManifest(m_ownDir);
    if (!manifest || !manifest.value())
        return {};
    return writeOwnManifest(*manifest.value());
}

Status SyncEngine::noteClockPublished(const QUuid& device, qint64 clock, qint64 nowMs)
{
    const QString key = QStringLiteral("clockSeen:") + uuidText(device);
    const QString seen = meta(key);
    if (clock <= 0 || seen.section(u' ', 0, 0).toLongLong() == clock)
        return {}; // nothing new: how far behind it was stays as read when it was
    // Read for the first time, a clock may be old only because its computer is off: the next one counts.
    const qint64 behind = seen.isEmpty() ? 0 : nowMs - clock;
    return putMeta(key, QStringLiteral("%1 %2 %3").arg(clock).arg(behind).arg(nowMs));
}

Status SyncEngine::nameAhead(qint64 nowMs)
{
    const Health h = health(nowMs);
    QStringList ahead = h.clocksAhead.keys();
    // Every writer we hold records of as ahead, a former id of ours too though no status names it:
    // a clone's original may still speak under the id we shared, and stamps them again only once told.
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT DISTINCT device FROM pending WHERE why = 'ahead' AND device <> ?"));
    st->bind(1, ownName());
    while (st->step())
        ahead << st->text(0);
    // A former id whose far records we dropped for its successor to stamp again is named too (that
    // is what tells the successor to), though no status names it: until our clock reaches them.
    QStringList expired;
    st = m_state.prepare(QStringLiteral("SELECT key, value FROM meta WHERE key LIKE 'goneAhead:%'"));
    while (st->step())
        (st->text(1).toLongLong() > clockBound(nowMs) ? ahead : expired) << st->text(0).section(u':', 1);
    for (const QString& device : std::as_const(expired)) {
        sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM meta WHERE key = ?"));
        drop->bind(1, QStringLiteral("goneAhead:") + device);
        drop->step();
        if (!drop->status())
            return drop->status();
    }
    // So is a writer whose latest record we took while our clock ran ahead with it: no status names
    // it (nothing is held), yet a reader whose clock is right holds that record.
    const QStringList own = ownIds();
    st = m_state.prepare(QStringLiteral("SELECT key, value FROM meta WHERE key LIKE 'lastStamp:%'"));
    while (st->step())
        if (st->text(1).toLongLong() > clockBound(nowMs) && !own.contains(st->text(0).section(u':', 1)))
            ahead << st->text(0).section(u':', 1);
    ahead.sort();
    ahead.removeDuplicates();
    const QString named = ahead.join(u' ');
    // With them goes our clock's bound: what they stamped within it is not what we hold, and they
    // do not stamp it again (our clock may be the one behind). Said again once our clock is set
    // back below it, or has gone on by more than the bound: a bound said long ago asks too much.
    const qint64 said = meta(QStringLiteral("aheadFrom")).toLongLong();
    const bool moved = !ahead.isEmpty() && (clockBound(nowMs) < said || clockBound(nowMs) - said > m_config.maxClockAheadMs);
    const QString namedBefore = meta(QStringLiteral("aheadNamed"));
    if ((named == namedBefore && !moved) || !m_ownDir.isOpen())
        return {};
    Result<std::optional<Manifest>> manifest = SyncFiles::readManifest(m_ownDir);
    if (!manifest || !manifest.value())
        return {};
    if (Status s = putMeta(QStringLiteral("aheadNamed"), named); !s)
        return s;
    if (Status s = putMeta(QStringLiteral("aheadFrom"), QString::number(clockBound(nowMs))); !s)
        return s;
    // Written from what the state says: should the write fail (a full disk), the state says again
    // what the manifest does, and the next pass tries again.
    Status written = writeOwnManifest(*manifest.value());
    if (!written) {
        (void)putMeta(QStringLiteral("aheadNamed"), namedBefore);
        (void)putMeta(QStringLiteral("aheadFrom"), QString::number(said));
    }
    return written;
}

void SyncEngine::noteWriterClock(const QUuid& device, qint64 stamp, qint64 nowMs)
{
    // Kept whatever our clock says now: taken while ours ran ahead with it, it is judged again once ours is right.
    (void)putMeta(QStringLiteral("lastStamp:") + uuidText(device), QString::number(stamp));
    const QString key = QStringLiteral("clockAhead:") + uuidText(device);
    if (stamp > clockBound(nowMs)) {
        m_seenAhead = std::max(m_seenAhead, stamp);
        (void)putMeta(key, QStringLiteral("%1 %2").arg(stamp).arg(stamp - nowMs));
    } else {
        sql::Statement* st = m_state.prepare(QStringLiteral("DELETE FROM meta WHERE key = ?"));
        st->bind(1, key);
        st->step();
    }
}

void SyncEngine::stall(const QUuid& device, const QString& what, qint64 nowMs)
{
    const QString key = uuidText(device);
    if (m_stalls.value(key).first != what)
        m_stalls.insert(key, {what, nowMs});
}

Status SyncEngine::importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome, bool* empty)
{
    Result<SyncDir> dirResult = m_devicesDir.folder(uuidText(device), false);
    if (!dirResult)
        return dirResult.status();
    const SyncDir dir = std::move(dirResult).value();
    Result<std::optional<Manifest>> manifestResult = SyncFiles::readManifest(dir);
    if (!manifestResult || !manifestResult.value()) {
        // Not there yet, or still being written: nothing of this folder is read until it is. A
        // folder with nothing published in it (its computer never got as far) is no wait at all.
        bool published = !manifestResult;
        for (const QString& name : dir.entries(SyncDir::Kind::file))
            published = published || ((name.startsWith(u"journal-") || name.startsWith(u"snapshot-")) && dir.size(name).value_or(0) > 0);
        if (published) {
            stall(device, QString::fromLatin1(SyncFiles::manifestName), nowMs);
        } else {
            m_stalls.remove(uuidText(device));
            if (empty)
                *empty = true;
        }
        return {};
    }
    const Manifest manifest = *manifestResult.value();
    if (!manifest.former.isEmpty())
        if (Status s = supersede(manifest.former); !s)
            return s;
    // What a former id of ours stamped beyond the bound, while no other computer's stamps lie there
    // too, is what this computer made while its clock ran ahead: taken as made now, and so published.
    const QStringList own = ownIds();
    const bool formerSelf = device != m_config.device && own.contains(uuidText(device));
    m_readingFormerSelf = formerSelf;
    const auto notFormer = qScopeGuard([this] { m_readingFormerSelf = false; });
    const bool gone = superseded().contains(uuidText(device));
    if (!formerSelf && !gone && device != m_config.device)
        if (Status s = noteClockPublished(device, manifest.clock, nowMs); !s)
            return s;
    std::optional<std::optional<qint64>> limit; // looked up once, when a record needs it
    // None: older than what we stamped again of that row, so already overtaken here.
    auto restampedIfOurs = [&](const SyncRecord& record) -> std::optional<SyncRecord> {
        if (!formerSelf || record.mtime <= clockBound(nowMs))
            return record;
        if (!limit)
            limit = restampLimit(own, nowMs);
        if (!*limit || record.mtime <= **limit)
            return record;
        if (overtaken(record))
            return std::nullopt;
        return restamped(record, nextStamp(nowMs), **limit);
    };
    Cursor at = cursor(device).value_or(Cursor {});
    const Cursor start {manifest.incarnation, manifest.generation, false, 0, 0, false, {}};
    if (at.incarnation != manifest.incarnation || at.generation > manifest.generation) {
        const bool older = at.incarnation == manifest.incarnation;
        if (older) {
            // An older generation of the same folder: its computer was restored together with the
            // folder. Read from its start; what we learnt from the lost generation goes out again.
            outcome.notices.append(QStringLiteral("device %1 went back to an older generation of its folder: read again from the start")
                                       .arg(uuidText(device)));
        }
        if (older || !at.incarnation.isEmpty()) {
            // Or a new incarnation of the folder: what we learnt from the one before may be in it no
            // more (its computer was restored, or made it again), so it goes out again too.
            if (Status s = readAgain(device, at, start); !s)
                return s;
        } else {
            at = start;
            if (Status s = forgetRefused(uuidText(device)); !s)
                return s;
            if (Status s = dropHeld(device); !s)
                return s;
        }
    } else if (at.generation < manifest.generation) {
        at = start; // compacted meanwhile: its snapshot holds all
    } else if (at.inJournal && at.offset == 0 && manifest.snapshotKnown && at.prefix.startsWith(u"snapshot ")
               && at.prefix != snapshotRead(manifest)) {
        // The generation we read, with another snapshot: its computer was restored together with its
        // folder and compacted again. What the lost snapshot held may be nowhere else.
        outcome.notices.append(QStringLiteral("device %1: %2 was rewritten after it was read: read again from the start")
                                   .arg(uuidText(device), SyncFiles::snapshotName(at.generation)));
        if (Status s = readAgain(device, at, start); !s)
            return s;
    }

    std::optional<SyncDir> images;
    if (Result<SyncDir> i = dir.folder(QString::fromLatin1(SyncFiles::imagesName), false))
        images = std::move(i).value();

    // Applies one batch in one store transaction, then records the rows' states and the cursor in
    // the state's transaction `t`, which holds what the batch noted meanwhile (records held, what
    // was stamped again, rows to publish again): all of it is kept, or none.
    auto commit = [&](sql::Transaction& t, const QList<Change>& changes, const Cursor& to) -> Status {
        clearBatchRows();
        if (Status s = m_batchWrites; !s) {
            m_context->rollback();
            return s;
        }
        if (Status s = m_context->save(); !s) {
            m_context->rollback();
            return s;
        }
        for (const Change& change : changes)
            if (Status s = putChange(change); !s)
                return s;
        if (Status s = putCursor(device, to); !s)
            return s;
        if (Status s = putFloor(); !s)
            return s;
        return t.commit();
    };

    for (int pass = 0; pass < 100000; ++pass) {
        QString name;
        std::optional<qint64> size;
        auto planted = [&] { return !size && dir.kind(name) == SyncDir::Kind::other; };
        if (!at.inJournal) {
            name = SyncFiles::snapshotName(at.generation);
            size = dir.size(name);
            if (planted())
                return Status::failure(name + QStringLiteral(" is a link or not a file: not read"));
            const bool none = manifest.snapshotKnown ? manifest.snapshotBytes < 0
                                                     : !size && dir.kind(name) == SyncDir::Kind::missing;
            if (none) {
                at = Cursor {at.incarnation, at.generation, true, 0, 0, false, {}};
                continue;
            }
            if (manifest.snapshotKnown && (!size || *size != manifest.snapshotBytes)) {
                // Named but not (all) there yet: wait for it rather than read on without it.
                stall(device, name, nowMs);
                return putCursor(device, at);
            }
        } else {
            name = SyncFiles::journalName(at.generation);
            size = dir.size(name);
            if (planted())
                return Status::failure(name + QStringLiteral(" is a link or not a file: not read"));
            if (!size) {
                stall(device, name, nowMs);
                return putCursor(device, at);
            }
        }
        if (at.offset > *size) {
            // Rewritten under us: read it again, and what we learnt from the lost part goes out again.
            if (Status s = readAgain(device, at, {at.incarnation, at.generation, at.inJournal, 0, 0, false, {}}); !s)
                return s;
            continue;
        }
        if (Status s = checkCursorPrefix(dir, name, at, outcome, device); !s)
            return s;

        // Complete lines from the cursor on; a line too long for any reader is skipped, and said so,
        // without reading it whole.
        qint64 want = m_config.readChunkBytes;
        Result<QByteArray> bytes = dir.read(name, want, at.offset);
        if (!bytes)
            return bytes.status();
        if (at.skipping) {
            const qsizetype end = bytes.value().indexOf('\n');
            if (end < 0) {
                at.offset += bytes.value().size();
                if (Status s = putCursor(device, at); !s)
                    return s;
                if (bytes.value().size() == want)
                    continue;
                return {};
            }
            at.offset += end + 1;
            at.line += 1;
            at.skipping = false;
            at.prefix.clear(); // too long to keep: the next line read is the first checked
            outcome.problems.append(problemLine(device, at.line, name + QStringLiteral(": record longer than %1 bytes, skipped")
                                                                         .arg(m_config.maxRecordBytes)));
            if (Status s = putCursor(device, at); !s)
                return s;
            continue;
        }
        while (bytes.value().size() == want && bytes.value().indexOf('\n') < 0) {
            if (want > m_config.maxRecordBytes) {
                at.skipping = true;
                at.prefix.clear();
                at.offset += bytes.value().size();
                break;
            }
            want = std::min(want * 4, m_config.maxRecordBytes + 1);
            bytes = dir.read(name, want, at.offset);
            if (!bytes)
                return bytes.status();
        }
        if (at.skipping) {
            if (Status s = putCursor(device, at); !s)
                return s;
            continue;
        }
        const JournalChunk chunk = readJournal(bytes.value(), 0, at.line, device, m_config.maxRecordBytes);
        m_stalls.remove(uuidText(device));

        for (qsizetype i = 0; i < chunk.records.size();) {
            const qsizetype batchEnd = std::min<qsizetype>(chunk.records.size(), i + applyBatch);
            QList<Change> changes;
            m_batchWrites = {};
            sql::Transaction t(m_state);
            if (!t.beginStatus())
                return t.beginStatus();
            // A batch given up leaves nothing of it in the store either.
            auto undo = qScopeGuard([this] {
                clearBatchRows();
                m_context->rollback();
            });
            for (; i < batchEnd; ++i) {
                const auto& entry = chunk.records[i];
                const QString where = problemLine(device, entry.line, name);
                const std::optional<SyncRecord> ours = restampedIfOurs(entry.record);
                const SyncRecord& record = ours ? *ours : entry.record;
                m_madeOverOurs = formerSelf && writtenAfterOurs(device, at, at.offset + entry.startOffset);
                Applied applied = ours ? applyRecord(images ? &*images : nullptr, record, outcome, where, changes) : Applied::skipped;
                m_madeOverOurs = false;
                if (applied == Applied::ahead && gone) {
                    if (Status s = noteGoneAhead(uuidText(device), entry.record.mtime); !s)
                        return s;
                    applied = Applied::skipped; // its successor publishes it again
                }
                if (applied != Applied::ahead)
                    raiseFloor(record.mtime, nowMs);
                // A later record of this device for the row replaces one still held.
                if (Status s = holdRecord(device, entry.record, applied); !s)
                    return s;
                if (applied == Applied::yes)
                    ++outcome.applied;
                const bool restampedHere = applied == Applied::yes && ours && ours->mtime != entry.record.mtime;
                if (restampedHere)
                    if (Status s = noteRestamp(*ours, entry.record.mtime, &changes); !s)
                        return s;
                // Stamped again here, it is known by that stamp nowhere else (readers hold or drop the
                // far one for us to publish again), wherever in our former folder it lay.
                if (restampedHere || (applied == Applied::yes && republishFromFormer(device, at, at.offset + entry.startOffset)))
                    if (Status s = republishRow({entityCode(entry.record.entity), entry.record.id}); !s)
                        return s;
            }
            const bool last = i >= chunk.records.size();
            const qint64 end = last ? chunk.nextOffset : chunk.records[i].startOffset;
            const Cursor to {at.incarnation, at.generation, at.inJournal, at.offset + end, last ? chunk.nextLine : chunk.records[i].line - 1,
                             false, end > 0 ? lineBefore(bytes.value(), end) : at.prefix};
            undo.dismiss();
            if (Status s = commit(t, changes, to); !s)
                return s;
        }
        // What the journal says last tells whether its writer's clock still runs ahead.
        if (at.inJournal && !chunk.records.isEmpty() && !own.contains(uuidText(device)) && !gone)
            noteWriterClock(device, chunk.records.last().record.mtime, nowMs);
        if (chunk.records.isEmpty() && chunk.nextOffset > 0)
            if (Status s = putCursor(device, Cursor {at.incarnation, at.generation, at.inJournal, at.offset + chunk.nextOffset,
                                                     chunk.nextLine, false, lineBefore(bytes.value(), chunk.nextOffset)});
                !s)
                return s;
        for (const auto& problem : chunk.problems)
            outcome.problems.append(problemLine(device, problem.line, name + QStringLiteral(": ") + problem.reason));

        if (chunk.nextOffset > 0)
            at.prefix = lineBefore(bytes.value(), chunk.nextOffset);
        at.offset += chunk.nextOffset;
        at.line = chunk.nextLine;
        if (bytes.value().size() == want && chunk.nextOffset > 0)
            continue; // more of this file than one read holds
        if (at.inJournal)
            return {};
        if (at.offset < *size) {
            stall(device, name, nowMs); // a snapshot ends with a whole line; this one is not all there
            return putCursor(device, at);
        }
        // The snapshot is read whole; on with its journal.
        at = Cursor {at.incarnation, at.generation, true, 0, 0, false, manifest.snapshotKnown ? snapshotRead(manifest) : QString()};
        if (Status s = putCursor(device, at); !s)
            return s;
    }
    return {};
}

void SyncEngine::retryPending(qint64 nowMs, Outcome& outcome)
{
    struct Waiting {
        QUuid device;
        SyncRecord record;
        bool forItsImage = true;
    };
    // Tried again only where what held a record can have changed: a stamp ahead once our clock's
    // bound reaches it; a record waiting for its image once a file came into an images folder (and
    // now and then, for a file completed where it lies); one our age rule removes once the rules
    // changed or our clock went back. A held record otherwise costs a pass nothing.
    const QByteArray images = imageFoldersStamp();
    const bool imagesDue = !m_heldRetry.done || images != m_heldRetry.images || nowMs < m_heldRetry.imagesAt
        || nowMs - m_heldRetry.imagesAt >= heldImageRecheckMs;
    const bool agedDue = !m_heldRetry.done || m_heldRetry.rules != m_ageRules || nowMs < m_heldRetry.now;
    m_heldRetry.done = true;
    m_heldRetry.now = nowMs;
    m_heldRetry.rules = m_ageRules;
    m_heldRetry.images = images;
    if (imagesDue) {
        m_heldRetry.imagesAt = nowMs;
        m_partialImages.clear(); // the tries below name again those still not all there
    }

    QList<Waiting> waiting;
    const QStringList own = ownIds();
    std::optional<std::optional<qint64>> limit;
    // Records of a former id of ours held for their stamp may be stamped again (below): tried each pass.
    QString formerIds;
    for (const QString& id : own)
        if (id != ownName() && !parseUuid(id).isNull())
            formerIds += (formerIds.isEmpty() ? QStringLiteral("'") : QStringLiteral(",'")) + uuidText(parseUuid(id)) + u'\'';
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "SELECT device, record, why FROM pending WHERE (why = 'ahead' AND (stamp <= ?1 OR device IN (%1))) OR (why = 'age' AND ?2) "
        "OR ((why IS NULL OR why = 'image') AND ?3)").arg(formerIds));
    st->bind(1, clockBound(nowMs));
    st->bind(2, qint64(agedDue));
    st->bind(3, qint64(imagesDue));
    while (st->step()) {
        Result<SyncRecord> record = decodeRecord(st->blob(1));
        if (record)
            waiting.append({parseUuid(st->text(0)), std::move(record).value(), st->isNull(2) || st->text(2) == u"image"});
    }
    for (const Waiting& w : std::as_const(waiting)) {
        Result<SyncDir> dir = m_devicesDir.folder(uuidText(w.device), false);
        std::optional<SyncDir> images;
        if (dir)
            if (Result<SyncDir> i = dir->folder(QString::fromLatin1(SyncFiles::imagesName), false))
                images = std::move(i).value();
        if (!dir && isMissing(dir)) {
            sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM pending WHERE device = ?"));
            drop->bind(1, uuidText(w.device));
            drop->step();
            continue;
        }
        QList<Change> changes;
        // Whatever applying it notes (rows to publish again, what a delete was made after) goes
        // with the rest, or none of it does and the record is tried again.
        m_batchWrites = {};
        sql::Transaction t(m_state);
        if (!t.beginStatus()) {
            outcome.status = t.beginStatus();
            return;
        }
        SyncRecord record = w.record;
        if (w.device != m_config.device && own.contains(uuidText(w.device)) && record.mtime > clockBound(nowMs)) {
            // Held from a former id of ours (see importDevice).
            if (!limit)
                limit = restampLimit(own, nowMs);
            if (*limit && record.mtime > **limit)
                record = restamped(record, nextStamp(nowMs), **limit);
        }
        const Applied applied = record.mtime != w.record.mtime && overtaken(w.record)
            ? Applied::skipped
            : applyRecord(images ? &*images : nullptr, record, outcome, problemLine(w.device, 0, QStringLiteral("waiting record")), changes);
        clearBatchRows();
        if (applied == Applied::wait || applied == Applied::ahead || applied == Applied::aged) {
            Status s = holdRecord(w.device, w.record, applied); // the reason may have changed
            if (s)
                s = m_batchWrites;
            if (s)
                s = t.commit();
            if (!s) {
                m_context->rollback();
                outcome.status = s;
                return;
            }
            continue;
        }
        raiseFloor(record.mtime, nowMs);
        if (Status s = m_batchWrites; !s) {
            m_context->rollback();
            outcome.status = s;
            return;
        }
        if (Status s = m_context->save(); !s) {
            m_context->rollback();
            outcome.status = s;
            return;
        }
        // The row's states, the floor they raised, what was stamped again and the record leaving the
        // queue go together; on a failure none of them does, and the record is tried again (applying
        // it twice changes nothing).
        const Status noted = [&]() -> Status {
            for (const Change& change : std::as_const(changes))
                if (Status s = putChange(change); !s)
                    return s;
            if (applied == Applied::yes && record.mtime != w.record.mtime)
                if (Status s = noteRestamp(record, w.record.mtime); !s)
                    return s;
            sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM pending WHERE device = ? AND entity = ? AND id = ?"));
            drop->bind(1, uuidText(w.device));
            drop->bind(2, qint64(entityCode(w.record.entity)));
            drop->bind(3, uuidText(w.record.id));
            drop->step();
            if (Status s = drop->status(); !s)
                return s;
            if (applied == Applied::yes && (w.device == m_config.device || !w.forItsImage || !cursor(w.device))) {
                // Ours, from the files of a folder made again: they are gone, so it travels again. So
                // does one held for its stamp or our age rule: its writer's files may have been
                // rewritten (a restore) or gone meanwhile. And one whose writer's folder went while
                // it waited for its image: what that folder held went out again without it.
                if (Status s = republishRow({entityCode(w.record.entity), w.record.id}); !s)
                    return s;
            }
            if (Status s = putFloor(); !s)
                return s;
            return t.commit();
        }();
        if (!noted) {
            outcome.status = noted;
            return;
        }
        if (applied == Applied::yes)
            ++outcome.applied;
    }
}

QByteArray SyncEngine::imageFoldersStamp()
{
    QByteArray stamp;
    QStringList partial = m_partialImages.values();
    partial.sort();
    for (const QUuid& device : SyncFiles::devices(m_devicesDir))
        if (Result<SyncDir> dir = m_devicesDir.folder(uuidText(device), false)) {
            stamp += dir->stamp(QString::fromLatin1(SyncFiles::imagesName));
            // A file found not all there may be completed where it lies, which leaves its folder as it was.
            if (partial.isEmpty())
                continue;
            if (Result<SyncDir> images = dir->folder(QString::fromLatin1(SyncFiles::imagesName), false))
                for (const QString& name : std::as_const(partial))
                    stamp += images->stamp(name);
        }
    return stamp;
}

Status SyncEngine::holdRecord(const QUuid& device, const SyncRecord& record, Applied applied)
{
    const bool held = applied == Applied::wait || applied == Applied::ahead || applied == Applied::aged;
    // A delete held in place of the same writer's put held before it: the put is kept aside for it,
    // until a later put of that writer's takes the place of both.
    if (record.op == SyncRecord::Op::put) {
        if (Status s = forgetHeldUnder(record); !s)
            return s;
    } else if (applied == Applied::ahead) {
        sql::Statement* st = m_state.prepare(
            QStringLiteral("SELECT record FROM pending WHERE device = ? AND entity = ? AND id = ? AND why = 'ahead'"));
        st->bind(1, uuidText(device));
        st->bind(2, qint64(entityCode(record.entity)));
        st->bind(3, uuidText(record.id));
        const QByteArray before = st->step() ? st->blob(0) : QByteArray();
        if (Status s = st->status(); !s)
            return s;
        st->reset();
        if (Result<SyncRecord> put = decodeRecord(before); put && put->op == SyncRecord::Op::put) {
            sql::Statement* keep = m_state.prepare(
                QStringLiteral("INSERT OR REPLACE INTO heldUnderDelete(device, entity, id, record) VALUES(?, ?, ?, ?)"));
            keep->bind(1, uuidText(record.device));
            keep->bind(2, qint64(entityCode(record.entity)));
            keep->bind(3, uuidText(record.id));
            keep->bind(4, before);
            keep->step();
            if (Status s = keep->status(); !s)
                return s;
        }
    }
    sql::Statement* st = m_state.prepare(
        held ? QStringLiteral("INSERT OR REPLACE INTO pending(device, entity, id, record, why, stamp) VALUES(?, ?, ?, ?, ?, ?)")
             : QStringLiteral("DELETE FROM pending WHERE device = ? AND entity = ? AND id = ?"));
    st->bind(1, uuidText(device));
    st->bind(2, qint64(entityCode(record.entity)));
    st->bind(3, uuidText(record.id));
    if (held) {
        st->bind(4, encodeRecord(record));
        st->bind(5, applied == Applied::ahead ? QStringLiteral("ahead") : applied == Applied::aged ? QStringLiteral("age") : QStringLiteral("image"));
        st->bind(6, record.mtime);
    }
    st->step();
    return st->status();
}

Status SyncEngine::dropHeld(const QUuid& device)
{
    // Read again from the start, the folder holds again whatever of it is still there.
    for (const QString& sql :
         {QStringLiteral("DELETE FROM pending WHERE device = ?"), QStringLiteral("DELETE FROM heldUnderDelete WHERE device = ?")}) {
        sql::Statement* st = m_state.prepare(sql);
        st->bind(1, uuidText(device));
        st->step();
        if (Status s = st->status(); !s)
            return s;
    }
    return {};
}

Status SyncEngine::forgetHeldUnder(const SyncRecord& record)
{
    sql::Statement* st
        = m_state.prepare(QStringLiteral("DELETE FROM heldUnderDelete WHERE device = ? AND entity = ? AND id = ?"));
    st->bind(1, uuidText(record.device));
    st->bind(2, qint64(entityCode(record.entity)));
    st->bind(3, uuidText(record.id));
    st->step();
    return st->status();
}

std::optional<SyncRecord> SyncEngine::takeHeldUnder(const SyncRecord& remove)
{
    sql::Statement* st
        = m_state.prepare(QStringLiteral("SELECT record FROM heldUnderDelete WHERE device = ? AND entity = ? AND id = ?"));
    st->bind(1, uuidText(remove.device));
    st->bind(2, qint64(entityCode(remove.entity)));
    st->bind(3, uuidText(remove.id));
    std::optional<SyncRecord> put;
    if (st->step())
        if (Result<SyncRecord> r = decodeRecord(st->blob(0)))
            put = std::move(r).value();
    st->reset();
    checkBatchWrite(forgetHeldUnder(remove));
    if (!put)
        return std::nullopt;
    // Made before the delete: by its stamp once our clock reached it, else just below the delete
    // when that was stamped again from no earlier than the put.
    if (put->mtime <= clockBound(m_now))
        return put;
    if (remove.before >= put->mtime)
        return restamped(*put, remove.mtime - 1, remove.mtime - 1);
    return std::nullopt;
}

Status SyncEngine::forgetRefused(const QString& device)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("DELETE FROM refused WHERE device = ?"));
    st->bind(1, device);
    st->step();
    return st->status();
}

Status SyncEngine::republishAll()
{
    m_republish = true;
    return putMeta(QStringLiteral("republish"), QStringLiteral("1"));
}

Status SyncEngine::republishRow(const Key& key)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR IGNORE INTO republish(entity, id) VALUES(?, ?)"));
    st->bind(1, qint64(key.first));
    st->bind(2, uuidText(key.second));
    st->step();
    return st->status();
}

Status SyncEngine::checkCursorPrefix(const SyncDir& dir, const QString& name, Cursor& at, Outcome& outcome, const QUuid& device)
{
    // What lies before the cursor must still be what we read there: a computer restored together
    // with its folder writes other records from an earlier point on, perhaps to the same length.
    const qsizetype colon = at.prefix.indexOf(u':');
    if (at.offset == 0 || colon < 0)
        return {};
    const qint64 length = at.prefix.mid(colon + 1).toLongLong();
    if (length <= 0 || length > at.offset)
        return {};
    Result<QByteArray> last = dir.read(name, length, at.offset - length);
    if (!last)
        return last.status();
    if (last.value().size() == length && tailText(last.value()) == at.prefix)
        return {};
    outcome.notices.append(QStringLiteral("device %1: %2 was rewritten before where it was read to: read again from the start")
                               .arg(uuidText(device), name));
    return readAgain(device, at, {at.incarnation, at.generation, at.inJournal, 0, 0, false, {}});
}

Status SyncEngine::readAgain(const QUuid& device, Cursor& at, const Cursor& from)
{
    // Kept at once and as one: a folder we then cannot read on (a link planted in it) must not be
    // found rewritten again, and all we hold published again, at every pass.
    sql::Transaction t(m_state);
    if (!t.beginStatus())
        return t.beginStatus();
    if (Status s = forgetRefused(uuidText(device)); !s)
        return s;
    if (Status s = dropHeld(device); !s)
        return s;
    if (Status s = republishAll(); !s)
        return s;
    if (Status s = putCursor(device, from); !s)
        return s;
    if (Status s = t.commit(); !s)
        return s;
    at = from;
    return {};
}

Result<QByteArray> SyncEngine::imageOf(const SyncDir* images, const QString& hash, Outcome& outcome, const QString& where, bool* wait)
{
    using R = Result<QByteArray>;
    const QString name = SyncFiles::imageName(hash);
    if (!images || images->kind(name) == SyncDir::Kind::missing) {
        if (std::optional<QByteArray> bytes = imageElsewhere(hash))
            return *bytes;
        *wait = true; // sync tools deliver files in any order
        return R::failure(QStringLiteral("missing"));
    }
    Result<QByteArray> bytes = images->read(name, m_config.maxImageBytes + 1);
    if (!bytes || bytes.value().size() > m_config.maxImageBytes) {
        outcome.problems.append(where + QStringLiteral(": image file unreadable or too large"));
        return R::failure(QStringLiteral("unreadable"));
    }
    if (QString::fromLatin1(QCryptographicHash::hash(bytes.value(), QCryptographicHash::Sha256).toHex()) != hash) {
        if (std::optional<QByteArray> whole = imageElsewhere(hash))
            return *whole; // the same image, whole in another folder
        *wait = true; // not all there yet, most likely
        m_partialImages.insert(name);
        return R::failure(QStringLiteral("partial"));
    }
    if (!isImage(bytes.value())) {
        outcome.problems.append(where + QStringLiteral(": image file is not an image"));
        return R::failure(QStringLiteral("not an image"));
    }
    return bytes;
}

std::optional<QByteArray> SyncEngine::imageElsewhere(const QString& hash)
{
    // An image file is named by the hash of its bytes: another folder's copy is the same image once
    // its bytes say so. It matters when the writer's copy is lost for good (a folder left behind
    // when its computer took a new id, whose images someone removed).
    const QString name = SyncFiles::imageName(hash);
    for (const QUuid& device : SyncFiles::devices(m_devicesDir)) {
        Result<SyncDir> dir = m_devicesDir.folder(uuidText(device), false);
        if (!dir)
            continue;
        Result<SyncDir> images = dir->folder(QString::fromLatin1(SyncFiles::imagesName), false);
        if (!images || images->kind(name) != SyncDir::Kind::file)
            continue;
        Result<QByteArray> bytes = images->read(name, m_config.maxImageBytes + 1);
        if (bytes && bytes.value().size() <= m_config.maxImageBytes
            && QString::fromLatin1(QCryptographicHash::hash(bytes.value(), QCryptographicHash::Sha256).toHex()) == hash
            && isImage(bytes.value()))
            return std::move(bytes).value();
    }
    return std::nullopt;
}

} // namespace lumra::sync
