#pragma once

#include "ui/settings/SettingsContext.h"

#include <QScrollArea>

class QLabel;
class QPushButton;

namespace lumra {

class GlobalShortcutLine;
class SettingPickerRow;
class SettingRow;
class ToggleSwitch;

// The General page: launch at login, the tray icon, the global shortcut, paste and search,
// display, sound and reminder, history limits and the kinds of content recorded.
class GeneralPage : public QScrollArea {
    Q_OBJECT
public:
    explicit GeneralPage(SettingsContext context, QWidget* parent = nullptr);

    // Ends a shortcut recording, if any (the window calls it when it goes away).
    void stopShortcutRecording();

    SettingRow* row(const QString& title) const;
    GlobalShortcutLine* shortcutLine() const { return m_shortcutLine; }

private:
    QWidget* launchAtLoginRow();
    QWidget* globalShortcutRow();
    QWidget* soundRow();
    QWidget* customSoundLine();
    QWidget* limitRow(bool retention);
    QWidget* captureTypesBlock();
    void updateShortcutRows();
    void showPlacementLimit();
    void updateSoundRows();
    void pickCustomSound();

    SettingsContext m_context;
    QWidget* m_content = nullptr;
    GlobalShortcutLine* m_shortcutLine = nullptr;
    SettingPickerRow* m_openWindowAt = nullptr;
    SettingPickerRow* m_soundRow = nullptr;
    QPushButton* m_previewSound = nullptr;
    QWidget* m_customSoundLine = nullptr;
    QLabel* m_customSoundName = nullptr;
};

} // namespace lumra
