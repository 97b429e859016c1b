#include "ui/settings/CleanupTables.h"

#include "engine/SettingOptions.h"

namespace lumra::CleanupTables {

const QList<ClearPeriod>& clearPeriods()
{
    static const QList<ClearPeriod> periods {
        {QStringLiteral("Last hour"), 1},     {QStringLiteral("Last 2 hours"), 2}, {QStringLiteral("Last 3 hours"), 3},
        {QStringLiteral("Last 4 hours"), 4},  {QStringLiteral("Last 5 hours"), 5}, {QStringLiteral("Last day"), 24},
        {QStringLiteral("Last 2 days"), 48},  {QStringLiteral("Last 3 days"), 72}, {QStringLiteral("Last 5 days"), 120},
        {QStringLiteral("Last month"), 720},
    };
    return periods;
}

ClearPeriod clearPeriod(int hours)
{
    for (const ClearPeriod& period : clearPeriods())
        if (period.hours == hours)
            return period;
    return clearPeriods().first();
}

const QList<ClearType>& clearTypes()
{
    static const QList<ClearType> types {
        {QStringLiteral("Text"), CaptureCategory::text},
        {QStringLiteral("Links"), CaptureCategory::link},
        {QStringLiteral("Emails"), CaptureCategory::email},
        {QStringLiteral("Images (from clipboard)"), CaptureCategory::image},
        {QStringLiteral("Image Files (copied from the file manager)"), CaptureCategory::imageFile},
        {QStringLiteral("Screenshots"), CaptureCategory::screenshot},
        {QStringLiteral("Colors"), CaptureCategory::color},
        {QStringLiteral("Files"), CaptureCategory::file},
        {QStringLiteral("Folders"), CaptureCategory::folder},
    };
    return types;
}

namespace {

QSet<CaptureCategory> tickedKinds(const QList<bool>& ticked)
{
    QSet<CaptureCategory> kinds;
    for (qsizetype i = 0; i < clearTypes().size() && i < ticked.size(); ++i)
        if (ticked[i])
            kinds.insert(clearTypes()[i].kind);
    return kinds;
}

} // namespace

std::optional<QSet<CaptureCategory>> selectedClearTypes(const QList<bool>& ticked)
{
    const QSet<CaptureCategory> kinds = tickedKinds(ticked);
    if (kinds.size() == clearTypes().size())
        return std::nullopt;
    return kinds;
}

QList<QUuid> itemsToClear(const QList<ClearCandidate>& candidates, bool includeStarredAndPinned,
                          const QList<bool>& ticked)
{
    const QSet<CaptureCategory> kinds = tickedKinds(ticked);
    QList<QUuid> ids;
    if (kinds.isEmpty())
        return ids;
    for (const ClearCandidate& candidate : candidates)
        if ((includeStarredAndPinned || !candidate.starredOrPinned) && kinds.contains(candidate.kind))
            ids.append(candidate.id);
    return ids;
}

QString items(int count)
{
    return QStringLiteral("%1 item%2").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

QString countLabel(int count) { return items(count) + QStringLiteral(" will be removed."); }

Prompt clearRecent(const QString& periodLabel)
{
    return {QStringLiteral("Clear items from %1?").arg(periodLabel.toLower()),
            QStringLiteral("Starred and pinned items are kept unless you include them below."),
            {QStringLiteral("Clear"), QStringLiteral("Cancel")}};
}

Prompt clearAll()
{
    return {QStringLiteral("Clear all clipboard history?"), QStringLiteral("By default, starred and pinned items will be kept."),
            {QStringLiteral("Clear All"), QStringLiteral("Cancel")}};
}

Prompt confirmDeletion(int count, bool permanently)
{
    if (permanently)
        return {QStringLiteral("Are you sure?"),
                items(count) + QStringLiteral(" will be permanently deleted. This cannot be undone."),
                {QStringLiteral("Delete Permanently"), QStringLiteral("Cancel")}};
    return {QStringLiteral("Are you sure?"), items(count) + QStringLiteral(" will be moved to the recycle bin."),
            {QStringLiteral("Move to Recycle Bin"), QStringLiteral("Cancel")}};
}

Prompt applyAutoClean(int count, bool toRecycleBin, bool syncOn)
{
    return {QStringLiteral("Apply auto-clean now?"),
            items(count) + QStringLiteral(" will be ")
                + (toRecycleBin ? QStringLiteral("moved to the recycle bin") : QStringLiteral("permanently deleted"))
                + (syncOn ? QStringLiteral(" across all your computers") : QString()) + QStringLiteral("."),
            {QStringLiteral("Apply"), QStringLiteral("Cancel")}};
}

Prompt disableRecycleBin(int count)
{
    return {QStringLiteral("Empty recycle bin?"),
            QStringLiteral("You have %1 in the recycle bin. Would you like to permanently delete them?").arg(items(count)),
            {QStringLiteral("Empty & Disable"), QStringLiteral("Keep & Disable"), QStringLiteral("Cancel")}};
}

Prompt emptyRecycleBin(int count)
{
    if (count == 0)
        return {QStringLiteral("Recycle bin is empty"), QStringLiteral("There are no deleted items to remove."),
                {QStringLiteral("OK")}};
    return {QStringLiteral("Empty recycle bin?"),
            items(count) + QStringLiteral(" will be permanently deleted. This cannot be undone."),
            {QStringLiteral("Empty"), QStringLiteral("Cancel")}};
}

Prompt resetFirst()
{
    const QStringList lines {
        QStringLiteral("This will permanently delete:"),
        QString(),
        QStringLiteral("• All clipboard history and images"),
        QStringLiteral("• All categories and shortcuts"),
        QStringLiteral("• All application settings"),
        QStringLiteral("• This computer's synced settings in the sync folder"),
        QStringLiteral("• Login item registration"),
        QStringLiteral("• Thumbnails, the diagnostics log and temporary files"),
        QString(),
        QStringLiteral("The history your other computers keep in the sync folder stays."),
        QString(),
        QStringLiteral("This cannot be undone. The app will quit after reset."),
    };
    return {QStringLiteral("Reset Lumra to factory settings?"), lines.join(QLatin1Char('\n')),
            {QStringLiteral("Reset Everything"), QStringLiteral("Cancel")}};
}

Prompt resetSecond()
{
    return {QStringLiteral("Are you absolutely sure?"), QStringLiteral("All data will be permanently deleted."),
            {QStringLiteral("Yes, Reset"), QStringLiteral("Cancel")}};
}

PickerSpec autoClean()
{
    PickerSpec spec {QStringLiteral("Auto-clean unpasted items"),
                     QStringLiteral("Automatically remove clipboard items that haven't been pasted or re-copied in the "
                                    "selected time. Pinned, starred, items with shortcuts, categories, tags, or comments "
                                    "are kept. If Recycle bin is on, items go there first."),
                     Setting::autoCleanMinutes,
                     {}};
    for (AutoCleanInterval interval : allCases<AutoCleanInterval>())
        spec.options.append({displayName(interval), SettingValue(rawValue(interval)), {}});
    return spec;
}

QList<PickerOption> recycleBinDays()
{
    QList<PickerOption> options;
    for (qint64 days : {1, 2, 3, 4, 5, 6, 7, 14, 30, 60, 90})
        options.append({daysLabel(days), SettingValue(days), {}});
    return options;
}

QString daysLabel(qint64 days) { return QStringLiteral("%1 day%2").arg(days).arg(days == 1 ? "" : "s"); }

QString minutesLabel(qint64 minutes)
{
    if (minutes > 0 && minutes % 1440 == 0)
        return daysLabel(minutes / 1440);
    if (minutes > 0 && minutes % 60 == 0)
        return QStringLiteral("%1 hour%2").arg(minutes / 60).arg(minutes == 60 ? "" : "s");
    return QStringLiteral("%1 minute%2").arg(minutes).arg(minutes == 1 ? "" : "s");
}

} // namespace lumra::CleanupTables
