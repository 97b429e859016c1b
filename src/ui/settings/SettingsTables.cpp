#include "ui/settings/SettingsTables.h"

#include "engine/SettingOptions.h"


#include <cmath>

namespace lumra {

namespace {

SettingValue text(const char* value) { return SettingValue(QString::fromUtf8(value)); }
SettingValue number(qint64 value) { return SettingValue(value); }

template <typename E>
QList<PickerOption> enumOptions(const std::initializer_list<const char*>& labels)
{
    QList<PickerOption> options;
    auto label = labels.begin();
    for (E value : allCases<E>())
        options.append({QString::fromUtf8(*label++), SettingValue(rawValue(value)), {}});
    return options;
}

} // namespace

std::optional<int> optionIndex(const QList<PickerOption>& options, const SettingValue& value)
{
    for (int i = 0; i < options.size(); ++i) {
        if (options[i].value == value)
            return i;
    }
    return std::nullopt;
}

SliderDisplay sliderDisplay(double stored, double minimum, double maximum, const QString& unit)
{
    constexpr double wholeNumberLimit = 9.0e15; // well inside what a qint64 and a double both hold exactly
    double shown = stored;
    if (std::isnan(stored))
        shown = minimum;
    else if (!std::isfinite(stored) || std::abs(stored) >= wholeNumberLimit)
        shown = std::clamp(stored, minimum, maximum);
    const double handle = std::clamp(shown, minimum, maximum);
    return {int(std::lround(handle)), QStringLiteral("%1%2").arg(qint64(std::trunc(shown))).arg(unit)};
}

namespace GeneralTables {

QList<PickerOption> menuBarIcons()
{
    static const char* const icons[][2] = {
        {"doc.on.clipboard.fill", "Clipboard"}, {"doc.on.clipboard", "Clipboard (outline)"},
        {"clipboard.fill", "Board"},            {"clipboard", "Board (outline)"},
        {"list.clipboard.fill", "List"},        {"list.clipboard", "List (outline)"},
        {"scissors", "Scissors"},               {"doc.on.doc.fill", "Documents"},
        {"doc.on.doc", "Documents (outline)"},  {"square.on.square", "Squares"},
        {"tray.fill", "Tray"},                  {"archivebox.fill", "Archive"},
    };
    QList<PickerOption> options;
    for (const auto& icon : icons)
        options.append({QString::fromUtf8(icon[1]), text(icon[0]), QString::fromUtf8(icon[0])});
    return options;
}

PickerSpec openWindowAt()
{
    return {QStringLiteral("Open window at"),
            QStringLiteral("Choose where the Lumra window appears when opened with the global shortcut."),
            Setting::shortcutWindowPosition,
            {{QStringLiteral("Mouse position"), text("mouse"), {}},
             {QStringLiteral("Center of screen"), text("center"), {}},
             {QStringLiteral("Last position"), text("lastPosition"), {}}}};
}

QList<PickerSpec> pasteRows()
{
    return {
        {QStringLiteral("Paste item with"),
         QStringLiteral("Choose whether a single click or double click pastes the selected item."),
         Setting::doubleTapToCopy,
         {{QStringLiteral("Single click"), SettingValue(false), {}}, {QStringLiteral("Double click"), SettingValue(true), {}}}},
        {QStringLiteral("Quick Paste"),
         QStringLiteral("Paste items quickly by holding a modifier key and pressing a number key (1\u20139) to paste "
                        "that item from your history."),
         Setting::quickPasteModifier,
         // Stored values name the other platform's keys; the labels name the keys they stand for here.
         enumOptions<QuickPasteModifier>({"Disabled", "Ctrl + 1...9", "Super + 1...9", "Alt + 1...9"})},
    };
}

SwitchSpec preserveFormatting()
{
    return {QStringLiteral("Preserve text formatting"),
            QStringLiteral("Keep bold, italic, and other rich text formatting when pasting. Turn off to always paste as "
                           "plain text. Hold Shift while pasting to paste as plain text without disabling this setting."),
            Setting::preserveFormatting};
}

PickerSpec combineTexts()
{
    return {QStringLiteral("When pasting multiple selected text-only items, combine them and paste as one item"),
            QStringLiteral("When every selected item is text (including links, emails, colors, and terminal commands), "
                           "merge them into a single paste. Horizontal joins with spaces, Vertical joins with new lines. "
                           "Combined pastes are always plain text \u2014 rich formatting is not preserved. If the "
                           "selection contains any image, file, or folder, the app falls back to the sequential paste "
                           "behavior below."),
            Setting::combineTextsMode,
            enumOptions<CombineTextsMode>({"Off", "Combine Horizontally", "Combine Vertically"})};
}

SwitchSpec pasteOnNewLines()
{
    return {QStringLiteral("When pasting multiple selected items, paste each individually on new line"),
            QStringLiteral("Only takes effect when pasting a multi-selection. Adds a line break after each text item so "
                           "they stack vertically, keeping each item's rich text formatting when Preserve text "
                           "formatting is enabled. Images and files don't add breaks \u2014 anything after them lands "
                           "on the same line."),
            Setting::pasteOnNewLines};
}

PickerSpec searchMode()
{
    return {QStringLiteral("Search mode"),
            QStringLiteral("Contains: matches items that include your search text anywhere.\n"
                           "Exact match: only matches items that exactly equal your search text.\n"
                           "Fuzzy match: finds items even with typos or partial matches.\n"
                           "Regular expression: search using regex patterns for advanced filtering."),
            Setting::searchMode,
            enumOptions<SearchMode>({"Contains", "Exact match", "Fuzzy match", "Regular expression"})};
}

SwitchSpec imageTextRecognition()
{
    return {QStringLiteral("Image text recognition"),
            QStringLiteral("Extract text from copied images so you can find them by searching for the text they contain."),
            Setting::enableImageOCR};
}

PickerSpec itemsToDisplay()
{
    PickerSpec spec {QStringLiteral("Items to display"),
                     QStringLiteral("Controls how many clipboard items are loaded at a time in the list. Scroll to the "
                                    "bottom to load more."),
                     Setting::displayBatchSize,
                     {}};
    for (qint64 n : {25, 50, 100, 200, 300})
        spec.options.append({QStringLiteral("%1 items").arg(n), number(n), {}});
    return spec;
}

QList<PickerOption> sounds()
{
    QList<PickerOption> options;
    for (CopySoundOption option : allCases<CopySoundOption>())
        options.append({displayName(option), SettingValue(rawValue(option)), {}});
    return options;
}

PickerSpec reminder()
{
    return {QStringLiteral("Reminder"),
            QStringLiteral("Show a reminder if you copy many items quickly without pasting any from Lumra. Triggers "
                           "when the number of copies per minute reaches the threshold."),
            Setting::reminderThreshold,
            enumOptions<ReminderThreshold>({"Off", "2 copies / min", "3 copies / min", "5 copies / min",
                                            "10 copies / min", "20 copies / min"})};
}

PickerSpec keepHistoryFor()
{
    PickerSpec spec {QStringLiteral("Keep history for"),
                     QStringLiteral("Automatically delete clipboard items older than this time period. Choose Unlimited "
                                    "to keep items indefinitely. Starred and pinned items are never deleted."),
                     Setting::retentionDays,
                     {}};
    for (RetentionPeriod period : allCases<RetentionPeriod>())
        spec.options.append({displayName(period), SettingValue(rawValue(period)), {}});
    return spec;
}

PickerSpec maxItems()
{
    PickerSpec spec {QStringLiteral("Max items to keep"),
                     QStringLiteral("The maximum number of clipboard items stored. When the limit is reached, the oldest "
                                    "items are removed first. Starred and pinned items are never deleted."),
                     Setting::maxItems,
                     {}};
    QList<qint64> limits {50, 100, 200, 500};
    for (qint64 n = 1000; n <= 10000; n += 1000)
        limits.append(n);
    for (qint64 n : limits)
        spec.options.append({QString::number(n), number(n), {}}); // plain digits, as the limit is typed
    return spec;
}

QList<SwitchSpec> captureTypes()
{
    return {
        {QStringLiteral("Text"), QStringLiteral("Plain or rich text that is not a link, email, or color."), Setting::captureText},
        {QStringLiteral("Links"), QStringLiteral("Copied text that is a single URL."), Setting::captureLinks},
        {QStringLiteral("Emails"), QStringLiteral("Copied text that is a single email address."), Setting::captureEmails},
        {QStringLiteral("Images (from clipboard)"),
         QStringLiteral("Image data placed on the clipboard, for example via Copy Image from a webpage."),
         Setting::captureImages},
        {QStringLiteral("Image Files (copied from the file manager)"),
         QStringLiteral("Image files (png, jpg, gif, heic, webp, etc.) copied from the file manager."),
         Setting::captureImageFiles},
        {QStringLiteral("Screenshots"), QStringLiteral("Screenshots captured to the clipboard with a screenshot tool."),
         Setting::captureScreenshots},
        {QStringLiteral("Colors"),
         QStringLiteral("Copied text that is a single color value: #RGB, #RGBA, #RRGGBB, #RRGGBBAA, rgb(), rgba(), "
                        "hsl(), hsla(), hsb(), hsba()."),
         Setting::captureColors},
        {QStringLiteral("Files"),
         QStringLiteral("Non-image files copied from the file manager (PDFs, documents, archives, mixed selections, etc.)."),
         Setting::captureFiles},
        {QStringLiteral("Folders"), QStringLiteral("Folders copied from the file manager."), Setting::captureFolders},
    };
}

} // namespace GeneralTables

namespace PrivacyTables {

SwitchSpec ignoreTransientContent()
{
    return {QStringLiteral("Ignore transient content"), QStringLiteral("Do not save temporary data generated by other apps."),
            Setting::ignoreTransientContent};
}

} // namespace PrivacyTables

namespace SyncTables {

QList<SwitchSpec> typesToSync()
{
    return {
        {QStringLiteral("Text"), QStringLiteral("Sync plain text copied to the clipboard."), Setting::syncText},
        {QStringLiteral("Links"), QStringLiteral("Sync copied URLs. Overrides the Text setting for link-like content."),
         Setting::syncLinks},
        {QStringLiteral("Emails"),
         QStringLiteral("Sync copied email addresses. Overrides the Text setting for email-like content."),
         Setting::syncEmails},
        {QStringLiteral("Images (from clipboard)"),
         QStringLiteral("Sync images copied directly to the clipboard (e.g. from an image viewer, browsers, or photo "
                        "apps)."),
         Setting::syncImages},
        {QStringLiteral("Screenshots"),
         QStringLiteral("Sync screenshots. Overrides the Images setting for screenshot content."),
         Setting::syncScreenshots},
        {QStringLiteral("Colors"), QStringLiteral("Sync color values copied to the clipboard."), Setting::syncColors},
    };
}

PickerSpec maxImageSize()
{
    PickerSpec spec {QStringLiteral("Max size for images & screenshots"),
                     QStringLiteral("Images and screenshots above this size stay on this computer. Only affects new "
                                    "items — existing synced items are not touched. This preference syncs across "
                                    "your computers."),
                     Setting::syncImageMaxSizeMB,
                     {}};
    for (qint64 megabytes : {1, 5, 10, 25, 50})
        spec.options.append({QStringLiteral("%1 MB").arg(megabytes), number(megabytes), {}});
    return spec;
}

} // namespace SyncTables

namespace {

LimitChange limitChange(const Result<int>& deleted, bool syncOn, const QString& title, const char* noun, const char* what)
{
    if (!deleted) {
        return {LimitChange::Kind::refuse, title,
                QStringLiteral("Lumra could not count the items this would delete, so the setting was not changed. %1")
                    .arg(deleted.error())
                    .trimmed()};
    }
    const int n = *deleted;
    if (n <= 0)
        return {LimitChange::Kind::applyNow, {}, {}};
    return {LimitChange::Kind::confirm, title,
            QStringLiteral("%1 %2%3 %4%5.")
                .arg(n)
                .arg(QLatin1String(noun), n == 1 ? QString() : QStringLiteral("s"), QLatin1String(what),
                     syncOn ? QStringLiteral(" across all your computers") : QString())};
}

} // namespace

LimitChange retentionChange(const Result<int>& deleted, bool syncOn)
{
    return limitChange(deleted, syncOn, QStringLiteral("Apply new retention now?"), "item",
                       "older than the new limit will be deleted");
}

LimitChange itemLimitChange(const Result<int>& deleted, bool syncOn)
{
    return limitChange(deleted, syncOn, QStringLiteral("Apply new item limit now?"), "oldest item", "will be deleted");
}

} // namespace lumra
