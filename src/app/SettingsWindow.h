#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QListWidget;
class QStackedWidget;

namespace lumra {

// The settings pages in sidebar order. Raw values are stored and exchanged ("delete" included);
// titles are what the sidebar shows.
enum class SettingsTab { general, appearance, categories, privacy, shortcuts, commands, iCloud, delete_, data };

QList<SettingsTab> allSettingsTabs();
QString rawValue(SettingsTab tab);
std::optional<SettingsTab> settingsTabFromRawValue(const QString& raw);
QString settingsTabTitle(SettingsTab tab);
QString settingsTabSymbol(SettingsTab tab);

// The "Lumra Settings" window: a sidebar of pages and the page shown. Made once and kept;
// closing only hides it, so the next opening finds the page last shown.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize windowSize{870, 609};

    explicit SettingsWindow(QWidget* parent = nullptr);

    // Shows the window in front; at `tab` when given, else at the page it showed last.
    void present(std::optional<SettingsTab> tab = std::nullopt);

    SettingsTab currentTab() const;
    void showTab(SettingsTab tab);

    // Puts `page` in place of what the tab showed (a placeholder until the page exists).
    void setPage(SettingsTab tab, QWidget* page);
    QWidget* page(SettingsTab tab) const;

signals:
    void currentTabChanged(SettingsTab tab);

private:
    QListWidget* m_sidebar = nullptr;
    QStackedWidget* m_pages = nullptr;
};

} // namespace lumra
