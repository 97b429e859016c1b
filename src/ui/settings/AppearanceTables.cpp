#include "ui/settings/AppearanceTables.h"

namespace lumra::AppearanceTables {

namespace {

SwitchSpec toggle(const char* title, const char* description, Setting setting)
{
    return {QString::fromUtf8(title), QString::fromUtf8(description), setting};
}

QList<PickerOption> texts(std::initializer_list<std::pair<const char*, const char*>> options)
{
    QList<PickerOption> list;
    for (const auto& [label, value] : options)
        list.append({QString::fromUtf8(label), SettingValue(QString::fromUtf8(value)), {}});
    return list;
}

QList<PickerOption> numbers(std::initializer_list<std::pair<const char*, qint64>> options)
{
    QList<PickerOption> list;
    for (const auto& [label, value] : options)
        list.append({QString::fromUtf8(label), SettingValue(value), {}});
    return list;
}

QList<PickerOption> thumbnailSizes() { return texts({{"Default", "default"}, {"Big", "big"}, {"Bigger", "bigger"}}); }

} // namespace

QList<SwitchSpec> displaySwitches()
{
    return {
        toggle("Show date labels", "Display relative timestamps (e.g. 5 days ago) for each clipboard item.", Setting::showDateLabels),
        toggle("Show exact timestamps", "Show the exact copy and last paste time (with seconds) below each item's relative date.",
               Setting::showExactTimestamps),
        toggle("Show image dimensions", "Display pixel dimensions (e.g. 1920x1080) next to the date for image items.",
               Setting::showImageDimensions),
        toggle("Show source app icon", "Display the icon of the application from which each item was copied.",
               Setting::showSourceAppIcon),
        toggle("Show file thumbnails",
               "Show real previews (image content, video frames, document pages) for copied files. When off, "
               "just the file type icon is displayed.",
               Setting::showFileThumbnails),
        toggle("Show tags in list", "Display tags (e.g. Link, Email, Color) below each clipboard item.", Setting::showTags),
        toggle("Show category name",
               "Display the category name next to the date (e.g. 2 mins ago \u00B7 Work) for items assigned to a category.",
               Setting::showCategoryName),
        toggle("Show window buttons", "Show the red/yellow/green window buttons in the top-left of the popup window.",
               Setting::showTrafficLights),
        toggle("Show sync icon",
               "Show the sync status icon in the top-right of the popup window. Only appears when sync is enabled.",
               Setting::showSyncIcon),
        toggle("Show item count", "Show the number of items (e.g. \"2,467 items\") in the top-right of the popup window.",
               Setting::showItemCount),
        toggle("Show settings icon",
               "Show the settings (gear) icon in the footer. You can always open settings by right-clicking the system "
               "tray icon.",
               Setting::showSettingsIcon),
        toggle("Show star filter icon",
               "Show the star icon in the toolbar to quickly filter starred items. You can also use the /star command.",
               Setting::showStarFilterIcon),
        toggle("Show image filter icon",
               "Show the image icon in the toolbar to quickly filter image items. You can also use the /image command.",
               Setting::showImageFilterIcon),
        toggle("Show link filter icon",
               "Show the link icon in the toolbar to quickly filter items containing URLs. You can also use the /link "
               "command.",
               Setting::showLinkFilterIcon),
        toggle("Show text filter icon",
               "Show the text icon in the toolbar to quickly filter plain text items. You can also use the /text command.",
               Setting::showTextFilterIcon),
        toggle("Show file filter icon",
               "Show the file icon in the toolbar to quickly filter file items. You can also use the /file command.",
               Setting::showFileFilterIcon),
        toggle("Show folder filter icon",
               "Show the folder icon in the toolbar to quickly filter folder items. You can also use the /folder command.",
               Setting::showFolderFilterIcon),
        toggle("Show email filter icon",
               "Show the email icon in the toolbar to quickly filter email items. You can also use the /email command.",
               Setting::showEmailFilterIcon),
        toggle("Show color filter icon",
               "Show the color icon in the toolbar to quickly filter color items. You can also use the /color command.",
               Setting::showColorFilterIcon),
        toggle("Show terminal command filter icon",
               "Show the terminal icon in the toolbar to quickly filter terminal command items. You can also use the "
               "/terminal command.",
               Setting::showCommandFilterIcon),
        toggle("Show categories in footer",
               "Show your categories in the footer. Turn this off to hide the entire category area, regardless of "
               "individual category visibility.",
               Setting::showCategoriesInFooter),
        toggle("Show pause button", "Show the pause button in the toolbar to temporarily stop clipboard monitoring.",
               Setting::showPauseButton),
        toggle("Show quit button", "Show the Quit button in the footer to quit Lumra.", Setting::showQuitButton),
        toggle("Show help icon",
               "Show the help icon at the end of the search bar to open the slash commands reference in Settings.",
               Setting::showHelpIcon),
        toggle("Show search hints",
               "Show rotating hints in the search bar for /date, /type, /app, /cat, /tag, /star, /link, /image, /file, "
               "/folder, /text, /color, /terminal, /email, /pasted, /trash, and /pin commands.",
               Setting::showSearchHints),
        toggle("Show time-saved celebration",
               "Display a congratulations message in the header after every 25 successful pastes. Click the message to "
               "reset the counter.",
               Setting::showTimeSavedCelebration),
    };
}

QList<PickerSpec> displayPickers()
{
    return {
        {QStringLiteral("Item dividers"),
         QStringLiteral("Show a subtle divider line between clipboard items. Inset dividers are slightly indented from the "
                        "edges; full width dividers span the entire width."),
         Setting::dividerStyle, texts({{"None", "none"}, {"Inset", "inset"}, {"Full width", "fullWidth"}})},
        {QStringLiteral("Text lines to display"),
         QStringLiteral("Set how many lines of text are shown for each clipboard item in the list."), Setting::textLineLimit,
         numbers({{"1 line", 1}, {"2 lines", 2}, {"3 lines", 3}, {"4 lines", 4}, {"5 lines", 5}})},
        {QStringLiteral("Clipboard image thumbnail height"),
         QStringLiteral("Control how tall clipboard image thumbnails (screenshots, browser copies, image data on the "
                        "clipboard) appear in the clipboard list. Larger sizes make clipboard images easier to see at a "
                        "glance."),
         Setting::imageThumbnailHeight, thumbnailSizes()},
        {QStringLiteral("Clipboard image thumbnail quality"),
         QStringLiteral("Control how sharp clipboard image thumbnails (screenshots, browser copies, image data on the "
                        "clipboard) look in the clipboard list. Higher quality uses more memory and may slow first-time "
                        "scrolling through large clipboard image histories."),
         Setting::thumbnailQuality, texts({{"Low", "low"}, {"Default", "normal"}, {"High", "high"}})},
        {QStringLiteral("Image file thumbnail size"),
         QStringLiteral("Choose how large image-file thumbnails (JPG, PNG, HEIC, etc.) appear in the clipboard list. "
                        "Non-image files, folders, and bundled selections are unaffected."),
         Setting::imageFileThumbnailSize, thumbnailSizes()},
        {QStringLiteral("Preview shortcut"),
         QStringLiteral("Tap this modifier alone (without combining with another key) to toggle a preview of the active "
                        "item (keyboard-selected or hovered). Tap again or press Esc to close. Space Bar previews only "
                        "when the mouse is hovering an item and you're not typing in the search field. You can also "
                        "right-click any item and choose Preview."),
         Setting::previewShortcut,
         // Stored values name the other platform's keys; the labels name the keys they stand for here.
         texts({{"Disabled", "disabled"}, {"Ctrl + Shift", "shiftCommand"}, {"Alt", "option"}, {"Super", "control"},
                {"Alt + Shift", "shiftOption"}, {"Shift + Super", "shiftControl"}, {"Ctrl + Alt", "optionCommand"},
                {"Ctrl + Super", "controlCommand"}, {"Space Bar", "spaceBar"}})},
        {QStringLiteral("Automatic preview on hover"),
         QStringLiteral("Automatically open the preview window after hovering over a clipboard item for the chosen delay. "
                        "Choose Disabled to require manual triggering via the preview shortcut."),
         Setting::previewHoverDelay, numbers({{"Disabled", 0}, {"1 second", 1}, {"2 seconds", 2}, {"3 seconds", 3}})},
    };
}

QList<DisplayRow> displayRows()
{
    const QList<SwitchSpec> switches = displaySwitches();
    const QList<PickerSpec> pickers = displayPickers();
    QList<DisplayRow> rows;
    for (int i = 0; i < 24; ++i)
        rows.append({switches[i], std::nullopt, i == 7});
    for (int i = 0; i < pickers.size(); ++i)
        rows.append({std::nullopt, pickers[i], i == 0 || i == 2 || i == 5});
    rows.append({switches[24], std::nullopt, true});
    rows.append({switches[25], std::nullopt, false});
    return rows;
}

QList<SliderSpec> fontSliders()
{
    const QString pt = QStringLiteral(" pt");
    return {
        {QStringLiteral("Clipboard item text"), QStringLiteral("Adjust the font size of clipboard item text in the list."),
         Setting::itemFontSize, 10, 20, pt},
        {QStringLiteral("Line height"), QStringLiteral("Adjust the spacing between lines of multi-line clipboard item text."),
         Setting::itemLineSpacing, 0, 12, pt},
        {QStringLiteral("Metadata (dates, dimensions)"),
         QStringLiteral("Adjust the font size of timestamps, image dimensions, and other metadata."),
         Setting::metadataFontSize, 8, 16, pt},
        {QStringLiteral("Tags"), QStringLiteral("Adjust the font size of category tags shown on clipboard items."),
         Setting::tagsFontSize, 8, 16, pt},
        {QStringLiteral("Comments"), QStringLiteral("Adjust the font size of comments shown on clipboard items."),
         Setting::commentFontSize, 8, 16, pt},
        {QStringLiteral("Item spacing"), QStringLiteral("Adjust the vertical padding above and below each clipboard item."),
         Setting::itemVerticalPadding, 2, 16, QStringLiteral(" px")},
        {QStringLiteral("Footer elements size"),
         QStringLiteral("Adjust the size of icons and text in the bottom footer (settings, filters, categories, Quit)."),
         Setting::footerSize, 8, 20, pt},
    };
}

QList<StyleCard> styleCards()
{
    return {
        {AppearanceStyle::standard, QStringLiteral("Default"), QStringLiteral("list.bullet.rectangle"),
         QStringLiteral("Roomy rows with dates, image dimensions, and filter icons.")},
        {AppearanceStyle::minimal, QStringLiteral("Minimal"), QStringLiteral("list.dash"),
         QStringLiteral("Compact single-line rows with source icons and less chrome.")},
    };
}

QList<QPair<Setting, double>> restoredFontStyles()
{
    return {{Setting::itemFontSize, 13},    {Setting::itemLineSpacing, 2}, {Setting::metadataFontSize, 10},
            {Setting::tagsFontSize, 10},    {Setting::commentFontSize, 10}, {Setting::itemVerticalPadding, 6},
            {Setting::footerSize, 11}};
}

} // namespace lumra::AppearanceTables
