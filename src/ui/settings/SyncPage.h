#pragma once

#include "ui/settings/SettingsContext.h"

#include <QScrollArea>

#include <functional>

class QLabel;
class QPushButton;

namespace lumra {

class SettingRow;
class ToggleSwitch;

// Where the folder dialog opens: the chosen sync folder while it exists, else the home folder.
QString folderChooserStart(const QString& chosen);

// The Sync page: the sync folder, the switch (after a check that the folder can be used, off the
// main thread), the restart it needs, the status, and which kinds of items this computer uploads.
class SyncPage : public QScrollArea {
    Q_OBJECT
public:
    struct Services {
        // A folder dialog starting at the current folder; empty when cancelled.
        std::function<QString(const QString& current)> chooseFolder;
        // Starts a new Lumra and quits this one once it has started; false when it could not start.
        std::function<bool()> restartApp;
        // Whether a folder can be synced through; runs on a worker thread.
        std::function<bool(const QString& folder)> folderUsable;
    };

    SyncPage(SettingsContext context, Services services, QWidget* parent = nullptr);
    ~SyncPage() override;

    ToggleSwitch* syncSwitch() const { return m_switch; }
    QPushButton* chooseButton() const { return m_choose; }
    QLabel* folderLabel() const { return m_folder; }
    QLabel* statusLabel() const { return m_status; }
    bool isChecking() const { return m_checking; }
    bool isShowingTypes() const;
    bool isShowingStatus() const;

    // What flipping the switch does: off at once, on after the folder check.
    void requestSync(bool on);
    void chooseFolder();

private:
    QWidget* syncRow();
    QWidget* typesSection();
    void startCheck();
    void finishCheck(quint64 generation, bool usable);
    void confirmRestart(bool enabled);
    void refresh();

    SettingsContext m_context;
    Services m_services;
    QWidget* m_content = nullptr;
    QLabel* m_folder = nullptr;
    QPushButton* m_choose = nullptr;
    ToggleSwitch* m_switch = nullptr;
    QWidget* m_statusBlock = nullptr;
    QLabel* m_status = nullptr;
    QWidget* m_typesBlock = nullptr;
    bool m_checking = false;
    quint64 m_checkGeneration = 0;
};

} // namespace lumra
