#include "model/sync/SyncEngineParts.h"

#include <QCryptographicHash>

#include <algorithm>

namespace lumra::sync {

using store::EntityKind;
using namespace detail;

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
            m_readBack = Cursor {m_incarnation, m.generation, false, 0, 0, false, {}};
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
    // A snapshot we wrote and named must still be there as written: one gone (a link put in its
    // place, removed before any copy got anywhere) keeps every reader waiting for good, and only
    // our rows can be written again. One we did not write (a restored state) may still be arriving.
    if (m.snapshotKnown && m.snapshotBytes >= 0 && meta(QStringLiteral("snapshotWritten")) == snapshotWritten(m)
        && m_ownDir.size(SyncFiles::snapshotName(m.generation)) != std::optional<qint64>(m.snapshotBytes))
        return recreateOwnFolder(outcome, QStringLiteral("our snapshot is missing or not as written"));
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

Status SyncEngine::writeOwnManifest(const Manifest& manifest)
{
    // Our former ids go with it: readers then know that what they hold of those, stamped ahead,
    // is published again from here.
    Manifest m = manifest;
    m.former = meta(QStringLiteral("formerIds")).split(u' ', Qt::SkipEmptyParts);
    m.ahead = meta(QStringLiteral("aheadNamed")).split(u' ', Qt::SkipEmptyParts);
    m.aheadFrom = meta(QStringLiteral("aheadFrom")).toLongLong();
    m.clock = m_now; // how readers tell a clock far behind
    if (Status s = SyncFiles::writeManifest(m_ownDir, m); !s)
        return s;
    if (Status s = putMeta(QStringLiteral("clockPublished"), QString::number(m.clock)); !s)
        return s;
    const QString snapshot = m.snapshotBytes < 0 ? QString() : QString::number(m.snapshotBytes) + u':' + QString::fromLatin1(m.snapshotSha256);
    if (Status s = putMeta(QStringLiteral("manifestSnapshot"), snapshot); !s)
        return s;
    return putMeta(QStringLiteral("manifestGeneration"), QString::number(m.generation));
}

QString SyncEngine::snapshotWritten(const Manifest& m)
{
    return QStringLiteral("%1 %2 %3").arg(m.generation).arg(m.snapshotBytes).arg(QString::fromLatin1(m.snapshotSha256));
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
        // Another install's journal in place of ours (a clone's, kept by the file-sync tool): its
        // records are read as another computer's, not written over unread.
        if (Result<QByteArray> head = m_ownDir.read(name, std::min<qint64>(*size, 1 << 16), 0); head && *size > 0) {
            const QStringList writers = meta(QStringLiteral("writers")).split(u' ', Qt::SkipEmptyParts);
            for (const QByteArray& line : head.value().split('\n'))
                if (Result<SyncRecord> record = decodeRecord(line); record && record->device == m_config.device
                    && record->writer != m_writer && !writers.contains(record->writer)) {
                    *foreign = true;
                    return {};
                }
        }
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
            m_readBack = Cursor {m_incarnation, m_generation, true, m_journalEnd, 0, false, {}};
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
    // Never tried yet: the next pass tries every held record, not only those whose reason may have gone.
    m_heldRetry.done = false;
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
    m_formerToRead = old;
    m_carried = true;
    if (Status s = putMeta(QStringLiteral("carried"), QStringLiteral("1")); !s)
        return s;
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
    // Where our journal ended as this state knew it: what the old folder holds beyond was written
    // after this history was copied (a restore, a clone), over the changes it holds unpublished.
    if (const QString incarnation = meta(QStringLiteral("incarnation")); !incarnation.isEmpty())
        if (Status s = putMeta(QStringLiteral("formerFrom:") + uuidText(old),
                               QStringLiteral("%1 %2 %3").arg(incarnation, meta(QStringLiteral("generation")), meta(QStringLiteral("journalEnd"))));
            !s)
            return s;
    // Once, not for as long as the original runs: only what the old folder held at the change of
    // id goes out again; what its computer writes there later is that computer's to publish.
    if (m_ownDir.isOpen()) {
        Result<std::optional<Manifest>> m = SyncFiles::readManifest(m_ownDir);
        if (m && m.value()) {
            const qint64 size = m_ownDir.size(SyncFiles::journalName(m.value()->generation)).value_or(0);
            if (Status s = putMeta(QStringLiteral("formerUntil:") + uuidText(old),
                                   QStringLiteral("%1 %2 %3").arg(m.value()->incarnation).arg(m.value()->generation).arg(size));
                !s)
                return s;
        }
    }
    sql::Statement* st = m_state.prepare(QStringLiteral("DELETE FROM cursor WHERE device = ?"));
    st->bind(1, uuidText(old));
    st->step();
    if (Status s = st->status(); !s)
        return s;
    if (Status s = putMeta(QStringLiteral("writers"), QString()); !s)
        return s;
    return recreateOwnFolder(outcome, {});
}

bool SyncEngine::republishFromFormer(const QUuid& device, const Cursor& at, qint64 offset)
{
    const QStringList until = meta(QStringLiteral("formerUntil:") + uuidText(device)).split(u' ', Qt::SkipEmptyParts);
    if (until.size() != 3 || at.incarnation != until[0])
        return false;
    const qint64 generation = until[1].toLongLong();
    return at.generation < generation || (at.generation == generation && (!at.inJournal || offset < until[2].toLongLong()));
}

bool SyncEngine::writtenAfterOurs(const QUuid& device, const Cursor& at, qint64 offset)
{
    // A snapshot of a later generation mixes records from before and after: only journals say when.
    const QStringList from = meta(QStringLiteral("formerFrom:") + uuidText(device)).split(u' ', Qt::SkipEmptyParts);
    if (from.size() != 3 || at.incarnation != from[0] || !at.inJournal || !republishFromFormer(device, at, offset))
        return false;
    const qint64 generation = from[1].toLongLong();
    return at.generation > generation || (at.generation == generation && offset >= from[2].toLongLong());
}

} // namespace lumra::sync
