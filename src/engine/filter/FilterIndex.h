#pragma once

#include "engine/filter/ItemClassification.h"
#include "model/ClipboardItem.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <algorithm>
#include <memory>
#include <span>
#include <variant>
#include <vector>

namespace lumra {

// How a list of items changed between two revisions when it was edited in place: some items
// replaced where they stood, some taken out, some added at the end. Survivors keep their order.
struct HistoryChange {
    std::vector<qint32> removed; // positions in the list before, ascending
    std::vector<qint32> changed; // positions in the list after, ascending, of items replaced in place
    qint32 appended = 0;         // items added at the end of the list after

    bool isEmpty() const { return removed.empty() && changed.empty() && appended == 0; }
    // Where the item at `position` before the change stands after it; -1 when it was removed.
    qint32 moved(qint32 position) const;
};

// What every search and filter needs of the history, computed once per history revision so that a
// keystroke costs one scan: per item the case-folded haystack, the type bits and the date, plus the
// list order. Built once, then kept up to date through small changes of the list (update()), so that
// a capture costs the changed items rather than the whole history.
class FilterIndex {
public:
    struct Entry {
        // Text, tags, OCR text and file names, folded (see foldForSearch), joined by single spaces, in
        // UTF-8: half the size of a UTF-16 copy for most texts. Positions below count its bytes.
        // Most items have nothing to search but a text whose folding only lower-cases ASCII capitals:
        // they keep the item's own text instead (shared, not copied), with no tags or separators, and
        // the search lower-cases as it reads (findSubstringFoldingAscii).
        std::variant<QByteArray, QString> haystack;
        // The tags joined by single spaces, as [tagsBegin, tagsEnd) of `folded`.
        qint32 tagsBegin = 0;
        qint32 tagsEnd = 0;
        // Positions in `folded` of the spaces that join two fields, as a slice of the index's table.
        quint32 separatorOffset = 0;
        quint32 separatorCount = 0;
        qint64 dateAddedMs = 0;
        ItemTypeBits types;
        bool singleUnit = true; // hasOnlySingleUnitCharacters(folded)

        bool foldsInPlace() const { return haystack.index() == 1; }
        QByteArrayView folded() const
        {
            const auto* bytes = std::get_if<QByteArray>(&haystack);
            return bytes ? QByteArrayView(*bytes) : QByteArrayView();
        }
        // The text of an entry that folds in place.
        QStringView text() const
        {
            const auto* text = std::get_if<QString>(&haystack);
            return text ? QStringView(*text) : QStringView();
        }
    };

    // `previous` lets entries of unchanged items be reused (matched by id).
    static std::shared_ptr<FilterIndex> build(QList<ClipboardItem> items, quint64 revision,
                                              const FilterIndex* previous = nullptr);

    // Drops the index's share of its items, so that their owner can edit its own copy in place
    // without copying the whole list. update() must follow before the index is used again.
    void releaseItems() { m_items = QList<ClipboardItem>(); }
    // Brings the index to `items`: the indexed list after `change`. Only the changed and added
    // items are indexed anew; the orders take them in by binary search.
    void update(QList<ClipboardItem> items, const HistoryChange& change, quint64 revision);

    quint64 revision() const { return m_revision; }
    const QList<ClipboardItem>& items() const { return m_items; }
    qsizetype size() const { return m_items.size(); }
    const Entry& entry(qsizetype i) const { return m_entries[size_t(i)]; }
    std::span<const qint32> separators(qsizetype i) const;
    // Asks for the start of an entry's haystack ahead of its search: each lies somewhere else in the
    // heap, and at 100,000 items waiting for them costs more than reading them.
    void prefetch(qsizetype i) const
    {
        const Entry& e = m_entries[size_t(i)];
        const char* data = e.foldsInPlace() ? reinterpret_cast<const char*>(e.text().data()) : e.folded().data();
        const qsizetype bytes = e.foldsInPlace() ? e.text().size() * 2 : e.folded().size();
        for (qsizetype at = 0; at < std::min<qsizetype>(bytes, 1024); at += 64)
            __builtin_prefetch(data + at);
    }

    // Items outside the recycle bin: pinned to the top first, then newest first, ties in list order.
    const std::vector<qint32>& historyOrder() const { return m_historyOrder; }
    // Whether item `a` comes before item `b` in the history order (both outside the recycle bin).
    bool historyBefore(qint32 a, qint32 b) const;
    // Trashed items, newest trash date (else date added) first, ties in list order.
    const std::vector<qint32>& trashOrder() const { return m_trashOrder; }

    // The trash order of any list of items.
    static std::vector<qint32> trashOrderOf(const QList<ClipboardItem>& items);

    // Spaces that join the empty fields after an in-place text, as the joined haystack would have them.
    static constexpr int emptyFieldSeparators = 3;

    // The haystack of fuzzy and regex search, unfolded: text, tags, OCR text, file names, joined by spaces.
    QString haystack(qsizetype i) const;
    // The same into `into`, whose room is reused: a regex search joins one per item.
    void haystack(qsizetype i, QString& into) const;

    // How many entries were reused from the previous index (for the benchmark).
    qsizetype reusedEntries() const { return m_reused; }

private:
    FilterIndex() = default;
    Entry makeEntry(const ClipboardItem& item);
    void reuseEntry(const FilterIndex& previous, qsizetype previousIndex, const ClipboardItem& item);
    void buildOrders();
    bool trashBefore(qint32 a, qint32 b) const;
    void dropSeparators(const Entry& entry);

    quint64 m_revision = 0;
    QList<ClipboardItem> m_items;
    std::vector<Entry> m_entries;
    std::vector<qint32> m_separators;
    std::vector<qint32> m_historyOrder;
    std::vector<qint32> m_trashOrder;
    // Separator slots of replaced and removed entries, reclaimed when they outgrow the live ones.
    qsizetype m_unusedSeparators = 0;
    qsizetype m_reused = 0;
};

} // namespace lumra
