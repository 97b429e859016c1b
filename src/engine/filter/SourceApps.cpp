#include "engine/filter/SourceApps.h"

#include <QHash>

#include <algorithm>
#include <limits>

namespace lumra {

QList<SourceApp> sourceApps(const QList<ClipboardItem>& items, const QString& ownBundleId)
{
    struct Seen {
        QString name;
        qint64 latestMs;
        qsizetype firstSeen;
    };
    QHash<QString, Seen> apps;
    for (const ClipboardItem& item : items) {
        if (!item.sourceAppBundleId || !item.sourceAppName) continue;
        const QString& bundleId = *item.sourceAppBundleId;
        if (bundleId.isEmpty() || bundleId == ownBundleId) continue;
        const qint64 ms = item.dateAdded.isValid() ? item.dateAdded.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        auto found = apps.find(bundleId);
        if (found == apps.end()) {
            apps.insert(bundleId, {*item.sourceAppName, ms, apps.size()});
        } else {
            found->name = *item.sourceAppName;
            found->latestMs = std::max(found->latestMs, ms);
        }
    }
    std::vector<std::pair<QString, Seen>> sorted;
    sorted.reserve(size_t(apps.size()));
    for (auto it = apps.cbegin(); it != apps.cend(); ++it) sorted.emplace_back(it.key(), it.value());
    // Ties keep the order in which the applications first appear in the history.
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if (a.second.latestMs != b.second.latestMs) return a.second.latestMs > b.second.latestMs;
        return a.second.firstSeen < b.second.firstSeen;
    });
    QList<SourceApp> result;
    result.reserve(qsizetype(sorted.size()));
    for (const auto& [bundleId, seen] : sorted) result.append({bundleId, seen.name});
    return result;
}

} // namespace lumra
