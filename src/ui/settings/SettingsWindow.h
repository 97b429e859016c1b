#pragma once

#include "ui/settings/SettingsContext.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QListWidget;
class QStackedWidget;

namespace lumra {

class GeneralPage;
class ShortcutsPage;

// The settings pages in sidebar order. Raw values are stored and exchanged ("delete" included);
// titles are what the sidebar shows.
enum class SettingsTab { general, appearance, categories, privacy, shortcuts, commands, iCloud, delete_, data };

QList<SettingsTab> allSettingsTabs();
QString rawValue(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRawValue(const QString& raw);
QString settingsTabTitle(SettingsTab tab);
QString settingsTabSymbol(SettingsTab tab);

// What the window uses beyond the engine; null members get the app's own.
struct SettingsServices {
    LoginItem* loginItem = nullptr;           // the autostart entry
    PromptService* prompts = nullptr;         // PromptService::shared()
    std::function<QString()> chooseSoundFile; // a file dialog for audio files
    std::function<void()> resetEverything;    // deletes Lumra's data and quits
    std::function<QString(const QString& current)> chooseSyncFolder; // a folder dialog
    // Starts a new Lumra and quits this one once it has started; false (still running) otherwise.
    std::function<bool()> restartApp;
};

// The "Lumra Settings" window: a sidebar of pages and the page shown. Made once and kept;
// closing only hides it (and ends a shortcut recording), so the next opening finds the page
// last shown.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize windowSize{870, 609};

    SettingsWindow(ClipboardManager& manager, HotKeyManager& hotKeys, SettingsServices services = {},
                   QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // Shows the window in front, centred on the screen the first time; at `tab` when given,
    // else at the page it showed last.
    void present(std::optional<SettingsTab> tab = std::nullopt);

    SettingsTab currentTab() const;
    void showTab(SettingsTab tab);

    // Puts `page` in place of what the tab showed (a title until the page exists).
    void setPage(SettingsTab tab, QWidget* page);
    QWidget* page(SettingsTab tab) const;
    GeneralPage* generalPage() const { return m_general; }

signals:
    void currentTabChanged(SettingsTab tab);

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void styleSidebar();

    std::unique_ptr<LoginItem> m_ownLoginItem;
    QListWidget* m_sidebar = nullptr;
    QStackedWidget* m_pages = nullptr;
    GeneralPage* m_general = nullptr;
    ShortcutsPage* m_shortcuts = nullptr;
    bool m_placed = false;
};

} // namespace lumra
