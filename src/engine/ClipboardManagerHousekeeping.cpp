#include "engine/ClipboardManager.h"

#include "engine/CaptureReading.h"
#include "engine/HistoryClearing.h"
#include "engine/filter/FilterIndex.h"
#include "model/Diagnostics.h"
#include "model/NotificationCenter.h"
#include "model/store/HistoryReader.h"
#include "model/store/ItemRows.h"
#include "model/store/PersistenceController.h"
#include "model/sync/AgeRules.h"
#include "model/sync/SyncFolderContainer.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ScreenshotDetection.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcHousekeeping, "lumra.housekeeping")

namespace lumra {

using namespace store;

namespace {

constexpr qint64 secondsPerDay = 86'400;
constexpr qint64 secondsPerMinute = 60;

Predicate untrashed() { return Predicate::eq("isTrashed", false); }
Predicate trashed() { return Predicate::eq("isTrashed", true); }
Predicate ordinary() { return Predicate::eq("isPinned", false) && Predicate::eq("isPinnedToTop", false); }

// An imported row is as young as its import for every age rule.
Predicate receivedBefore(const QDateTime& cutoff)
{
    return Predicate::isNull(receivedDateColumn) || Predicate::lt(receivedDateColumn, cutoff);
}
Predicate madeBefore(const QDateTime& cutoff) { return Predicate::lt("dateAdded", cutoff) && receivedBefore(cutoff); }

// All rows less the binned ones, both counts kept as the history is saved: a capture at the limit
// does no work that grows with the history. A flag that is not 0 is "trashed", whatever it holds.
Result<int> untrashedRowCount(ManagedObjectContext& context)
{
    const Result<int> all = context.count({});
    if (!all)
        return all;
    const Result<int> binned = context.trashedItemCount();
    if (!binned)
        return binned;
    return *all - *binned;
}

bool hasShortcut(const ManagedObject& row)
{
    const std::optional<qint64> keyCode = row.integer(ItemAttr::shortcutKeyCode);
    return keyCode && *keyCode >= 0 && *keyCode <= 0xFFFF;
}

// Candidates of an auto-clean pass (?1 is the cut-off; ?3 the ids the sync calls young, see
// youngIds). The decoration test runs inside the same statement that trashes or deletes, so an
// edit saved before it executes always saves its row.
const QString autoCleanWhere = QStringLiteral(
    "isPinned = 0 AND isPinnedToTop = 0 AND isTrashed = 0 AND dateAdded < ?1 AND (receivedDate IS NULL OR receivedDate < ?1)"
    " AND (lastPastedDate IS NULL OR lastPastedDate < ?1)"
    " AND NOT ((typeof(shortcutKeyCode) = 'integer' AND shortcutKeyCode >= 0)"
    " OR categoryId IS NOT NULL"
    " OR (typeof(tagsJSON) = 'text' AND CASE WHEN json_valid(tagsJSON) THEN json_type(tagsJSON) = 'array'"
    " AND json_array_length(tagsJSON) > 0"
    " AND NOT EXISTS (SELECT 1 FROM json_each(tagsJSON) WHERE json_each.type != 'text') ELSE 0 END)"
    " OR (typeof(comment) = 'text' AND comment != ''))"
    " AND hex(id) NOT IN (SELECT value FROM json_each(?3))");

// The synced rows some clock the sync sees says were made since `cutoffMs`, as autoCleanWhere's ?3.
QString youngIds(const std::shared_ptr<sync::RowAges>& ages, qint64 cutoffMs)
{
    QJsonArray young;
    if (ages)
        for (const QUuid& id : ages->madeSince(cutoffMs))
            young.append(QString::fromLatin1(id.toRfc4122().toHex().toUpper()));
    return QString::fromLatin1(QJsonDocument(young).toJson(QJsonDocument::Compact));
}

// Runs `statement` (an UPDATE or DELETE ... RETURNING id) on each store file in one transaction
// of its own, through `run`, which binds and steps it. The ids of a file whose transaction
// fails are not reported.
void updateEachStore(const QStringList& paths, const QString& statement, QList<QUuid>& ids, QStringList& errors,
                     const std::function<Status(sql::Statement&)>& run)
{
    for (const QString& path : paths) {
        sql::Database db;
        if (Status s = db.open(path, false); !s) {
            errors << s.error();
            continue;
        }
        sql::Transaction tx(db);
        QString error;
        sql::Statement* st = tx.beginStatus() ? db.prepare(statement, &error) : nullptr;
        if (!st) {
            errors << (tx.beginStatus() ? error : tx.beginStatus().error());
            continue;
        }
        const qsizetype before = ids.size();
        Status s = run(*st);
        if (s)
            s = tx.commit();
        if (!s) {
            ids.resize(before);
            errors << s.error();
        } else if (ids.size() > before) {
            releaseFreePages(db);
        }
    }
}

// Moves the rows matching `where` to the bin (?2 is the trash date) or deletes them, naming each.
QString removalStatement(bool toBin, const QString& where)
{
    return toBin ? QStringLiteral("UPDATE CDClipboardItem SET isTrashed = 1, trashedDate = ?2 WHERE %1 RETURNING id").arg(where)
                 : QStringLiteral("DELETE FROM CDClipboardItem WHERE %1 RETURNING id").arg(where);
}

void logRetention(int removed, qint64 days)
{
    if (removed > 0)
        Diagnostics::shared().info(QStringLiteral("Retention"),
                                   QStringLiteral("Removed %1 item(s) older than %2 day(s)").arg(removed).arg(days));
}

Status stepCollectingIds(sql::Statement& st, QList<QUuid>& ids)
{
    while (st.step())
        if (std::optional<QUuid> id = st.uuid(0))
            ids << *id;
    const Status s = st.status();
    st.reset();
    return s;
}

} // namespace

struct ClipboardManager::AutoCleanResult {
    QList<QUuid> ids;
    bool trashed = false;
    QDateTime trashedDate;
    QStringList errors;
};

// MARK: Shared steps

void ClipboardManager::announceShortcutsChanged()
{
    emit itemShortcutsChanged();
    NotificationCenter::defaultCenter().post(Notifications::itemShortcutsChanged);
}

void ClipboardManager::mergeSavedRows(const QList<ManagedObjectPtr>& rows, const QList<QUuid>& goneIds)
{
    // nullopt: the row is gone. A live row of an id wins over a deleted one (a move between stores).
    struct Saved {
        QUuid id;
        std::optional<ClipboardItem> item;
        bool merged = false;
    };
    std::vector<Saved> saved;
    QHash<QUuid, size_t> slotOf;
    if (m_loadingHistory) {
        m_goneWhileLoading.unite(QSet<QUuid>(goneIds.begin(), goneIds.end()));
        for (const ManagedObjectPtr& row : rows) {
            if (const std::optional<QUuid> id = row ? row->uuid(ItemAttr::id) : std::nullopt; id && row->isDeleted())
                m_goneWhileLoading.insert(*id);
        }
    }
    for (const QUuid& id : goneIds) {
        if (!slotOf.contains(id)) {
            slotOf.insert(id, saved.size());
            saved.push_back({id, std::nullopt});
        }
    }
    for (const ManagedObjectPtr& row : rows) {
        const std::optional<QUuid> id = row ? row->uuid(ItemAttr::id) : std::nullopt;
        if (!id)
            continue;
        std::optional<ClipboardItem> item;
        if (!row->isDeleted()) {
            item = makeListItem(*row);
            if (!item)
                continue;
        }
        const auto known = slotOf.constFind(*id);
        if (known == slotOf.cend()) {
            slotOf.insert(*id, saved.size());
            saved.push_back({*id, std::move(item)});
        } else if (item) {
            saved[*known].item = std::move(item);
        }
    }
    if (saved.empty())
        return;

    // A capture or an edit saves a row or two: comparing ids then costs less than hashing each item.
    constexpr size_t hashedFrom = 16;
    auto take = [&](const QUuid& id) -> Saved* {
        if (saved.size() >= hashedFrom) {
            // Not take(): it gives a default slot, the first saved row's, for an id it does not hold.
            const auto slot = slotOf.constFind(id);
            if (slot == slotOf.cend())
                return nullptr;
            Saved* found = &saved[*slot];
            slotOf.erase(slot);
            return found;
        }
        for (Saved& s : saved) {
            if (!s.merged && s.id == id) {
                s.merged = true;
                return &s;
            }
        }
        return nullptr;
    };

    editHistory([&](QList<ClipboardItem>& list, HistoryChange& change) {
        ClipboardItem* items = list.data();
        const qsizetype count = list.size();
        qsizetype unmerged = qsizetype(saved.size());
        qsizetype kept = 0;
        for (qsizetype i = 0; i < count; ++i) {
            if (unmerged == 0 && kept == i) {
                kept = count;
                break;
            }
            Saved* s = take(items[i].id);
            if (s) {
                --unmerged;
                if (!s->item) {
                    change.removed.push_back(qint32(i));
                    continue;
                }
                if (items[i] != *s->item) {
                    items[i] = std::move(*s->item);
                    change.changed.push_back(qint32(kept));
                }
            }
            if (kept != i)
                items[kept] = std::move(items[i]);
            ++kept;
        }
        list.resize(kept);
        for (Saved& s : saved) {
            const bool merged = saved.size() >= hashedFrom ? !slotOf.contains(s.id) : s.merged;
            if (!merged && s.item) {
                list.append(std::move(*s.item));
                ++change.appended;
            }
        }
    });
}

Status ClipboardManager::commitRows(const QList<ManagedObjectPtr>& rows, const char* operation, bool mayChangeShortcuts)
{
    if (!m_persistence)
        return Status::failure(QStringLiteral("no history store"));
    const Status status = m_persistence->save();
    if (!status)
        qCWarning(lcHousekeeping).noquote() << operation << "failed:" << status.error();
    mergeSavedRows(rows);
    if (status && mayChangeShortcuts
        && std::any_of(rows.begin(), rows.end(), [](const ManagedObjectPtr& row) { return hasShortcut(*row); }))
        announceShortcutsChanged();
    return status;
}

void ClipboardManager::removeRow(const ManagedObjectPtr& row, bool permanently)
{
    if (permanently || !recycleBinEnabled()) {
        m_persistence->viewContext().deleteObject(row);
        return;
    }
    row->set(ItemAttr::isTrashed, true);
    row->set(ItemAttr::trashedDate, m_clock.now());
}

Result<QList<ManagedObjectPtr>> ClipboardManager::fetchItemRows(const Predicate& predicate)
{
    if (!m_persistence)
        return Result<QList<ManagedObjectPtr>>::failure(QStringLiteral("no history store"));
    FetchRequest request;
    request.predicate = predicate;
    return m_persistence->viewContext().fetch(request);
}

Status ClipboardManager::deleteMatching(const Predicate& predicate, const char* operation, int* removed)
{
    auto rows = fetchItemRows(predicate);
    if (!rows) {
        qCWarning(lcHousekeeping).noquote() << operation << "could not read the history:" << rows.error();
        return rows.status();
    }
    for (const ManagedObjectPtr& row : *rows)
        m_persistence->viewContext().deleteObject(row);
    if (removed)
        *removed = int(rows->size());
    if (rows->isEmpty())
        return {};
    return commitRows(*rows, operation, true);
}

// MARK: Item limit, retention, auto-clean

Result<QList<ManagedObjectPtr>> ClipboardManager::markRowsBeyondLimit(const ManagedObjectPtr& captured)
{
    using R = Result<QList<ManagedObjectPtr>>;
    if (!m_persistence)
        return QList<ManagedObjectPtr>();
    const Result<int> untrashedRows = untrashedRowCount(m_persistence->viewContext());
    if (!untrashedRows)
        return R::failure(untrashedRows.error());
    const qint64 excess = qint64(*untrashedRows) + (captured && captured->isInserted() ? 1 : 0) - maxItems();
    if (excess <= 0)
        return QList<ManagedObjectPtr>();
    FetchRequest victims;
    victims.predicate = ordinary() && untrashed();
    if (const std::optional<QUuid> keep = captured ? captured->uuid(ItemAttr::id) : std::nullopt)
        victims.predicate = victims.predicate && Predicate::ne("id", *keep);
    victims.sortDescriptors = {{QStringLiteral("dateAdded"), true}};
    victims.fetchLimit = int(std::min<qint64>(excess, std::numeric_limits<int>::max()));
    auto rows = m_persistence->viewContext().fetch(victims);
    if (!rows)
        return rows;
    for (const ManagedObjectPtr& row : *rows)
        m_persistence->viewContext().deleteObject(row);
    return rows;
}

Status ClipboardManager::enforceMaxItems()
{
    auto rows = markRowsBeyondLimit();
    if (!rows)
        return rows.status();
    if (rows->isEmpty())
        return {};
    return commitRows(*rows, "Trimming the history to its limit", true);
}

void ClipboardManager::applyRetention()
{
    const qint64 days = retentionDays();
    if (days <= 0 || !m_persistence)
        return;
    const QDateTime cutoff = m_clock.now().addSecs(-days * secondsPerDay);
    int removed = 0;
    const Predicate old = madeBefore(cutoff) && ordinary() && untrashed();
    m_retentionDeferred = false;
    if (m_syncFolder) {
        // A computer whose clock ran behind dates its copies long ago: a synced row goes only when
        // every clock the sync sees agrees it is old, so not before the sync state was read.
        const bool synced = m_syncFolder->isActive();
        if (synced && !m_syncFolder->rowAges()->loaded()) {
            m_retentionDeferred = true;
            return;
        }
        QList<QUuid> ids;
        if (auto rows = fetchItemRows(old))
            for (const ManagedObjectPtr& row : *rows)
                if (std::optional<QUuid> id = row->uuid(ItemAttr::id))
                    ids << *id;
        const QList<QUuid> young = synced ? m_syncFolder->rowAges()->madeSince(ids, cutoff.toMSecsSinceEpoch()) : QList<QUuid> {};
        const QSet<QUuid> kept(young.begin(), young.end());
        ids.removeIf([&](const QUuid& id) { return kept.contains(id); });
        // Told to the sync folder before they go, so that the deletes travel as an age rule's.
        if (const Status noted = m_syncFolder->ageRuleDeletes()->note(ids, {sync::retentionRule, days * secondsPerDay}); !noted) {
            qCWarning(lcHousekeeping).noquote() << "Retention skipped:" << noted.error();
            return;
        }
        if (!young.isEmpty()) {
            constexpr qsizetype idsPerDelete = 500;
            Status status;
            for (qsizetype first = 0; status && first < ids.size(); first += idsPerDelete) {
                QList<sql::Value> values;
                for (const QUuid& id : ids.mid(first, idsPerDelete))
                    values << toValue(id);
                int chunk = 0;
                status = deleteMatching(old && Predicate::in("id", values), "Retention", &chunk);
                removed += chunk;
            }
            logRetention(removed, days);
            return;
        }
    }
    const Status status = deleteMatching(old, "Retention", &removed);
    if (status)
        logRetention(removed, days);
}

void ClipboardManager::purgeExpiredTrash()
{
    const qint64 days = recycleBinDays();
    if (!recycleBinEnabled() || days <= 0 || !m_persistence)
        return;
    const QDateTime cutoff = m_clock.now().addSecs(-days * secondsPerDay);
    // Rows trashed elsewhere (an import, another computer) may have no trashedDate: their age is dateAdded.
    const Predicate expired = trashed()
        && (Predicate::lt("trashedDate", cutoff) || (Predicate::isNull("trashedDate") && Predicate::lt("dateAdded", cutoff)))
        && receivedBefore(cutoff);
    if (!m_syncFolder) {
        (void)deleteMatching(expired, "Purging the recycle bin");
        return;
    }
    // Told to the sync folder before they go, so that the deletes travel as the bin's, not as a user's.
    auto rows = fetchItemRows(expired);
    if (!rows || rows->isEmpty())
        return;
    QList<QUuid> ids;
    for (const ManagedObjectPtr& row : *rows)
        if (std::optional<QUuid> id = row->uuid(ItemAttr::id))
            ids << *id;
    if (const Status noted = m_syncFolder->ageRuleDeletes()->note(ids, {sync::recycleBinRule, days * secondsPerDay}); !noted) {
        qCWarning(lcHousekeeping).noquote() << "Purging the recycle bin skipped:" << noted.error();
        return;
    }
    for (const ManagedObjectPtr& row : *rows)
        m_persistence->viewContext().deleteObject(row);
    (void)commitRows(*rows, "Purging the recycle bin", true);
}

void ClipboardManager::runInBackground(std::function<void()> task)
{
    if (!m_housekeeping)
        m_housekeeping.emplace(work());
    // Each pass is one transaction per store file: one cut short by the quit is rolled back.
    work().start(BackgroundWork::Lane::housekeeping, [token = m_housekeeping->token(), task = std::move(task)] { task(); });
}

void ClipboardManager::runAutoClean()
{
    const qint64 minutes = autoCleanMinutes();
    if (minutes <= 0 || !m_persistence)
        return;
    QStringList paths;
    for (const PersistentStore* s : m_persistence->viewContext().stores())
        paths << s->path;
    const QDateTime now = m_clock.now();
    const double cutoff = secondsFromDate(now.addSecs(-minutes * secondsPerMinute));
    const bool toBin = recycleBinEnabled();
    QPointer<ClipboardManager> self(this);
    // Deletes (not moves to the bin) are told to the sync folder before they are committed.
    std::shared_ptr<sync::AgeRuleLedger> ledger = m_syncFolder && !toBin ? m_syncFolder->ageRuleDeletes() : nullptr;
    const sync::AgeRuleDelete rule {sync::autoCleanRule, minutes * secondsPerMinute};
    // A synced row goes only once every clock the sync sees agrees it is old (the timer comes back).
    std::shared_ptr<sync::RowAges> ages = syncedRowAges();
    if (ages && !ages->loaded())
        return;
    const qint64 cutoffMs = now.addSecs(-minutes * secondsPerMinute).toMSecsSinceEpoch();

    runInBackground([self, paths, now, cutoff, cutoffMs, toBin, ledger, rule, ages] {
        AutoCleanResult result;
        result.trashed = toBin;
        result.trashedDate = now;
        const QString young = youngIds(ages, cutoffMs);
        updateEachStore(paths, removalStatement(toBin, autoCleanWhere), result.ids, result.errors, [&](sql::Statement& st) {
            st.bind(1, cutoff);
            if (toBin)
                st.bind(2, secondsFromDate(now));
            st.bind(3, young);
            const qsizetype before = result.ids.size();
            const Status s = stepCollectingIds(st, result.ids);
            // Unnoted, the deletes are not kept: after a restart they would travel as a user's.
            return s && ledger ? ledger->note(result.ids.mid(before), rule) : s;
        });
        QMetaObject::invokeMethod(self.data(), [self, result] {
            if (self)
                self->applyAutoCleanResult(result);
        }, Qt::QueuedConnection);
    });
}

void ClipboardManager::applyAutoCleanResult(const AutoCleanResult& result)
{
    for (const QString& error : result.errors)
        qCWarning(lcHousekeeping).noquote() << "auto-clean save error:" << error;
    if (result.ids.isEmpty() || !m_persistence)
        return;
    ChangeSet changes;
    (result.trashed ? changes.updated : changes.deleted) = result.ids;
    m_persistence->viewContext().refresh(changes);

    const QSet<QUuid> ids(result.ids.begin(), result.ids.end());
    bool shortcutTouched = false;
    editHistory([&](QList<ClipboardItem>& list, HistoryChange& change) {
        ClipboardItem* items = list.data();
        qsizetype kept = 0;
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (ids.contains(items[i].id)) {
                shortcutTouched = shortcutTouched || items[i].shortcut.has_value();
                if (!result.trashed) {
                    change.removed.push_back(qint32(i));
                    continue;
                }
                items[i].isTrashed = true;
                items[i].trashedDate = result.trashedDate;
                change.changed.push_back(qint32(kept));
            }
            if (kept != i)
                items[kept] = std::move(items[i]);
            ++kept;
        }
        list.resize(kept);
    });
    if (shortcutTouched)
        announceShortcutsChanged();
}

