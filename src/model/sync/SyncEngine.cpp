#include "model/sync/SyncEngine.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>

#include <algorithm>
#include <limits>
#include <map>

namespace lumra::sync {

using store::EntityKind;

namespace {

constexpr int applyBatch = 2000;
constexpr int keptWriters = 32;
constexpr int stateVersion = 2;

int entityCode(EntityKind kind) { return kind == EntityKind::item ? 0 : 1; }
EntityKind entityFromCode(qint64 code) { return code == 0 ? EntityKind::item : EntityKind::category; }

QString problemLine(const QUuid& device, qint64 line, const QString& reason)
{
    return QStringLiteral("device %1 line %2: %3").arg(uuidText(device)).arg(line).arg(reason);
}

bool isImage(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    return reader.canRead() && size.isValid() && size.width() <= 30000 && size.height() <= 30000;
}

QString newSecret(const SyncFiles::NewId& source) { return QString::fromLatin1(SyncFiles::newId(source).toRfc4122().toHex().left(16)); }

quint32 hash32(quint64 h) { return quint32(h ^ (h >> 32)); }

// What the state remembers of the last line we appended: a hash and its length.
QString tailText(const QByteArray& line)
{
    return QString::number(fieldHash(QString::fromLatin1(line.toHex())), 16) + u':' + QString::number(line.size());
}

} // namespace

SyncEngine::SyncEngine(Config config, std::unique_ptr<store::ManagedObjectContext> context, const store::PersistentStore* cloudStore)
    : m_config(std::move(config))
    , m_context(std::move(context))
    , m_cloudStore(cloudStore)
    , m_writer(newSecret(m_config.newId))
{
}

SyncEngine::~SyncEngine() = default;

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
            "CREATE TABLE IF NOT EXISTS keptLocal(entity INTEGER NOT NULL, id TEXT NOT NULL, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS republish(entity INTEGER NOT NULL, id TEXT NOT NULL, PRIMARY KEY(entity, id)) WITHOUT ROWID;"));
        !s)
        return s;
    Result<int> version = m_state.userVersion();
    if (!version)
        return version.status();
    if (version.value() < stateVersion) {
        // Fields of rows and where a reader stands in a line too long to read came later.
        for (const QString& sql : {QStringLiteral("ALTER TABLE rowState ADD COLUMN fields BLOB"),
                                   QStringLiteral("ALTER TABLE cursor ADD COLUMN incarnation TEXT"),
                                   QStringLiteral("ALTER TABLE cursor ADD COLUMN skipping INTEGER NOT NULL DEFAULT 0")})
            (void)m_state.exec(sql); // already there in a half-migrated file
        if (Status s = m_state.setUserVersion(stateVersion); !s)
            return s;
    }
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
    m_clockFloor = meta(QStringLiteral("clockFloor")).toLongLong();
    if (m_clockFloor == 0) {
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT MAX(mtime) FROM rowState"));
        if (st->step())
            m_clockFloor = st->int64(0);
    }
    if (meta(QStringLiteral("root")) != m_config.root) {
        // A new folder: read everyone from the start and publish all we hold.
        sql::Transaction t(m_state);
        for (const QString& sql : {QStringLiteral("DELETE FROM cursor"), QStringLiteral("DELETE FROM pending"),
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
    return ensureOwnFolder(nowMs, out);
}

std::optional<SyncEngine::RowState> SyncEngine::rowState(EntityKind entity, const QUuid& id)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT digest, mtime, deleted, fields FROM rowState WHERE entity = ? AND id = ?"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (!st->step())
        return std::nullopt;
    RowState state;
    state.digest = st->blob(0);
    state.mtime = st->int64(1);
    state.deleted = st->int64(2) != 0;
    if (!state.deleted)
        for (const auto& [stamp, hash] : unpackFields(state.mtime, st->blob(3), mergedFields(entity).size()))
            state.fields.append({stamp, hash});
    return state;
}

Status SyncEngine::putRowState(EntityKind entity, const QUuid& id, const RowState& state)
{
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO rowState(entity, id, digest, mtime, device, deleted, fields) VALUES(?, ?, ?, ?, ?, ?, ?)"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (state.digest.isEmpty())
        st->bindNull(3);
    else
        st->bind(3, state.digest);
    st->bind(4, state.mtime);
    st->bind(5, uuidText(m_config.device));
    st->bind(6, qint64(state.deleted ? 1 : 0));
    if (state.deleted || state.fields.isEmpty()) {
        st->bindNull(7);
    } else {
        QList<std::pair<qint64, quint32>> fields;
        for (const FieldState& f : state.fields)
            fields.append({f.stamp, f.hash});
        st->bind(7, packFields(state.mtime, fields));
    }
    st->step();
    return st->status();
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
        QStringLiteral("SELECT generation, inJournal, offset, line, incarnation, skipping FROM cursor WHERE device = ?"));
    st->bind(1, uuidText(device));
    if (!st->step())
        return std::nullopt;
    return Cursor {st->text(4), st->int64(0), st->int64(1) != 0, st->int64(2), st->int64(3), st->int64(5) != 0};
}

