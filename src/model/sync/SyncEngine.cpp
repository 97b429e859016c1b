#include "model/sync/SyncEngineParts.h"

#include "platform/image/ImageDecoding.h"

#include <algorithm>
#include <limits>

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

namespace detail {

bool isImage(const QByteArray& bytes)
{
    // Only what every reader of a picture here accepts, within the decode bounds they keep; the
    // byte size has its own limit in the sync settings.
    image::DecodeLimits limits;
    limits.maxBytes = std::numeric_limits<qint64>::max();
    return image::readImageHeader(bytes, limits).ok();
}

} // namespace detail

namespace {

QString newSecret(const SyncFiles::NewId& source) { return QString::fromLatin1(SyncFiles::newId(source).toRfc4122().toHex().left(16)); }

} // namespace

SyncEngine::SyncEngine(Config config, std::unique_ptr<store::ManagedObjectContext> context, const store::PersistentStore* cloudStore)
    : m_config(std::move(config))
    , m_context(std::move(context))
    , m_cloudStore(cloudStore)
    , m_writer(newSecret(m_config.newId))
{
}

SyncEngine::~SyncEngine() = default;

qint64 SyncEngine::nextStamp(qint64 nowMs) const
{
    const qint64 stamp = std::max(nowMs, std::min(m_clockFloor + 1, clockBound(nowMs)));
    return std::clamp(stamp, earliestMtime, latestMtime);
}

QStringList SyncEngine::ownIds()
{
    return meta(QStringLiteral("formerIds")).split(u' ', Qt::SkipEmptyParts) << ownName();
}

std::optional<qint64> SyncEngine::namedAhead(const QStringList& own)
{
    // Which clock is wrong cannot be told from here: ours set back looks the same as ours behind.
    // Another computer that holds what we stamped, as ahead of its own clock, tells, and from
    // where: a stamp within its clock's bound is no stamp of ours that ran ahead.
    // A folder another names as its former self speaks no more: what it says is from then.
    std::optional<qint64> from;
    if (!m_devicesDir.isOpen())
        return from;
    const QStringList gone = superseded();
    // Unless a run that had not signed it then signs it since: its computer was restored together
    // with the folder, and speaks under that id again.
    for (const QUuid& device : SyncFiles::devices(m_devicesDir)) {
        if (own.contains(uuidText(device)))
            continue;
        Result<SyncDir> dir = m_devicesDir.folder(uuidText(device), false);
        if (!dir)
            continue;
        Result<std::optional<Manifest>> manifest = SyncFiles::readManifest(dir.value());
        if (gone.contains(uuidText(device))) {
            const QString signedThen = meta(QStringLiteral("goneWriter:") + uuidText(device));
            if (signedThen.isEmpty() || !manifest || !manifest.value() || manifest.value()->writer == signedThen)
                continue;
        }
        if (manifest && manifest.value())
            for (const QString& ahead : manifest.value()->ahead)
                if (own.contains(ahead))
                    from = std::min(from.value_or(latestMtime), manifest.value()->aheadFrom);
    }
    return from;
}

bool SyncEngine::overtaken(const SyncRecord& record)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT stamp FROM restamped WHERE entity = ? AND id = ?"));
    st->bind(1, qint64(entityCode(record.entity)));
    st->bind(2, uuidText(record.id));
    if (!st->step())
        return false;
    const qint64 stamp = st->int64(0);
    if (stamp == record.mtime && record.op == SyncRecord::Op::remove && record.ageRule.isEmpty()) {
        // A user's delete shares its stamp with the row only at the last stamp readers accept, where
        // it can go no higher than what it was made over: the tie goes to the delete, as everywhere.
        const std::optional<RowState> known = rowState(record.entity, record.id);
        return !known || known->deleted;
    }
    if (stamp != record.mtime || record.op != SyncRecord::Op::put)
        return stamp >= record.mtime;
    // At the same stamp (both at the last stamp readers accept, or a change a restored history carried
    // went out right after what it changed, where its former self had stamped one of its own), a field
    // of the record that stands after where it stood before we stamped it again, by the record's was or
    // by its far stamp as made, is not overtaken. A delete made here since is later than both.
    const std::optional<RowState> known = rowState(record.entity, record.id);
    if (!known || known->deleted)
        return true;
    const std::optional<Restamp> again = restampOf(record.entity, record.id);
    for (const QString& field : again ? mergedFields(record.entity) : QStringList())
        if (again->was.contains(field) && orderOf(record, field) > again->orderOf(field, again->givenTo(field)))
            return false;
    return true;
}

