#include "engine/ClipboardManager.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <vector>

using namespace lumra;

namespace {

TEST(SettingsCatalogue, EveryRowIsFoundByItsKeyWithUsableDefaults)
{
    for (const SettingInfo& row : settingsCatalogue()) {
        SCOPED_TRACE(row.key.toStdString());
        EXPECT_EQ(settingForKey(row.key), row.setting);
        EXPECT_TRUE(isValidSettingValue(row, row.fallback));
        if (row.registered)
            EXPECT_TRUE(isValidSettingValue(row, *row.registered));
    }
}

// A settings file may name anything as the custom sound; the player would open it.
TEST(SettingsCatalogue, ACustomSoundIsNothingOrAnAbsolutePathToARegularReadableFile)
{
    QTemporaryDir folder;
    const QString sound = folder.filePath(QStringLiteral("chime.wav"));
    QFile file(sound);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF");
    file.close();
    const QString fifo = folder.filePath(QStringLiteral("fifo.wav"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString locked = folder.filePath(QStringLiteral("locked.wav"));
    QFile::copy(sound, locked);
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    const bool lockedIsUnreadable = !QFile(locked).open(QIODevice::ReadOnly); // root reads it anyway

    const SettingInfo& info = settingInfo(Setting::customSoundPath);
    const auto valid = [&](const QString& path) { return isValidSettingValue(info, SettingValue(path)); };
    EXPECT_TRUE(valid(QString()));
    EXPECT_TRUE(valid(sound));
    EXPECT_FALSE(valid(QStringLiteral("chime.wav")));
    EXPECT_FALSE(valid(QStringLiteral("../") + QFileInfo(sound).fileName()));
    EXPECT_FALSE(valid(folder.filePath(QStringLiteral("missing.wav"))));
    EXPECT_FALSE(valid(folder.path()));
    EXPECT_FALSE(valid(fifo));
    EXPECT_FALSE(valid(QStringLiteral("/dev/zero")));
    EXPECT_FALSE(valid(QStringLiteral("https://example.com/chime.wav")));
    if (lockedIsUnreadable)
        EXPECT_FALSE(valid(locked));
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
}

TEST(SettingOptions, AutoCleanLabelsNameTheSpanInTheUnitOfTheirCase)
{
    // The unit changes at the edges: 24 hours stays hours, the month counts 30 days.
    const std::pair<AutoCleanInterval, const char*> cases[] {
        {AutoCleanInterval::disable, "Disable"},        {AutoCleanInterval::tenMinutes, "10 minutes"},
        {AutoCleanInterval::fortyFiveMinutes, "45 minutes"}, {AutoCleanInterval::oneHour, "1 hour"},
        {AutoCleanInterval::sixteenHours, "16 hours"},  {AutoCleanInterval::twentyFourHours, "24 hours"},
        {AutoCleanInterval::twoDays, "2 days"},         {AutoCleanInterval::twentyDays, "20 days"},
        {AutoCleanInterval::oneMonth, "1 month"},       {AutoCleanInterval::sixMonths, "6 months"},
    };
    for (const auto& [interval, label] : cases)
        EXPECT_EQ(displayName(interval), QString::fromUtf8(label)) << rawValue(interval);
}

TEST(SettingOptions, CopySoundsAreListedUnderLumrasOwnNames)
{
    // The picker names Lumra's own sounds, never by their stored raw values.
    QSet<QString> labels;
    for (CopySoundOption option : allCases<CopySoundOption>()) {
        EXPECT_NE(displayName(option), rawValue(option));
        labels.insert(displayName(option));
    }
    EXPECT_EQ(labels.size(), allCases<CopySoundOption>().size());
}

} // namespace