Status SyncEngine::putCursor(const QUuid& device, const Cursor& c)
{
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO cursor(device, generation, inJournal, offset, line, incarnation, skipping) VALUES(?, ?, ?, ?, ?, ?, ?)"));
    st->bind(1, uuidText(device));
    st->bind(2, c.generation);
    st->bind(3, qint64(c.inJournal ? 1 : 0));
    st->bind(4, c.offset);
    st->bind(5, c.line);
    st->bind(6, c.incarnation);
    st->bind(7, qint64(c.skipping ? 1 : 0));
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
                                     std::pair {QStringLiteral("journalTail"), m_journalTail},
                                     std::pair {QStringLiteral("clockFloor"), QString::number(m_clockFloor)}})
        if (Status s = putMeta(key, value); !s)
            return s;
    return {};
}

// ------------------------------------------------------------------------------------------------ our folder

Status SyncEngine::openFolders(bool create)
{
    Result<SyncDir> root = SyncDir::openRoot(m_config.root, create);
    if (!root)
        return root.status();
    Result<SyncDir> devices = root->folder(QString::fromLatin1(SyncFiles::devicesName), create);
    if (!devices)
        return devices.status();
    m_rootDir = std::move(root).value();
    m_devicesDir = std::move(devices).value();
    return {};
}

Status SyncEngine::ensureOwnFolder(qint64 nowMs, Outcome& outcome)
{
    Q_UNUSED(nowMs);
    m_ownDir = SyncDir();
    // Reopened on every pass: the folder may have been removed, replaced or planted with links meanwhile.
    if (Status s = openFolders(true); !s)
        return s;
    const bool known = !meta(QStringLiteral("incarnation")).isEmpty();
    Result<SyncDir> own = m_devicesDir.folder(ownName(), false);
    if (!own) {
        if (isMissing(own))
            return recreateOwnFolder(outcome, known ? QStringLiteral("our device folder was removed") : QString());
        return recreateOwnFolder(outcome, QStringLiteral("our device folder was replaced (%1)").arg(own.error()));
    }
    m_ownDir = std::move(own).value();
    Result<std::optional<Manifest>> manifest = SyncFiles::readManifest(m_ownDir);
    if (!manifest || !manifest.value()) {
        // Only the manifest went (removed, or a link put in its place): write it again as it was, so
        // that our journal goes on where it is, and what it holds beyond the state (a restored
        // copy of this computer) is read back rather than thrown away with a new folder.
        std::optional<Manifest> again = known ? lastOwnManifest() : std::nullopt;
        if (!again)
            return recreateOwnFolder(outcome, known ? QStringLiteral("our manifest is missing or damaged") : QString());
        if (Status s = writeOwnManifest(*again); !s)
            return s;
        outcome.notices.append(QStringLiteral("our manifest was missing or damaged: wrote it again"));
        manifest = std::optional<Manifest>(*again);
    }
    const Manifest& m = *manifest.value();

    if (!known) {
        if (!meta(QStringLiteral("journalRecords")).isEmpty() && !m_republish) {
            // Written before folders carried an incarnation: ours, taken over as it stands.
            m_incarnation = m.incarnation.isEmpty() ? uuidText(SyncFiles::newId(m_config.newId)) : m.incarnation;
            m_generation = m.generation;
            m_journalEnd = m_ownDir.size(SyncFiles::journalName(m_generation)).value_or(0);
            m_journalRecords = meta(QStringLiteral("journalRecords")).toLongLong();
            bool foreign = false, remade = false;
            if (Status s = checkOwnJournal(outcome, &foreign, &remade); !s || remade)
                return s;
        } else {
            // Never written from here, yet there: another install made it (a cloned disk, or this
            // computer's state was lost).
            return takeNewDeviceId(outcome);
        }
    } else {
        m_incarnation = meta(QStringLiteral("incarnation"));
        QStringList writers = meta(QStringLiteral("writers")).split(u' ', Qt::SkipEmptyParts);
        if (m.incarnation != m_incarnation || !(writers.contains(m.writer) || m.writer == m_writer))
            return takeNewDeviceId(outcome);
        m_journalRecords = meta(QStringLiteral("journalRecords")).toLongLong();
        m_journalEnd = meta(QStringLiteral("journalEnd")).toLongLong();
        m_journalTail = meta(QStringLiteral("journalTail"));
        if (m.generation != meta(QStringLiteral("generation")).toLongLong()) {
            // Further than this state knows (a compaction whose state was lost, or a restored
            // copy of this computer's files): what the folder holds is read back like another
            // computer's, and applied where it is newer.
            m_generation = m.generation;
            m_journalEnd = 0;
            m_journalRecords = 0;
            m_journalTail.clear();
            m_readBack = Cursor {m_incarnation, m.generation, false, 0, 0, false};
        } else {
            m_generation = m.generation;
        }
        bool foreign = false, remade = false;
        // Made again: its new manifest is written, and the one read above must not be signed over it.
        if (Status s = checkOwnJournal(outcome, &foreign, &remade); !s || remade)
            return s;
        if (foreign)
            return takeNewDeviceId(outcome);
    }
    if (m.writer != m_writer) {
        // Sign the folder with this run's secret: a clone running beside us signs it with its own.
        QStringList writers = meta(QStringLiteral("writers")).split(u' ', Qt::SkipEmptyParts);
        writers.removeAll(m_writer);
        writers.append(m_writer);
        if (writers.size() > keptWriters)
            writers = writers.mid(writers.size() - keptWriters);
        if (Status s = putMeta(QStringLiteral("writers"), writers.join(u' ')); !s)
            return s;
        Manifest signed_ = m;
        signed_.incarnation = m_incarnation;
        signed_.writer = m_writer;
        if (Status s = writeOwnManifest(signed_); !s)
            return s;
    }
    return putOwnMeta();
}