std::optional<SyncEngine::Restamp> SyncEngine::restampOf(EntityKind entity, const QUuid& id)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT at, was, stamp FROM restamped WHERE entity = ? AND id = ? AND at IS NOT NULL"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (!st->step())
        return std::nullopt;
    Restamp r;
    r.at = st->int64(0);
    r.before = st->int64(2);
    // "field=far", then "@given" where it was given another stamp than the row's latest, and
    // "+changes" where changes were made on it since.
    for (const QString& entry : st->text(1).split(u' ', Qt::SkipEmptyParts)) {
        const QString field = entry.section(u'=', 0, 0);
        QString value = entry.section(u'=', 1);
        const qint64 changes = value.contains(u'+') ? value.section(u'+', 1).toLongLong() : 0;
        value = value.section(u'+', 0, 0);
        const qint64 given = value.contains(u'@') ? value.section(u'@', 1).toLongLong() : r.at;
        r.set(field, {value.section(u'@', 0, 0).toLongLong(), changes}, given);
    }
    return r;
}

Status SyncEngine::noteRestamp(const SyncRecord& record, qint64 before, QList<Change>* changes)
{
    const Key key {entityCode(record.entity), record.id};
    if (record.op == SyncRecord::Op::remove) {
        Restamp gone;
        gone.at = record.mtime;
        gone.before = before;
        return putRestamp(key, gone);
    }
    if (record.was.isEmpty())
        return {};
    auto note = [&](Restamp& r) {
        for (auto it = record.was.cbegin(); it != record.was.cend(); ++it)
            r.set(it.key(), {it.value(), record.after.value(it.key())}, record.stampOf(it.key()));
    };
    // A change of the batch not kept yet, that says the row's far stamps, must say these too.
    for (qsizetype i = changes ? changes->size() - 1 : -1; i >= 0; --i)
        if ((*changes)[i].key == key) {
            if ((*changes)[i].far)
                note(*(*changes)[i].far);
            break;
        }
    Restamp r = restampOf(record.entity, record.id).value_or(Restamp {});
    note(r);
    r.before = before;
    return putRestamp(key, r);
}

Status SyncEngine::putRestamp(const Key& key, const Restamp& restamp)
{
    QStringList fields;
    for (auto it = restamp.was.cbegin(); it != restamp.was.cend(); ++it) {
        const qint64 given = restamp.givenTo(it.key());
        const qint64 changes = restamp.after.value(it.key());
        fields << it.key() + u'=' + QString::number(it.value()) + (given == restamp.at ? QString() : u'@' + QString::number(given))
                + (changes > 0 ? u'+' + QString::number(changes) : QString());
    }
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT INTO restamped(entity, id, stamp, at, was) VALUES(?, ?, ?, ?, ?) ON CONFLICT(entity, id) DO UPDATE SET "
        "stamp = MAX(stamp, excluded.stamp), at = excluded.at, was = excluded.was"));
    st->bind(1, qint64(key.first));
    st->bind(2, uuidText(key.second));
    st->bind(3, restamp.before);
    st->bind(4, restamp.at);
    st->bind(5, fields.join(u' '));
    st->step();
    return st->status();
}

