#include "engine/filter/FilterIndex.h"

#include "engine/filter/SearchText.h"

#include <algorithm>
#include <limits>

namespace lumra {

namespace {

bool sameSearchableContent(const ClipboardItem& a, const ClipboardItem& b)
{
    return a.contentType == b.contentType && a.textContent == b.textContent && a.tags == b.tags
        && a.ocrText == b.ocrText && a.fileURLStrings == b.fileURLStrings
        && a.fileURLIsDirectory == b.fileURLIsDirectory;
}

qint64 msecs(const QDateTime& date)
{
    return date.isValid() ? date.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

qint64 trashKey(const ClipboardItem& item) { return msecs(item.trashedDate.value_or(item.dateAdded)); }

QStringList fileNamesOf(const ClipboardItem& item)
{
    QStringList names;
    if (!item.fileURLStrings) return names;
    for (const QString& string : *item.fileURLStrings) {
        if (std::optional<QString> name = fileNameOfURLString(string)) names.append(std::move(*name));
    }
    return names;
}

} // namespace

qint32 HistoryChange::moved(qint32 position) const
{
    const auto at = std::lower_bound(removed.begin(), removed.end(), position);
    if (at != removed.end() && *at == position) return -1;
    return position - qint32(at - removed.begin());
}

std::shared_ptr<FilterIndex> FilterIndex::build(QList<ClipboardItem> items, quint64 revision,
                                                const FilterIndex* previous)
{
    std::shared_ptr<FilterIndex> index(new FilterIndex);
    index->m_revision = revision;
    index->m_items = std::move(items);
    index->m_entries.reserve(size_t(index->m_items.size()));
    QHash<QUuid, qint32> previousById;
    if (previous) {
        previousById.reserve(previous->m_items.size());
        for (qsizetype i = 0; i < previous->m_items.size(); ++i) previousById.insert(previous->m_items[i].id, qint32(i));
    }
    for (const ClipboardItem& item : std::as_const(index->m_items)) {
        const qint32 previousIndex = previousById.value(item.id, -1);
        if (previousIndex >= 0 && sameSearchableContent(previous->m_items[previousIndex], item))
            index->reuseEntry(*previous, previousIndex, item);
        else
            index->m_entries.push_back(index->makeEntry(item));
    }
    index->buildOrders();
    return index;
}

void FilterIndex::update(QList<ClipboardItem> items, const HistoryChange& change, quint64 revision)
{
    m_items = std::move(items);
    // Read only: the list is shared with its owner, and a write access would copy it whole.
    const QList<ClipboardItem>& list = m_items;
    m_revision = revision;
    m_reused = m_items.size() - qsizetype(change.changed.size()) - change.appended;
    if (change.isEmpty()) return;

    // Entries: the removed ones go, survivors keep their order, the replaced ones are made anew.
    if (!change.removed.empty()) {
        size_t kept = 0;
        for (size_t i = 0, next = 0; i < m_entries.size(); ++i) {
            if (next < change.removed.size() && qint32(i) == change.removed[next]) {
                ++next;
                dropSeparators(m_entries[i]);
                continue;
            }
            if (kept != i) m_entries[kept] = std::move(m_entries[i]);
            ++kept;
        }
        m_entries.resize(kept);
    }
    for (qint32 i : change.changed) {
        dropSeparators(m_entries[size_t(i)]);
        m_entries[size_t(i)] = makeEntry(list[i]);
    }
    for (qsizetype i = qsizetype(m_entries.size()); i < list.size(); ++i) m_entries.push_back(makeEntry(list[i]));
    Q_ASSERT(qsizetype(m_entries.size()) == m_items.size());

    // Orders: survivors move to their new positions, which keeps them sorted; the replaced and
    // added items are placed again.
    auto replaced = [&change](qint32 i) { return std::binary_search(change.changed.begin(), change.changed.end(), i); };
    auto carry = [&](std::vector<qint32>& order) {
        size_t kept = 0;
        for (qint32 old : order) {
            const qint32 now = change.moved(old);
            if (now >= 0 && !replaced(now)) order[kept++] = now;
        }
        order.resize(kept);
    };
    carry(m_historyOrder);
    carry(m_trashOrder);
    auto place = [this, &list](qint32 i) {
        if (list[i].isTrashed) {
            m_trashOrder.insert(std::lower_bound(m_trashOrder.begin(), m_trashOrder.end(), i,
                                                 [this](qint32 a, qint32 b) { return trashBefore(a, b); }),
                                i);
        } else {
            m_historyOrder.insert(std::lower_bound(m_historyOrder.begin(), m_historyOrder.end(), i,
                                                   [this](qint32 a, qint32 b) { return historyBefore(a, b); }),
                                  i);
        }
    };
    for (qint32 i : change.changed) place(i);
    for (qint32 i = qint32(list.size()) - change.appended; i < qint32(list.size()); ++i) place(i);

    // The separators table would otherwise grow with every edit of a long session.
    if (m_unusedSeparators > qsizetype(m_separators.size()) / 2) {
        std::vector<qint32> compact;
        compact.reserve(m_separators.size() - size_t(m_unusedSeparators));
        for (Entry& entry : m_entries) {
            const auto offset = quint32(compact.size());
            compact.insert(compact.end(), m_separators.begin() + entry.separatorOffset,
                           m_separators.begin() + entry.separatorOffset + entry.separatorCount);
            entry.separatorOffset = offset;
        }
        m_separators = std::move(compact);
        m_unusedSeparators = 0;
    }
}

void FilterIndex::dropSeparators(const Entry& entry) { m_unusedSeparators += entry.separatorCount; }

FilterIndex::Entry FilterIndex::makeEntry(const ClipboardItem& item)
{
    Entry entry;
    const auto offset = quint32(m_separators.size());
    QByteArray folded;
    bool singleUnit = true;
    auto append = [&](QStringView field) {
        const QString foldedField = foldForSearch(field);
        singleUnit = singleUnit && hasOnlySingleUnitCharacters(foldedField);
        folded.append(foldedField.toUtf8());
    };
    auto separate = [&] {
        m_separators.push_back(qint32(folded.size()));
        folded.append(' ');
    };
    auto appendJoined = [&](const QStringList& fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0) separate();
            append(fields[i]);
        }
    };