Status SyncEngine::writeOwnManifest(const Manifest& m)
{
    if (Status s = SyncFiles::writeManifest(m_ownDir, m); !s)
        return s;
    const QString snapshot = m.snapshotBytes < 0 ? QString() : QString::number(m.snapshotBytes) + u':' + QString::fromLatin1(m.snapshotSha256);
    if (Status s = putMeta(QStringLiteral("manifestSnapshot"), snapshot); !s)
        return s;
    return putMeta(QStringLiteral("manifestGeneration"), QString::number(m.generation));
}

std::optional<Manifest> SyncEngine::lastOwnManifest()
{
    // Only while the files it names are still there as they were written.
    const qint64 generation = meta(QStringLiteral("manifestGeneration")).toLongLong();
    if (generation < 1 || generation != meta(QStringLiteral("generation")).toLongLong())
        return std::nullopt;
    Manifest m;
    m.generation = generation;
    m.incarnation = meta(QStringLiteral("incarnation"));
    m.writer = m_writer;
    m.snapshotKnown = true;
    if (const QString snapshot = meta(QStringLiteral("manifestSnapshot")); !snapshot.isEmpty()) {
        m.snapshotBytes = snapshot.section(u':', 0, 0).toLongLong();
        m.snapshotSha256 = snapshot.section(u':', 1).toLatin1();
        if (m_ownDir.size(SyncFiles::snapshotName(generation)) != std::optional<qint64>(m.snapshotBytes))
            return std::nullopt;
    }
    if (m_ownDir.size(SyncFiles::journalName(generation)).value_or(-1) < meta(QStringLiteral("journalEnd")).toLongLong())
        return std::nullopt;
    return m;
}

Status SyncEngine::checkOwnJournal(Outcome& outcome, bool* foreign, bool* remade)
{
    const QString name = SyncFiles::journalName(m_generation);
    const std::optional<qint64> size = m_ownDir.size(name);
    if (!size) {
        if (m_ownDir.kind(name) == SyncDir::Kind::missing && m_journalEnd == 0)
            return m_ownDir.write(name, {});
        *remade = true;
        return recreateOwnFolder(outcome, QStringLiteral("our journal is missing or not a file"));
    }
    if (*size < m_journalEnd) {
        *remade = true;
        return recreateOwnFolder(outcome, QStringLiteral("our journal is shorter than what was written"));
    }
    // A file-sync tool keeps a conflicting copy beside the file when it was changed in two places:
    // another install writes here too.
    for (const QString& entry : m_ownDir.entries(SyncDir::Kind::file))
        if (entry.contains(u"conflict", Qt::CaseInsensitive)) {
            *foreign = true;
            return {};
        }
    // The last line we wrote must still be there as we wrote it.
    if (const qsizetype colon = m_journalTail.indexOf(u':'); colon > 0 && m_journalEnd > 0) {
        const qint64 length = m_journalTail.mid(colon + 1).toLongLong();
        Result<QByteArray> last = m_ownDir.read(name, length, m_journalEnd - length);
        if (!last || tailText(last.value()) != m_journalTail) {
            *foreign = true;
            return {};
        }
    }
    if (*size == m_journalEnd)
        return {};
    // Beyond what we know we flushed: our own records whose state was not kept (adopted), a torn
    // last line (cut), or another writer's records (a clone).
    Result<QByteArray> tail = m_ownDir.read(name, *size - m_journalEnd, m_journalEnd);
    if (!tail)
        return tail.status();
    qint64 boundary = 0;
    qint64 lastLine = 0;
    const QByteArray& bytes = tail.value();
    while (boundary < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', boundary);
        if (end < 0)
            break;
        const QByteArrayView line = QByteArrayView(bytes).sliced(boundary, end - boundary);
        if (!line.trimmed().isEmpty()) {
            Result<SyncRecord> record = decodeRecord(line);
            const QStringList writers = meta(QStringLiteral("writers")).split(u' ', Qt::SkipEmptyParts);
            if (!record || record->device != m_config.device || !(record->writer == m_writer || writers.contains(record->writer))) {
                *foreign = true;
                return {};
            }
            ++m_journalRecords;
        }
        lastLine = boundary;
        boundary = end + 1;
    }
    if (boundary < bytes.size()) {
        outcome.notices.append(QStringLiteral("cut a torn end of %1 bytes from our journal").arg(bytes.size() - boundary));
        if (Status s = m_ownDir.truncate(name, m_journalEnd + boundary); !s)
            return s;
    }
    if (boundary > 0) {
        // Ours, written before the state could say so (a crash, or this is a restored copy):
        // read them back and apply what is newer than the store.
        if (!m_readBack)
            m_readBack = Cursor {m_incarnation, m_generation, true, m_journalEnd, 0, false};
        m_journalTail = tailText(bytes.mid(lastLine, boundary - lastLine));
    }
    m_journalEnd += boundary;
    return putOwnMeta();
}

