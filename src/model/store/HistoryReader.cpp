#include "model/store/HistoryReader.h"

#include "model/Diagnostics.h"
#include "model/store/ItemRows.h"

#include <QHash>
#include <QLoggingCategory>
#include <QSet>

#include <map>
#include <string>

namespace lumra {

Q_LOGGING_CATEGORY(lcHistory, "lumra.history")

using namespace store;

HistoryReader::HistoryReader(PersistenceController& persistence, Classifiers classifiers)
    : m_persistence(&persistence), m_context(persistence.viewContext()), m_classifiers(std::move(classifiers))
{
}

HistoryReader::HistoryReader(ManagedObjectContext& context) : m_context(context) { }

Status HistoryReader::save()
{
    return m_persistence ? m_persistence->save() : m_context.save();
}

Result<QList<ClipboardItem>> HistoryReader::loadItems()
{
    using R = Result<QList<ClipboardItem>>;
    ManagedObjectContext& context = m_context;
    const Entity& entity = itemEntity();
    const std::vector<int>& columns = ManagedObjectContext::columnAttributes(entity);
    std::vector<int> columnOf(size_t(entity.count()), -1);
    for (size_t i = 0; i < columns.size(); ++i)
        columnOf[size_t(columns[i])] = int(i) + 1;
    const QString query = QStringLiteral("SELECT %1 FROM CDClipboardItem").arg(ManagedObjectContext::selectColumns(entity));

    QList<ClipboardItem> items;
    if (Result<int> rows = context.count({}); rows)
        items.reserve(*rows);
    QList<sql::Value> undated; // no date, or a value that is not one
    const QDateTime readAt = m_now();
    std::vector<std::pair<const PersistentStore*, QUuid>> staleCopies;
    // A few applications account for the whole history: one value each, shared by their items.
    QHash<QString, SparseOptional<QString>> apps;
    auto internApp = [&apps](SparseOptional<QString>& field) {
        if (!field)
            return;
        if (auto known = apps.constFind(*field); known != apps.cend())
            field = *known;
        else
            apps.insert(*field, field);
    };
    for (const PersistentStore* store : context.stores()) {
        const qsizetype firstOfStore = items.size();
        QString error;
        sql::Statement* st = context.database(store)->prepare(query, &error);
        if (!st)
            return R::failure(error);
        // Read straight off the statement: at 100,000 rows, building row objects costs more than the conversion.
        struct StatementRow final : detail::RowSource {
            const sql::Statement& st;
            const std::vector<int>& columnOf;
            mutable std::map<std::string, QString, std::less<>> shared;
            StatementRow(const sql::Statement& s, const std::vector<int>& c) : st(s), columnOf(c) { }
            sql::Value value(int attribute) const override
            {
                const int column = columnOf[size_t(attribute)];
                if (column < 0)
                    return {};
                // These repeat across the whole history: share one string instead of one per row.
                if (attribute == ItemAttr::contentType || attribute == ItemAttr::sourceAppBundleId
                    || attribute == ItemAttr::sourceAppName) {
                    const std::optional<std::string_view> raw = st.textView(column);
                    if (!raw)
                        return st.value(column);
                    auto it = shared.find(*raw);
                    if (it == shared.end())
                        it = shared.emplace(std::string(*raw), QString::fromUtf8(raw->data(), qsizetype(raw->size()))).first;
                    return it->second;
                }
                return st.value(column);
            }
            std::optional<QUuid> uuid(int attribute) const override
            {
                return columnOf[size_t(attribute)] < 0 ? std::nullopt : st.uuid(columnOf[size_t(attribute)]);
            }
        } value(*st, columnOf);
        while (st->step()) {
            bool dateMissing = false;
            if (std::optional<ClipboardItem> item = detail::makeClipboardItem(value, &dateMissing, true)) {
                if (!item->dateAdded.isValid())
                    item->dateAdded = readAt;
                internApp(item->sourceAppBundleId);
                internApp(item->sourceAppName);
                if (dateMissing)
                    undated << toValue(item->id);
                items.append(std::move(*item));
            }
        }
        Status s = st->status();
        st->reset();
        if (!s)
            return R::failure(s.error());
        dropLaterCopies(items, firstOfStore, store, staleCopies);
    }
    if (!undated.isEmpty())
        writeBackMissingDates(undated, readAt);
    if (!staleCopies.empty())
        deleteStaleCopies(staleCopies);
    return items;
}

void HistoryReader::dropLaterCopies(QList<ClipboardItem>& items, qsizetype firstOfStore, const PersistentStore* store,
                                    std::vector<std::pair<const PersistentStore*, QUuid>>& staleCopies)
{
    if (firstOfStore == 0 || firstOfStore == items.size())
        return;
    QSet<QUuid> later;
    later.reserve(items.size() - firstOfStore);
    for (qsizetype i = firstOfStore; i < items.size(); ++i)
        later.insert(items[i].id);
    QSet<QUuid> duplicated;
    for (qsizetype i = 0; i < firstOfStore; ++i)
        if (later.contains(items[i].id))
            duplicated.insert(items[i].id);
    if (duplicated.isEmpty())
        return;
    // Rows only move into the cloud store, which is read first: its copy is the one that was committed last.
    qsizetype kept = firstOfStore;
    for (qsizetype i = firstOfStore; i < items.size(); ++i) {
        if (duplicated.contains(items[i].id)) {
            staleCopies.emplace_back(store, items[i].id);
            continue;
        }
        if (kept != i)
            items[kept] = std::move(items[i]);
        ++kept;
    }
    items.resize(kept);
}

void HistoryReader::deleteStaleCopies(const std::vector<std::pair<const PersistentStore*, QUuid>>& staleCopies)
{
    ManagedObjectContext& context = m_context;
    if (context.hasChanges())
        return; // the next load tries again
    for (const auto& [store, id] : staleCopies) {
        FetchRequest request;
        request.predicate = Predicate::eq("id", id);
        request.affectedStore = store;
        if (auto rows = context.fetch(request))
            for (const ManagedObjectPtr& row : *rows)
                context.deleteObject(row);
    }
    if (Status s = save(); !s)
        qCWarning(lcHistory) << "Could not remove the old copy of a moved item:" << s.error();
}

void HistoryReader::writeBackMissingDates(const QList<sql::Value>& ids, const QDateTime& readAt)
{
    ManagedObjectContext& context = m_context;
    if (context.hasChanges())
        return; // never save someone else's half-done edit; the next load tries again
    // By id: a text that is no date is not NULL, yet reads as missing all the same.
    FetchRequest request;
    request.predicate = Predicate::in("id", ids);
    auto rows = context.fetch(request);
    if (!rows)
        return;
    for (const ManagedObjectPtr& row : *rows) {
        const QDateTime date = row->date(ItemAttr::firstCopiedDate).value_or(row->date(ItemAttr::lastPastedDate).value_or(readAt));
        row->set(ItemAttr::dateAdded, date);
    }
    if (Status s = save(); !s)
        qCWarning(lcHistory) << "Could not store fallback dates:" << s.error();
}

Result<QList<ClipboardCategory>> HistoryReader::loadCategories()
{
    FetchRequest request;
    request.entity = EntityKind::category;
    auto rows = context().fetch(request);
    if (!rows)
        return Result<QList<ClipboardCategory>>::failure(rows.error());
    QList<ClipboardCategory> categories;
    for (const ManagedObjectPtr& row : *rows)
        if (std::optional<ClipboardCategory> category = makeClipboardCategory(*row))
            categories << *category;
    sortCategories(categories);
    return categories;
}

ManagedObjectPtr HistoryReader::fetchManagedItem(const ClipboardItem& item)
{
    return context().fetchById(EntityKind::item, item.id);
}

ManagedObjectPtr HistoryReader::fetchManagedCategory(const QUuid& id)
{
    return context().fetchById(EntityKind::category, id);
}

std::optional<CaptureCategory> HistoryReader::captureCategory(const ManagedObject& row) const
{
    std::optional<ClipboardItem> item = makeClipboardItem(row);
    if (!item)
        return std::nullopt;
    switch (item->contentType) {
    case ClipboardContentType::text:
        return m_classifiers.forText ? m_classifiers.forText(item->textContent.value_or(QString())) : CaptureCategory::text;
    case ClipboardContentType::image:
        if (!m_classifiers.forImageData)
            return CaptureCategory::image;
        return m_classifiers.forImageData(row.bytes(ItemAttr::imageData).value_or(QByteArray()), item->sourceAppBundleId);
    case ClipboardContentType::file:
        return m_classifiers.forFileURLs ? m_classifiers.forFileURLs(item->fileURLStrings.value_or(QStringList()))
                                         : CaptureCategory::file;
    }
    return std::nullopt;
}

} // namespace lumra
