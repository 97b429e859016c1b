#pragma once

#include "app/AboutWindow.h"
#include "app/DisplayBackend.h"
#include "ui/shell/PopupPanel.h"
#include "app/ReminderNotification.h"
#include "app/ReminderPopover.h"
#include "ui/settings/SettingsWindow.h"
#include "platform/core/Clock.h"
#include "platform/workspace/Workspace.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QSystemTrayIcon;

namespace lumra {

class ClipboardManager;
class DesktopServices;
class Diagnostics;
class GlobalHotKeys;
class HotKeyManager;
class KeyInjector;
class LoginItem;
class OnboardingView;
class Pasteboard;
class PromptService;
class SingleInstance;
class StatusMenu;
class UpdaterController;
class UserDefaults;

// What the delegate runs on. The app passes the desktop's backends; tests pass doubles.
// Null members get the process-wide default where one exists.
struct AppServices {
    UserDefaults* defaults = nullptr;       // UserDefaults::standard()
    Clock* clock = nullptr;                 // Clock::shared()
    Diagnostics* diagnostics = nullptr;     // Diagnostics::shared()
    PromptService* prompts = nullptr;       // PromptService::shared()
    Workspace* workspace = nullptr;         // none: the previous application is not tracked
    KeyInjector* keyInjector = nullptr;     // none: synthetic keys count as unavailable
    Pasteboard* pasteboard = nullptr;       // none: the diagnostics report goes through QClipboard
    GlobalHotKeys* hotKeys = nullptr;       // required
    LoginItem* loginItem = nullptr;         // none: the autostart entry
    std::function<std::unique_ptr<ClipboardManager>()> makeClipboardManager; // required
    QString previewFolder;                  // Folders::cacheFolder() + "/preview-tmp"
    std::function<bool()> startNewInstance; // true once a new Lumra process has started
    std::function<void()> quit;             // closes the windows and leaves the event loop
    std::function<void(const QUrl&)> openUrl; // QDesktopServices::openUrl
    bool showTrayIcon = true;
    // Whether the desktop has a tray to show the icon in; QSystemTrayIcon::isSystemTrayAvailable.
    std::function<bool()> trayAvailable;
    QString platformName;                   // QGuiApplication::platformName()
    // Where the desktop's notification server is; QDBusConnection::sessionBus.
    std::function<QDBusConnection()> notificationBus;
};

// Owns the long-lived objects of the process (the engine, the hot keys, the updater, the tray
// icon and the windows) and runs the launch sequence.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds onboardingDelay{800};

    // The desktop of `backend`: clipboard, workspace, keys, text recognition and sound.
    explicit AppDelegate(DisplayBackend backend, QObject* parent = nullptr);
    explicit AppDelegate(AppServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Before anything reads a setting: registers the defaults.
    void applicationWillFinishLaunching();
    // The launch sequence.
    void applicationDidFinishLaunching() { setupApp(); }
    void setupApp();

    // Made at first use and kept for the life of the process.
    ClipboardManager& clipboardManager();
    HotKeyManager& hotKeyManager();
    UpdaterController& updaterController();

    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    StatusMenu* statusMenu() const { return m_statusMenu; }
    void updateMenuBarIcon();

    // The last application other than Lumra that became active.
    void trackActivatedApp(const AppIdentity& application);
    const std::optional<AppIdentity>& lastActiveOtherApp() const { return m_lastActiveOtherApp; }
    void reactivatePreviousApp();

    void runDeferredLaunchCheck();
    void showOnboarding();
    void completeOnboarding();
    bool onboardingCompleted() const { return m_onboardingCompleted; }
    OnboardingView* onboardingWindow() const;

    // The tray road of the popup: closes an open popup, whoever opened it, else opens one.
    void togglePanel();
    PopupPanel* panel() const { return m_panel; }
    // A later start of Lumra toggles this one's popup, as the open-popup shortcut does.
    void acceptHandOvers(SingleInstance& instance);

    // Shows the copy reminder, or once the open popup has closed; an opening popup closes it.
    void presentCopyReminder();
    ReminderPopover* reminderPopover() const { return m_reminderPopover; }

    // Tray menu actions.
    void openSettings(std::optional<SettingsTab> tab = std::nullopt);
    void showAbout();
    void checkForUpdates();
    void openFeatureRequest();
    void openHelp();
    void continueOnboarding();
    void toggleKeepWindowOpen();
    void startDiagnostics();
    void stopDiagnostics();
    void copyDiagnostics();
    void quit();
    // Starts a new Lumra and quits this one once it has started; otherwise says so and keeps running.
    bool relaunchApp();
    // The same without a message: false when the new Lumra could not be started.
    bool restartNow();

    SettingsWindow* settingsWindow() const { return m_settingsWindow; }
    AboutWindow* aboutWindow() const { return m_aboutWindow; }

    // What went wrong at launch, shown to the user once launch has finished.
    const QStringList& launchWarnings() const { return m_launchWarnings; }

signals:
    // The onboarding window has opened.
    void onboardingRequested();
    void onboardingFinished();

private:
    void dismissReminder();
    ReminderNotification& reminderNotification();
    // A failure the user would otherwise not see (a paste they asked for, pictures not being
    // recorded): said in a notification, since the popup has closed or was never open.
    void tellFailure(const QString& message);

    AppDelegate(std::unique_ptr<DesktopServices> desktop, QObject* parent);

    void createStatusItem();
    void resetPreviewTempFolder();
    void installObservers();
    void showLaunchWarnings();
    QRect trayGeometry() const;

    std::unique_ptr<DesktopServices> m_desktop;
    AppServices m_services;
    UserDefaults& m_defaults;
    Clock& m_clock;
    Diagnostics& m_diagnostics;
    PromptService& m_prompts;

    std::unique_ptr<ClipboardManager> m_clipboardManager;
    std::unique_ptr<HotKeyManager> m_hotKeyManager;
    std::unique_ptr<UpdaterController> m_updaterController;
    QSystemTrayIcon* m_statusItem = nullptr;
    StatusMenu* m_statusMenu = nullptr;
    QPointer<PopupPanel> m_panel;
    QPointer<ReminderPopover> m_reminderPopover;
    ReminderNotification* m_reminderNotification = nullptr; // made at its first use
    bool m_reminderUnshownLogged = false;
    ReminderNotification* m_failureNotice = nullptr; // made at its first use
    bool m_failureUnshownLogged = false;
    bool m_reminderWaits = false; // for the open popup to close
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<AboutWindow> m_aboutWindow;
    QPointer<OnboardingView> m_onboardingWindow;
    std::optional<AppIdentity> m_lastActiveOtherApp;
    bool m_onboardingCompleted = false;
    QStringList m_launchWarnings;
    std::unique_ptr<Timer> m_onboardingTimer;
    std::unique_ptr<Timer> m_warningsTimer;
};

} // namespace lumra
