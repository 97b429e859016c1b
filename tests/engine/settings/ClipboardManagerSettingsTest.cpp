#include "engine/settings/SettingsTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <vector>

using namespace lumra;
using lumra::test::SettingsTest;

namespace {

bool ignoredAppCodecAvailable() { return !Json::encode(IgnoredApp { "a", "b" }).isEmpty(); }

// ------------------------------------------------------------------------------------------------ fresh install

TEST_F(SettingsTest, FreshInstallReadsRegisteredValuesWhereTheyExistAndFallbacksElsewhere)
{
    auto& m = makeManager();
    EXPECT_FALSE(m.recycleBinEnabled()); // fallback would be true
    EXPECT_EQ(m.recycleBinDays(), 2); // fallback would be 30
    EXPECT_EQ(m.maxItems(), 2000);
    EXPECT_EQ(m.itemFontSize(), 16.0);
    EXPECT_EQ(m.reminderThreshold(), 3);
    EXPECT_EQ(m.dividerStyle(), "fullWidth");
    EXPECT_TRUE(m.pasteOnNewLines());
    EXPECT_TRUE(m.iCloudSyncEnabled());
    EXPECT_EQ(m.footerSize(), 11.0);
    for (CaptureCategory c : { CaptureCategory::text, CaptureCategory::link, CaptureCategory::email, CaptureCategory::color,
                               CaptureCategory::image, CaptureCategory::screenshot, CaptureCategory::imageFile,
                               CaptureCategory::file, CaptureCategory::folder })
        EXPECT_TRUE(m.isCaptureEnabled(c));
    EXPECT_EQ(m.ignoredApplications(), defaultIgnoredApplications());
    // Reading at launch writes nothing back.
    EXPECT_TRUE(defaults->storedValues().isEmpty());
}

TEST_F(SettingsTest, WithoutRegistrationTheFallbacksApply)
{
    reopenDefaults(false);
    auto& m = makeManager();
    EXPECT_TRUE(m.recycleBinEnabled());
    EXPECT_EQ(m.recycleBinDays(), 30);
    EXPECT_EQ(m.dividerStyle(), "inset");
    EXPECT_EQ(m.itemFontSize(), 13.0);
    EXPECT_FALSE(m.pasteOnNewLines());
    EXPECT_EQ(m.maxItems(), 2000);
}

TEST_F(SettingsTest, SettingsSurviveARestart)
{
    auto& m = makeManager();
    m.setMaxItems(750);
    m.setItemFontSize(14.5);
    m.setRecycleBinEnabled(true);
    m.setCombineTextsMode("horizontal");
    m.setCaptureImages(false);
    m.setICloudSyncEnabled(false);

    reopenDefaults();
    auto& again = makeManager();
    EXPECT_EQ(again.maxItems(), 750);
    EXPECT_EQ(again.itemFontSize(), 14.5);
    EXPECT_TRUE(again.recycleBinEnabled());
    EXPECT_EQ(again.combineTextsMode(), "horizontal");
    EXPECT_FALSE(again.captureImages());
    EXPECT_FALSE(again.iCloudSyncEnabled());
}

TEST_F(SettingsTest, WronglyTypedStoredValuesTakeTheFallback)
{
    auto& d = reopenDefaults();
    d.set("retentionDays", "thirty");
    d.set("maxItems", "lots");
    d.set("recycleBinEnabled", 2); // only 0 and 1 read as booleans
    d.set("dividerStyle", QVariantList { "none" });
    d.set("itemFontSize", 15); // a whole number reads as a size
    d.set("textLineLimit", 2.5);
    auto& m = makeManager();
    EXPECT_EQ(m.retentionDays(), 0);
    EXPECT_EQ(m.maxItems(), 2000);
    EXPECT_TRUE(m.recycleBinEnabled());
    EXPECT_EQ(m.dividerStyle(), "inset");
    EXPECT_EQ(m.itemFontSize(), 15.0);
    EXPECT_EQ(m.textLineLimit(), 2);
}

// ------------------------------------------------------------------------------------------------ validation

struct InvalidCase {
    Setting setting;
    QVariant invalid;
    SettingValue valid; // differs from the registered value
};

std::vector<InvalidCase> invalidCases()
{
    return {
        { Setting::maxItems, qint64(-5), qint64(500) },
        { Setting::maxItems, qint64(0), qint64(500) },
        { Setting::retentionDays, qint64(-1), qint64(30) },
        { Setting::retentionDays, qint64(1'000'000), qint64(30) },
        { Setting::autoCleanMinutes, qint64(-10), qint64(60) },
        { Setting::recycleBinDays, qint64(-3), qint64(7) },
        { Setting::syncImageMaxSizeMB, qint64(1) << 43, qint64(20) },
        { Setting::displayBatchSize, qint64(0), qint64(100) },
        { Setting::itemFontSize, -12.0, 18.0 },
        { Setting::tagsFontSize, 0.0, 12.0 },
        { Setting::itemVerticalPadding, 1e9, 8.0 },
    };
}

QString caseName(const InvalidCase& c) { return settingInfo(c.setting).key + " = " + c.invalid.toString(); }

TEST_F(SettingsTest, SetterRefusesInvalidValuesAndDoesNothingElse)
{
    auto& m = makeManager();
    for (const InvalidCase& c : invalidCases()) {
        SCOPED_TRACE(caseName(c).toStdString());
        const SettingValue before = m.setting(c.setting);
        clearRecords();
        const auto asValue = settingValueFromVariant(settingInfo(c.setting), c.invalid);
        ASSERT_TRUE(asValue);
        EXPECT_FALSE(m.setSetting(c.setting, *asValue));
        EXPECT_EQ(m.setting(c.setting), before);
        EXPECT_FALSE(defaults->hasStoredValue(settingInfo(c.setting).key));
        EXPECT_TRUE(changedKeys.isEmpty());
        EXPECT_TRUE(m.effects.isEmpty());
        EXPECT_EQ(cloud.writeCount(), 0);
    }
    EXPECT_FALSE(m.setItemFontSize(std::nan("")));
    EXPECT_FALSE(m.setMaxItems(-5));
    EXPECT_EQ(m.maxItems(), 2000);
}

TEST_F(SettingsTest, InvalidStoredValuesKeepTheRegisteredValueAtLaunch)
{
    for (const InvalidCase& c : invalidCases()) {
        SCOPED_TRACE(caseName(c).toStdString());
        reopenDefaults().set(settingInfo(c.setting).key, c.invalid);
        auto& m = makeManager();
        EXPECT_EQ(m.setting(c.setting), *settingInfo(c.setting).registered);
        EXPECT_EQ(defaults->object(settingInfo(c.setting).key), settingValueToVariant(*settingInfo(c.setting).registered));
        defaults->clear();
    }
}

TEST_F(SettingsTest, AValueTheReloadRefusesIsReplacedInTheFileAndSurvivesARestart)
{
    for (const InvalidCase& c : invalidCases()) {
        SCOPED_TRACE(caseName(c).toStdString());
        auto& m = makeManager();
        ASSERT_TRUE(m.setSetting(c.setting, c.valid));
        defaults->set(settingInfo(c.setting).key, c.invalid);
        m.reloadSettingsFromDefaults();
        EXPECT_EQ(m.setting(c.setting), c.valid);
        reopenDefaults();
        EXPECT_EQ(makeManager().setting(c.setting), c.valid) << "the restart took another value";
    }
}

TEST_F(SettingsTest, InvalidValuesFromTheCloudStoreAreSkipped)
{
    auto& m = makeManager();
    cloud.receiveExternalChange({ { "maxItems", -5 }, { "retentionDays", -1 }, { "recycleBinDays", 100000 },
                                  { "syncImageMaxSizeMB", qint64(1) << 50 }, { "autoCleanMinutes", -60 } });
    EXPECT_EQ(m.maxItems(), 2000);
    EXPECT_EQ(m.retentionDays(), 150);
    EXPECT_EQ(m.recycleBinDays(), 2);
    EXPECT_EQ(m.syncImageMaxSizeMB(), 5);
    EXPECT_EQ(m.autoCleanMinutes(), 0);
    EXPECT_TRUE(m.effects.isEmpty());
}

TEST_F(SettingsTest, UnreadableLimitFallsBackToTheRegisteredLimitOnReload)
{
    auto& m = makeManager();
    m.setMaxItems(300);
    defaults->set("maxItems", "many");
    m.reloadSettingsFromDefaults();
    EXPECT_EQ(m.maxItems(), 2000);
}

// ------------------------------------------------------------------------------------------------ assignment rule

TEST_F(SettingsTest, EqualAssignmentRunsEffectsWithoutAChangeSignal)
{
    auto& m = makeManager();
    clearRecords();
    m.setKeepWindowOpen(false);
    m.setRetentionDays(150);
    m.setAutoCleanMinutes(0);
    m.setThumbnailQuality("low");
    m.setSearchMode("contains");
    m.setQuickPasteModifier("disabled");
    m.setMenuBarIcon("doc.on.clipboard.fill");
    m.setShowTrafficLights(true);
    EXPECT_TRUE(changedKeys.isEmpty());
    EXPECT_EQ(notifications, (QStringList { Notifications::keepWindowOpenChanged, Notifications::quickPasteChanged,
                                            Notifications::menuBarIconChanged, Notifications::showTrafficLightsChanged }));
    EXPECT_EQ(m.effects, (QStringList { "applyRetention", "purgeExpiredTrash", "startAutoCleanTimer",
                                        "clearThumbnailCache", "updateFilteredItems" }));
    EXPECT_TRUE(defaults->hasStoredValue("keepWindowOpen"));
    EXPECT_TRUE(defaults->hasStoredValue("retentionDays"));
}

TEST_F(SettingsTest, ChangedAssignmentSignalsOnceAndWrites)
{
    auto& m = makeManager();
    clearRecords();
    EXPECT_TRUE(m.setShowTags(false));
    EXPECT_TRUE(m.setItemFontSize(12.0));
    EXPECT_EQ(changedKeys, (QStringList { "showTags", "itemFontSize" }));
    EXPECT_EQ(defaults->object("showTags"), QVariant(false));
    EXPECT_EQ(defaults->object("itemFontSize"), QVariant(12.0));
    EXPECT_TRUE(notifications.isEmpty());
}

TEST_F(SettingsTest, CanonicallyEquivalentStringsAreEqual)
{
    auto& m = makeManager();
    // Both spellings name files that are there: a custom sound must be one.
    QTemporaryDir folder;
    const QString composed = folder.filePath(QString::fromUtf8("caf\u00e9.wav"));
    const QString decomposed = folder.filePath(QString::fromUtf8("cafe\u0301.wav"));
    for (const QString& path : {composed, decomposed}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(m.setCustomSoundPath(composed));
    clearRecords();
    ASSERT_TRUE(m.setCustomSoundPath(decomposed));
    EXPECT_TRUE(changedKeys.isEmpty());
}

// ------------------------------------------------------------------------------------------------ cloud mirror

TEST_F(SettingsTest, MirroredSettingsReachTheCloudStoreOnlyWhileSyncIsOn)
{
    auto& m = makeManager();
    m.setICloudSyncEnabled(false);
    clearRecords();
    m.setMaxItems(500);
    EXPECT_EQ(defaults->integer("maxItems"), 500);
    EXPECT_EQ(cloud.writeCount(), 0);
    EXPECT_EQ(cloud.synchronizeCount(), 0);

    m.setICloudSyncEnabled(true);
    clearRecords();
    m.setMaxItems(500);
    m.setRecycleBinEnabled(true);
    m.setShowTags(false); // not mirrored
    EXPECT_EQ(cloud.object("maxItems"), QVariant(qint64(500)));
    EXPECT_EQ(cloud.object("recycleBinEnabled"), QVariant(true));
    EXPECT_FALSE(cloud.object("showTags").isValid());
    EXPECT_EQ(cloud.writeCount(), 2);
    EXPECT_EQ(cloud.synchronizeCount(), 2);
}

TEST_F(SettingsTest, MirrorHappensBeforeRetention)
{
    auto& m = makeManager();
    m.setRetentionDays(30);
    EXPECT_EQ(m.cloudRetentionAtRetention, QVariant(qint64(30)));
}

TEST_F(SettingsTest, CloudChangesApplyInOrderSkippingUnreadableAndEqualValues)
{
    auto& m = makeManager();
    clearRecords();
    cloud.receiveExternalChange({
        { "recycleBinEnabled", 2 }, // not a boolean
        { "recycleBinDays", 7 },
        { "retentionDays", 30.0 }, // a whole double converts
        { "autoCleanMinutes", "60" }, // strings never
        { "maxItems", 2000 }, // equal to the local value
        { "syncImageMaxSizeMB", true }, // a boolean is not a size
    });
    EXPECT_FALSE(m.recycleBinEnabled());
    EXPECT_EQ(m.recycleBinDays(), 7);
    EXPECT_EQ(m.retentionDays(), 30);
    EXPECT_EQ(m.autoCleanMinutes(), 0);
    EXPECT_EQ(m.syncImageMaxSizeMB(), 5);
    EXPECT_EQ(changedKeys, (QStringList { "recycleBinDays", "retentionDays" }));
    EXPECT_EQ(m.recycleBinDaysAtPurge, 7);
    EXPECT_EQ(m.effects, (QStringList { "applyRetention", "purgeExpiredTrash" }));
    EXPECT_EQ(cloud.writeCount(), 2); // the two applied values written back
    EXPECT_FALSE(defaults->hasStoredValue("maxItems"));

    clearRecords();
    cloud.receiveExternalChange({ { "autoCleanMinutes", 60 } });
    EXPECT_EQ(m.autoCleanMinutes(), 60);
    EXPECT_EQ(defaults->integer("autoCleanMinutes"), 60);
    EXPECT_EQ(m.effects, QStringList { "startAutoCleanTimer" });
}

TEST_F(SettingsTest, CloudChangesAreNotFollowedWhenSyncWasOffAtLaunch)
{
    reopenDefaults().set("iCloudSyncEnabled", false);
    auto& m = makeManager();
    EXPECT_EQ(cloud.synchronizeCount(), 0);
    cloud.receiveExternalChange({ { "maxItems", 300 } });
    EXPECT_EQ(m.maxItems(), 2000);
}

// ------------------------------------------------------------------------------------------------ decisions

TEST_F(SettingsTest, ShouldSyncAtTheSizeLimit)
{
    auto& m = makeManager();
    constexpr qint64 mib = 1'048'576;
    struct Case {
        qint64 limitMB;
        std::optional<qint64> size;
        bool syncs;
    };
    const std::vector<Case> cases = {
        { 5, 5 * mib, true },
        { 5, 5 * mib + 1, false },
        { 5, std::nullopt, true },
        { 0, 0, true },
        { 0, 1, false },
        { 0, -1, true },
        { 1'048'576, std::numeric_limits<qint64>::max(), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limitMB);
        ASSERT_TRUE(m.setSyncImageMaxSizeMB(c.limitMB));
        EXPECT_EQ(m.shouldSync(CaptureCategory::image, c.size), c.syncs);
        EXPECT_EQ(m.shouldSync(CaptureCategory::screenshot, c.size), c.syncs);
    }
}

TEST_F(SettingsTest, ShouldSyncFollowsEachKindsSwitch)
{
    auto& m = makeManager();
    m.setSyncImages(false);
    m.setSyncEmails(false);
    EXPECT_FALSE(m.shouldSync(CaptureCategory::image));
    EXPECT_TRUE(m.shouldSync(CaptureCategory::screenshot));
    EXPECT_FALSE(m.shouldSync(CaptureCategory::email));
    EXPECT_TRUE(m.shouldSync(CaptureCategory::text));
    for (CaptureCategory local : { CaptureCategory::imageFile, CaptureCategory::file, CaptureCategory::folder })
        EXPECT_FALSE(m.shouldSync(local, 1));
    m.setICloudSyncEnabled(false);
    EXPECT_FALSE(m.shouldSync(CaptureCategory::text));
    EXPECT_FALSE(m.shouldSync(CaptureCategory::screenshot, 1));
}

TEST_F(SettingsTest, EachCaptureKindHasItsOwnSwitch)
{
    const std::vector<std::pair<CaptureCategory, bool (ClipboardManager::*)(bool)>> switches = {
        { CaptureCategory::text, &ClipboardManager::setCaptureText },
        { CaptureCategory::link, &ClipboardManager::setCaptureLinks },
        { CaptureCategory::email, &ClipboardManager::setCaptureEmails },
        { CaptureCategory::color, &ClipboardManager::setCaptureColors },
        { CaptureCategory::image, &ClipboardManager::setCaptureImages },
        { CaptureCategory::screenshot, &ClipboardManager::setCaptureScreenshots },
        { CaptureCategory::imageFile, &ClipboardManager::setCaptureImageFiles },
        { CaptureCategory::file, &ClipboardManager::setCaptureFiles },
        { CaptureCategory::folder, &ClipboardManager::setCaptureFolders },
    };
    auto& m = makeManager();
    for (const auto& [category, setter] : switches) {
        (m.*setter)(false);
        for (const auto& [other, unused] : switches)
            EXPECT_EQ(m.isCaptureEnabled(other), other != category) << int(category) << " " << int(other);
        (m.*setter)(true);
    }
}

// ------------------------------------------------------------------------------------------------ reload and presets

TEST_F(SettingsTest, ReloadWithNothingStoredGivesRegisteredValuesAndWritesThemBack)
{
    auto& m = makeManager();
    clearRecords();
    m.reloadSettingsFromDefaults();
    EXPECT_EQ(m.reminderThreshold(), 3);
    EXPECT_EQ(m.dividerStyle(), "fullWidth");
    EXPECT_TRUE(changedKeys.isEmpty());
    EXPECT_TRUE(defaults->hasStoredValue("reminderThreshold"));
    EXPECT_FALSE(defaults->hasStoredValue("captureText"));
    EXPECT_EQ(notifications.size(), 4);
}

TEST_F(SettingsTest, ReloadLeavesTheCaptureSwitchesAlone)
{
    auto& m = makeManager();
    m.setCaptureText(false);
    m.setFooterSize(12.0);
    defaults->set("captureText", true);
    defaults->set("footerSize", 20.0);
    defaults->set("iCloudSyncEnabled", false);
    defaults->set("showTags", false);
    m.reloadSettingsFromDefaults();
    EXPECT_FALSE(m.captureText());
    EXPECT_EQ(m.footerSize(), 12.0);
    EXPECT_TRUE(m.iCloudSyncEnabled());
    EXPECT_FALSE(m.showTags());
}

TEST_F(SettingsTest, AppearancePresetsAreAppliedAndRecognised)
{
    auto& m = makeManager();
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::standard)); // 16.0 registered, 15.0 in the preset
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::minimal));

    clearRecords();
    m.applyAppearanceStyle(AppearanceStyle::minimal);
    EXPECT_TRUE(m.isAppearanceStyleActive(AppearanceStyle::minimal));
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::standard));
    EXPECT_EQ(m.itemFontSize(), 14.0);
    EXPECT_EQ(m.itemLineSpacing(), 0.0);
    EXPECT_EQ(m.dividerStyle(), "none");
    EXPECT_FALSE(m.showTrafficLights());
    EXPECT_TRUE(notifications.contains(Notifications::showTrafficLightsChanged));

    m.setShowTags(false);
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::minimal));
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::standard));

    m.applyAppearanceStyle(AppearanceStyle::standard);
    EXPECT_TRUE(m.isAppearanceStyleActive(AppearanceStyle::standard));
    EXPECT_EQ(m.itemFontSize(), 15.0);
    EXPECT_EQ(m.imageThumbnailHeight(), "bigger");
}