Status SyncEngine::putChange(const Change& change)
{
    if (Status s = putRowState(entityFromCode(change.key.first), change.key.second, change.state); !s)
        return s;
    return change.far ? putRestamp(change.key, *change.far) : Status {};
}

QStringList SyncEngine::superseded()
{
    return meta(QStringLiteral("superseded")).split(u' ', Qt::SkipEmptyParts);
}

Status SyncEngine::supersede(const QStringList& former)
{
    const QStringList own = ownIds();
    QStringList known = superseded();
    const qsizetype before = known.size();
    for (const QString& device : former)
        if (!own.contains(device) && !known.contains(device))
            known.append(device);
    if (known.size() == before)
        return {};
    // What was held from them, and that they are superseded, go together: a half of it would
    // leave their records dropped with no one told to publish them again.
    sql::Transaction t(m_state);
    if (!t.beginStatus())
        return t.beginStatus();
    for (const QString& device : known.mid(before)) {
        // Its successor stamps them again only once told they are held as ahead: dropped, but still named.
        sql::Statement* held = m_state.prepare(QStringLiteral("SELECT MAX(stamp) FROM pending WHERE device = ? AND why = 'ahead'"));
        held->bind(1, device);
        const std::optional<qint64> stamp = held->step() && !held->isNull(0) ? std::optional(held->int64(0)) : std::nullopt;
        if (Status s = held->status(); !s)
            return s;
        held->reset();
        if (stamp)
            if (Status s = noteGoneAhead(device, *stamp); !s)
                return s;
        // Who signed its folder last, as it stops speaking.
        if (Result<SyncDir> dir = m_devicesDir.folder(device, false))
            if (Result<std::optional<Manifest>> manifest = SyncFiles::readManifest(dir.value()); manifest && manifest.value())
                if (Status s = putMeta(QStringLiteral("goneWriter:") + device, manifest.value()->writer); !s)
                    return s;
        for (const QString& sql : {QStringLiteral("DELETE FROM pending WHERE device = ? AND why = 'ahead'"),
                                   QStringLiteral("DELETE FROM meta WHERE key IN ('clockAhead:' || ?1, 'clockSeen:' || ?1, 'lastStamp:' || ?1)")}) {
            sql::Statement* st = m_state.prepare(sql);
            st->bind(1, device);
            st->step();
            if (Status s = st->status(); !s)
                return s;
        }
    }
    if (Status s = putMeta(QStringLiteral("superseded"), known.mid(std::max<qsizetype>(0, known.size() - 64)).join(u' ')); !s)
        return s;
    return t.commit();
}

std::optional<qint64> SyncEngine::restampLimit(const QStringList& own, qint64 nowMs)
{
    const std::optional<qint64> named = namedAhead(own);
    return named ? std::optional(std::max(clockBound(nowMs), *named)) : std::nullopt;
}