std::shared_ptr<sync::RowAges> ClipboardManager::syncedRowAges() const
{
    return m_syncFolder && m_syncFolder->isActive() ? m_syncFolder->rowAges() : nullptr;
}

// MARK: Counts for the cleanup settings

int ClipboardManager::countAutoCleanCandidates(int minutes)
{
    if (minutes <= 0 || !m_persistence)
        return 0;
    const QDateTime cutoffDate = m_clock.now().addSecs(-qint64(minutes) * secondsPerMinute);
    const double cutoff = secondsFromDate(cutoffDate);
    // What the auto-clean leaves for the sync calls it young is not counted either.
    const QString young = youngIds(syncedRowAges(), cutoffDate.toMSecsSinceEpoch());
    qint64 total = 0;
    ManagedObjectContext& context = m_persistence->viewContext();
    for (const PersistentStore* s : context.stores()) {
        sql::Statement* st = context.database(s)->prepare(QStringLiteral("SELECT count(*) FROM CDClipboardItem WHERE ") + autoCleanWhere);
        if (!st)
            return 0;
        st->bind(1, cutoff);
        st->bind(3, young);
        const bool ok = st->step();
        total += ok ? st->int64(0) : 0;
        st->reset();
        if (!ok)
            return 0;
    }
    return int(total);
}