TEST_F(SettingsTest, PresetMatchesNumbersByValue)
{
    auto& m = makeManager();
    m.applyAppearanceStyle(AppearanceStyle::standard);
    defaults->set("itemFontSize", 15); // as a settings file may bring it
    defaults->set("showTags", 1);
    EXPECT_TRUE(m.isAppearanceStyleActive(AppearanceStyle::standard));
    defaults->set("itemFontSize", "15");
    EXPECT_FALSE(m.isAppearanceStyleActive(AppearanceStyle::standard));
}

TEST_F(SettingsTest, AutoCleanIntervalFromTheLegacyHoursKey)
{
    struct Case {
        const char* name;
        QVariant minutes; // invalid: absent
        QVariant hours;
        qint64 atLaunch;
        qint64 onReloadFrom10;
    };
    const std::vector<Case> cases = {
        { "hours only", QVariant(), 2, 120, 120 },
        { "unreadable minutes", "soon", 2, 120, 120 },
        { "minutes win", 30, 2, 30, 30 },
        { "neither", QVariant(), QVariant(), 0, 0 },
        { "hours unreadable", QVariant(), "two", 0, 0 },
        { "hours overflow", QVariant(), qint64(1) << 62, 0, 10 }, // refused: launch keeps the default, reload the current
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& d = reopenDefaults();
        d.clear();
        d.set("autoCleanMinutes", c.minutes);
        d.set("autoCleanHours", c.hours);
        auto& m = makeManager();
        EXPECT_EQ(m.autoCleanMinutes(), c.atLaunch);

        m.setAutoCleanMinutes(10);
        d.set("autoCleanMinutes", c.minutes);
        m.reloadSettingsFromDefaults();
        EXPECT_EQ(m.autoCleanMinutes(), c.onReloadFrom10);
        EXPECT_EQ(d.object("autoCleanHours"), c.hours); // never removed
    }
}