Status SyncEngine::keepOldRecords()
{
    // Snapshot before journal, generation by generation; the last record of a row is the one kept.
    QList<std::pair<qint64, QString>> files;
    for (const QString& name : m_ownDir.entries(SyncDir::Kind::file))
        if (name.startsWith(u"journal-") || name.startsWith(u"snapshot-"))
            files.append({name.section(u'-', 1).section(u'.', 0, 0).toLongLong() * 2 + (name.startsWith(u"journal-") ? 1 : 0), name});
    std::sort(files.begin(), files.end());
    sql::Transaction t(m_state);
    for (const auto& [order, name] : std::as_const(files)) {
        Q_UNUSED(order);
        Result<QByteArray> bytes = m_ownDir.read(name, qint64(512) * 1024 * 1024);
        if (!bytes)
            continue;
        for (const auto& entry : readJournal(bytes.value(), 0, 0, m_config.device, m_config.maxRecordBytes).records) {
            sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR REPLACE INTO pending(device, entity, id, record) VALUES(?, ?, ?, ?)"));
            st->bind(1, uuidText(m_config.device));
            st->bind(2, qint64(entityCode(entry.record.entity)));
            st->bind(3, uuidText(entry.record.id));
            st->bind(4, encodeRecord(entry.record));
            st->step();
            if (Status s = st->status(); !s)
                return s;
        }
    }
    return t.commit();
}

Status SyncEngine::recreateOwnFolder(Outcome& outcome, const QString& why)
{
    if (!why.isEmpty())
        outcome.notices.append(why + QStringLiteral(": made it again"));
    Result<SyncDir> own = m_devicesDir.folder(ownName(), true);
    if (!own)
        return own.status();
    m_ownDir = std::move(own).value();
    // What the old files hold is ours and may be known nowhere else (a restored computer whose
    // manifest went): kept to be applied like records read back, before the files go.
    if (Status s = keepOldRecords(); !s)
        return s;
    // A generation past any this folder had: a reader that learns of the new incarnation before
    // its files arrive must not take an old file of the same name for one of them.
    qint64 generation = meta(QStringLiteral("generation")).toLongLong();
    for (const QString& name : m_ownDir.entries(SyncDir::Kind::file) + m_ownDir.entries(SyncDir::Kind::other)) {
        if (name.startsWith(u"journal-") || name.startsWith(u"snapshot-")) {
            generation = std::max(generation, name.section(u'-', 1).section(u'.', 0, 0).toLongLong());
            (void)m_ownDir.remove(name);
        }
    }
    m_incarnation = uuidText(SyncFiles::newId(m_config.newId));
    m_generation = generation + 1;
    m_journalEnd = 0;
    m_journalRecords = 0;
    m_journalTail.clear();
    m_readBack.reset();
    if (Status s = m_ownDir.write(SyncFiles::journalName(m_generation), {}); !s)
        return s;
    QStringList writers = meta(QStringLiteral("writers")).split(u' ', Qt::SkipEmptyParts);
    if (!writers.contains(m_writer))
        writers.append(m_writer);
    if (Status s = putMeta(QStringLiteral("writers"), writers.mid(std::max<qsizetype>(0, writers.size() - keptWriters)).join(u' ')); !s)
        return s;
    Manifest m;
    m.generation = m_generation;
    m.incarnation = m_incarnation;
    m.writer = m_writer;
    m.snapshotKnown = true;
    if (Status s = writeOwnManifest(m); !s)
        return s;
    m_republish = true;
    if (Status s = putMeta(QStringLiteral("republish"), QStringLiteral("1")); !s)
        return s; // kept until done: a restart in between must not leave the new folder without rows
    return putOwnMeta();
}