int ClipboardManager::countItemsOlderThan(int days)
{
    const Result<int> n = itemsDeletedByRetention(days);
    return n ? *n : 0;
}

int ClipboardManager::countItemsOverLimit(int limit)
{
    if (!m_persistence)
        return 0;
    FetchRequest request;
    request.predicate = untrashed();
    const Result<int> n = m_persistence->viewContext().count(request);
    return n ? std::max(0, *n - limit) : 0;
}

Result<int> ClipboardManager::itemsDeletedByRetention(int days)
{
    if (days <= 0 || !m_persistence)
        return 0;
    FetchRequest request;
    request.predicate = madeBefore(m_clock.now().addSecs(-qint64(days) * secondsPerDay)) && ordinary() && untrashed();
    return m_persistence->viewContext().count(request);
}

Result<int> ClipboardManager::itemsDeletedByLimit(int limit)
{
    if (!m_persistence)
        return 0;
    // enforceMaxItems takes the excess from the ordinary rows only.
    const Result<int> untrashedRows = untrashedRowCount(m_persistence->viewContext());
    if (!untrashedRows)
        return untrashedRows;
    const qint64 excess = qint64(*untrashedRows) - limit;
    if (excess <= 0)
        return 0;
    FetchRequest ordinaryRows;
    ordinaryRows.predicate = ordinary() && untrashed();
    const Result<int> candidates = m_persistence->viewContext().count(ordinaryRows);
    if (!candidates)
        return candidates;
    return int(std::min<qint64>(excess, *candidates));
}

