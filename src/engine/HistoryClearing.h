#pragma once

#include "engine/ClipboardManager.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QUuid>

#include <functional>
#include <optional>

namespace lumra {

// What a clear prompt counts of one item.
struct ClearCandidate {
    QUuid id;
    CaptureCategory kind = CaptureCategory::text;
    bool starredOrPinned = false;
};

// The clears the cleanup settings offer, by age, kind and pin.
class ClipboardManager::HistoryClearing {
public:
    explicit HistoryClearing(ClipboardManager& manager)
        : m(manager)
    {
    }

    // The clears leave rows already in the bin alone. Without `kinds` the clear is done on return.
    // With `kinds`, only rows of those capture kinds go: their kinds are worked out on a worker
    // (copied files looked up within a bound), the call returns at once, and `done` gets the
    // outcome on the main thread.
    using CaptureKinds = std::optional<QSet<CaptureCategory>>;
    using ClearDone = std::function<void(Status)>;
    Status clearUnpinnedHistory(bool permanently, const CaptureKinds& kinds = std::nullopt, ClearDone done = {});
    Status clearRecentItems(const QDateTime& since, bool includeStarredAndPinned, bool permanently,
                            const CaptureKinds& kinds = std::nullopt, ClearDone done = {});
    Status clearAllHistory(bool permanently, const CaptureKinds& kinds = std::nullopt, ClearDone done = {});

    // What a clear prompt counts: every item outside the bin copied at or after `since` (all of
    // them without it), with its kind and whether it is starred or pinned. Kinds are worked out on
    // a worker (image bytes and file lookups happen there); `done` gets the list on the main thread.
    void findClearCandidates(const std::optional<QDateTime>& since, std::function<void(QList<ClearCandidate>)> done);
    // Removes exactly these items, the ones a prompt counted and the user confirmed, in one
    // transaction per store file on a worker. A row binned meanwhile is left alone, and so is one
    // starred or pinned meanwhile unless `includeStarredAndPinned`. `done` gets the outcome and
    // how many went, on the main thread.
    using ClearItemsDone = std::function<void(Status, int removed)>;
    void clearItems(const QList<QUuid>& ids, bool includeStarredAndPinned, bool permanently, ClearItemsDone done = {});

private:
    Status clearRows(const store::Predicate& predicate, bool permanently, const CaptureKinds& kinds,
                     const char* operation, ClearDone done);

    ClipboardManager& m;
};

} // namespace lumra
