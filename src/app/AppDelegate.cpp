#include "app/AppDelegate.h"

#include "app/AboutWindow.h"
#include "ui/shell/AppActions.h"
#include "ui/shell/AppLinks.h"
#include "app/DesktopServices.h"
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPanel.h"
#include "ui/shell/PopupPlacement.h"
#include "ui/shell/PopupRoads.h"
#include "ui/shell/Prompt.h"
#include "app/ReminderPopover.h"
#include "app/SingleInstance.h"
#include "app/StatusMenu.h"
#include "app/UpdaterController.h"
#include "engine/ClipboardManager.h"
#include "engine/CopyReminder.h"
#include "engine/PasteService.h"
#include "model/Diagnostics.h"
#include "model/NotificationCenter.h"
#include "platform/core/Clock.h"
#include "platform/core/Folders.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/keys/KeyInjector.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/symbols/Symbols.h"
#include "ui/onboarding/OnboardingFlow.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/preview/PreviewFiles.h"

#include <QApplication>
#include <QDBusConnection>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSystemTrayIcon>

Q_LOGGING_CATEGORY(lcDelegate, "lumra.app.delegate")

namespace lumra {

namespace {

const QString delegateCategory = QStringLiteral("AppDelegate");
const QString onboardingKey = QStringLiteral("hasCompletedOnboarding");
const QString diagnosticsKey = QStringLiteral("diagnosticsEnabled");

AppServices withDefaults(AppServices services)
{
    if (!services.defaults)
        services.defaults = &UserDefaults::standard();
    if (!services.clock)
        services.clock = &Clock::shared();
    if (!services.diagnostics)
        services.diagnostics = &Diagnostics::shared();
    if (!services.prompts)
        services.prompts = &PromptService::shared();
    if (services.previewFolder.isEmpty())
        services.previewFolder = Folders::cacheFolder() + QStringLiteral("/preview-tmp");
    if (!services.quit)
        services.quit = [] {
            // Windows are asked to close, but none may refuse: quit() gives up when one does (a
            // held popup, an open editor), and a confirmed Quit or a logout must end Lumra.
            QApplication::closeAllWindows();
            QCoreApplication::exit(0);
        };
    if (!services.openUrl)
        services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!services.trayAvailable)
        services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (services.platformName.isEmpty())
        services.platformName = QGuiApplication::platformName();
    if (!services.notificationBus)
        services.notificationBus = [] { return QDBusConnection::sessionBus(); };
    if (!services.startNewInstance)
        services.startNewInstance = [] { return false; };
    return services;
}

// Windows made once open centred on the screen the user works on, not wherever the window
// manager drops them.
void centreOnPointerScreen(QWidget& window)
{
    window.move(PopupPlacement::centredOnPointerScreen(window.size(), QCursor::pos(), PopupPlacement::currentScreens()));
}

} // namespace

AppDelegate::AppDelegate(DisplayBackend backend, QObject* parent)
    : AppDelegate(std::make_unique<DesktopServices>(backend), parent)
{
}

AppDelegate::AppDelegate(std::unique_ptr<DesktopServices> desktop, QObject* parent)
    : AppDelegate(desktop->appServices(), parent)
{
    m_desktop = std::move(desktop);
}

AppDelegate::AppDelegate(AppServices services, QObject* parent)
    : QObject(parent)
    , m_services(withDefaults(std::move(services)))
    , m_defaults(*m_services.defaults)
    , m_clock(*m_services.clock)
    , m_diagnostics(*m_services.diagnostics)
    , m_prompts(*m_services.prompts)
{
    Q_ASSERT(m_services.hotKeys && m_services.makeClipboardManager);
    AppActions::setHandlers({[this](std::optional<SettingsTab> tab) { openSettings(tab); }, [this] { quit(); }});
}

AppDelegate::~AppDelegate()
{
    AppActions::setHandlers({});
    delete m_panel;
    delete m_reminderPopover;
    delete m_settingsWindow;
    delete m_aboutWindow;
    delete m_onboardingWindow;
    // The hot keys and the tray hold on to the manager; they go first.
    delete m_statusItem;
    m_hotKeyManager.reset();
    m_clipboardManager.reset();
}

void AppDelegate::applicationWillFinishLaunching() { ClipboardManager::registerDefaultSettings(m_defaults); }