// MARK: Recycle bin

Status ClipboardManager::deleteItem(const ClipboardItem& item) { return deleteItems({item}); }

Status ClipboardManager::deleteItems(const QList<ClipboardItem>& items)
{
    QList<ManagedObjectPtr> rows;
    for (const ClipboardItem& item : items) {
        if (ManagedObjectPtr row = fetchManagedItem(item.id)) {
            removeRow(row, false);
            rows << row;
        }
    }
    if (rows.isEmpty())
        return {};
    return commitRows(rows, "Deleting items", true);
}

Status ClipboardManager::restoreItem(const QUuid& itemId)
{
    ClipboardItem item;
    item.id = itemId;
    return restoreItems({item});
}

Status ClipboardManager::restoreItems(const QList<ClipboardItem>& items)
{
    QList<ManagedObjectPtr> rows;
    for (const ClipboardItem& item : items) {
        if (ManagedObjectPtr row = fetchManagedItem(item.id)) {
            row->set(ItemAttr::isTrashed, false);
            row->setValue(ItemAttr::trashedDate, sql::Value {});
            rows << row;
        }
    }
    if (rows.isEmpty())
        return {};
    return commitRows(rows, "Restoring items", true);
}

Status ClipboardManager::deleteItemPermanently(const QUuid& itemId)
{
    Status status;
    if (ManagedObjectPtr row = fetchManagedItem(itemId)) {
        m_persistence->viewContext().deleteObject(row);
        status = commitRows({row}, "Deleting an item for good", true);
    }
    evictItemCaches(itemId);
    return status;
}

