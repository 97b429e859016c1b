#include "ui/settings/GeneralPage.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPlacement.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "engine/CopyReminder.h"
#include "platform/keys/GlobalHotKeys.h"
#include "platform/login/LoginItem.h"
#include "platform/sound/MediaProbe.h"
#include "platform/symbols/Symbols.h"
#include "ui/settings/BoundRows.h"
#include "ui/settings/GlobalShortcutLine.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace lumra {

GeneralPage::GeneralPage(SettingsContext context, QWidget* parent)
    : QScrollArea(parent)
    , m_context(std::move(context))
{
    SettingsStyle::setUpPage(this);

    ClipboardManager& manager = m_context.manager;
    m_content = new QWidget;
    m_content->setFont(SettingsStyle::font(14, false, m_content->font()));
    auto* layout = new QVBoxLayout(m_content);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(20);
    auto add = [layout](QWidget* w) { layout->addWidget(w); };
    auto picker = [&manager](const PickerSpec& spec) { return new SettingPickerRow(manager, spec); };
    auto toggle = [&manager](const SwitchSpec& spec) { return new SettingSwitchRow(manager, spec); };

    add(launchAtLoginRow());
    add(new SettingPickerRow(manager,
                      {QStringLiteral("System tray icon"), QStringLiteral("Choose the icon shown in your system tray for Lumra."),
                       Setting::menuBarIcon, GeneralTables::menuBarIcons()}));
    add(SettingsStyle::divider());
    add(globalShortcutRow());
    m_openWindowAt = picker(GeneralTables::openWindowAt());
    add(m_openWindowAt);
    showPlacementLimit();
    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::shortcutWindowPosition)
            showPlacementLimit();
    });
    add(SettingsStyle::divider());
    for (const PickerSpec& spec : GeneralTables::pasteRows())
        add(picker(spec));
    add(toggle(GeneralTables::preserveFormatting()));
    add(picker(GeneralTables::combineTexts()));
    add(toggle(GeneralTables::pasteOnNewLines()));
    add(SettingsStyle::divider());
    add(picker(GeneralTables::searchMode()));
    add(toggle(GeneralTables::imageTextRecognition()));
    add(picker(GeneralTables::itemsToDisplay()));
    add(SettingsStyle::divider());
    add(soundRow());
    add(customSoundLine());
    add(picker(GeneralTables::reminder()));
    add(SettingsStyle::divider());
    add(limitRow(true));
    add(limitRow(false));
    add(SettingsStyle::divider());
    add(captureTypesBlock());
    layout->addStretch(1);
    setWidget(m_content);

    connect(&m_context.hotKeys, &HotKeyManager::enabledChanged, this, &GeneralPage::updateShortcutRows);
    connect(&manager, &ClipboardManager::settingChanged, this, [this](Setting setting) {
        if (setting == Setting::copySoundOption || setting == Setting::customSoundPath)
            updateSoundRows();
    });
    updateShortcutRows();
    updateSoundRows();
}

SettingRow* GeneralPage::row(const QString& title) const { return findSettingRow(m_content, title); }

QWidget* GeneralPage::launchAtLoginRow() { return new LaunchAtLoginRow(m_context.loginItem); }

QWidget* GeneralPage::globalShortcutRow()
{
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    auto* toggle = new ToggleSwitch;
    auto* row = new SettingRow(
        QStringLiteral("Global shortcut"),
        QStringLiteral("Open Lumra from anywhere using a keyboard shortcut, even when the app is in the background."), toggle);
    toggle->setAccessibleName(row->title());
    HotKeyManager& hotKeys = m_context.hotKeys;
    toggle->setChecked(hotKeys.isEnabled());
    // Where the desktop lets no application have global keys, the row says how to open Lumra instead.
    const QString limitation = hotKeys.globalHotKeys().limitation();
    if (!limitation.isEmpty())
        row->showMessage(limitation);
    connect(toggle, &ToggleSwitch::toggled, this, [row, &hotKeys, limitation](bool on) {
        row->clearMessage();
        // A combination another application holds is said so, not passed over.
        if (const Status status = hotKeys.setHotKeyEnabled(on); !status)
            row->showMessage(status.error());
        else if (!limitation.isEmpty())
            row->showMessage(limitation);
    });
    connect(&hotKeys, &HotKeyManager::enabledChanged, toggle, [toggle](bool on) {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(on);
    });
    layout->addWidget(row);
    m_shortcutLine = new GlobalShortcutLine(m_context.manager, hotKeys, m_context.prompts);
    layout->addWidget(m_shortcutLine);
    return block;
}

void GeneralPage::updateShortcutRows()
{
    const bool on = m_context.hotKeys.isEnabled();
    m_shortcutLine->setVisible(on);
    m_openWindowAt->setVisible(on);
}