    entry.dateAddedMs = msecs(item.dateAdded);
    entry.types = ItemTypeBits::of(item);
    entry.separatorOffset = offset;
    const QStringView text = item.textContent ? QStringView(*item.textContent) : QStringView();
    const QStringList fileNames = fileNamesOf(item);
    QString foldedText; // folded once at most, whichever way the entry is made
    if (item.tags.isEmpty() && item.ocrText.value_or(QString()).isEmpty() && fileNames.isEmpty()) {
        bool inPlace = foldsInPlace(text);
        if (!inPlace) {
            foldedText = foldForSearch(text);
            inPlace = foldsAsAscii(text, foldedText) && hasOnlySingleUnitCharacters(foldedText);
        }
        if (inPlace) {
            entry.haystack = item.textContent.value_or(QString());
            return entry;
        }
    }

    if (foldedText.isNull() && !text.isEmpty())
        foldedText = foldForSearch(text);
    singleUnit = hasOnlySingleUnitCharacters(foldedText);
    folded.append(foldedText.toUtf8());
    separate();
    entry.tagsBegin = qint32(folded.size());
    appendJoined(item.tags);
    entry.tagsEnd = qint32(folded.size());
    separate();
    if (item.ocrText) append(*item.ocrText);
    separate();
    appendJoined(fileNames);
    folded.squeeze(); // appending leaves room to grow, up to half as much again
    entry.haystack = std::move(folded);

    entry.separatorCount = quint32(m_separators.size()) - offset;
    entry.singleUnit = singleUnit;
    return entry;
}

void FilterIndex::reuseEntry(const FilterIndex& previous, qsizetype previousIndex, const ClipboardItem& item)
{
    Entry entry = previous.m_entries[size_t(previousIndex)];
    const std::span<const qint32> separators = previous.separators(previousIndex);
    entry.separatorOffset = quint32(m_separators.size());
    m_separators.insert(m_separators.end(), separators.begin(), separators.end());
    entry.dateAddedMs = msecs(item.dateAdded);
    // The same text, but perhaps another copy of it: share the one the items hold, not the old one.
    if (entry.foldsInPlace())
        entry.haystack = item.textContent.value_or(QString());
    m_entries.push_back(std::move(entry));
    ++m_reused;
}

// Pinned to the top first, then newest first, ties in list order: a strict order, so that binary
// insertion finds the same place a stable sort would.
bool FilterIndex::historyBefore(qint32 a, qint32 b) const
{
    const bool aTop = m_items[a].isPinnedToTop;
    const bool bTop = m_items[b].isPinnedToTop;
    if (aTop != bTop) return aTop;
    const qint64 aMs = m_entries[size_t(a)].dateAddedMs;
    const qint64 bMs = m_entries[size_t(b)].dateAddedMs;
    if (aMs != bMs) return aMs > bMs;
    return a < b;
}

bool FilterIndex::trashBefore(qint32 a, qint32 b) const
{
    const qint64 aMs = trashKey(m_items[a]);
    const qint64 bMs = trashKey(m_items[b]);
    if (aMs != bMs) return aMs > bMs;
    return a < b;
}

void FilterIndex::buildOrders()
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (!std::as_const(m_items)[i].isTrashed) m_historyOrder.push_back(qint32(i));
    }
    std::sort(m_historyOrder.begin(), m_historyOrder.end(), [this](qint32 a, qint32 b) { return historyBefore(a, b); });
    m_trashOrder = trashOrderOf(m_items);
}

std::vector<qint32> FilterIndex::trashOrderOf(const QList<ClipboardItem>& items)
{
    std::vector<qint32> order;
    std::vector<qint64> keys(size_t(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
        const ClipboardItem& item = items[i];
        if (!item.isTrashed) continue;
        order.push_back(qint32(i));
        keys[size_t(i)] = trashKey(item);
    }
    std::stable_sort(order.begin(), order.end(), [&keys](qint32 a, qint32 b) { return keys[size_t(a)] > keys[size_t(b)]; });
    return order;
}

std::span<const qint32> FilterIndex::separators(qsizetype i) const
{
    const Entry& e = entry(i);
    return std::span<const qint32>(m_separators).subspan(e.separatorOffset, e.separatorCount);
}

QString FilterIndex::haystack(qsizetype i) const
{
    QString joined;
    haystack(i, joined);
    return joined;
}

void FilterIndex::haystack(qsizetype i, QString& into) const
{
    const ClipboardItem& item = m_items[i];
    into.resize(0); // keeps the room of the last one
    if (item.textContent)
        into += *item.textContent;
    into += u' ';
    for (qsizetype t = 0; t < item.tags.size(); ++t) {
        if (t > 0)
            into += u' ';
        into += item.tags[t];
    }
    into += u' ';
    if (item.ocrText)
        into += *item.ocrText;
    into += u' ';
    if (item.fileURLStrings)
        into += fileNamesOf(item).join(u' ');
}

} // namespace lumra
