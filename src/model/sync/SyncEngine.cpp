#include "model/sync/SyncEngine.h"

#include "platform/cloud/SyncFiles.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <limits>
#include <map>

namespace lumra::sync {

using store::EntityKind;

namespace {

constexpr qint64 readChunkBytes = 64 * 1024 * 1024;
constexpr int applyBatch = 2000;

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

} // namespace

SyncEngine::SyncEngine(Config config, std::unique_ptr<store::ManagedObjectContext> context, const store::PersistentStore* cloudStore)
    : m_config(std::move(config))
    , m_ownFolder(SyncFiles::deviceFolder(m_config.root, m_config.device))
    , m_context(std::move(context))
    , m_cloudStore(cloudStore)
{
}

SyncEngine::~SyncEngine() = default;

Status SyncEngine::openState()
{
    if (m_state.isOpen())
        return {};
    if (Status s = m_state.open(m_config.stateFile); !s)
        return s;
    // What this file says can always be learnt again from the store and the folder: a lost last
    // transaction only means some records are read twice, which changes nothing.
    if (Status s = m_state.exec(QStringLiteral("PRAGMA synchronous=NORMAL")); !s)
        return s;
    return m_state.exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS rowState(entity INTEGER NOT NULL, id TEXT NOT NULL, digest BLOB, "
        "mtime INTEGER NOT NULL, device TEXT NOT NULL, deleted INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(entity, id)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS cursor(device TEXT PRIMARY KEY, generation INTEGER NOT NULL, inJournal INTEGER NOT NULL, "
        "offset INTEGER NOT NULL, line INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"));
}

Status SyncEngine::open(qint64 nowMs)
{
    Q_UNUSED(nowMs);
    if (!m_cloudStore)
        return Status::failure(QStringLiteral("the synced history file is not open"));
    if (Status s = openState(); !s)
        return s;
    for (const QString& folder : {m_config.root, SyncFiles::devicesFolder(m_config.root), m_ownFolder,
                                  SyncFiles::imagesFolder(m_ownFolder)})
        if (Status s = SyncFiles::makePrivateFolder(folder); !s)
            return s;

    const bool sameFolder = meta(QStringLiteral("root")) == m_config.root
        && QFileInfo::exists(SyncFiles::manifestPath(m_ownFolder));
    if (!sameFolder) {
        // A new folder, or ours was emptied: read everyone from the start and publish all we hold.
        sql::Transaction t(m_state);
        if (Status s = m_state.exec(QStringLiteral("DELETE FROM cursor")); !s)
            return s;
        if (Status s = putMeta(QStringLiteral("root"), m_config.root); !s)
            return s;
        if (Status s = t.commit(); !s)
            return s;
        const bool hadManifest = QFileInfo::exists(SyncFiles::manifestPath(m_ownFolder));
        Result<qint64> generation = SyncFiles::readManifest(m_ownFolder);
        m_generation = hadManifest && generation ? generation.value() + 1 : 1;
        m_journalRecords = 0;
        if (m_generation > 1) {
            QFile::remove(SyncFiles::snapshotPath(m_ownFolder, m_generation - 1));
            QFile::remove(SyncFiles::journalPath(m_ownFolder, m_generation - 1));
        }
        if (Status s = SyncFiles::writeAtomically(SyncFiles::journalPath(m_ownFolder, m_generation), {}); !s)
            return s;
        if (Status s = SyncFiles::writeManifest(m_ownFolder, m_generation); !s)
            return s;
        m_republish = true;
        return {};
    }
    Result<qint64> generation = SyncFiles::readManifest(m_ownFolder);
    if (!generation)
        return generation.status();
    m_generation = generation.value();
    m_journalRecords = meta(QStringLiteral("journalRecords")).toLongLong();
    return {};
}

// ------------------------------------------------------------------------------------------------ state

std::optional<SyncEngine::RowState> SyncEngine::rowState(EntityKind entity, const QUuid& id)
{
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT digest, mtime, device, deleted FROM rowState WHERE entity = ? AND id = ?"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (!st->step())
        return std::nullopt;
    RowState state;
    state.digest = st->blob(0);
    state.mtime = st->int64(1);
    state.device = parseUuid(st->text(2));
    state.deleted = st->int64(3) != 0;
    return state;
}