void GeneralPage::showPlacementLimit()
{
    SettingRow* row = m_openWindowAt;
    const QString chosen = m_context.manager.shortcutWindowPosition();
    if (PopupPlacement::honouredHotKeyPosition(chosen, PopupPlacement::pointerPositionKnown()) != chosen)
        row->showMessage(QStringLiteral("This desktop does not tell Lumra where the pointer is: the window opens in "
                                        "the center of the screen."));
    else
        row->clearMessage();
}

void GeneralPage::stopShortcutRecording() { m_shortcutLine->stopRecording(); }

QWidget* GeneralPage::soundRow()
{
    m_soundRow = new SettingPickerRow(
        m_context.manager,
        {QStringLiteral("Capture sound"),
         QStringLiteral("Play a sound each time Lumra captures a new clipboard item. You can choose a built-in sound or "
                        "pick your own audio file."),
         Setting::copySoundOption, GeneralTables::sounds()},
        [this](SettingPickerRow& row, const SettingValue& value) {
            if (std::get<QString>(value) == rawValue(CopySoundOption::custom))
                pickCustomSound();
            else
                row.store(value);
        });
    m_previewSound = new QPushButton;
    m_previewSound->setFlat(true);
    m_previewSound->setIcon(Symbols::icon(QStringLiteral("play.circle")));
    m_previewSound->setToolTip(QStringLiteral("Preview the selected sound"));
    m_previewSound->setAccessibleName(QStringLiteral("Preview the selected sound"));
    connect(m_previewSound, &QPushButton::clicked, this, [this] { m_context.manager.reminder().playCopySoundNow(); });
    m_soundRow->addTrailing(m_previewSound);
    return m_soundRow;
}

QWidget* GeneralPage::customSoundLine()
{
    m_customSoundLine = new QWidget;
    auto* layout = new QHBoxLayout(m_customSoundLine);
    layout->setContentsMargins(0, 0, 0, 0);
    m_customSoundName = SettingsStyle::label(QString(), 11, false, true);
    m_customSoundName->setObjectName(QStringLiteral("customSoundName"));
    auto* change = new QPushButton(QStringLiteral("Change"));
    change->setFlat(true);
    change->setFont(SettingsStyle::font(11, false, change->font()));
    change->setCursor(Qt::PointingHandCursor);
    connect(change, &QPushButton::clicked, this, &GeneralPage::pickCustomSound);
    layout->addWidget(m_customSoundName, 1);
    layout->addWidget(change);
    return m_customSoundLine;
}

void GeneralPage::updateSoundRows()
{
    ClipboardManager& manager = m_context.manager;
    const bool custom = manager.copySoundOption() == rawValue(CopySoundOption::custom);
    m_previewSound->setEnabled(manager.copySoundOption() != rawValue(CopySoundOption::none));
    m_customSoundLine->setVisible(custom && !manager.customSoundPath().isEmpty());
    m_customSoundName->setText(QFileInfo(manager.customSoundPath()).fileName());
}

void GeneralPage::pickCustomSound()
{
    const QString path = m_context.chooseSoundFile ? m_context.chooseSoundFile() : QString();
    m_soundRow->clearMessage();
    if (path.isEmpty()) {
        m_soundRow->refresh();
        return;
    }
    // "Custom..." becomes the choice only once a file was chosen that can be heard.
    m_soundRow->refresh();
    probeMedia(path, false, this, [this, path](const Status& playable) {
        ClipboardManager& manager = m_context.manager;
        if (!playable) {
            m_soundRow->showMessage(cannotPlayText(playable.error()));
            return;
        }
        if (!manager.setCustomSoundPath(path))
            return;
        if (manager.copySoundOption() != rawValue(CopySoundOption::custom))
            m_soundRow->store(SettingValue(rawValue(CopySoundOption::custom)));
        updateSoundRows();
    });
}

QWidget* GeneralPage::limitRow(bool retention)
{
    return new HistoryLimitRow(m_context.manager, m_context.prompts,
                               retention ? HistoryLimitRow::Bound::retention : HistoryLimitRow::Bound::itemLimit);
}

QWidget* GeneralPage::captureTypesBlock()
{
    auto* block = new QWidget;
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* heading = new SettingRow(QStringLiteral("Capture these clipboard types"),
                                   QStringLiteral("Choose what kinds of clipboard items Lumra saves. Disabled types are "
                                                  "not added to history at all."),
                                   nullptr);
    layout->addWidget(heading);
    for (const SwitchSpec& spec : GeneralTables::captureTypes())
        layout->addWidget(new SettingSwitchRow(m_context.manager, spec));
    return block;
}

} // namespace lumra
