#pragma once

#include "engine/HistoryClearing.h"
#include "ui/settings/SettingsTables.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace lumra::CleanupTables {

// "Clear items from": the periods offered, in hours.
struct ClearPeriod {
    QString label;
    int hours;
};
const QList<ClearPeriod>& clearPeriods();
// The period of `hours`; "Last hour" when none matches.
ClearPeriod clearPeriod(int hours);

// The nine type boxes, in box order (not the order of the kinds).
struct ClearType {
    QString label;
    CaptureCategory kind;
};
const QList<ClearType>& clearTypes();

// What the boxes ask for: none (no filter) when all nine are ticked, else the ticked kinds.
std::optional<QSet<CaptureCategory>> selectedClearTypes(const QList<bool>& ticked);

// The items a clear removes, in candidate order: those of a ticked kind, and starred or pinned
// ones only when asked. No box ticked removes nothing.
QList<QUuid> itemsToClear(const QList<ClearCandidate>& candidates, bool includeStarredAndPinned,
                          const QList<bool>& ticked);

// "1 item" / "2 items".
QString items(int count);
QString countLabel(int count); // "N items will be removed."

struct Prompt {
    QString title;
    QString text;
    QStringList buttons;
};
Prompt clearRecent(const QString& periodLabel);
Prompt clearAll();
Prompt confirmDeletion(int count, bool permanently);
Prompt applyAutoClean(int count, bool toRecycleBin, bool syncOn);
Prompt disableRecycleBin(int count);
Prompt emptyRecycleBin(int count); // one "OK" when the bin is empty
Prompt resetFirst();
Prompt resetSecond();

PickerSpec autoClean();
QList<PickerOption> recycleBinDays();
// What a picker shows for a stored value that none of its options holds.
QString minutesLabel(qint64 minutes);
QString daysLabel(qint64 days);

} // namespace lumra::CleanupTables
