#include "engine/ClipboardManager.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lumra;

namespace {

struct Expected {
    const char* key;
    SettingType type;
    QVariant registered; // invalid: not registered
    QVariant fallback;
};

const QVariant notRegistered;
QVariant s(const char* text) { return QString::fromUtf8(text); }
QVariant n(qint64 value) { return value; }

constexpr auto Bool = SettingType::Bool;
constexpr auto Int = SettingType::Int;
constexpr auto Double = SettingType::Double;
constexpr auto String = SettingType::String;

// Written out by hand: every setting the reload reads, in its order, then those it leaves alone.
const std::vector<Expected> reloadedSettings = {
    { "maxItems", Int, n(2000), n(2000) }, // an unreadable limit keeps 2000 instead of cutting history to 200
    { "retentionDays", Int, n(150), n(0) },
    { "autoCleanMinutes", Int, n(0), n(0) },
    { "doubleTapToCopy", Bool, false, false },
    { "preserveFormatting", Bool, true, true },
    { "pasteOnNewLines", Bool, true, false },
    { "combineTextsMode", String, s("vertical"), s("off") },
    { "enableImageOCR", Bool, true, true },
    { "searchMode", String, s("contains"), s("contains") },
    { "displayBatchSize", Int, n(50), n(50) },
    { "showDateLabels", Bool, true, true },
    { "showExactTimestamps", Bool, false, false },
    { "showSourceAppIcon", Bool, true, true },
    { "showImageDimensions", Bool, true, true },
    { "showSearchHints", Bool, true, true },
    { "showSettingsIcon", Bool, true, true },
    { "showStarFilterIcon", Bool, true, true },
    { "showImageFilterIcon", Bool, true, true },
    { "showLinkFilterIcon", Bool, true, false },
    { "showTextFilterIcon", Bool, true, false },
    { "showFileFilterIcon", Bool, false, false },
    { "showFolderFilterIcon", Bool, false, false },
    { "showEmailFilterIcon", Bool, true, false },
    { "showColorFilterIcon", Bool, false, false },
    { "showCommandFilterIcon", Bool, false, false },
    { "showPauseButton", Bool, true, true },
    { "showQuitButton", Bool, true, true },
    { "showCategoriesInFooter", Bool, true, true },
    { "showHelpIcon", Bool, true, true },
    { "showTrafficLights", Bool, true, true },
    { "showSyncIcon", Bool, true, true },
    { "showItemCount", Bool, true, true },
    { "keepWindowOpen", Bool, false, false },
    { "showTags", Bool, true, true },
    { "showCategoryName", Bool, true, true },
    { "dividerStyle", String, s("fullWidth"), s("inset") },
    { "textLineLimit", Int, n(3), n(2) },
    { "previewHoverDelay", Int, n(0), n(0) },
    { "imageThumbnailHeight", String, s("big"), s("default") },
    { "imageFileThumbnailSize", String, s("default"), s("default") },
    { "thumbnailQuality", String, s("low"), s("normal") },
    { "itemFontSize", Double, 16.0, 13.0 },
    { "itemLineSpacing", Double, 3.0, 2.0 },
    { "metadataFontSize", Double, 10.0, 10.0 },
    { "tagsFontSize", Double, 10.0, 10.0 },
    { "commentFontSize", Double, 10.0, 10.0 },
    { "itemVerticalPadding", Double, 14.0, 6.0 },
    { "copySoundOption", String, s("Pop"), s("Pop") },
    { "customSoundPath", String, s(""), s("") },
    { "reminderThreshold", Int, n(3), n(10) },
    { "shortcutWindowPosition", String, s("center"), s("mouse") },
    { "quickPasteModifier", String, s("disabled"), s("disabled") },
    { "previewShortcut", String, s("spaceBar"), s("shiftCommand") },
    { "menuBarIcon", String, s("doc.on.clipboard.fill"), s("doc.on.clipboard.fill") },
    { "recycleBinEnabled", Bool, false, true },
    { "recycleBinDays", Int, n(2), n(30) },
    { "ignoreTransientContent", Bool, true, true },
    { "ignoredApplications", SettingType::IgnoredApps, notRegistered, QVariant() },
    { "syncText", Bool, true, true },
    { "syncLinks", Bool, true, true },
    { "syncEmails", Bool, true, true },
    { "syncImages", Bool, true, true },
    { "syncScreenshots", Bool, true, true },
    { "syncColors", Bool, true, true },
    { "syncImageMaxSizeMB", Int, n(5), n(5) },
};

const std::vector<Expected> keptOnReload = {
    { "iCloudSyncEnabled", Bool, notRegistered, true },
    { "captureText", Bool, notRegistered, true },
    { "captureLinks", Bool, notRegistered, true },
    { "captureEmails", Bool, notRegistered, true },
    { "captureImages", Bool, notRegistered, true },
    { "captureImageFiles", Bool, notRegistered, true },
    { "captureScreenshots", Bool, notRegistered, true },
    { "captureColors", Bool, notRegistered, true },
    { "captureFiles", Bool, notRegistered, true },
    { "captureFolders", Bool, notRegistered, true },
    { "showTimeSavedCelebration", Bool, notRegistered, true },
    { "showFileThumbnails", Bool, notRegistered, true },
    { "footerSize", Double, notRegistered, 11.0 },
};

bool sameVariant(const QVariant& a, const QVariant& b) { return a.typeId() == b.typeId() && a == b; }

TEST(SettingsCatalogue, HoldsEverySettingWithItsTypeDefaultAndFallback)
{
    std::vector<std::pair<Expected, bool>> expected;
    for (const Expected& e : reloadedSettings)
        expected.emplace_back(e, true);
    for (const Expected& e : keptOnReload)
        expected.emplace_back(e, false);

    const auto catalogue = settingsCatalogue();
    ASSERT_EQ(catalogue.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& [want, reloaded] = expected[i];
        const SettingInfo& row = catalogue[i];
        SCOPED_TRACE(want.key);
        EXPECT_EQ(row.key, QString::fromLatin1(want.key));
        EXPECT_EQ(row.setting, Setting(i));
        EXPECT_EQ(row.type, want.type);
        EXPECT_EQ(row.reloaded, reloaded);
        EXPECT_EQ(settingForKey(row.key), row.setting);
        if (want.registered.isValid()) {
            ASSERT_TRUE(row.registered);
            EXPECT_TRUE(sameVariant(settingValueToVariant(*row.registered), want.registered))
                << settingValueToVariant(*row.registered).toString().toStdString();
        } else {
            EXPECT_FALSE(row.registered);
        }
        if (want.fallback.isValid()) {
            EXPECT_TRUE(sameVariant(settingValueToVariant(row.fallback), want.fallback));
        }
        EXPECT_TRUE(isValidSettingValue(row, row.fallback));
        if (row.registered) {
            EXPECT_TRUE(isValidSettingValue(row, *row.registered));
        }
    }
    EXPECT_FALSE(settingForKey("autoCleanHours"));
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

    EXPECT_EQ(displayName(CopySoundOption::none), "None");
    EXPECT_EQ(displayName(CopySoundOption::custom), "Custom...");
    EXPECT_EQ(displayName(CopySoundOption::submarine), "Submarine");
}

} // namespace