Status ClipboardManager::emptyRecycleBin() { return deleteMatching(trashed(), "Emptying the recycle bin"); }

Status ClipboardManager::removeMatchingRows(const Predicate& predicate, bool permanently, const char* operation)
{
    auto rows = fetchItemRows(predicate);
    if (!rows) {
        qCWarning(lcHousekeeping).noquote() << operation << "could not read the history:" << rows.error();
        return rows.status();
    }
    for (const ManagedObjectPtr& row : *rows)
        removeRow(row, permanently);
    if (rows->isEmpty())
        return {};
    return commitRows(*rows, operation, true);
}

namespace {

// What the worker needs to tell a row's kind without touching the main thread's context.
struct KindProbe {
    QUuid id;
    ClipboardContentType type = ClipboardContentType::text;
    QString text;
    QStringList fileURLs;
    std::optional<QString> sourceAppBundleId;
    bool starredOrPinned = false;
};

KindProbe probeOf(const ClipboardItem& item)
{
    return {item.id, item.contentType, item.textContent.value_or(QString()), item.fileURLStrings.value_or(QStringList()),
            item.sourceAppBundleId, item.isPinned || item.isPinnedToTop};
}

// On a worker: image kinds from the bytes (read through `background`), file kinds from bounded lookups.
QList<CaptureCategory> kindsOfProbes(const QList<KindProbe>& probes, ManagedObjectContext& background)
{
    QStringList paths;
    for (const KindProbe& probe : probes)
        for (const QString& url : probe.fileURLs)
            paths.append(QUrl(url).toLocalFile());
    const QList<std::optional<FileState>> states = checkFiles(paths, std::chrono::seconds(2));
    QList<CaptureCategory> kinds;
    kinds.reserve(probes.size());
    qsizetype nextState = 0;
    for (const KindProbe& probe : probes) {
        CaptureCategory kind = CaptureCategory::text;
        switch (probe.type) {
        case ClipboardContentType::text: kind = captureCategoryForText(probe.text); break;
        case ClipboardContentType::image: {
            const ManagedObjectPtr row = background.fetchById(EntityKind::item, probe.id);
            kind = image::captureCategoryForImageData(row ? row->bytes(ItemAttr::imageData) : std::nullopt, probe.sourceAppBundleId);
            break;
        }
        case ClipboardContentType::file:
            kind = captureCategoryForCheckedFiles(probe.fileURLs, states.mid(nextState, probe.fileURLs.size()));
            nextState += probe.fileURLs.size();
            break;
        }
        kinds.append(kind);
    }
    return kinds;
}

} // namespace


