#include "ui/settings/BoundRows.h"

#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/login/LoginItem.h"
#include "platform/symbols/Symbols.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace lumra {

namespace {

// Runs `refresh` whenever `setting` changes, whoever changed it.
template <typename Row>
void follow(Row* row, ClipboardManager& manager, Setting setting, void (Row::*refresh)())
{
    QObject::connect(&manager, &ClipboardManager::settingChanged, row, [row, setting, refresh](Setting changed) {
        if (changed == setting)
            (row->*refresh)();
    });
}

} // namespace

QString refusedValueMessage() { return QStringLiteral("This value cannot be used here; the setting was not changed."); }

SettingSwitchRow::SettingSwitchRow(ClipboardManager& manager, const SwitchSpec& spec, QWidget* parent, Look look)
    : SettingRow(spec.title, spec.description, new ToggleSwitch, look, parent)
    , m_manager(manager)
    , m_setting(spec.setting)
    , m_toggle(static_cast<ToggleSwitch*>(control()))
{
    m_toggle->setAccessibleName(spec.title);
    refresh();
    follow(this, manager, m_setting, &SettingSwitchRow::refresh);
    connect(m_toggle, &ToggleSwitch::toggled, this, [this](bool on) {
        clearMessage();
        if (!m_manager.setSetting(m_setting, SettingValue(on))) {
            showMessage(refusedValueMessage());
            refresh();
        }
    });
}

void SettingSwitchRow::refresh()
{
    const QSignalBlocker blocker(m_toggle);
    m_toggle->setChecked(std::get<bool>(m_manager.setting(m_setting)));
}

SettingPickerRow::SettingPickerRow(ClipboardManager& manager, const PickerSpec& spec, Writer write, QWidget* parent,
                                   Look look)
    : SettingRow(spec.title, spec.description, new QComboBox, look, parent)
    , m_manager(manager)
    , m_setting(spec.setting)
    , m_options(spec.options)
    , m_combo(static_cast<QComboBox*>(control()))
{
    m_combo->setAccessibleName(spec.title);
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const PickerOption& option : m_options)
        m_combo->addItem(option.label);
    updateIcons();
    refresh();
    follow(this, manager, m_setting, &SettingPickerRow::refresh);
    // Only the user's choice writes; showing a value never does.
    connect(m_combo, &QComboBox::activated, this, [this, write](int index) {
        if (index < 0 || index >= m_options.size())
            return;
        clearMessage();
        const SettingValue value = m_options[index].value;
        if (write)
            write(*this, value);
        else
            store(value);
    });
}

void SettingPickerRow::refresh()
{
    const QSignalBlocker blocker(m_combo);
    const SettingValue stored = m_manager.setting(m_setting);
    const std::optional<int> index = optionIndex(m_options, stored);
    while (m_combo->count() > m_options.size())
        m_combo->removeItem(m_combo->count() - 1);
    if (!index && m_unlistedLabel) {
        m_combo->addItem(m_unlistedLabel(stored));
        m_combo->setCurrentIndex(m_combo->count() - 1);
        return;
    }
    m_combo->setCurrentIndex(index.value_or(-1));
}

void SettingPickerRow::setUnlistedLabel(std::function<QString(const SettingValue&)> label)
{
    m_unlistedLabel = std::move(label);
    refresh();
}

void SettingPickerRow::updateIcons()
{
    const QColor text = palette().color(QPalette::WindowText);
    for (int i = 0; i < m_options.size(); ++i) {
        if (!m_options[i].symbol.isEmpty())
            m_combo->setItemIcon(i, SettingsStyle::tinted(Symbols::icon(m_options[i].symbol), text, text));
    }
}

void SettingPickerRow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        updateIcons();
    SettingRow::changeEvent(event);
}

bool SettingPickerRow::store(const SettingValue& value)
{
    if (m_manager.setSetting(m_setting, value))
        return true;
    showMessage(refusedValueMessage());
    refresh();
    return false;
}