Status SyncEngine::takeNewDeviceId(Outcome& outcome)
{
    const QUuid old = m_config.device;
    m_config.device = m_config.storeFolder.isEmpty() ? SyncFiles::newId(m_config.newId)
                                                     : SyncFiles::renewDeviceId(m_config.storeFolder, m_config.newId);
    outcome.notices.append(QStringLiteral("device folder %1 holds records this computer did not write (a cloned disk or a "
                                          "restored copy): continuing as device %2")
                               .arg(uuidText(old), uuidText(m_config.device)));
    // The old folder is now another computer's, read from its start like any other; what is learnt
    // from it is published again under the new id, since the copies of that folder on the other
    // computers may each hold another version of it.
    QStringList former = meta(QStringLiteral("formerIds")).split(u' ', Qt::SkipEmptyParts);
    former.append(uuidText(old));
    if (Status s = putMeta(QStringLiteral("formerIds"), former.mid(std::max<qsizetype>(0, former.size() - 16)).join(u' ')); !s)
        return s;
    sql::Statement* st = m_state.prepare(QStringLiteral("DELETE FROM cursor WHERE device = ?"));
    st->bind(1, uuidText(old));
    st->step();
    if (Status s = st->status(); !s)
        return s;
    if (Status s = putMeta(QStringLiteral("writers"), QString()); !s)
        return s;
    return recreateOwnFolder(outcome, {});
}

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
    if (Status s = ensureOwnFolder(nowMs, outcome); !s) {
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
            // Published already; its image file must still be there (a planted link replaced our
            // images folder, or someone removed it).
            if (full && !imageHash.isEmpty())
                if (Result<SyncDir> images = m_ownDir.folder(QString::fromLatin1(SyncFiles::imagesName), true);
                    images && images->kind(SyncFiles::imageName(imageHash)) != SyncDir::Kind::file) {
                    const QByteArray bytes = row->bytes(store::ItemAttr::imageData).value_or(QByteArray());
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
        for (qsizetype i = 0; i < names.size(); ++i) {
            const quint32 h = hash32(hashes[i]);
            qint64 s = stamp;
            if (hasFields && known->fields[i].hash == h && !collision)
                s = known->fields[i].stamp;
            else if (!hasFields && alive && known->digest == digest)
                s = known->mtime; // a state kept before fields merged: the row as it was published
            changed = changed || s == stamp;
            state.fields.append({s, h});
        }
        if (!changed && alive && !m_republish && !forced.contains(key)) {
            changes.append({key, RowState {digest, known->mtime, false, known->fields}});
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

        // Never write what a reader would refuse: such an item stays on this computer, and the status says so.
        const QByteArray line = encodeRecord(record);
        bool refused = line.size() > m_config.maxRecordBytes || !decodeRecord(line);
        if (!refused && !imageHash.isEmpty()) {
            const QString name = SyncFiles::imageName(imageHash);
            Result<SyncDir> images = m_ownDir.folder(QString::fromLatin1(SyncFiles::imagesName), true);
            if (!images)
                return images.status();
            if (images->kind(name) != SyncDir::Kind::file) {
                const QByteArray bytes = row->bytes(store::ItemAttr::imageData).value_or(QByteArray());
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
        changes.append({key, state});
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
    for (const auto& [entity, id] : candidates) {
        const Key key {entityCode(entity), id};
        if (seen.contains(key))
            continue;
        const std::optional<RowState> known = rowState(entity, id);
        if (known && known->deleted && forced.contains(key) && !m_republish) {
            SyncRecord record; // a delete learnt from a former folder of ours travels again, as it was
            record.op = SyncRecord::Op::remove;
            record.entity = entity;
            record.id = id;
            record.device = m_config.device;
            record.writer = m_writer;
            record.mtime = known->mtime;
            records.append(record);
            published.append(key);
            continue;
        }
        if (!known || known->deleted)
            continue;
        SyncRecord record;
        record.op = SyncRecord::Op::remove;
        record.entity = entity;
        record.id = id;
        record.device = m_config.device;
        record.writer = m_writer;
        record.mtime = std::max(stamp, known->mtime + 1);
        records.append(record);
        published.append(key);
        changes.append({key, RowState {{}, record.mtime, true, {}}});
    }

    if (m_republish) {
        // Deletes too: under a new id or in a new folder, what this computer knows of deleted rows
        // must travel again, at the time they were deleted.
        sql::Statement* st = m_state.prepare(QStringLiteral("SELECT entity, id, mtime FROM rowState WHERE deleted = 1"));
        while (st->step()) {
            SyncRecord record;
            record.op = SyncRecord::Op::remove;
            record.entity = entityFromCode(st->int64(0));
            record.id = parseUuid(st->text(1));
            record.device = m_config.device;
            record.writer = m_writer;
            record.mtime = st->int64(2);
            if (!record.id.isNull() && !seen.contains({int(st->int64(0)), record.id}))
                records.append(record);
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
        if (Status s = putRowState(entityFromCode(change.key.first), change.key.second, change.state); !s) {
            outcome.status = s;
            return outcome;
        }
        m_clockFloor = std::max(m_clockFloor, change.state.mtime);
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
    if (Status s = t.commit(); !s) {
        outcome.status = s;
        return outcome;
    }
    m_republish = false;
    if (m_journalRecords > m_config.compactAfterRecords) {
        outcome.status = compact();
        outcome.compacted = outcome.status.ok();
    }
    return outcome;
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

// ------------------------------------------------------------------------------------------------ import

SyncEngine::Outcome SyncEngine::importChanges(qint64 nowMs)
{
    Outcome outcome;
    if (!m_devicesDir.isOpen() || !m_rootDir.isOpen())
        if (Status s = openFolders(false); !s) {
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
    }
    for (const QUuid& device : SyncFiles::devices(m_devicesDir)) {
        if (device == m_config.device)
            continue;
        if (Status s = importDevice(device, nowMs, outcome); !s)
            outcome.problems.append(QStringLiteral("device %1: %2").arg(uuidText(device), s.error()));
    }
    if (Status s = putMeta(QStringLiteral("clockFloor"), QString::number(m_clockFloor)); !s)
        outcome.status = s;
    return outcome;
}

void SyncEngine::stall(const QUuid& device, const QString& what, qint64 nowMs)
{
    const QString key = uuidText(device);
    if (m_stalls.value(key).first != what)
        m_stalls.insert(key, {what, nowMs});
}

Status SyncEngine::importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome)
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
        if (published)
            stall(device, QString::fromLatin1(SyncFiles::manifestName), nowMs);
        else
            m_stalls.remove(uuidText(device));
        return {};
    }
    const Manifest manifest = *manifestResult.value();
    Cursor at = cursor(device).value_or(Cursor {});
    if (at.incarnation != manifest.incarnation || at.generation > manifest.generation) {
        if (at.generation > manifest.generation && at.incarnation == manifest.incarnation) {
            stall(device, QString::fromLatin1(SyncFiles::manifestName), nowMs); // an older manifest came back
            return {};
        }
        // A new incarnation of the folder: read it from its start.
        at = Cursor {manifest.incarnation, manifest.generation, false, 0, 0, false};
        sql::Statement* st = m_state.prepare(QStringLiteral("DELETE FROM pending WHERE device = ?"));
        st->bind(1, uuidText(device));
        st->step();
    } else if (at.generation < manifest.generation) {
        at = Cursor {manifest.incarnation, manifest.generation, false, 0, 0, false}; // compacted meanwhile: its snapshot holds all
    }

    std::optional<SyncDir> images;
    if (Result<SyncDir> i = dir.folder(QString::fromLatin1(SyncFiles::imagesName), false))
        images = std::move(i).value();
    const bool former = meta(QStringLiteral("formerIds")).split(u' ', Qt::SkipEmptyParts).contains(uuidText(device));

    // Applies one batch in one store transaction, then records the rows' states and the cursor.
    auto commit = [&](const QList<Change>& changes, const Cursor& to) -> Status {
        m_batchRows.clear();
        if (Status s = m_context->save(); !s) {
            m_context->rollback();
            return s;
        }
        sql::Transaction t(m_state);
        for (const Change& change : changes)
            if (Status s = putRowState(entityFromCode(change.key.first), change.key.second, change.state); !s)
                return s;
        if (Status s = putCursor(device, to); !s)
            return s;
        if (Status s = putMeta(QStringLiteral("clockFloor"), QString::number(m_clockFloor)); !s)
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
                at = Cursor {at.incarnation, at.generation, true, 0, 0, false};
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
            at = Cursor {at.incarnation, at.generation, at.inJournal, 0, 0, false}; // rewritten under us: read it again
            continue;
        }

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
            outcome.problems.append(problemLine(device, at.line, name + QStringLiteral(": record longer than %1 bytes, skipped")
                                                                         .arg(m_config.maxRecordBytes)));
            if (Status s = putCursor(device, at); !s)
                return s;
            continue;
        }
        while (bytes.value().size() == want && bytes.value().indexOf('\n') < 0) {
            if (want > m_config.maxRecordBytes) {
                at.skipping = true;
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
            for (; i < batchEnd; ++i) {
                const auto& entry = chunk.records[i];
                const QString where = problemLine(device, entry.line, name);
                m_clockFloor = std::max(m_clockFloor, entry.record.mtime);
                const Applied applied = applyRecord(images ? &*images : nullptr, entry.record, outcome, where, changes);
                // A later record of this device for the row replaces one still waiting for its image.
                sql::Statement* st = m_state.prepare(
                    applied == Applied::wait ? QStringLiteral("INSERT OR REPLACE INTO pending(device, entity, id, record) VALUES(?, ?, ?, ?)")
                                             : QStringLiteral("DELETE FROM pending WHERE device = ? AND entity = ? AND id = ?"));
                st->bind(1, uuidText(device));
                st->bind(2, qint64(entityCode(entry.record.entity)));
                st->bind(3, uuidText(entry.record.id));
                if (applied == Applied::wait)
                    st->bind(4, encodeRecord(entry.record));
                st->step();
                if (applied == Applied::yes)
                    ++outcome.applied;
                if (applied == Applied::yes && former) {
                    sql::Statement* again = m_state.prepare(QStringLiteral("INSERT OR IGNORE INTO republish(entity, id) VALUES(?, ?)"));
                    again->bind(1, qint64(entityCode(entry.record.entity)));
                    again->bind(2, uuidText(entry.record.id));
                    again->step();
                }
            }
            const bool last = i >= chunk.records.size();
            const Cursor to = last ? Cursor {at.incarnation, at.generation, at.inJournal, at.offset + chunk.nextOffset, chunk.nextLine, false}
                                   : Cursor {at.incarnation, at.generation, at.inJournal,
                                             at.offset + chunk.records[i].startOffset, chunk.records[i].line - 1, false};
            if (Status s = commit(changes, to); !s)
                return s;
        }
        if (chunk.records.isEmpty() && chunk.nextOffset > 0)
            if (Status s = putCursor(device, Cursor {at.incarnation, at.generation, at.inJournal, at.offset + chunk.nextOffset, chunk.nextLine, false}); !s)
                return s;
        for (const auto& problem : chunk.problems)
            outcome.problems.append(problemLine(device, problem.line, name + QStringLiteral(": ") + problem.reason));

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
        at = Cursor {at.incarnation, at.generation, true, 0, 0, false}; // the snapshot is read whole; on with its journal
        if (Status s = putCursor(device, at); !s)
            return s;
    }
    return {};
}

void SyncEngine::retryPending(qint64 nowMs, Outcome& outcome)
{
    Q_UNUSED(nowMs);
    struct Waiting {
        QUuid device;
        SyncRecord record;
    };
    QList<Waiting> waiting;
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT device, record FROM pending"));
    while (st->step()) {
        Result<SyncRecord> record = decodeRecord(st->blob(1));
        if (record)
            waiting.append({parseUuid(st->text(0)), std::move(record).value()});
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
        const Applied applied = applyRecord(images ? &*images : nullptr, w.record, outcome, problemLine(w.device, 0, QStringLiteral("waiting record")), changes);
        m_batchRows.clear();
        if (applied == Applied::wait)
            continue;
        if (Status s = m_context->save(); !s) {
            m_context->rollback();
            outcome.status = s;
            return;
        }
        sql::Transaction t(m_state);
        for (const Change& change : std::as_const(changes))
            (void)putRowState(entityFromCode(change.key.first), change.key.second, change.state);
        sql::Statement* drop = m_state.prepare(QStringLiteral("DELETE FROM pending WHERE device = ? AND entity = ? AND id = ?"));
        drop->bind(1, uuidText(w.device));
        drop->bind(2, qint64(entityCode(w.record.entity)));
        drop->bind(3, uuidText(w.record.id));
        drop->step();
        if (applied == Applied::yes && w.device == m_config.device) {
            // Ours, from the files of a folder made again: they are gone, so it travels again.
            sql::Statement* again = m_state.prepare(QStringLiteral("INSERT OR IGNORE INTO republish(entity, id) VALUES(?, ?)"));
            again->bind(1, qint64(entityCode(w.record.entity)));
            again->bind(2, uuidText(w.record.id));
            again->step();
        }
        if (Status s = t.commit(); !s) {
            outcome.status = s;
            return;
        }
        if (applied == Applied::yes)
            ++outcome.applied;
    }
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
        *wait = true; // not all there yet, most likely
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

SyncEngine::Applied SyncEngine::applyRecord(const SyncDir* images, const SyncRecord& record, Outcome& outcome,
                                            const QString& where, QList<Change>& changes)
{
    const Key key {entityCode(record.entity), record.id};
    // A row earlier in the same batch is not in the state yet.
    std::optional<RowState> known;
    for (qsizetype i = changes.size() - 1; i >= 0 && !known; --i)
        if (changes[i].key == key)
            known = changes[i].state;
    if (!known)
        known = rowState(record.entity, record.id);
    store::ManagedObjectPtr row = m_batchRows.value(key);
    if (!row || row->isDeleted())
        row = m_context->fetchById(record.entity, record.id);
    if (row && row->store() != m_cloudStore) {
        outcome.problems.append(where + QStringLiteral(": the row is kept on this computer only"));
        return Applied::skipped;
    }
    auto republish = [&] {
        sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR IGNORE INTO republish(entity, id) VALUES(?, ?)"));
        st->bind(1, qint64(key.first));
        st->bind(2, uuidText(key.second));
        st->step();
    };

    const QStringList& names = mergedFields(record.entity);
    QJsonObject current;
    QString currentImage;
    QList<quint64> currentHashes;
    bool localChange = false;
    QList<FieldState> knownFields;
    if (row) {
        if (!known || known->deleted)
            return Applied::skipped; // made here and not published yet: it is stamped later when it is
        current = fieldsOfRow(*row, &currentImage);
        currentHashes = fieldHashes(record.entity, current, currentImage);
        const QByteArray digest = contentDigest(current, currentImage);
        knownFields = known->fields;
        if (knownFields.size() != names.size()) {
            // A state kept before fields merged: the row as published, every field at its time.
            knownFields.clear();
            for (qsizetype i = 0; i < names.size(); ++i)
                knownFields.append({known->mtime, known->digest == digest ? hash32(currentHashes[i]) : 0u});
        }
        for (qsizetype i = 0; i < names.size(); ++i)
            localChange = localChange || knownFields[i].hash != hash32(currentHashes[i]);
    }

    if (record.op == SyncRecord::Op::remove) {
        if (!row) {
            if (known && !known->deleted)
                return Applied::skipped; // deleted here, not published yet
            if (known && known->mtime >= record.mtime)
                return Applied::yes;
            changes.append({key, RowState {{}, record.mtime, true, {}}});
            return Applied::yes;
        }
        if (localChange || known->mtime > record.mtime) {
            republish(); // something of the row is newer than the delete: the row lives, everywhere
            return Applied::skipped;
        }
        m_context->deleteObject(row);
        changes.append({key, RowState {{}, record.mtime, true, {}}});
        return Applied::yes;
    }

    const QList<quint64> recordHashes = fieldHashes(record.entity, record.fields, record.imageHash);
    if (!row) {
        if (known && !known->deleted)
            return Applied::skipped; // deleted here, not published yet: that delete is stamped later
        if (known && known->deleted && record.mtime <= known->mtime)
            return Applied::yes; // older than the delete
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
        if (record.entity == EntityKind::item)
            row->setValue(store::ItemAttr::imageData, image.isEmpty() ? sql::Value() : sql::Value(image));
        changes.append({key, state});
        return Applied::yes;
    }

    // Field by field: the later stamp wins, equal stamps go to the greater value's hash; a field
    // changed here and not published yet wins (it is stamped later than anything read).
    QJsonObject merged = current;
    QString mergedImage = currentImage;
    RowState state;
    state.fields = knownFields;
    bool changed = false;
    bool oursKept = localChange;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const quint32 mine = hash32(currentHashes[i]);
        if (knownFields[i].hash != mine)
            continue;
        const qint64 theirStamp = record.stampOf(names[i]);
        const quint32 theirs = hash32(recordHashes[i]);
        const FieldState& ours = knownFields[i];
        if (theirStamp > ours.stamp || (theirStamp == ours.stamp && theirs > ours.hash)) {
            state.fields[i] = {theirStamp, theirs};
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
    }
    for (const FieldState& f : std::as_const(state.fields))
        state.mtime = std::max(state.mtime, f.stamp);
    // With a change made here still to publish, the digest must not say the row is as published.
    state.digest = localChange ? QByteArray() : contentDigest(merged, mergedImage);
    changes.append({key, state});
    if (oursKept)
        republish();
    return changed ? Applied::yes : Applied::skipped;
}

namespace {

bool isMergeableText(const QJsonObject& fields)
{
    return !fields.value(QStringLiteral("textContent")).toString().isEmpty()
        && fields.value(QStringLiteral("contentType")).toString(QStringLiteral("text")) == u"text"
        && !fields.value(QStringLiteral("isTrashed")).toBool();
}

} // namespace

std::optional<SyncEngine::Copy> SyncEngine::storedCopy(const store::ManagedObjectPtr& row)
{
    // A row as stamped; a change made here and not published yet is the latest of all. None for a
    // row made here and never published: it is merged when it is, or comes back from elsewhere.
    const QUuid id = *row->uuid(store::ItemAttr::id);
    const std::optional<RowState> known = rowState(EntityKind::item, id);
    if (!known || known->deleted)
        return std::nullopt;
    Copy copy {id, {}, {}, row};
    QString image;
    copy.fields = fieldsOfRow(*row, &image);
    const QList<quint64> hashes = fieldHashes(EntityKind::item, copy.fields, image);
    const QStringList& names = mergedFields(EntityKind::item);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool local = known->fields.size() != names.size() || known->fields[i].hash != hash32(hashes[i]);
        copy.state.fields.append({local ? nextStamp(0) : known->fields[i].stamp, hash32(hashes[i])});
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
        const bool takeLoser = loserSet != winnerSet ? loserSet : (l.stamp > w.stamp || (l.stamp == w.stamp && l.hash > w.hash));
        if (takeLoser) {
            merged.state.fields[i] = {std::max(l.stamp, w.stamp), l.hash};
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
        m_batchRows.insert({entityCode(EntityKind::item), merged.id}, merged.row);
    }
    applyFields(*merged.row, merged.fields);
    changes.append({{entityCode(EntityKind::item), merged.id}, merged.state});
    changes.append({{entityCode(EntityKind::item), loser.id}, RowState {{}, loserMtime, true, {}}});
    for (const QUuid& again : {merged.id, loser.id}) {
        sql::Statement* st = m_state.prepare(QStringLiteral("INSERT OR IGNORE INTO republish(entity, id) VALUES(?, ?)"));
        st->bind(1, qint64(entityCode(EntityKind::item)));
        st->bind(2, uuidText(again));
        st->step();
    }
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
    store::ManagedObjectPtr other;
    for (const store::ManagedObjectPtr& row : rows.value())
        if (row->uuid(id) != record.id && row->string(textContent).value_or(QString()) == text
            && row->string(contentType).value_or(QStringLiteral("text")) == u"text")
            other = row;
    if (!other)
        return false;
    const std::optional<Copy> stored = storedCopy(other);
    if (!stored)
        return false;
    mergeCopies(Copy {record.id, record.fields, state, {}}, *stored, changes);
    return true;
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
    for (const QList<store::ManagedObjectPtr>& group : std::as_const(groups)) {
        QList<Copy> copies;
        for (const store::ManagedObjectPtr& row : group)
            if (std::optional<Copy> copy = storedCopy(row))
                copies.append(*copy);
        // In id order, so that three or more copies fold the same way everywhere.
        std::sort(copies.begin(), copies.end(), [](const Copy& x, const Copy& y) { return uuidText(x.id) < uuidText(y.id); });
        for (qsizetype i = 1; i < copies.size(); ++i)
            copies[0] = mergeCopies(copies[0], copies[i], changes);
    }
    m_batchRows.clear();
    using R = Result<QList<store::ManagedObjectPtr>>;
    if (changes.isEmpty())
        return rows;
    if (Status s = m_context->save(); !s) {
        m_context->rollback();
        return R::failure(s.error());
    }
    sql::Transaction t(m_state);
    for (const Change& change : std::as_const(changes))
        if (Status s = putRowState(entityFromCode(change.key.first), change.key.second, change.state); !s)
            return R::failure(s.error());
    if (Status s = t.commit(); !s)
        return R::failure(s.error());
    return QList<store::ManagedObjectPtr>(); // changed: fetched again
}

SyncEngine::Health SyncEngine::health(qint64 nowMs)
{
    Health h;
    if (!m_state.isOpen())
        return h;
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT COUNT(*) FROM keptLocal"));
    if (st->step())
        h.keptLocal = int(st->int64(0));
    st = m_state.prepare(QStringLiteral("SELECT COUNT(*) FROM pending"));
    if (st->step())
        h.waitingForImages = int(st->int64(0));
    for (auto it = m_stalls.begin(); it != m_stalls.end(); ++it)
        if (nowMs - it.value().second >= m_config.stallGraceMs)
            h.stalled.append(it.key() + QStringLiteral(": ") + it.value().first);
    h.stalled.sort();
    return h;
}

} // namespace lumra::sync
