#pragma once

#include "model/ClipboardItem.h"
#include "model/store/PersistenceController.h"
#include "platform/core/Result.h"

#include <QList>
#include <QRandomGenerator>

namespace lumra::bench {

// Deterministic, realistic histories: mostly short and medium texts, some long ones, links,
// e-mail addresses and colours, a few images (with bytes) and files; some starred, tagged,
// categorised, trashed. The same seed gives the same history.
class HistoryGenerator {
public:
    explicit HistoryGenerator(quint32 seed = 20260301) : m_random(seed) { }

    // `count` items, newest first, one every few minutes back from `newest`.
    QList<ClipboardItem> items(int count, const QDateTime& newest = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC));
    QList<ClipboardCategory> categories() const;
    // The PNG-sized bytes an image item stands for (derived from its id, so stable).
    static QByteArray imageBytes(const ClipboardItem& item);

    // Writes the items (with image bytes) and categories into `target` (the local file when null) in one save.
    static Status fill(PersistenceController& persistence, const QList<ClipboardItem>& items,
                       const QList<ClipboardCategory>& categories = {}, const store::PersistentStore* target = nullptr);

private:
    QString words(int minChars, int maxChars);
    QRandomGenerator m_random;
};

} // namespace lumra::bench