Status SyncEngine::settleClock(qint64 nowMs)
{
    const qint64 bound = clockBound(nowMs);
    {
        // The floor is the latest stamp held within the bound: after our clock was set back it comes
        // back within it, and a stamp taken just past the bound of an earlier pass counts once within.
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT MAX(mtime) FROM rowState WHERE mtime <= ?"));
        st->bind(1, bound);
        qint64 held = st->step() ? st->int64(0) : 0;
        if (m_clockFloor > bound)
            for (const qint64 step : std::as_const(m_floorSteps))
                if (step <= bound)
                    held = std::max(held, step);
        m_clockFloor = m_clockFloor > bound ? held : std::max(m_clockFloor, held);
        // What lies beyond stays evidence of how late it is, for the age rules.
        st = m_state.prepare(QStringLiteral("SELECT MAX(mtime) FROM rowState"));
        if (st->step())
            m_seenAhead = std::max(m_seenAhead, st->int64(0));
    }
    // Stamps beyond the bound, and beyond the bound of another computer that holds ours as ahead,
    // came from ours running ahead (or one we trusted while ours ran with it): left so, every reader
    // would hold them until its clock reached them. They are stamped again, as made now, and travel
    // again. Otherwise it may be our clock that runs behind, and what was stamped, here or
    // elsewhere, stands (a change made here is stamped above what it changes).
    const QStringList own = ownIds();
    QList<Key> far;
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id FROM rowState WHERE mtime > ?"));
    st->bind(1, bound);
    while (st->step())
        far.append({int(st->int64(0)), parseUuid(st->text(1))});
    const std::optional<qint64> farFrom = far.isEmpty() ? std::nullopt : restampLimit(own, nowMs);
    if (!farFrom)
        return {};
    const qint64 limit = *farFrom;
    const qint64 stamp = nextStamp(nowMs);
    sql::Transaction t(m_state);
    for (const Key& key : std::as_const(far)) {
        const EntityKind entity = entityFromCode(key.first);
        std::optional<RowState> state = rowState(entity, key.second);
        if (!state || state->mtime <= limit)
            continue;
        // What it was stamped before, so that an older record of ours from then is known as older,
        // and each field's stamp before, which keeps its order against what others stamp again.
        Restamp again = restampOf(entity, key.second).value_or(Restamp {});
        const QStringList& names = mergedFields(entity);
        for (qsizetype i = 0; i < state->fields.size() && i < names.size(); ++i)
            if (state->fields[i].stamp > limit)
                again.set(names[i], again.orderOf(names[i], state->fields[i].stamp), stamp);
        again.before = state->mtime;
        if (Status s = putRestamp(key, again); !s)
            return s;
        state->mtime = stamp;
        for (FieldState& f : state->fields) {
            if (f.stamp > limit)
                f.stamp = stamp;
            state->mtime = std::max(state->mtime, f.stamp);
        }
        if (Status s = putRowState(entity, key.second, *state); !s)
            return s;
        if (Status s = republishRow(key); !s)
            return s;
    }
    raiseFloor(stamp, nowMs);
    if (Status s = putFloor(); !s)
        return s;
    return t.commit();
}

Status SyncEngine::noteGoneAhead(const QString& device, qint64 stamp)
{
    const QString key = QStringLiteral("goneAhead:") + device;
    return stamp > meta(key).toLongLong() ? putMeta(key, QString::number(stamp)) : Status();
}

void SyncEngine::raiseFloor(qint64 stamp, qint64 nowMs)
{
    if (stamp > clockBound(nowMs) || stamp <= m_clockFloor)
        return; // a stamp further ahead is not trusted
    if (m_clockFloor > 0 && stamp - m_clockFloor > m_config.maxClockAheadMs) {
        m_floorSteps.append(m_clockFloor);
        if (m_floorSteps.size() > 16)
            m_floorSteps.removeFirst();
    }
    m_clockFloor = stamp;
}

Status SyncEngine::putFloor()
{
    QStringList steps;
    for (const qint64 step : std::as_const(m_floorSteps))
        steps << QString::number(step);
    if (Status s = putMeta(QStringLiteral("floorSteps"), steps.join(u' ')); !s)
        return s;
    return putMeta(QStringLiteral("clockFloor"), QString::number(m_clockFloor));
}

// ------------------------------------------------------------------------------------------------ state

