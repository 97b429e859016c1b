#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace lumra {

// What the tray menu shows at the moment it opens.
struct StatusMenuState {
    bool canCheckForUpdates = true;
    bool hasCompletedOnboarding = true;
    bool keepWindowOpen = false;
    bool diagnosticsEnabled = false;
    bool diagnosticsLogExists = false;
};

// The tray icon's menu. It is rebuilt from `state()` each time it is about to show, so its
// titles and entries always match the moment; the entries only emit signals.
class StatusMenu : public QObject {
    Q_OBJECT
public:
    using StateProvider = std::function<StatusMenuState()>;

    explicit StatusMenu(StateProvider state, QObject* parent = nullptr);
    ~StatusMenu() override;

    // The menu to hand to the tray icon; owned by this object.
    QMenu* menu() const { return m_menu.get(); }
    // Fills the menu for `state`; also run on every aboutToShow.
    void rebuild(const StatusMenuState& state);

signals:
    void openSettingsRequested();
    void featureRequestRequested();
    void helpRequested();
    void aboutRequested();
    void checkForUpdatesRequested();
    void continueOnboardingRequested();
    void toggleKeepWindowOpenRequested();
    void startDiagnosticsRequested();
    void stopDiagnosticsRequested();
    void copyDiagnosticsRequested();
    void quitRequested();

private:
    StateProvider m_state;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QMenu> m_diagnostics;
};

} // namespace lumra