ClipboardManager& AppDelegate::clipboardManager()
{
    if (!m_clipboardManager) {
        m_clipboardManager = m_services.makeClipboardManager();
        connect(&m_clipboardManager->paste(), &PasteService::pasteFailed, this, &AppDelegate::tellFailure);
        connect(m_clipboardManager.get(), &ClipboardManager::picturesNotRecorded, this, &AppDelegate::tellFailure);
    }
    return *m_clipboardManager;
}

HotKeyManager& AppDelegate::hotKeyManager()
{
    if (!m_hotKeyManager) {
        m_hotKeyManager = std::make_unique<HotKeyManager>(*m_services.hotKeys, m_defaults, m_clock);
        connect(m_hotKeyManager.get(), &HotKeyManager::popupToggled, this, [this](PopupPanel* panel) {
            if (panel)
                dismissReminder();
        });
    }
    return *m_hotKeyManager;
}

UpdaterController& AppDelegate::updaterController()
{
    if (!m_updaterController)
        m_updaterController = std::make_unique<UpdaterController>(&m_prompts);
    return *m_updaterController;
}

void AppDelegate::setupApp()
{
    // Emptied before the engine is built, so the records of this start-up are kept.
    const bool diagnostics = m_defaults.boolean(diagnosticsKey);
    m_diagnostics.setEnabled(diagnostics);
    if (diagnostics)
        m_diagnostics.writeDiagnosticsLog();

    createStatusItem(); // reads the tray symbol, which builds the engine
    updaterController();

    ClipboardManager& manager = clipboardManager();
    if (diagnostics) {
        m_diagnostics.logDiagnosticInfo(int(manager.clipboardItems().size()), manager.iCloudSyncEnabled());
        m_diagnostics.debug(delegateCategory, QStringLiteral("Logging initialized (diagnostics: true)"));
    }
    m_launchWarnings << manager.takeStartupWarnings();

    connect(&hotKeyManager(), &HotKeyManager::openKeyFailedAtLaunch, this, [this](const QString& message) {
        m_launchWarnings << message;
        showLaunchWarnings();
    });
    if (Status hotKeys = hotKeyManager().setupHotKeyManager(&manager); !hotKeys)
        m_launchWarnings << hotKeys.error();
    // Told once the keys are registered: whether the shortcut works is known only then.
    if (m_services.showTrayIcon && !m_services.trayAvailable())
        qCWarning(lcDelegate).noquote() << "No system tray on this desktop;" << hotKeyManager().howToOpenPopup();

    resetPreviewTempFolder();

    if (m_defaults.boolean(onboardingKey)) {
        if (!m_services.keyInjector || !m_services.keyInjector->canPost()) {
            m_diagnostics.warn(delegateCategory, QStringLiteral("Synthetic key events are not available"));
            m_launchWarnings << (m_services.keyInjector ? m_services.keyInjector->unavailableReason()
                                                        : KeyInjectorMessages::noXTest());
        }
    }

    installObservers();

    m_onboardingTimer = m_clock.start(onboardingDelay, false, [this] { runDeferredLaunchCheck(); });
    if (!m_launchWarnings.isEmpty())
        m_warningsTimer = m_clock.start(std::chrono::milliseconds(0), false, [this] { showLaunchWarnings(); });
}

void AppDelegate::createStatusItem()
{
    m_statusMenu = new StatusMenu([this] {
        StatusMenuState state;
        state.canCheckForUpdates = updaterController().canCheckForUpdates();
        state.hasCompletedOnboarding = m_defaults.boolean(onboardingKey);
        state.keepWindowOpen = clipboardManager().keepWindowOpen();
        state.diagnosticsEnabled = m_diagnostics.isEnabled();
        state.diagnosticsLogExists = QFile::exists(m_diagnostics.logPath());
        return state;
    }, this);
    connect(m_statusMenu, &StatusMenu::openSettingsRequested, this, [this] { openSettings(SettingsTab::general); });
    connect(m_statusMenu, &StatusMenu::featureRequestRequested, this, &AppDelegate::openFeatureRequest);
    connect(m_statusMenu, &StatusMenu::helpRequested, this, &AppDelegate::openHelp);
    connect(m_statusMenu, &StatusMenu::aboutRequested, this, &AppDelegate::showAbout);
    connect(m_statusMenu, &StatusMenu::checkForUpdatesRequested, this, &AppDelegate::checkForUpdates);
    connect(m_statusMenu, &StatusMenu::continueOnboardingRequested, this, &AppDelegate::continueOnboarding);
    connect(m_statusMenu, &StatusMenu::toggleKeepWindowOpenRequested, this, &AppDelegate::toggleKeepWindowOpen);
    connect(m_statusMenu, &StatusMenu::startDiagnosticsRequested, this, &AppDelegate::startDiagnostics);
    connect(m_statusMenu, &StatusMenu::stopDiagnosticsRequested, this, &AppDelegate::stopDiagnostics);
    connect(m_statusMenu, &StatusMenu::copyDiagnosticsRequested, this, &AppDelegate::copyDiagnostics);
    connect(m_statusMenu, &StatusMenu::quitRequested, this, &AppDelegate::quit);

    m_statusItem = new QSystemTrayIcon(this);
    m_statusItem->setToolTip(QStringLiteral("Lumra"));
    updateMenuBarIcon();
    m_statusItem->setContextMenu(m_statusMenu->menu());
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    // The icon shows no messages: Qt's D-Bus tray would take any program's notification action
    // for a click on one.
    if (m_services.showTrayIcon)
        m_statusItem->show();
}