Status ClipboardManager::HistoryClearing::clearRows(const Predicate& predicate, bool permanently, const CaptureKinds& kinds,
                                   const char* operation, ClearDone done)
{
    if (!kinds) {
        const Status status = m.removeMatchingRows(predicate, permanently, operation);
        if (done)
            done(status);
        return status;
    }
    auto rows = m.fetchItemRows(predicate);
    if (!rows) {
        qCWarning(lcHousekeeping).noquote() << operation << "could not read the history:" << rows.error();
        if (done)
            done(rows.status());
        return rows.status();
    }
    QList<KindProbe> probes;
    for (const ManagedObjectPtr& row : *rows) {
        if (std::optional<ClipboardItem> item = makeClipboardItem(*row))
            probes.append(probeOf(*item));
    }
    // Image bytes are read on the worker through its own connection.
    std::shared_ptr<ManagedObjectContext> background = m.m_persistence->newBackgroundContext();
    QPointer<ClipboardManager> self(&m);
    const QSet<CaptureCategory> wanted = *kinds;
    m.runInBackground([self, probes, background, wanted, predicate, permanently, operation, done] {
        const QList<CaptureCategory> probed = kindsOfProbes(probes, *background);
        QList<sql::Value> matching;
        for (qsizetype i = 0; i < probes.size(); ++i)
            if (wanted.contains(probed[i]))
                matching.append(toValue(probes[i].id));
        QMetaObject::invokeMethod(qApp, [self, matching, predicate, permanently, operation, done] {
            if (!self)
                return;
            // Rows changed meanwhile (pinned, restored, gone) are held to the clear's terms again.
            const Status status = matching.isEmpty()
                ? Status {}
                : self->removeMatchingRows(predicate && Predicate::in("id", matching), permanently, operation);
            if (done)
                done(status);
        }, Qt::QueuedConnection);
    });
    return {};
}

