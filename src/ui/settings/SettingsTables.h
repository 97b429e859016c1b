#pragma once

#include "engine/SettingsCatalogue.h"
#include "platform/core/Result.h"

#include <QList>
#include <QString>

#include <optional>

namespace lumra {

// What the settings pages show, as data: each row names its catalogue setting, so a page reads
// as its table and the tables are checked against the catalogue without a window.

struct PickerOption {
    QString label;
    SettingValue value;
    QString symbol; // empty: text only
};

struct SwitchSpec {
    QString title;
    QString description;
    Setting setting;
};

struct PickerSpec {
    QString title;
    QString description;
    Setting setting;
    QList<PickerOption> options;
};

struct SliderSpec {
    QString title;
    QString description;
    Setting setting;
    double minimum;
    double maximum;
    QString unit; // " pt" or " px"
};

// The position of the option holding `value`; nullopt when none does (the picker then shows
// nothing and the stored value stays as it is).
std::optional<int> optionIndex(const QList<PickerOption>& options, const SettingValue& value);

// What a slider shows for a stored value: the handle within the range and a whole-number label.
// Values beyond the range keep their own label; values no whole number can hold (not finite,
// enormous) are shown as the nearest end of the range.
struct SliderDisplay {
    int position;
    QString label;
};
SliderDisplay sliderDisplay(double stored, double minimum, double maximum, const QString& unit);

namespace GeneralTables {
QList<PickerOption> menuBarIcons();
PickerSpec openWindowAt();
QList<PickerSpec> pasteRows();      // "Paste item with", "Quick Paste"
SwitchSpec preserveFormatting();
PickerSpec combineTexts();
SwitchSpec pasteOnNewLines();
PickerSpec searchMode();
SwitchSpec imageTextRecognition();
PickerSpec itemsToDisplay();
QList<PickerOption> sounds();
PickerSpec reminder();
PickerSpec keepHistoryFor();
PickerSpec maxItems();
QList<SwitchSpec> captureTypes();
} // namespace GeneralTables

namespace PrivacyTables {
SwitchSpec ignoreTransientContent();
} // namespace PrivacyTables

namespace SyncTables {
QList<SwitchSpec> typesToSync();
PickerSpec maxImageSize();
} // namespace SyncTables

// What lowering a history bound asks of the user.
struct LimitChange {
    enum class Kind { applyNow, confirm, refuse };
    Kind kind;
    QString title;
    QString text;
};
// `deleted`: how many items the new value would delete now (starred, pinned and binned ones never go).
LimitChange retentionChange(const Result<int>& deleted, bool syncOn);
LimitChange itemLimitChange(const Result<int>& deleted, bool syncOn);

} // namespace lumra