void AppDelegate::updateMenuBarIcon()
{
    if (m_statusItem)
        m_statusItem->setIcon(Symbols::icon(clipboardManager().menuBarIcon()));
}

void AppDelegate::resetPreviewTempFolder()
{
    // A link planted in place of a working folder goes as a link; what it points to is never emptied.
    const QFileInfo preview(m_services.previewFolder);
    if (auto reset = PreviewFiles::resetSubfolder(preview.absolutePath(), preview.fileName()); !reset)
        qCWarning(lcDelegate).noquote() << reset.error();
    // Drag files of an earlier run are stale.
    if (auto temp = Folders::privateTempFolder()) {
        if (auto reset = PreviewFiles::resetSubfolder(temp.value(), QStringLiteral("LumraDrag")); !reset)
            qCWarning(lcDelegate).noquote() << reset.error();
    }
}

void AppDelegate::installObservers()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.observe(Notifications::showCopyReminder, this, [this](const QVariantMap&) { presentCopyReminder(); });
    center.observe(Notifications::menuBarIconChanged, this, [this](const QVariantMap&) { updateMenuBarIcon(); });
    if (m_services.workspace)
        connect(m_services.workspace, &Workspace::applicationActivated, this, &AppDelegate::trackActivatedApp);
    center.observe(Notifications::activatePreviousAppForPaste, this,
                   [this](const QVariantMap&) { reactivatePreviousApp(); });
}

void AppDelegate::showLaunchWarnings()
{
    const QStringList warnings = std::exchange(m_launchWarnings, {});
    if (!warnings.isEmpty())
        m_prompts.alert(QStringLiteral("Lumra"), warnings.join(QStringLiteral("\n\n")), {QStringLiteral("OK")},
                        PromptService::Style::warning);
}

void AppDelegate::trackActivatedApp(const AppIdentity& application)
{
    if (application.bundleId == QLatin1String(lumraBundleId))
        return;
    m_lastActiveOtherApp = application;
}

void AppDelegate::reactivatePreviousApp()
{
    if (!m_lastActiveOtherApp || !m_services.workspace)
        return;
    if (Status activated = m_services.workspace->activate(*m_lastActiveOtherApp); !activated)
        qCInfo(lcDelegate).noquote() << "Could not activate the previous application:" << activated.error();
}

void AppDelegate::runDeferredLaunchCheck()
{
    if (!m_defaults.boolean(onboardingKey))
        showOnboarding();
}

OnboardingView* AppDelegate::onboardingWindow() const { return m_onboardingWindow; }

void AppDelegate::showOnboarding()
{
    // A fresh walkthrough each time, at the page saved last.
    if (m_onboardingWindow) {
        m_onboardingWindow->close();
        delete m_onboardingWindow;
    }
    OnboardingServices services;
    services.prompts = &m_prompts;
    services.loginItem = m_services.loginItem;
    services.keyInjector = m_services.keyInjector;
    services.clock = &m_clock;
    QPointer<AppDelegate> self(this);
    auto* window = new OnboardingView(clipboardManager(), hotKeyManager(), services, [self] {
        if (self)
            self->completeOnboarding();
    });
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_onboardingWindow = window;
    window->present();
    emit onboardingRequested();
}

void AppDelegate::completeOnboarding()
{
    if (m_onboardingCompleted)
        return;
    m_onboardingCompleted = true;
    m_defaults.set(onboardingKey, true);
    OnboardingFlow::forgetSavedIndex(m_defaults);
    // Written at once: a walkthrough finished just before a crash or logout is not offered again.
    if (Status flushed = m_defaults.flush(); !flushed)
        qCWarning(lcDelegate).noquote() << flushed.error();
    if (m_onboardingWindow)
        m_onboardingWindow->close();
    emit onboardingFinished();
}

