#pragma once

#include "ui/settings/SettingsTables.h"
#include "ui/settings/SettingsWidgets.h"

#include <functional>

class QComboBox;
class QLabel;
class QSlider;

namespace lumra {

class ClipboardManager;
class LoginItem;
class PromptService;

// Rows whose control is bound to one catalogue setting: the control shows the stored value,
// a change by the user is written through the manager at once, a change made elsewhere moves
// the control without writing back, and a value the catalogue refuses is shown as a message
// while the control returns to the stored value.

class SettingSwitchRow : public SettingRow {
    Q_OBJECT
public:
    SettingSwitchRow(ClipboardManager& manager, const SwitchSpec& spec, QWidget* parent = nullptr, Look look = Look::page);
    ToggleSwitch* toggle() const { return m_toggle; }

private:
    void refresh();
    ClipboardManager& m_manager;
    Setting m_setting;
    ToggleSwitch* m_toggle;
};

class SettingPickerRow : public SettingRow {
    Q_OBJECT
public:
    // `write` replaces the plain write (a confirmation first, a file chosen first); it reports
    // refusals itself and calls refresh() when the value stays.
    using Writer = std::function<void(SettingPickerRow& row, const SettingValue& value)>;
    SettingPickerRow(ClipboardManager& manager, const PickerSpec& spec, Writer write = {}, QWidget* parent = nullptr,
                     Look look = Look::page);

    QComboBox* combo() const { return m_combo; }
    Setting setting() const { return m_setting; }
    // Shows the stored value again.
    void refresh();
    // A stored value that no option holds (from a settings file, another computer) is shown with
    // this label as an extra entry, and left as it is; without it the picker shows nothing.
    void setUnlistedLabel(std::function<QString(const SettingValue&)> label);
    // The plain write; false (with the message shown) when the catalogue refused the value.
    bool store(const SettingValue& value);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcons();
    ClipboardManager& m_manager;
    Setting m_setting;
    QList<PickerOption> m_options;
    QComboBox* m_combo;
    std::function<QString(const SettingValue&)> m_unlistedLabel;
};

class SettingSliderRow : public SettingRow {
    Q_OBJECT
public:
    SettingSliderRow(ClipboardManager& manager, const SliderSpec& spec, QWidget* parent = nullptr);
    QSlider* slider() const { return m_slider; }
    QLabel* valueLabel() const { return m_value; }

private:
    void refresh();
    ClipboardManager& m_manager;
    SliderSpec m_spec;
    QSlider* m_slider;
    QLabel* m_value;
};

// "Keep history for" or "Max items to keep": a value that would delete items now is asked about
// first (with the count), and nothing is stored when the user declines.
class HistoryLimitRow : public SettingPickerRow {
    Q_OBJECT
public:
    enum class Bound { retention, itemLimit };
    HistoryLimitRow(ClipboardManager& manager, PromptService& prompts, Bound bound, Look look = Look::page,
                    QWidget* parent = nullptr);

private:
    void confirm(qint64 value);
    ClipboardManager& m_manager;
    PromptService& m_prompts;
    Bound m_bound;
};

// "Launch at login": the switch shows what the login item is after each attempt, and a failure
// says why under the row.
class LaunchAtLoginRow : public SettingRow {
    Q_OBJECT
public:
    explicit LaunchAtLoginRow(LoginItem& loginItem, Look look = Look::page, QWidget* parent = nullptr);
    ToggleSwitch* toggle() const { return static_cast<ToggleSwitch*>(control()); }
};

// The message shown when the catalogue refuses a value.
QString refusedValueMessage();

} // namespace lumra
