#pragma once

#include "model/store/Sqlite.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace lumra::store {

// A copy read from its owner whose item, or whose rich text, is still being made: what is needed to
// finish it at the next start when Lumra quits or dies first. The bytes of a copy are gone from
// their owner once it copies something else; these rows are the only place they are kept.
struct JournalEntry {
    enum class Kind { picture, files, richText };
    qint64 key = 0; // the journal's own row
    Kind kind = Kind::picture;
    QDateTime copiedAt;
    std::optional<QString> sourceAppBundleId;
    std::optional<QString> sourceAppName;
    std::optional<QUuid> itemId; // rich text: the stored text it belongs to
    QString mediaType;           // picture: the type it was offered as
    QByteArray payload;          // the picture's bytes, the file URLs one a line, or the HTML (UTF-8)
    int tries = 0;               // starts that began its work already
};

// The journal table of a history store, through a connection of the caller's thread.
class CaptureJournal {
public:
    explicit CaptureJournal(sql::Database* db) : m_db(db) { }

    // An owner that offers the largest pictures over and over fills no disk: beyond these the copy is
    // not journalled (and is lost only if Lumra ends before it is made).
    static constexpr int maxEntries = 32;
    static constexpr qint64 maxBytes = qint64(128) * 1024 * 1024;
    // An entry that leaves at least this much free gives it back to the disk as it is removed.
    static constexpr qint64 releasedBytes = qint64(1) * 1024 * 1024;

    bool isOpen() const { return m_db && m_db->isOpen(); }
    // The entry's key, or why it was not written (full, or the write failed).
    Result<qint64> add(const JournalEntry& entry);
    Status remove(qint64 key);
    // Right before the entry's own work begins: should Lumra die on it, the next start drops it. An
    // entry a start never got to (killed while others were worked) keeps its try.
    Status markBegun(qint64 key);
    // Entries begun at this start that Lumra quit before finishing are worked again at the next;
    // one write for all, as a quit has no time for one each.
    Status putBack(const QList<qint64>& keys);

    // What the last run left, to finish now. An entry whose work began at an earlier start never
    // finished there (Lumra died on it): it is removed and returned in `dropped`, so no entry is
    // tried twice.
    Result<QList<JournalEntry>> takeUp(QList<JournalEntry>* dropped);

    static QString kindName(JournalEntry::Kind kind);

private:
    Status change(const QString& sql, qint64 key);

    sql::Database* m_db;
};

} // namespace lumra::store