void AppDelegate::continueOnboarding()
{
    m_onboardingCompleted = false;
    showOnboarding();
}

QRect AppDelegate::trayGeometry() const
{
    return m_statusItem && m_statusItem->isVisible() ? m_statusItem->geometry() : QRect();
}

void AppDelegate::togglePanel()
{
    if (PopupPanel* open = PopupPanel::findOpen()) {
        open->close();
        m_panel = nullptr;
        return;
    }
    ClipboardManager& manager = clipboardManager();
    auto previous = PopupRoads::frontmostOtherApp(m_services.workspace);
    QPointer<AppDelegate> self(this);
    PopupPanel* panel = PopupRoads::makePanel(manager, &hotKeyManager(), previous, [self] {
        if (self)
            self->m_panel = nullptr;
    });
    const QRect anchor = trayGeometry();
    const QPoint pointer = QCursor::pos();
    const QPoint origin = PopupRoads::fitToScreen(*panel, [&](QSize frame) {
        return PopupPlacement::besideAnchor(anchor, frame, pointer, PopupPlacement::currentScreens());
    });
    m_panel = panel;
    panel->present(origin);
    dismissReminder();
}

void AppDelegate::dismissReminder()
{
    // The bubble invites the user to the popup; once it is open the bubble would only cover it.
    if (m_reminderPopover)
        m_reminderPopover->close();
    if (m_reminderNotification)
        m_reminderNotification->close();
}

ReminderNotification& AppDelegate::reminderNotification()
{
    if (m_reminderNotification)
        return *m_reminderNotification;
    m_reminderNotification = new ReminderNotification(m_services.notificationBus(), m_clock, this);
    connect(m_reminderNotification, &ReminderNotification::tapped, this, &AppDelegate::togglePanel);
    connect(m_reminderNotification, &ReminderNotification::doNotDisturb, this,
            [this] { clipboardManager().reminder().snoozeReminder(); });
    // Without a notification server nothing can show it without taking the keyboard: the tray's
    // own messages go to that same missing server. The log says it, once.
    connect(m_reminderNotification, &ReminderNotification::unavailable, this, [this](const QString& message) {
        if (m_reminderUnshownLogged)
            return;
        m_reminderUnshownLogged = true;
        qCInfo(lcDelegate).noquote() << "Copy reminder not shown: the desktop runs no notification server (" + message + ")";
    });
    return *m_reminderNotification;
}

void AppDelegate::tellFailure(const QString& message)
{
    if (!m_failureNotice) {
        m_failureNotice = new ReminderNotification(m_services.notificationBus(), m_clock, this,
                                                   ReminderNotification::Actions::none);
        connect(m_failureNotice, &ReminderNotification::unavailable, this, [this] {
            if (std::exchange(m_failureUnshownLogged, true))
                return;
            qCInfo(lcDelegate).noquote() << "Failures are not shown: the desktop runs no notification server";
        });
    }
    m_failureNotice->show(message);
}

void AppDelegate::acceptHandOvers(SingleInstance& instance)
{
    connect(&instance, &SingleInstance::togglePopupRequested, this, [this] { hotKeyManager().togglePopup(); });
}

void AppDelegate::presentCopyReminder()
{
    // Over the open popup the bubble would cover its search field: it waits until the popup closes.
    if (PopupPanel* open = PopupPanel::findOpen()) {
        if (!m_reminderWaits) {
            m_reminderWaits = true;
            connect(open, &PopupPanel::closed, this, [this] {
                m_reminderWaits = false;
                presentCopyReminder();
            }, Qt::SingleShotConnection);
        }
        return;
    }
    if (m_reminderPopover)
        m_reminderPopover->close();
    int count = 0;
    for (const ClipboardItem& item : clipboardManager().clipboardItems())
        count += item.isTrashed ? 0 : 1;
    const auto form = ReminderPopover::formFor(m_services.trayAvailable(), m_services.platformName);
    if (form == ReminderPopover::Form::none)
        return;
    if (form == ReminderPopover::Form::notification) {
        reminderNotification().show(ReminderPopover::reminderMessage(count));
        return;
    }
    auto* popover = new ReminderPopover(count);
    QPointer<AppDelegate> self(this);
    connect(popover, &ReminderPopover::tapped, this, [self] {
        if (self)
            self->togglePanel();
    });
    connect(popover, &ReminderPopover::doNotDisturb, this, [self] {
        if (self)
            self->clipboardManager().reminder().snoozeReminder();
    });
    popover->showNear(trayGeometry(), QCursor::pos());
    m_reminderPopover = popover;
}