namespace {

// Field stamps as the state keeps them: per field the distance below the row's latest stamp
// (a varint, mostly 0) and 32 bits of the value's hash.
QByteArray packFields(qint64 mtime, const QList<std::pair<qint64, quint32>>& fields)
{
    QByteArray out;
    out.reserve(fields.size() * 6);
    for (const auto& [stamp, hash] : fields) {
        quint64 delta = quint64(std::max<qint64>(0, mtime - stamp));
        do {
            const quint8 byte = quint8(delta & 0x7F);
            delta >>= 7;
            out.append(char(byte | (delta ? 0x80 : 0)));
        } while (delta);
        for (int i = 0; i < 4; ++i)
            out.append(char((hash >> (8 * i)) & 0xFF));
    }
    return out;
}

QList<std::pair<qint64, quint32>> unpackFields(qint64 mtime, const QByteArray& blob, qsizetype count)
{
    QList<std::pair<qint64, quint32>> fields;
    qsizetype at = 0;
    while (at < blob.size() && fields.size() < count) {
        quint64 delta = 0;
        int shift = 0;
        while (at < blob.size() && shift < 64) {
            const quint8 byte = quint8(blob[at++]);
            delta |= quint64(byte & 0x7F) << shift;
            shift += 7;
            if (!(byte & 0x80))
                break;
        }
        if (at + 4 > blob.size())
            return {};
        quint32 hash = 0;
        for (int i = 0; i < 4; ++i)
            hash |= quint32(quint8(blob[at++])) << (8 * i);
        fields.append({mtime - qint64(delta), hash});
    }
    return fields.size() == count ? fields : QList<std::pair<qint64, quint32>>();
}

} // namespace

Status SyncEngine::openState()
{
    if (m_state.isOpen())
        return {};
    if (Status s = m_state.open(m_config.stateFile); !s)
        return s;
    // Full: whether a record of ours was flushed must survive a power cut, or our own journal
    // would look written by someone else.
    if (Status s = m_state.exec(QStringLiteral("PRAGMA synchronous=FULL")); !s)
        return s;
    if (Status s = m_state.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS rowState(entity INTEGER NOT NULL, id TEXT NOT NULL, digest BLOB, "
            "mtime INTEGER NOT NULL, device TEXT NOT NULL, deleted INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS cursor(device TEXT PRIMARY KEY, generation INTEGER NOT NULL, inJournal INTEGER NOT NULL, "
            "offset INTEGER NOT NULL, line INTEGER NOT NULL);"
            "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
            "CREATE TABLE IF NOT EXISTS pending(device TEXT NOT NULL, entity INTEGER NOT NULL, id TEXT NOT NULL, "
            "record BLOB NOT NULL, PRIMARY KEY(device, entity, id)) WITHOUT ROWID;"
            // A put held for its stamp that the same writer's delete, held too, took the place of.
            "CREATE TABLE IF NOT EXISTS heldUnderDelete(device TEXT NOT NULL, entity INTEGER NOT NULL, "
            "id TEXT NOT NULL, record BLOB NOT NULL, PRIMARY KEY(device, entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS keptLocal(entity INTEGER NOT NULL, id TEXT NOT NULL, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS republish(entity INTEGER NOT NULL, id TEXT NOT NULL, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS restamped(entity INTEGER NOT NULL, id TEXT NOT NULL, stamp INTEGER NOT NULL, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS refused(device TEXT NOT NULL, place TEXT NOT NULL, reason TEXT, PRIMARY KEY(device, place)) WITHOUT ROWID;"
            // Every pass looks for rows stamped beyond the bound of our clock.
            "CREATE INDEX IF NOT EXISTS rowStateByTime ON rowState(mtime);"));
        !s)
        return s;
    Result<int> version = m_state.userVersion();
    if (!version)
        return version.status();
    if (version.value() < stateVersion) {
        // Fields of rows and where a reader stands in a line too long to read came later; then
        // deletes of the age rules, what lies before a cursor, and why a record is held.
        for (const QString& sql : {QStringLiteral("ALTER TABLE rowState ADD COLUMN fields BLOB"),
                                   QStringLiteral("ALTER TABLE cursor ADD COLUMN incarnation TEXT"),
                                   QStringLiteral("ALTER TABLE cursor ADD COLUMN skipping INTEGER NOT NULL DEFAULT 0"),
                                   QStringLiteral("ALTER TABLE rowState ADD COLUMN ageRule INTEGER NOT NULL DEFAULT 0"),
                                   QStringLiteral("ALTER TABLE cursor ADD COLUMN prefix TEXT"),
                                   QStringLiteral("ALTER TABLE pending ADD COLUMN why TEXT"),
                                   QStringLiteral("ALTER TABLE pending ADD COLUMN stamp INTEGER NOT NULL DEFAULT 0"),
                                   QStringLiteral("ALTER TABLE restamped ADD COLUMN at INTEGER"),
                                   QStringLiteral("ALTER TABLE restamped ADD COLUMN was TEXT"),
                                   QStringLiteral("ALTER TABLE rowState ADD COLUMN learnt INTEGER")})
            (void)m_state.exec(sql); // already there in a half-migrated file
        if (Status s = m_state.setUserVersion(stateVersion); !s)
            return s;
    }
    // Every pass picks the held records that may go in now by why and stamp; an export asks what
    // is held of each row it stamps.
    for (const QString& sql : {QStringLiteral("CREATE INDEX IF NOT EXISTS pendingByWhy ON pending(why, stamp)"),
                               QStringLiteral("CREATE INDEX IF NOT EXISTS pendingByRow ON pending(entity, id)")})
        if (Status s = m_state.exec(sql); !s)
            return s;
    return {};
}