namespace {

// The value label (40 px, trailing) before a 120 px slider.
QWidget* sliderControl()
{
    auto* holder = new QWidget;
    auto* value = new QLabel(holder);
    value->setForegroundRole(QPalette::PlaceholderText);
    value->setMinimumWidth(40);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* slider = new QSlider(Qt::Horizontal, holder);
    slider->setFixedWidth(120);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(value);
    layout->addWidget(slider);
    return holder;
}

} // namespace

SettingSliderRow::SettingSliderRow(ClipboardManager& manager, const SliderSpec& spec, QWidget* parent)
    : SettingRow(spec.title, spec.description, sliderControl(), Look::page, parent)
    , m_manager(manager)
    , m_spec(spec)
    , m_slider(control()->findChild<QSlider*>())
    , m_value(control()->findChild<QLabel*>())
{
    m_slider->setAccessibleName(spec.title);
    m_slider->setRange(int(spec.minimum), int(spec.maximum));
    m_slider->setSingleStep(1);
    m_slider->setPageStep(1);
    refresh();
    follow(this, manager, m_spec.setting, &SettingSliderRow::refresh);
    // Every step is written at once; nothing waits for the end of a drag.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        clearMessage();
        if (!m_manager.setSetting(m_spec.setting, SettingValue(double(value)))) {
            showMessage(refusedValueMessage());
            refresh();
        }
    });
}

void SettingSliderRow::refresh()
{
    const SliderDisplay shown =
        sliderDisplay(std::get<double>(m_manager.setting(m_spec.setting)), m_spec.minimum, m_spec.maximum, m_spec.unit);
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(shown.position);
    m_value->setText(shown.label);
}

HistoryLimitRow::HistoryLimitRow(ClipboardManager& manager, PromptService& prompts, Bound bound, Look look, QWidget* parent)
    : SettingPickerRow(manager, bound == Bound::retention ? GeneralTables::keepHistoryFor() : GeneralTables::maxItems(),
                       [this](SettingPickerRow&, const SettingValue& value) { confirm(std::get<qint64>(value)); }, parent,
                       look)
    , m_manager(manager)
    , m_prompts(prompts)
    , m_bound(bound)
{
}

void HistoryLimitRow::confirm(qint64 value)
{
    const bool retention = m_bound == Bound::retention;
    if (value == std::get<qint64>(m_manager.setting(setting())))
        return;
    // Other computers are spoken of only while syncing: sync on and a folder chosen.
    const bool syncing = m_manager.iCloudSyncEnabled() && !m_manager.syncFolderPath().trimmed().isEmpty();
    const LimitChange change = retention
        ? retentionChange(m_manager.itemsDeletedByRetention(int(value)), syncing)
        : itemLimitChange(m_manager.itemsDeletedByLimit(int(value)), syncing);
    if (change.kind == LimitChange::Kind::refuse) {
        showMessage(change.text);
        refresh();
        return;
    }
    if (change.kind == LimitChange::Kind::confirm
        && m_prompts.alert(change.title, change.text, {QStringLiteral("Apply"), QStringLiteral("Cancel")},
                           PromptService::Style::warning)
            != 0) {
        refresh();
        return;
    }
    if (!store(SettingValue(value)) || retention)
        return;
    // The retention setter deletes by itself; the item limit is applied here.
    if (const Status trimmed = m_manager.enforceMaxItems(); !trimmed)
        showMessage(trimmed.error());
}

LaunchAtLoginRow::LaunchAtLoginRow(LoginItem& loginItem, Look look, QWidget* parent)
    : SettingRow(QStringLiteral("Launch at login"), QStringLiteral("Automatically open Lumra when you log in to your computer."),
                 new ToggleSwitch, look, parent)
{
    ToggleSwitch* toggle = this->toggle();
    toggle->setAccessibleName(title());
    toggle->setChecked(loginItem.isEnabled());
    connect(toggle, &ToggleSwitch::toggled, this, [this, toggle, &loginItem](bool on) {
        clearMessage();
        const Status status = loginItem.setEnabled(on);
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(loginItem.isEnabled());
        if (!status)
            showMessage(status.error());
    });
}

} // namespace lumra