// ------------------------------------------------------------------------------------------------ ignored applications

TEST_F(SettingsTest, UndecodableIgnoredApplicationsFallBackToTheDefaultList)
{
    reopenDefaults().set("ignoredApplications", QByteArray("{not json"));
    auto& m = makeManager();
    EXPECT_EQ(m.ignoredApplications(), defaultIgnoredApplications());
    EXPECT_EQ(defaults->data("ignoredApplications"), QByteArray("{not json")); // left for the user to see
}

TEST_F(SettingsTest, EmptyStoredIgnoredApplicationsStayEmpty)
{
    reopenDefaults().set("ignoredApplications", QByteArray("[]"));
    EXPECT_TRUE(makeManager().ignoredApplications().isEmpty());
}

TEST_F(SettingsTest, IgnoredApplicationsSurviveARestartAndABadReload)
{
    if (!ignoredAppCodecAvailable())
        GTEST_SKIP() << "IgnoredApp JSON form not available in this build";
    const QList<IgnoredApp> apps { { "org.example.Vault", "Vault" } };
    makeManager().setIgnoredApplications(apps);
    const QJsonArray stored = QJsonDocument::fromJson(*defaults->data("ignoredApplications")).array();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].toObject().value("bundleIdentifier").toString(), "org.example.Vault");

    reopenDefaults();
    auto& m = makeManager();
    EXPECT_EQ(m.ignoredApplications(), apps);
    defaults->set("ignoredApplications", QByteArray("[{\"name\": 3}]"));
    m.reloadSettingsFromDefaults();
    EXPECT_EQ(m.ignoredApplications(), apps);
}

} // namespace