Status SyncEngine::open(qint64 nowMs, Outcome* outcome)
{
    Outcome local;
    Outcome& out = outcome ? *outcome : local;
    if (!m_cloudStore)
        return Status::failure(QStringLiteral("the synced history file is not open"));
    if (Status s = openState(); !s)
        return s;
    m_now = nowMs;
    m_clockFloor = meta(QStringLiteral("clockFloor")).toLongLong();
    m_floorSteps.clear();
    for (const QString& step : meta(QStringLiteral("floorSteps")).split(u' ', Qt::SkipEmptyParts))
        m_floorSteps.append(step.toLongLong());
    if (m_clockFloor == 0) {
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT MAX(mtime) FROM rowState"));
        if (st->step())
            m_clockFloor = st->int64(0);
    }
    // A floor raised far ahead (by our own clock before it was put right, or by a record before
    // stamps were bounded) comes back within the bound, and so do the rows stamped there.
    if (Status s = settleClock(nowMs); !s)
        return s;
    if (meta(QStringLiteral("root")) != m_config.root) {
        // A new folder: read everyone from the start and publish all we hold.
        sql::Transaction t(m_state);
        for (const QString& sql : {QStringLiteral("DELETE FROM cursor"), QStringLiteral("DELETE FROM pending"),
                                   QStringLiteral("DELETE FROM heldUnderDelete"),
                                   QStringLiteral("DELETE FROM meta WHERE key IN ('incarnation', 'writers', 'journalEnd', 'generation')")})
            if (Status s = m_state.exec(sql); !s)
                return s;
        if (Status s = putMeta(QStringLiteral("root"), m_config.root); !s)
            return s;
        if (Status s = t.commit(); !s)
            return s;
        m_republish = true;
    }
    m_republish = m_republish || meta(QStringLiteral("republish")) == u"1";
    m_carried = meta(QStringLiteral("carried")) == u"1";
    // Beside the store and its sync state, so that a restore brings the three back as one.
    if (m_config.ageRuleDeletes && !m_config.storeFolder.isEmpty())
        m_config.ageRuleDeletes->keepIn(ageRuleLedgerPath(m_config.storeFolder));
    if (Status s = loadRowAges(); !s)
        return s;
    if (Status s = fillReceivedDates(); !s)
        out.notices.append(QStringLiteral("the dates synced rows were received could not be kept in the store: %1").arg(s.error()));
    return ensureOwnFolder(nowMs, out);
}

std::optional<SyncEngine::RowState> SyncEngine::rowState(EntityKind entity, const QUuid& id)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT digest, mtime, deleted, fields, ageRule FROM rowState WHERE entity = ? AND id = ?"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (!st->step())
        return std::nullopt;
    RowState state;
    state.digest = st->blob(0);
    state.mtime = st->int64(1);
    state.deleted = st->int64(2) != 0;
    state.ageRule = state.deleted && st->int64(4) != 0;
    if (!state.deleted)
        for (const auto& [stamp, hash] : unpackFields(state.mtime, st->blob(3), mergedFields(entity).size()))
            state.fields.append({stamp, hash});
    return state;
}