Status ClipboardManager::HistoryClearing::clearUnpinnedHistory(bool permanently, const CaptureKinds& kinds, ClearDone done)
{
    return clearRows(ordinary() && untrashed(), permanently, kinds, "Clearing the history", std::move(done));
}

Status ClipboardManager::HistoryClearing::clearRecentItems(const QDateTime& since, bool includeStarredAndPinned, bool permanently,
                                          const CaptureKinds& kinds, ClearDone done)
{
    Predicate predicate = Predicate::ge("dateAdded", since) && untrashed();
    if (!includeStarredAndPinned)
        predicate = predicate && ordinary();
    return clearRows(predicate, permanently, kinds, "Clearing recent items", std::move(done));
}

Status ClipboardManager::HistoryClearing::clearAllHistory(bool permanently, const CaptureKinds& kinds, ClearDone done)
{
    return clearRows(untrashed(), permanently, kinds, "Clearing all history", std::move(done));
}

// MARK: Clears counted by a prompt

void ClipboardManager::HistoryClearing::findClearCandidates(const std::optional<QDateTime>& since,
                                           std::function<void(QList<ClearCandidate>)> done)
{
    QList<KindProbe> probes;
    for (const ClipboardItem& item : m.m_clipboardItems) {
        if (!item.isTrashed && (!since || item.dateAdded >= *since))
            probes.append(probeOf(item));
    }
    if (!m.m_persistence) {
        done({});
        return;
    }
    std::shared_ptr<ManagedObjectContext> background = m.m_persistence->newBackgroundContext();
    QPointer<ClipboardManager> self(&m);
    m.runInBackground([self, probes, background, done = std::move(done)] {
        const QList<CaptureCategory> kinds = kindsOfProbes(probes, *background);
        QList<ClearCandidate> candidates;
        candidates.reserve(probes.size());
        for (qsizetype i = 0; i < probes.size(); ++i)
            candidates.append({probes[i].id, kinds[i], probes[i].starredOrPinned});
        QMetaObject::invokeMethod(qApp, [self, candidates, done] {
            if (self)
                done(candidates);
        }, Qt::QueuedConnection);
    });
}

