#pragma once

#include "model/ClipboardItem.h"
#include "model/store/PersistenceController.h"
#include "platform/core/Result.h"

#include <functional>
#include <utility>
#include <vector>

namespace lumra {

// Reads the history out of the view context of a PersistenceController: whole lists for the
// in-memory history, single rows for edits.
class HistoryReader {
public:
    // The classifiers that place a stored row among the capture kinds. Any left empty answers
    // from the stored content type alone (text, image, file).
    struct Classifiers {
        std::function<CaptureCategory(const QString& text)> forText;
        std::function<CaptureCategory(const QByteArray& imageData, const std::optional<QString>& sourceAppBundleId)> forImageData;
        std::function<CaptureCategory(const QStringList& fileURLs)> forFileURLs;
    };

    explicit HistoryReader(PersistenceController& persistence, Classifiers classifiers = {});
    // Reads through a context of its own (a worker's), which also takes the writes of loadItems().
    explicit HistoryReader(store::ManagedObjectContext& context);
    // The time a dateless row is given when it has no other date.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    // Every item row (trashed ones included) in store order. A row without dateAdded gets its
    // fallback date written back once, so it keeps its place at later loads. An id held by both
    // stores is loaded once, from the cloud store, and the other copy is deleted. The items are the
    // list's values: their rich text is left out (ClipboardItem::richTextInStore).
    Result<QList<ClipboardItem>> loadItems();
    // Every category, sorted (sortCategories).
    Result<QList<ClipboardCategory>> loadCategories();

    store::ManagedObjectPtr fetchManagedItem(const ClipboardItem& item);
    store::ManagedObjectPtr fetchManagedCategory(const QUuid& id);

    // captureCategory(forManagedItem:): none for a row that gives no item.
    std::optional<CaptureCategory> captureCategory(const store::ManagedObject& row) const;

private:
    void writeBackMissingDates(const QList<sql::Value>& ids, const QDateTime& readAt);
    // An item found in an earlier store too (a move between stores cut short) is kept once.
    static void dropLaterCopies(QList<ClipboardItem>& items, qsizetype firstOfStore, const store::PersistentStore* store,
                                std::vector<std::pair<const store::PersistentStore*, QUuid>>& staleCopies);
    void deleteStaleCopies(const std::vector<std::pair<const store::PersistentStore*, QUuid>>& staleCopies);

    store::ManagedObjectContext& context() const { return m_context; }
    Status save();

    PersistenceController* m_persistence = nullptr;
    store::ManagedObjectContext& m_context;
    Classifiers m_classifiers;
    std::function<QDateTime()> m_now = &QDateTime::currentDateTimeUtc;
};

} // namespace lumra