void AppDelegate::openSettings(std::optional<SettingsTab> tab)
{
    if (!m_settingsWindow) {
        SettingsServices services;
        services.prompts = &m_prompts;
        services.restartApp = [this] { return restartNow(); };
        m_settingsWindow = new SettingsWindow(clipboardManager(), hotKeyManager(), services);
        centreOnPointerScreen(*m_settingsWindow);
    }
    m_settingsWindow->present(tab);
}

void AppDelegate::showAbout()
{
    if (!m_aboutWindow) {
        m_aboutWindow = new AboutWindow;
        centreOnPointerScreen(*m_aboutWindow);
    }
    m_aboutWindow->present();
}

void AppDelegate::checkForUpdates() { updaterController().checkForUpdates(); }

void AppDelegate::openFeatureRequest() { m_services.openUrl(AppLinks::featureRequest()); }

void AppDelegate::openHelp() { m_services.openUrl(AppLinks::home()); }

void AppDelegate::toggleKeepWindowOpen()
{
    ClipboardManager& manager = clipboardManager();
    manager.setKeepWindowOpen(!manager.keepWindowOpen());
}

void AppDelegate::startDiagnostics()
{
    const int answer = m_prompts.alert(
        QStringLiteral("Start Diagnostics"),
        QStringLiteral("Lumra will restart to begin collecting diagnostic logs. You can stop diagnostics at any time "
                       "from the menu.\n\nOnly technical information (app and system versions, sync events, item "
                       "counts) is collected \u2014 never the contents of your clipboard."),
        {QStringLiteral("Restart Lumra"), QStringLiteral("Cancel")});
    if (answer != 0)
        return;
    m_defaults.set(diagnosticsKey, true);
    m_diagnostics.setEnabled(true);
    relaunchApp();
}

void AppDelegate::stopDiagnostics()
{
    m_diagnostics.debug(delegateCategory, QStringLiteral("Diagnostics stopped by user"));
    m_defaults.set(diagnosticsKey, false);
    m_diagnostics.setEnabled(false);
}

void AppDelegate::copyDiagnostics()
{
    const std::optional<QString> log = m_diagnostics.readDiagnosticsLog();
    if (!log || log->isEmpty()) {
        m_prompts.alert(QStringLiteral("No Diagnostics Available"),
                        QStringLiteral("There is no diagnostic data to copy yet. Start diagnostics first."),
                        {QStringLiteral("OK")});
        return;
    }
    Status copied;
    if (Pasteboard* pasteboard = m_services.pasteboard) {
        // Through Lumra's own clipboard connection, so the report is known as our write and not recorded.
        const QByteArray text = log->toUtf8();
        copied = pasteboard->write({{QString::fromLatin1(PasteboardMime::textUtf8), text},
                                    {QString::fromLatin1(PasteboardMime::utf8String), text},
                                    {QString::fromLatin1(PasteboardMime::textPlain), text}})
                     .status();
    } else {
        QGuiApplication::clipboard()->setText(*log);
    }
    if (!copied) {
        m_prompts.alert(QStringLiteral("Could Not Copy Diagnostics"), copied.error(), {QStringLiteral("OK")},
                        PromptService::Style::warning);
        return;
    }
    m_prompts.alert(QStringLiteral("Diagnostics Copied"),
                    QStringLiteral("The diagnostic report has been copied to your clipboard. Paste it into a text "
                                   "editor or your support email."),
                    {QStringLiteral("OK")});
}

bool AppDelegate::restartNow()
{
    // The new process reads the settings at once: they must be on disk first.
    if (Status flushed = m_defaults.flush(); !flushed)
        qCWarning(lcDelegate).noquote() << flushed.error();
    if (!m_services.startNewInstance())
        return false;
    quit();
    return true;
}

bool AppDelegate::relaunchApp()
{
    if (restartNow())
        return true;
    m_prompts.alert(QStringLiteral("Lumra Could Not Restart"),
                    QStringLiteral("Lumra could not start again. Diagnostics are on; quit Lumra and start it again "
                                   "to begin a fresh log."),
                    {QStringLiteral("OK")}, PromptService::Style::warning);
    return false;
}

void AppDelegate::quit()
{
    if (Status flushed = m_defaults.flush(); !flushed)
        qCWarning(lcDelegate).noquote() << flushed.error();
    m_services.quit();
}

} // namespace lumra
