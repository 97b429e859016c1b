#include "engine/ClipboardManager.h"

#include <gtest/gtest.h>

#include <QSet>

#include <vector>

using namespace lumra;

namespace {

// Written out by hand: every setting the reload reads, in its order, then those it leaves alone.
const QStringList reloadedKeys = {
    "maxItems", "retentionDays", "autoCleanMinutes", "doubleTapToCopy", "preserveFormatting", "pasteOnNewLines",
    "combineTextsMode", "enableImageOCR", "searchMode", "displayBatchSize", "showDateLabels", "showExactTimestamps",
    "showSourceAppIcon", "showImageDimensions", "showSearchHints", "showSettingsIcon", "showStarFilterIcon",
    "showImageFilterIcon", "showLinkFilterIcon", "showTextFilterIcon", "showFileFilterIcon", "showFolderFilterIcon",
    "showEmailFilterIcon", "showColorFilterIcon", "showCommandFilterIcon", "showPauseButton", "showQuitButton",
    "showCategoriesInFooter", "showHelpIcon", "showTrafficLights", "showSyncIcon", "showItemCount", "keepWindowOpen",
    "showTags", "showCategoryName", "dividerStyle", "textLineLimit", "previewHoverDelay", "imageThumbnailHeight",
    "imageFileThumbnailSize", "thumbnailQuality", "itemFontSize", "itemLineSpacing", "metadataFontSize",
    "tagsFontSize", "commentFontSize", "itemVerticalPadding", "copySoundOption", "customSoundPath",
    "reminderThreshold", "shortcutWindowPosition", "quickPasteModifier", "previewShortcut", "menuBarIcon",
    "recycleBinEnabled", "recycleBinDays", "ignoreTransientContent", "ignoredApplications", "syncText", "syncLinks",
    "syncEmails", "syncImages", "syncScreenshots", "syncColors", "syncImageMaxSizeMB",
};
const QStringList keptOnReload = {
    "iCloudSyncEnabled", "captureText", "captureLinks", "captureEmails", "captureImages", "captureImageFiles",
    "captureScreenshots", "captureColors", "captureFiles", "captureFolders", "showTimeSavedCelebration",
    "showFileThumbnails", "footerSize",
};

bool sameVariant(const QVariant& a, const QVariant& b) { return a.typeId() == b.typeId() && a == b; }

TEST(SettingsCatalogue, EveryRowIsFoundByItsKeyInTheReloadOrderWithUsableDefaults)
{
    const auto catalogue = settingsCatalogue();
    const QStringList keys = reloadedKeys + keptOnReload;
    ASSERT_EQ(catalogue.size(), size_t(keys.size()));
    for (size_t i = 0; i < catalogue.size(); ++i) {
        const SettingInfo& row = catalogue[i];
        SCOPED_TRACE(keys[qsizetype(i)].toStdString());
        EXPECT_EQ(row.key, keys[qsizetype(i)]);
        EXPECT_EQ(row.setting, Setting(i));
        EXPECT_EQ(row.reloaded, qsizetype(i) < reloadedKeys.size());
        EXPECT_EQ(settingForKey(row.key), row.setting);
        EXPECT_TRUE(isValidSettingValue(row, row.fallback));
        if (row.registered) {
            EXPECT_TRUE(isValidSettingValue(row, *row.registered));
        }
        // Only the settings the reload reads are registered (the ignored applications excepted).
        EXPECT_EQ(bool(row.registered), row.reloaded && row.setting != Setting::ignoredApplications);
    }
    EXPECT_FALSE(settingForKey("autoCleanHours"));
}

TEST(SettingsCatalogue, AnUnreadableLimitFallsBackTo2000NotTo200)
{
    const SettingInfo& row = settingInfo(Setting::maxItems);
    EXPECT_EQ(row.type, SettingType::Int);
    EXPECT_TRUE(sameVariant(settingValueToVariant(*row.registered), qint64(2000)));
    EXPECT_TRUE(sameVariant(settingValueToVariant(row.fallback), qint64(2000)));
}

TEST(SettingsCatalogue, RegistersTheSettingsAndTheHotKeyAndWindowKeys)
{
    const QVariantMap defaults = ClipboardManager::registeredDefaultSettings();
    EXPECT_EQ(defaults.size(), 69);
    EXPECT_EQ(defaults.value("hotKeyEnabled"), QVariant(true));
    EXPECT_EQ(defaults.value("hotKeyKeyCode"), QVariant(qint64(9)));
    EXPECT_EQ(defaults.value("hotKeyModifiers"), QVariant(qint64(0x180000)));
    EXPECT_EQ(defaults.value("clipboardWindowWidth"), QVariant(qint64(551)));
    EXPECT_EQ(defaults.value("clipboardWindowHeight"), QVariant(qint64(621)));
    EXPECT_FALSE(defaults.contains("iCloudSyncEnabled"));
    EXPECT_FALSE(defaults.contains("ignoredApplications"));
}

TEST(SettingsCatalogue, DefaultIgnoredApplicationsAreThisPlatformsPasswordManagers)
{
    const QList<IgnoredApp> expected {
        { "org.keepassxc.KeePassXC", "KeePassXC" },
        { "org.gnome.seahorse.Application", "Passwords and Keys" },
    };
    EXPECT_EQ(defaultIgnoredApplications(), expected);
    EXPECT_EQ(std::get<QList<IgnoredApp>>(settingInfo(Setting::ignoredApplications).fallback), expected);
}

TEST(SettingsCatalogue, RangeChecksRefuseRatherThanClamp)
{
    struct Case {
        Setting setting;
        SettingValue value;
        bool valid;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases = {
        { Setting::maxItems, qint64(1), true },
        { Setting::maxItems, qint64(0), false },
        { Setting::maxItems, qint64(-5), false },
        { Setting::retentionDays, qint64(0), true },
        { Setting::retentionDays, qint64(-1), false },
        { Setting::retentionDays, qint64(1) << 40, false },
        { Setting::recycleBinDays, qint64(-1), false },
        { Setting::autoCleanMinutes, qint64(259200), true },
        { Setting::autoCleanMinutes, qint64(-10), false },
        { Setting::syncImageMaxSizeMB, qint64(0), true },
        { Setting::syncImageMaxSizeMB, qint64(1) << 43, false },
        { Setting::syncImageMaxSizeMB, qint64(-1), false },
        { Setting::displayBatchSize, qint64(0), false },
        { Setting::itemFontSize, 0.0, false },
        { Setting::itemFontSize, -3.0, false },
        { Setting::itemFontSize, nan, false },
        { Setting::itemFontSize, inf, false },
        { Setting::footerSize, 11.0, true },
        { Setting::itemLineSpacing, 0.0, true },
        { Setting::itemLineSpacing, -1.0, false },
        { Setting::previewHoverDelay, qint64(-1), true }, // 0 or less: no hover preview
        { Setting::combineTextsMode, QString("sideways"), true }, // unknown raw values are kept
        { Setting::maxItems, QString("500"), false }, // wrong type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(settingInfo(c.setting).key.toStdString() + " " + settingValueToVariant(c.value).toString().toStdString());
        EXPECT_EQ(isValidSettingValue(settingInfo(c.setting), c.value), c.valid);
    }
}

// ------------------------------------------------------------------------------------------------ option enums

template <typename E>
void expectRawValuesRoundTrip()
{
    for (E value : allCases<E>())
        EXPECT_EQ(fromRawValue<E>(rawValue(value)), value);
}

TEST(SettingOptions, RawValuesRoundTripForEveryCase)
{
    expectRawValuesRoundTrip<RetentionPeriod>();
    expectRawValuesRoundTrip<AutoCleanInterval>();
    expectRawValuesRoundTrip<CombineTextsMode>();
    expectRawValuesRoundTrip<ThumbnailQuality>();
    expectRawValuesRoundTrip<DividerStyle>();
    expectRawValuesRoundTrip<SearchMode>();
    expectRawValuesRoundTrip<ReminderThreshold>();
    expectRawValuesRoundTrip<CopySoundOption>();
    expectRawValuesRoundTrip<QuickPasteModifier>();
    expectRawValuesRoundTrip<PreviewShortcut>();
    EXPECT_EQ(allCases<AutoCleanInterval>().size(), 27);
    EXPECT_EQ(allCases<CopySoundOption>().size(), 16);
}

TEST(SettingOptions, UnknownRawValuesGiveNoCase)
{
    EXPECT_EQ(fromRawValue<RetentionPeriod>(0), RetentionPeriod::unlimited);
    EXPECT_EQ(allCases<RetentionPeriod>().last(), RetentionPeriod::unlimited);
    EXPECT_FALSE(fromRawValue<RetentionPeriod>(45));
    EXPECT_FALSE(fromRawValue<AutoCleanInterval>(25));
    EXPECT_FALSE(fromRawValue<ReminderThreshold>(4));
    EXPECT_EQ(fromRawValue<CopySoundOption>("Pop"), CopySoundOption::pop);
    EXPECT_FALSE(fromRawValue<CopySoundOption>("pop"));
    EXPECT_FALSE(fromRawValue<CopySoundOption>("None"));
    EXPECT_EQ(fromRawValue<AppearanceStyle>("default"), AppearanceStyle::standard);
    EXPECT_FALSE(fromRawValue<AppearanceStyle>("standard"));
    EXPECT_EQ(rawValue(PreviewShortcut::shiftCommand), "shiftCommand");
    EXPECT_EQ(allCases<PreviewShortcut>().last(), PreviewShortcut::spaceBar);
}

TEST(SettingOptions, Labels)
{
    QStringList retention;
    for (RetentionPeriod period : allCases<RetentionPeriod>())
        retention << displayName(period);
    EXPECT_EQ(retention, (QStringList { "1 week", "2 weeks", "3 weeks", "1 month", "2 months", "3 months", "4 months",
                                        "5 months", "6 months", "Unlimited" }));

    const std::vector<std::pair<qint64, QString>> intervals = {
        { 0, "Disable" }, { 10, "10 minutes" }, { 45, "45 minutes" }, { 60, "1 hour" }, { 120, "2 hours" },
        { 1440, "24 hours" }, { 2880, "2 days" }, { 28800, "20 days" }, { 43200, "1 month" }, { 259200, "6 months" },
    };
    for (const auto& [minutes, label] : intervals)
        EXPECT_EQ(displayName(*fromRawValue<AutoCleanInterval>(minutes)), label);

    // The picker names Lumra's own sounds, never by their stored raw values.
    QSet<QString> labels;
    for (CopySoundOption option : allCases<CopySoundOption>()) {
        EXPECT_NE(displayName(option), rawValue(option));
        labels.insert(displayName(option));
    }
    EXPECT_EQ(labels.size(), allCases<CopySoundOption>().size());
}

} // namespace
