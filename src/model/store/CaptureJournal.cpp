#include "model/store/CaptureJournal.h"

#include "model/store/StoreSchema.h"

namespace lumra::store {

namespace {

std::optional<JournalEntry::Kind> kindFrom(const QString& name)
{
    for (auto kind : {JournalEntry::Kind::picture, JournalEntry::Kind::files, JournalEntry::Kind::richText})
        if (CaptureJournal::kindName(kind) == name)
            return kind;
    return std::nullopt;
}

} // namespace

QString CaptureJournal::kindName(JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::picture:
        return QStringLiteral("picture");
    case JournalEntry::Kind::files:
        return QStringLiteral("files");
    case JournalEntry::Kind::richText:
        break;
    }
    return QStringLiteral("richText");
}

Result<qint64> CaptureJournal::add(const JournalEntry& entry)
{
    using R = Result<qint64>;
    if (!isOpen())
        return R::failure(QStringLiteral("no store"));
    if (entry.payload.size() > maxBytes)
        return R::failure(QStringLiteral("%1 bytes, more than the journal takes").arg(entry.payload.size()));
    sql::Transaction tx(*m_db);
    if (!tx.beginStatus())
        return R::failure(tx.beginStatus().error());
    sql::Statement* held = m_db->prepare(QStringLiteral("SELECT count(*), total(length(payload)) FROM LumraCaptureJournal"));
    if (!held || !held->step())
        return R::failure(m_db->lastError());
    const qint64 entries = held->int64(0);
    const qint64 bytes = qint64(held->real(1));
    held->reset();
    if (entries >= maxEntries || bytes + entry.payload.size() > maxBytes)
        return R::failure(QStringLiteral("the journal is full (%1 copies, %2 bytes)").arg(entries).arg(bytes));
    sql::Statement* insert = m_db->prepare(QStringLiteral(
        "INSERT INTO LumraCaptureJournal (kind, copiedAt, sourceAppBundleId, sourceAppName, itemId, mediaType, payload) "
        "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    if (!insert)
        return R::failure(m_db->lastError());
    insert->bind(1, kindName(entry.kind));
    insert->bind(2, toValue(entry.copiedAt));
    insert->bind(3, toValue(entry.sourceAppBundleId));
    insert->bind(4, toValue(entry.sourceAppName));
    insert->bind(5, entry.itemId ? sql::Value(entry.itemId->toRfc4122()) : sql::Value());
    insert->bind(6, entry.mediaType);
    insert->bind(7, entry.payload);
    insert->step();
    const Status inserted = insert->status();
    insert->reset();
    if (!inserted)
        return R::failure(inserted.error());
    const qint64 key = m_db->lastInsertRowId();
    if (Status committed = tx.commit(); !committed)
        return R::failure(committed.error());
    return key;
}

Status CaptureJournal::remove(qint64 key)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("no store"));
    const Result<qint64> freeBefore = m_db->integerPragma(QStringLiteral("PRAGMA freelist_count"));
    if (Status done = change(QStringLiteral("DELETE FROM LumraCaptureJournal WHERE pk = ?"), key); !done)
        return done;
    // A large picture's pages go back to the disk once its entry ends; the store would keep them
    // free for good. Only the pages this entry freed are moved, so the cost stays the entry's own.
    const Result<qint64> freeAfter = m_db->integerPragma(QStringLiteral("PRAGMA freelist_count"));
    const Result<qint64> pageSize = m_db->integerPragma(QStringLiteral("PRAGMA page_size"));
    if (freeBefore && freeAfter && pageSize && (*freeAfter - *freeBefore) * *pageSize >= releasedBytes)
        (void)m_db->exec(QStringLiteral("PRAGMA incremental_vacuum(%1)").arg(*freeAfter - *freeBefore));
    return {};
}

Status CaptureJournal::markBegun(qint64 key)
{
    return change(QStringLiteral("UPDATE LumraCaptureJournal SET tries = tries + 1 WHERE pk = ?"), key);
}

Status CaptureJournal::putBack(const QList<qint64>& keys)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("no store"));
    sql::Transaction tx(*m_db);
    if (!tx.beginStatus())
        return tx.beginStatus();
    for (const qint64 key : keys) {
        if (Status done = change(QStringLiteral("UPDATE LumraCaptureJournal SET tries = 0 WHERE pk = ?"), key); !done)
            return done;
    }
    return tx.commit();
}

Status CaptureJournal::change(const QString& sql, qint64 key)
{
    if (!isOpen())
        return Status::failure(QStringLiteral("no store"));
    sql::Statement* st = m_db->prepare(sql);
    if (!st)
        return Status::failure(m_db->lastError());
    st->bind(1, key);
    st->step();
    const Status done = st->status();
    st->reset();
    return done;
}

Result<QList<JournalEntry>> CaptureJournal::takeUp(QList<JournalEntry>* dropped)
{
    using R = Result<QList<JournalEntry>>;
    if (!isOpen())
        return R::failure(QStringLiteral("no store"));
    // A store of an earlier schema (the other file, kept from before sync was switched) has none.
    sql::Statement* table = m_db->prepare(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'LumraCaptureJournal'"));
    if (!table || !table->step())
        return R::failure(m_db->lastError());
    const bool kept = table->int64(0) > 0;
    table->reset();
    if (!kept)
        return QList<JournalEntry>();
    sql::Transaction tx(*m_db);
    if (!tx.beginStatus())
        return R::failure(tx.beginStatus().error());
    sql::Statement* st = m_db->prepare(QStringLiteral(
        "SELECT pk, kind, copiedAt, sourceAppBundleId, sourceAppName, itemId, mediaType, payload, tries "
        "FROM LumraCaptureJournal ORDER BY pk"));
    if (!st)
        return R::failure(m_db->lastError());
    QList<JournalEntry> entries;
    QList<JournalEntry> stale;
    while (st->step()) {
        JournalEntry entry;
        entry.key = st->int64(0);
        const std::optional<JournalEntry::Kind> kind = kindFrom(st->text(1));
        entry.copiedAt = dateFrom(st->value(2)).value_or(QDateTime());
        entry.sourceAppBundleId = stringFrom(st->value(3));
        entry.sourceAppName = stringFrom(st->value(4));
        entry.itemId = uuidFrom(st->value(5));
        entry.mediaType = st->text(6);
        entry.payload = st->blob(7);
        entry.tries = int(st->int64(8));
        // An entry of a kind this Lumra does not know, or without what its kind needs, cannot be finished.
        const bool whole = kind && entry.copiedAt.isValid() && !entry.payload.isEmpty()
            && (*kind != JournalEntry::Kind::richText || entry.itemId);
        if (kind)
            entry.kind = *kind;
        if (entry.tries > 0 || !whole) {
            entry.payload.clear();
            stale.append(entry);
            continue;
        }
        entries.append(entry);
    }
    const Status read = st->status();
    st->reset();
    if (!read)
        return R::failure(read.error());
    for (const JournalEntry& entry : stale)
        if (Status done = remove(entry.key); !done)
            return R::failure(done.error());
    if (Status committed = tx.commit(); !committed)
        return R::failure(committed.error());
    if (dropped)
        *dropped = stale;
    return entries;
}

} // namespace lumra::store
