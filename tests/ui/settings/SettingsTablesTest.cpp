#include "ui/settings/AppearanceTables.h"
#include "ui/settings/SettingsTables.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

namespace lumra {
namespace {

QList<PickerSpec> generalPickers()
{
    QList<PickerSpec> pickers = GeneralTables::pasteRows();
    pickers << GeneralTables::openWindowAt() << GeneralTables::combineTexts() << GeneralTables::searchMode()
            << GeneralTables::itemsToDisplay() << GeneralTables::reminder() << GeneralTables::keepHistoryFor()
            << GeneralTables::maxItems()
            << PickerSpec {"tray", "", Setting::menuBarIcon, GeneralTables::menuBarIcons()}
            << PickerSpec {"sound", "", Setting::copySoundOption, GeneralTables::sounds()};
    return pickers;
}

QList<PickerSpec> allPickers()
{
    return generalPickers() + AppearanceTables::displayPickers();
}

QList<SwitchSpec> generalSwitches()
{
    QList<SwitchSpec> switches = GeneralTables::captureTypes();
    switches << GeneralTables::preserveFormatting() << GeneralTables::pasteOnNewLines()
             << GeneralTables::imageTextRecognition();
    return switches;
}

TEST(SettingsTablesTest, EveryRowNamesASettingOfItsTypeAndEveryOptionIsAValueTheCatalogueTakes)
{
    for (const SwitchSpec& spec : generalSwitches() + AppearanceTables::displaySwitches())
        EXPECT_EQ(settingInfo(spec.setting).type, SettingType::Bool) << spec.title.toStdString();
    for (const SliderSpec& spec : AppearanceTables::fontSliders()) {
        const SettingInfo& info = settingInfo(spec.setting);
        EXPECT_EQ(info.type, SettingType::Double) << spec.title.toStdString();
        EXPECT_TRUE(isValidSettingValue(info, SettingValue(spec.minimum)) && isValidSettingValue(info, SettingValue(spec.maximum)))
            << spec.title.toStdString();
    }
    for (const auto& [setting, value] : AppearanceTables::restoredFontStyles())
        EXPECT_TRUE(isValidSettingValue(settingInfo(setting), SettingValue(value)));
    for (const PickerSpec& spec : allPickers()) {
        const SettingInfo& info = settingInfo(spec.setting);
        ASSERT_FALSE(spec.options.isEmpty()) << spec.title.toStdString();
        for (int i = 0; i < spec.options.size(); ++i) {
            const PickerOption& option = spec.options[i];
            EXPECT_TRUE(isValidSettingValue(info, option.value)) << spec.title.toStdString() << ": " << option.label.toStdString();
            EXPECT_EQ(optionIndex(spec.options, option.value), i) << "options are distinct";
        }
    }
    EXPECT_EQ(GeneralTables::captureTypes().size(), 9);
    EXPECT_EQ(GeneralTables::maxItems().options.size(), 14);
    EXPECT_EQ(GeneralTables::keepHistoryFor().options.size(), 10);
    EXPECT_EQ(AppearanceTables::displaySwitches().size(), 26);
    EXPECT_EQ(AppearanceTables::displayPickers().size(), 7);
    EXPECT_EQ(AppearanceTables::displayRows().size(), 33);
}

TEST(SettingsTablesTest, ItemLimitsShowPlainDigitsInAnyLocale)
{
    const QLocale before;
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        for (const PickerOption& option : GeneralTables::maxItems().options)
            EXPECT_EQ(option.label, QString::number(std::get<qint64>(option.value))) << locale.name().toStdString();
    }
    QLocale::setDefault(before);
}

TEST(SettingsTablesTest, PickersNameThisDesktopsKeysWhileTheStoredValuesStay)
{
    const PickerSpec quickPaste = GeneralTables::pasteRows()[1];
    QStringList labels;
    for (const PickerOption& option : quickPaste.options)
        labels << option.label + "=" + std::get<QString>(option.value);
    EXPECT_EQ(labels, QStringList({"Disabled=disabled", "Ctrl + 1...9=command", "Super + 1...9=control", "Alt + 1...9=option"}));

    labels.clear();
    const PickerSpec previewShortcut = AppearanceTables::displayPickers()[5];
    for (const PickerOption& option : previewShortcut.options)
        labels << option.label + "=" + std::get<QString>(option.value);
    EXPECT_EQ(labels, QStringList({"Disabled=disabled", "Ctrl + Shift=shiftCommand", "Alt=option", "Super=control",
                                   "Alt + Shift=shiftOption", "Shift + Super=shiftControl", "Ctrl + Alt=optionCommand",
                                   "Ctrl + Super=controlCommand", "Space Bar=spaceBar"}));
}

TEST(SettingsTablesTest, AStoredValueOutsideTheOptionsSelectsNothing)
{
    const PickerSpec items = GeneralTables::itemsToDisplay();
    EXPECT_EQ(optionIndex(items.options, SettingValue(qint64(300))), 4);
    EXPECT_EQ(optionIndex(items.options, SettingValue(qint64(75))), std::nullopt);
    EXPECT_EQ(optionIndex(items.options, SettingValue(QStringLiteral("300"))), std::nullopt);
}

TEST(SettingsTablesTest, SlidersShowStoredValuesAsWholeNumbersAndKeepTheHandleInRange)
{
    struct Case { double stored; int position; const char* label; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {13.7, 14, "13 pt"},
        {24, 20, "24 pt"},      // beyond the range: the label tells the truth, the handle stops at the end
        {0, 10, "0 pt"},
        {-3.5, 10, "-3 pt"},
        {inf, 20, "20 pt"},
        {-inf, 10, "10 pt"},
        {std::nan(""), 10, "10 pt"},
        {1e300, 20, "20 pt"},
    };
    for (const Case& c : cases) {
        const SliderDisplay shown = sliderDisplay(c.stored, 10, 20, " pt");
        EXPECT_EQ(shown.position, c.position) << c.stored;
        EXPECT_EQ(shown.label, c.label) << c.stored;
    }
}

TEST(SettingsTablesTest, LoweringABoundAnnouncesExactlyWhatGoesAndAFailedCountChangesNothing)
{
    struct Case { bool retention; Result<int> deleted; bool sync; LimitChange::Kind kind; QString title; QString text; };
    const Case cases[] = {
        {true, 0, false, LimitChange::Kind::applyNow, "", ""},
        {true, 12, false, LimitChange::Kind::confirm, "Apply new retention now?", "12 items older than the new limit will be deleted."},
        {true, 1, true, LimitChange::Kind::confirm, "Apply new retention now?",
         "1 item older than the new limit will be deleted across all your computers."},
        {false, 1, true, LimitChange::Kind::confirm, "Apply new item limit now?", "1 oldest item will be deleted across all your computers."},
        {false, 100, false, LimitChange::Kind::confirm, "Apply new item limit now?", "100 oldest items will be deleted."},
        {false, 0, true, LimitChange::Kind::applyNow, "", ""},
    };
    for (const Case& c : cases) {
        const LimitChange change = c.retention ? retentionChange(c.deleted, c.sync) : itemLimitChange(c.deleted, c.sync);
        EXPECT_EQ(change.kind, c.kind);
        EXPECT_EQ(change.title, c.title);
        EXPECT_EQ(change.text, c.text);
    }
    for (bool retention : {true, false}) {
        const Result<int> failed = Result<int>::failure("database is locked");
        const LimitChange change = retention ? retentionChange(failed, false) : itemLimitChange(failed, false);
        EXPECT_EQ(change.kind, LimitChange::Kind::refuse);
        EXPECT_TRUE(change.text.contains("not changed")) << change.text.toStdString();
        EXPECT_TRUE(change.text.contains("database is locked"));
    }
}

} // namespace
} // namespace lumra
