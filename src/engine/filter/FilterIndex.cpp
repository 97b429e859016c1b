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

std::shared_ptr<const FilterIndex> FilterIndex::build(QList<ClipboardItem> items, quint64 revision,
                                                      const FilterIndex* previous)
{
    std::shared_ptr<FilterIndex> index(new FilterIndex);
    index->m_revision = revision;
    index->m_items = std::move(items);
    index->m_entries.reserve(size_t(index->m_items.size()));
    index->m_indexById.reserve(index->m_items.size());
    for (qsizetype i = 0; i < index->m_items.size(); ++i) {
        const ClipboardItem& item = index->m_items[i];
        const qint32 previousIndex = previous ? previous->m_indexById.value(item.id, -1) : -1;
        if (previousIndex >= 0 && sameSearchableContent(previous->m_items[previousIndex], item))
            index->reuseEntry(*previous, previousIndex, item);
        else
            index->addEntry(item);
        index->m_indexById.insert(item.id, qint32(i));
    }
    index->buildOrders();
    return index;
}

void FilterIndex::addEntry(const ClipboardItem& item)
{
    Entry entry;
    const auto offset = quint32(m_separators.size());
    QString& folded = entry.folded;
    auto separate = [&] {
        m_separators.push_back(qint32(folded.size()));
        folded.append(u' ');
    };
    auto appendJoined = [&](const QStringList& fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0) separate();
            folded.append(foldForSearch(fields[i]));
        }
    };

    folded = foldForSearch(item.textContent.value_or(QString()));
    separate();
    entry.tagsBegin = qint32(folded.size());
    appendJoined(item.tags);
    entry.tagsEnd = qint32(folded.size());
    separate();
    if (item.ocrText) folded.append(foldForSearch(*item.ocrText));
    separate();
    const QStringList fileNames = fileNamesOf(item);
    appendJoined(fileNames);

    entry.fileNames = fileNames.join(u' ');
    entry.separatorOffset = offset;
    entry.separatorCount = quint32(m_separators.size()) - offset;
    entry.dateAddedMs = msecs(item.dateAdded);
    entry.types = ItemTypeBits::of(item);
    entry.singleUnit = hasOnlySingleUnitCharacters(folded);
    m_entries.push_back(std::move(entry));
}

void FilterIndex::reuseEntry(const FilterIndex& previous, qsizetype previousIndex, const ClipboardItem& item)
{
    Entry entry = previous.m_entries[size_t(previousIndex)];
    const std::span<const qint32> separators = previous.separators(previousIndex);
    entry.separatorOffset = quint32(m_separators.size());
    m_separators.insert(m_separators.end(), separators.begin(), separators.end());
    entry.dateAddedMs = msecs(item.dateAdded);
    m_entries.push_back(std::move(entry));
    ++m_reused;
}

void FilterIndex::buildOrders()
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (!m_items[i].isTrashed) m_historyOrder.push_back(qint32(i));
    }
    std::stable_sort(m_historyOrder.begin(), m_historyOrder.end(), [this](qint32 a, qint32 b) {
        const bool aTop = m_items[a].isPinnedToTop;
        const bool bTop = m_items[b].isPinnedToTop;
        if (aTop != bTop) return aTop;
        return m_entries[size_t(a)].dateAddedMs > m_entries[size_t(b)].dateAddedMs;
    });
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
        keys[size_t(i)] = msecs(item.trashedDate.value_or(item.dateAdded));
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
    const ClipboardItem& item = m_items[i];
    const QString text = item.textContent.value_or(QString());
    const QString ocr = item.ocrText.value_or(QString());
    return text + u' ' + item.tags.join(u' ') + u' ' + ocr + u' ' + entry(i).fileNames;
}

} // namespace lumra