void ClipboardManager::HistoryClearing::clearItems(const QList<QUuid>& ids, bool includeStarredAndPinned, bool permanently,
                                  ClearItemsDone done)
{
    if (ids.isEmpty() || !m.m_persistence) {
        if (done)
            done(m.m_persistence ? Status {} : Status::failure(QStringLiteral("no history store")), 0);
        return;
    }
    QStringList paths;
    for (const PersistentStore* s : m.m_persistence->viewContext().stores())
        paths << s->path;
    const QDateTime now = m.m_clock.now();
    const bool toBin = !permanently && m.recycleBinEnabled();
    QPointer<ClipboardManager> self(&m);

    m.runInBackground([self, paths, ids, now, toBin, includeStarredAndPinned, done] {
        AutoCleanResult result;
        result.trashed = toBin;
        result.trashedDate = now;
        // Each row is held to the clear's terms again as it goes: one binned, starred or pinned
        // since the count stays.
        const QString where = includeStarredAndPinned ? QStringLiteral("id = ?1 AND isTrashed = 0")
                                                      : QStringLiteral("id = ?1 AND isTrashed = 0 AND isPinned = 0 AND isPinnedToTop = 0");
        const QString statement = removalStatement(toBin, where);
        updateEachStore(paths, statement, result.ids, result.errors, [&](sql::Statement& st) {
            Status s;
            for (const QUuid& id : ids) {
                st.bind(1, storedValue(u"id", toValue(id)));
                if (toBin)
                    st.bind(2, secondsFromDate(now));
                if (s = stepCollectingIds(st, result.ids); !s)
                    break;
            }
            return s;
        });
        QMetaObject::invokeMethod(qApp, [self, result, done] {
            if (!self)
                return;
            self->applyAutoCleanResult(result);
            if (done)
                done(result.errors.isEmpty() ? Status {} : Status::failure(result.errors.join(QStringLiteral("; "))),
                     int(result.ids.size()));
        }, Qt::QueuedConnection);
    });
}

} // namespace lumra