Status SyncEngine::putRowState(EntityKind entity, const QUuid& id, const RowState& state)
{
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO rowState(entity, id, digest, mtime, device, deleted) VALUES(?, ?, ?, ?, ?, ?)"));
    st->bind(1, qint64(entityCode(entity)));
    st->bind(2, uuidText(id));
    if (state.digest.isEmpty())
        st->bindNull(3);
    else
        st->bind(3, state.digest);
    st->bind(4, state.mtime);
    st->bind(5, uuidText(state.device));
    st->bind(6, qint64(state.deleted ? 1 : 0));
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
    sql::Statement* st = m_state.prepare(QStringLiteral("SELECT generation, inJournal, offset, line FROM cursor WHERE device = ?"));
    st->bind(1, uuidText(device));
    if (!st->step())
        return std::nullopt;
    return Cursor {st->int64(0), st->int64(1) != 0, st->int64(2), st->int64(3)};
}

Status SyncEngine::putCursor(const QUuid& device, const Cursor& c)
{
    sql::Statement* st = m_state.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO cursor(device, generation, inJournal, offset, line) VALUES(?, ?, ?, ?, ?)"));
    st->bind(1, uuidText(device));
    st->bind(2, c.generation);
    st->bind(3, qint64(c.inJournal ? 1 : 0));
    st->bind(4, c.offset);
    st->bind(5, c.line);
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
    full = full || m_republish;
    if (!full && ids.isEmpty())
        return outcome;

    QList<SyncRecord> records;
    QList<std::pair<Key, RowState>> newStates;
    QSet<Key> seen;
    auto consider = [&](const store::ManagedObjectPtr& row) -> Status {
        const auto id = row->uuid(0);
        if (!id)
            return {};
        const EntityKind entity = row->entity().kind;
        seen.insert({entityCode(entity), *id});
        QString imageHash;
        const QJsonObject fields = fieldsOfRow(*row, &imageHash);
        const QByteArray digest = contentDigest(fields, imageHash);
        const std::optional<RowState> known = rowState(entity, *id);
        const bool unchanged = known && !known->deleted && known->digest == digest;
        if (unchanged && !m_republish)
            return {};
        SyncRecord record;
        record.op = SyncRecord::Op::put;
        record.entity = entity;
        record.id = *id;
        record.device = m_config.device;
        // A change made here is newer than anything seen of the row, whatever the other clocks said.
        record.mtime = unchanged ? known->mtime : std::max(nowMs, known ? known->mtime + 1 : nowMs);
        record.fields = fields;
        record.imageHash = imageHash;
        if (!imageHash.isEmpty()) {
            const QString path = SyncFiles::imagePath(m_ownFolder, imageHash);
            if (!QFileInfo::exists(path))
                if (Status s = SyncFiles::writeAtomically(path, row->bytes(store::ItemAttr::imageData).value_or(QByteArray())); !s)
                    return s;
        }
        records.append(record);
        newStates.append({{entityCode(entity), *id}, RowState {digest, record.mtime, m_config.device, false}});
        return {};
    };

    QList<std::optional<QUuid>> lookups;
    if (full)
        lookups.append(std::nullopt); // every row
    else
        for (const QUuid& id : ids)
            lookups.append(id);
    for (EntityKind entity : {EntityKind::category, EntityKind::item}) {
        for (const std::optional<QUuid>& id : std::as_const(lookups)) {
            Result<QList<store::ManagedObjectPtr>> rows = cloudRows(entity, id);
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
    } else {
        for (const QUuid& id : ids)
            for (EntityKind entity : {EntityKind::item, EntityKind::category})
                candidates.append({entity, id});
    }
    for (const auto& [entity, id] : candidates) {
        if (seen.contains({entityCode(entity), id}))
            continue;
        const std::optional<RowState> known = rowState(entity, id);
        if (!known || known->deleted)
            continue;
        SyncRecord record;
        record.op = SyncRecord::Op::remove;
        record.entity = entity;
        record.id = id;
        record.device = m_config.device;
        record.mtime = std::max(nowMs, known->mtime + 1);
        records.append(record);
        newStates.append({{entityCode(entity), id}, RowState {{}, record.mtime, m_config.device, true}});
    }

    if (!records.isEmpty()) {
        if (Status s = appendRecords(records, outcome); !s) {
            outcome.status = s;
            return outcome;
        }
    }
    sql::Transaction t(m_state);
    for (const auto& [key, state] : newStates)
        if (Status s = putRowState(entityFromCode(key.first), key.second, state); !s) {
            outcome.status = s;
            return outcome;
        }
    if (Status s = putMeta(QStringLiteral("journalRecords"), QString::number(m_journalRecords)); !s) {
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
    if (Status s = SyncFiles::appendBytes(SyncFiles::journalPath(m_ownFolder, m_generation), bytes); !s)
        return s;
    m_journalRecords += records.size();
    outcome.written += int(records.size());
    return {};
}

Status SyncEngine::compact()
{
    // The last record of each row from our own snapshot and journal make the next snapshot.
    std::map<Key, SyncRecord> latest;
    QList<Key> order;
    for (const QString& path : {SyncFiles::snapshotPath(m_ownFolder, m_generation), SyncFiles::journalPath(m_ownFolder, m_generation)}) {
        if (!QFileInfo::exists(path))
            continue;
        Result<QByteArray> bytes = SyncFiles::readRegularFile(path, std::numeric_limits<qint64>::max());
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
    if (Status s = SyncFiles::writeAtomically(SyncFiles::snapshotPath(m_ownFolder, next), snapshot); !s)
        return s;
    if (Status s = SyncFiles::writeAtomically(SyncFiles::journalPath(m_ownFolder, next), {}); !s)
        return s;
    if (Status s = SyncFiles::writeManifest(m_ownFolder, next); !s)
        return s;
    QFile::remove(SyncFiles::snapshotPath(m_ownFolder, m_generation));
    QFile::remove(SyncFiles::journalPath(m_ownFolder, m_generation));
    m_generation = next;
    m_journalRecords = 0;
    QDir imageDir(SyncFiles::imagesFolder(m_ownFolder));
    for (const QString& name : imageDir.entryList(QDir::Files))
        if (!images.contains(name.chopped(4)))
            imageDir.remove(name);
    return putMeta(QStringLiteral("journalRecords"), QStringLiteral("0"));
}

// ------------------------------------------------------------------------------------------------ import

SyncEngine::Outcome SyncEngine::importChanges(qint64 nowMs)
{
    Outcome outcome;
    for (const QUuid& device : SyncFiles::otherDevices(m_config.root, m_config.device)) {
        if (Status s = importDevice(device, nowMs, outcome); !s)
            outcome.problems.append(QStringLiteral("device %1: %2").arg(uuidText(device), s.error()));
    }
    return outcome;
}

Status SyncEngine::importDevice(const QUuid& device, qint64 nowMs, Outcome& outcome)
{
    const QString folder = SyncFiles::deviceFolder(m_config.root, device);
    Result<qint64> generation = SyncFiles::readManifest(folder);
    if (!generation)
        return generation.status();
    Cursor at = cursor(device).value_or(Cursor {});
    if (at.generation != generation.value())
        at = Cursor {generation.value(), false, 0, 0}; // compacted meanwhile: its snapshot holds all

    // Applies one batch in one store transaction, then records the rows' states and the cursor.
    auto commit = [&](const QList<std::pair<Key, RowState>>& states, const Cursor& to) -> Status {
        if (Status s = m_context->save(); !s) {
            m_context->rollback();
            return s;
        }
        sql::Transaction t(m_state);
        for (const auto& [key, state] : states)
            if (Status s = putRowState(entityFromCode(key.first), key.second, state); !s)
                return s;
        if (Status s = putCursor(device, to); !s)
            return s;
        if (Status s = t.commit(); !s)
            return s;
        outcome.applied += int(states.size());
        return {};
    };

    for (int pass = 0; pass < 1024; ++pass) {
        const QString path = at.inJournal ? SyncFiles::journalPath(folder, at.generation)
                                          : SyncFiles::snapshotPath(folder, at.generation);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
            if (at.inJournal)
                return {}; // nothing written yet
            at = Cursor {at.generation, true, 0, 0};
            continue;
        }
        Result<QByteArray> bytes = SyncFiles::readRegularFile(path, readChunkBytes, at.offset);
        if (!bytes) {
            if (bytes.error() == u"shorter than before" && at.offset > 0) {
                at = Cursor {at.generation, at.inJournal, 0, 0}; // rewritten under us: read it again
                continue;
            }
            return bytes.status();
        }
        const JournalChunk chunk = readJournal(bytes.value(), 0, at.line, device);
        const QString name = QFileInfo(path).fileName();

        qint64 doneOffset = chunk.nextOffset;
        qint64 doneLine = chunk.nextLine;
        bool waiting = false;
        for (qsizetype i = 0; i < chunk.records.size() && !waiting;) {
            const qsizetype batchEnd = std::min<qsizetype>(chunk.records.size(), i + applyBatch);
            QList<std::pair<Key, RowState>> states;
            for (; i < batchEnd; ++i) {
                const auto& entry = chunk.records[i];
                const SyncRecord& record = entry.record;
                const std::optional<RowState> known = rowState(record.entity, record.id);
                if (known && !record.supersedes(known->mtime, known->device))
                    continue;
                const QString where = problemLine(device, entry.line, name);
                const Applied applied = applyRecord(folder, record, known, nowMs, at.offset + entry.startOffset, outcome, where);
                if (applied == Applied::wait) {
                    waiting = true;
                    doneOffset = entry.startOffset;
                    doneLine = entry.line - 1;
                    break;
                }
                if (applied == Applied::skipped)
                    continue;
                RowState state;
                state.mtime = record.mtime;
                state.device = record.device;
                state.deleted = record.op == SyncRecord::Op::remove;
                if (!state.deleted)
                    state.digest = contentDigest(record.fields, record.imageHash);
                states.append({{entityCode(record.entity), record.id}, state});
            }
            const bool last = waiting || i >= chunk.records.size();
            const Cursor to = last ? Cursor {at.generation, at.inJournal, at.offset + doneOffset, doneLine}
                                   : Cursor {at.generation, at.inJournal,
                                             at.offset + chunk.records[i].startOffset, chunk.records[i].line - 1};
            if (Status s = commit(states, to); !s)
                return s;
        }
        if (chunk.records.isEmpty() && doneOffset > 0)
            if (Status s = putCursor(device, Cursor {at.generation, at.inJournal, at.offset + doneOffset, doneLine}); !s)
                return s;
        for (const auto& problem : chunk.problems)
            if (problem.line <= doneLine)
                outcome.problems.append(problemLine(device, problem.line, name + QStringLiteral(": ") + problem.reason));

        at.offset += doneOffset;
        at.line = doneLine;
        if (waiting)
            return {};
        if (bytes.value().size() >= readChunkBytes && doneOffset > 0)
            continue; // more of this file than one pass reads
        if (at.inJournal)
            return {};
        at = Cursor {at.generation, true, 0, 0}; // the snapshot is read whole; on with its journal
        if (Status s = putCursor(device, at); !s)
            return s;
    }
    return {};
}

SyncEngine::Applied SyncEngine::applyRecord(const QString& deviceFolder, const SyncRecord& record,
                                            const std::optional<RowState>& known, qint64 nowMs, qint64 offset,
                                            Outcome& outcome, const QString& where)
{
    QByteArray image;
    if (record.op == SyncRecord::Op::put && !record.imageHash.isEmpty()) {
        const QString path = SyncFiles::imagePath(deviceFolder, record.imageHash);
        const QString waitKey = deviceFolder + u'/' + QString::number(offset);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
            // Sync tools deliver files in any order: give the image a while to arrive.
            const qint64 since = m_waitingForImage.value(waitKey, nowMs);
            m_waitingForImage.insert(waitKey, since);
            if (nowMs - since < m_config.missingImageGraceMs)
                return Applied::wait;
            m_waitingForImage.remove(waitKey);
            outcome.problems.append(where + QStringLiteral(": image file never arrived"));
            return Applied::skipped;
        }
        m_waitingForImage.remove(waitKey);
        Result<QByteArray> bytes = SyncFiles::readRegularFile(path, m_config.maxImageBytes + 1);
        if (!bytes || bytes.value().size() > m_config.maxImageBytes) {
            outcome.problems.append(where + QStringLiteral(": image file unreadable or too large"));
            return Applied::skipped;
        }
        if (QString::fromLatin1(QCryptographicHash::hash(bytes.value(), QCryptographicHash::Sha256).toHex()) != record.imageHash
            || !isImage(bytes.value())) {
            outcome.problems.append(where + QStringLiteral(": image file is not the image named"));
            return Applied::skipped;
        }
        image = std::move(bytes).value();
    }

    store::ManagedObjectPtr row = m_context->fetchById(record.entity, record.id);
    if (row && row->store() != m_cloudStore) {
        outcome.problems.append(where + QStringLiteral(": the row is kept on this computer only"));
        return Applied::skipped;
    }
    if (row) {
        QString imageHash;
        const QByteArray digest = contentDigest(fieldsOfRow(*row, &imageHash), imageHash);
        if (!known || known->deleted || known->digest != digest)
            return Applied::skipped; // changed here since it was last published
    }
    if (record.op == SyncRecord::Op::remove) {
        if (row)
            m_context->deleteObject(row);
        return Applied::yes;
    }
    if (!row) {
        row = m_context->insert(record.entity, m_cloudStore);
        row->set(0, record.id);
    }
    applyFields(*row, record.fields);
    if (record.entity == EntityKind::item)
        row->setValue(store::ItemAttr::imageData, image.isEmpty() ? sql::Value() : sql::Value(image));
    return Applied::yes;
}

} // namespace lumra::sync