Status SyncEngine::putRowState(EntityKind entity, const QUuid& id, const RowState& state)
{
    raiseFloor(state.mtime, m_now); // no stamp taken later goes below what the state holds
    // When this history learned of the row stays as first kept, by the latest clock seen then.
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO rowState(entity, id, digest, mtime, device, deleted, fields, ageRule, learnt) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
        "COALESCE((SELECT learnt FROM rowState WHERE entity = ?1 AND id = ?2), ?9)) RETURNING learnt"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (state.digest.isEmpty())
        st->bindNull(3);
    else
        st->bind(3, state.digest);
    st->bind(4, state.mtime);
    st->bind(5, ownName());
    st->bind(6, qint64(state.deleted ? 1 : 0));
    if (state.deleted || state.fields.isEmpty()) {
        st->bindNull(7);
    } else {
        QList<std::pair<qint64, quint32>> fields;
        for (const FieldState& f : state.fields)
            fields.append({f.stamp, f.hash});
        st->bind(7, packFields(state.mtime, fields));
    }
    st->bind(8, qint64(state.deleted && state.ageRule ? 1 : 0));
    st->bind(9, learntNow());
    const qint64 learnt = st->step() ? st->int64(0) : 0;
    while (st->step()) {
    }
    const Status status = st->status();
    if (status && entity == EntityKind::item) {
        if (state.deleted)
            m_config.rowAges->forget(id);
        else
            noteRowAge(id, state.fields, learnt);
    }
    return status;
}

void SyncEngine::noteRowAge(const QUuid& id, const QList<FieldState>& fields, qint64 learnt)
{
    static const qsizetype dateAdded = mergedFields(EntityKind::item).indexOf(QStringLiteral("dateAdded"));
    m_config.rowAges->note(id, std::max(learnt, dateAdded < fields.size() ? fields[dateAdded].stamp : 0));
}

qint64 SyncEngine::learntNow() const { return std::max({m_now, m_clockFloor, std::min(m_seenAhead, m_now + ageEvidenceAheadMs)}); }

std::optional<qint64> SyncEngine::learntAt(EntityKind entity, const QUuid& id)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT learnt FROM rowState WHERE entity = ? AND id = ?"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    return st->step() ? std::optional<qint64>(st->int64(0)) : std::nullopt;
}

QDateTime SyncEngine::receivedDate(const QUuid& id, qint64 dateAddedStamp)
{
    return QDateTime::fromMSecsSinceEpoch(std::max(learntAt(EntityKind::item, id).value_or(learntNow()), dateAddedStamp), Qt::UTC);
}

qint64 SyncEngine::madeAt(const SyncRecord& record)
{
    return std::max(learntAt(record.entity, record.id).value_or(0), record.stampOf(QStringLiteral("dateAdded")));
}

Status SyncEngine::loadRowAges()
{
    sql::Statement* ahead = m_state.prepare(QStringLiteral("SELECT value FROM meta WHERE key LIKE 'clockAhead:%'"));
    while (ahead->step())
        m_seenAhead = std::max(m_seenAhead, ahead->text(0).section(u' ', 0, 0).toLongLong());
    const qsizetype count = mergedFields(EntityKind::item).size();
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT id, mtime, fields, learnt FROM rowState WHERE entity = ? AND deleted = 0"));
    st->bind(1, qint64(entityCode(EntityKind::item)));
    while (st->step()) {
        QList<FieldState> fields;
        for (const auto& [stamp, hash] : unpackFields(st->int64(1), st->blob(2), count))
            fields.append({stamp, hash});
        noteRowAge(parseUuid(st->text(0)), fields, st->int64(3));
    }
    if (st->status())
        m_config.rowAges->setLoaded();
    return st->status();
}

