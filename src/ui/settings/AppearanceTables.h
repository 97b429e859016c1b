#pragma once

#include "engine/SettingOptions.h"
#include "ui/settings/SettingsTables.h"

namespace lumra {

// The Appearance page as data, in page order.
namespace AppearanceTables {

// A row of the Display section; `dividerBefore` starts a new group.
struct DisplayRow {
    std::optional<SwitchSpec> toggle;
    std::optional<PickerSpec> picker;
    bool dividerBefore = false;
};
QList<DisplayRow> displayRows();
QList<SwitchSpec> displaySwitches();
QList<PickerSpec> displayPickers();
QList<SliderSpec> fontSliders();

struct StyleCard {
    AppearanceStyle style;
    QString title;
    QString symbol;
    QString description;
};
QList<StyleCard> styleCards();

// What "Restore Defaults" sets, in this order; its own values, not the registered defaults.
QList<QPair<Setting, double>> restoredFontStyles();

} // namespace AppearanceTables

} // namespace lumra
