#pragma once

#include "engine/filter/ItemClassification.h"
#include "model/ClipboardItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <memory>
#include <span>
#include <vector>

namespace lumra {

// What every search and filter needs of the history, computed once per history revision so that a
// keystroke costs one scan: per item the case-folded haystack, the type bits and the date, plus the
// list order. Immutable once built; share it by pointer.
class FilterIndex {
public:
    struct Entry {
        // Text, tags, OCR text and file names, folded (see foldForSearch) and joined by single spaces.
        QString folded;
        // The tags joined by single spaces, as [tagsBegin, tagsEnd) of `folded`.
        qint32 tagsBegin = 0;
        qint32 tagsEnd = 0;
        // Positions in `folded` of the spaces that join two fields, as a slice of the index's table.
        quint32 separatorOffset = 0;
        quint32 separatorCount = 0;
        qint64 dateAddedMs = 0;
        ItemTypeBits types;
        bool singleUnit = true; // hasOnlySingleUnitCharacters(folded)
        QString fileNames;      // file names joined by single spaces, as written (for the regex haystack)
    };

    // `previous` lets entries of unchanged items be reused (matched by id).
    static std::shared_ptr<const FilterIndex> build(QList<ClipboardItem> items, quint64 revision,
                                                    const FilterIndex* previous = nullptr);

    quint64 revision() const { return m_revision; }
    const QList<ClipboardItem>& items() const { return m_items; }
    qsizetype size() const { return m_items.size(); }
    const Entry& entry(qsizetype i) const { return m_entries[size_t(i)]; }
    std::span<const qint32> separators(qsizetype i) const;

    // Items outside the recycle bin: pinned to the top first, then newest first, ties in list order.
    const std::vector<qint32>& historyOrder() const { return m_historyOrder; }
    // Trashed items, newest trash date (else date added) first, ties in list order.
    const std::vector<qint32>& trashOrder() const { return m_trashOrder; }

    // The trash order of any list of items.
    static std::vector<qint32> trashOrderOf(const QList<ClipboardItem>& items);

    // The haystack of fuzzy and regex search, unfolded: text, tags, OCR text, file names, joined by spaces.
    QString haystack(qsizetype i) const;

    // How many entries were reused from the previous index (for the benchmark).
    qsizetype reusedEntries() const { return m_reused; }

private:
    FilterIndex() = default;
    void addEntry(const ClipboardItem& item);
    void reuseEntry(const FilterIndex& previous, qsizetype previousIndex, const ClipboardItem& item);
    void buildOrders();

    quint64 m_revision = 0;
    QList<ClipboardItem> m_items;
    std::vector<Entry> m_entries;
    std::vector<qint32> m_separators;
    std::vector<qint32> m_historyOrder;
    std::vector<qint32> m_trashOrder;
    QHash<QUuid, qint32> m_indexById;
    qsizetype m_reused = 0;
};

} // namespace lumra