Status SyncEngine::fillReceivedDates()
{
    // Rows taken in before the store kept when (receivedDate) are given what rowAges says, once:
    // with sync off, the age rules have only the store to go by.
    const QString key = QStringLiteral("receivedDatesFilled");
    if (meta(key) == u"1")
        return {};
    sql::Database* store = m_context->database(m_cloudStore);
    if (!store)
        return {};
    sql::Transaction t(*store);
    QString error;
    sql::Statement* st = t.beginStatus() ? store->prepare(QStringLiteral(
        "UPDATE CDClipboardItem SET receivedDate = ?1 WHERE id = ?2 AND receivedDate IS NULL AND dateAdded < ?1"), &error) : nullptr;
    Status status = t.beginStatus();
    for (const auto& [id, madeMs] : m_config.rowAges->all()) {
        if (!st || !status)
            break;
        st->bind(1, store::toValue(QDateTime::fromMSecsSinceEpoch(madeMs, Qt::UTC)));
        st->bind(2, id.toRfc4122()); // ids are kept as their 16 bytes
        while (st->step()) {
        }
        status = st->status();
        st->reset();
    }
    if (!status)
        return status;
    if (!st)
        return Status::failure(error);
    if (Status s = t.commit(); !s)
        return s;
    return putMeta(key, QStringLiteral("1"));
}

QList<std::pair<EntityKind, QUuid>> SyncEngine::liveRowsOfState()
{
    QList<std::pair<EntityKind, QUuid>> rows;
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id FROM rowState WHERE deleted = 0"));
    while (st->step())
        rows.append({entityFromCode(st->int64(0)), parseUuid(st->text(1))});
    return rows;
}

std::optional<SyncEngine::Cursor> SyncEngine::cursor(const QUuid& device)
{
    sql::Statement* st = m_state.prepare(
        QStringLiteral("SELECT generation, inJournal, offset, line, incarnation, skipping, prefix FROM cursor WHERE device = ?"));
    st->bind(1, uuidText(device));
    if (!st->step())
        return std::nullopt;
    return Cursor {st->text(4), st->int64(0), st->int64(1) != 0, st->int64(2), st->int64(3), st->int64(5) != 0, st->text(6)};
}

Status SyncEngine::putCursor(const QUuid& device, const Cursor& c)
{
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO cursor(device, generation, inJournal, offset, line, incarnation, skipping, prefix) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
    st->bind(1, uuidText(device));
    st->bind(2, c.generation);
    st->bind(3, qint64(c.inJournal ? 1 : 0));
    st->bind(4, c.offset);
    st->bind(5, c.line);
    st->bind(6, c.incarnation);
    st->bind(7, qint64(c.skipping ? 1 : 0));
    st->bind(8, c.prefix);
    st->step();
    return st->status();
}

QString SyncEngine::meta(const QString& key)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT value FROM meta WHERE key = ?"));
    st->bind(1, key);
    return st->step() ? st->text(0) : QString();
}

Status SyncEngine::putMeta(const QString& key, const QString& value)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"));
    st->bind(1, key);
    st->bind(2, value);
    st->step();
    return st->status();
}

Status SyncEngine::putOwnMeta()
{
    for (const auto& [key, value] : {std::pair {QStringLiteral("incarnation"), m_incarnation},
                                     std::pair {QStringLiteral("generation"), QString::number(m_generation)},
                                     std::pair {QStringLiteral("journalEnd"), QString::number(m_journalEnd)},
                                     std::pair {QStringLiteral("journalRecords"), QString::number(m_journalRecords)},
                                     std::pair {QStringLiteral("journalTail"), m_journalTail}})
        if (Status s = putMeta(key, value); !s)
            return s;
    return putFloor();
}

} // namespace lumra::sync
