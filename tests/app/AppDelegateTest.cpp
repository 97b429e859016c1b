#include "app/AppDelegate.h"
#include "ui/shell/HotKeyManager.h"
#include "ui/shell/Prompt.h"
#include "app/SingleInstance.h"
#include "app/StatusMenu.h"
#include "engine/CopyReminder.h"
#include "engine/PasteService.h"
#include "model/Diagnostics.h"
#include "ui/settings/SettingsWidgets.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/SyncPage.h"
#include "model/NotificationCenter.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/items/editors/EditorWindows.h"
#include "ui/items/editors/ItemEditors.h"
#include "platform/image/ImageDecoder.h"

#include "PendingCaptures.h"
#include "PrivateBus.h"
#include "ShellTestSupport.h"
#include "TestImages.h"
#include "ThisProgram.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QAbstractButton>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QMenu>
#include <QSignalSpy>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <iostream>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace lumra {
namespace {

class AppDelegateTest : public test::ShellTest {
protected:
    AppDelegateTest()
        : diagnostics(dataDir.root() + QStringLiteral("/diagnostics.log"))
    {
    }

    void TearDown() override
    {
        delegate.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            delete qobject_cast<PopupPanel*>(widget);
    }

    AppServices services()
    {
        AppServices s;
        s.defaults = defaults.get();
        s.clock = &clock;
        s.diagnostics = &diagnostics;
        s.prompts = &prompts;
        s.workspace = &workspace;
        s.keyInjector = &injector;
        s.pasteboard = &pasteboard;
        s.hotKeys = &keys;
        s.previewFolder = dataDir.cacheHome() + QStringLiteral("/Lumra/preview-tmp");
        s.makeClipboardManager = [this] {
            events << QStringLiteral("engine");
            return makeManager();
        };
        s.startNewInstance = [this] {
            events << QStringLiteral("start new instance");
            return newInstanceStarts;
        };
        s.quit = [this] { events << QStringLiteral("quit"); };
        s.openUrl = [this](const QUrl& url) { events << url.toString(); };
        s.showTrayIcon = false;
        s.trayAvailable = [] { return true; };
        return s;
    }

    AppDelegate& launch(AppServices s)
    {
        delegate = std::make_unique<AppDelegate>(std::move(s));
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
        return *delegate;
    }
    AppDelegate& launch() { return launch(services()); }

    // Launched with its notifications going to the server on `bus`; endOnBus() lets go of it.
    AppDelegate& launchOnBus(const test::PrivateBus& bus, AppServices s)
    {
        s.notificationBus = [address = bus.address()] {
            return QDBusConnection::connectToBus(address, "lumra-notifications-test");
        };
        return launch(std::move(s));
    }
    void endOnBus()
    {
        delegate.reset();
        QDBusConnection::disconnectFromBus("lumra-notifications-test");
    }

    QString logText()
    {
        diagnostics.flush();
        QFile file(diagnostics.logPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    void writeLog(const QByteArray& text)
    {
        QFile file(diagnostics.logPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    Diagnostics diagnostics;
    ScriptedPromptService prompts;
    QStringList events;
    bool newInstanceStarts = true;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, LaunchRegistersDefaultsFirstAndBuildsTheEngineBeforeTheHotKeys)
{
    AppServices s = services();
    s.makeClipboardManager = [this] {
        events << QStringLiteral("engine");
        EXPECT_TRUE(defaults->registeredValue(QStringLiteral("hotKeyKeyCode")).isValid());
        EXPECT_TRUE(keys.registeredIds().isEmpty());
        return makeManager();
    };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();

    EXPECT_EQ(events, QStringList{QStringLiteral("engine")});
    EXPECT_TRUE(keys.isRegistered(HotKeyManager::mainHotKeyId));
    EXPECT_NE(delegate->statusItem(), nullptr);
}

TEST_F(AppDelegateTest, DiagnosticsLogStartsFreshButKeepsThisStartUp)
{
    defaults->set(QStringLiteral("diagnosticsEnabled"), true);
    writeLog("[old] a record of the previous run\n");
    AppServices s = services();
    s.makeClipboardManager = [this] {
        diagnostics.info(QStringLiteral("Persistence"), QStringLiteral("store loaded during start-up"));
        return makeManager();
    };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();

    const QString log = logText();
    EXPECT_FALSE(log.contains(QStringLiteral("previous run")));
    const qsizetype startUp = log.indexOf(QStringLiteral("store loaded during start-up"));
    const qsizetype header = log.indexOf(QStringLiteral("--- Diagnostic Info ---"));
    ASSERT_GE(startUp, 0) << log.toStdString();
    ASSERT_GE(header, 0) << log.toStdString();
    EXPECT_LT(startUp, header);
    EXPECT_TRUE(log.contains(QStringLiteral("[DEBUG] [AppDelegate] Logging initialized (diagnostics: true)")));
}

TEST_F(AppDelegateTest, WithDiagnosticsOffTheLogIsNotTouched)
{
    writeLog("kept\n");
    launch();
    EXPECT_EQ(logText(), QStringLiteral("kept\n"));
    EXPECT_FALSE(diagnostics.isEnabled());
}

TEST_F(AppDelegateTest, PreviewFolderIsEmptiedAndMadeAgain)
{
    const QString folder = services().previewFolder;
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile stale(folder + QStringLiteral("/old.txt"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    launch();
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_TRUE(QDir(folder).isEmpty());
}

TEST_F(AppDelegateTest, APreviewFolderThatIsALinkIsRemovedAsALink)
{
    const QString folder = services().previewFolder;
    const QString elsewhere = dataDir.root() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    QFile kept(elsewhere + QStringLiteral("/kept.txt"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.close();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).absolutePath()));
    ASSERT_TRUE(QFile::link(elsewhere, folder));
    launch();
    EXPECT_TRUE(QFile::exists(elsewhere + QStringLiteral("/kept.txt")));
    EXPECT_FALSE(QFileInfo(folder).isSymLink());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(AppDelegateTest, OnboardingIsOfferedAfterADelayUntilCompleted)
{
    launch();
    QSignalSpy requested(delegate.get(), &AppDelegate::onboardingRequested);
    clock.advance(AppDelegate::onboardingDelay - std::chrono::milliseconds(1));
    EXPECT_EQ(requested.count(), 0);
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(requested.count(), 1);

    defaults->set(QStringLiteral("onboardingPage"), 3);
    delegate->completeOnboarding();
    EXPECT_TRUE(defaults->boolean(QStringLiteral("hasCompletedOnboarding")));
    EXPECT_FALSE(defaults->hasStoredValue(QStringLiteral("onboardingPage")));

    delegate.reset();
    launch();
    QSignalSpy again(delegate.get(), &AppDelegate::onboardingRequested);
    clock.advance(AppDelegate::onboardingDelay);
    EXPECT_EQ(again.count(), 0);
}

// The tray menu as it shows now: the titles of its entries.
QAction* trayEntry(AppDelegate& delegate, const QString& title)
{
    QMenu* menu = delegate.statusMenu()->menu();
    emit menu->aboutToShow();
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

TEST_F(AppDelegateTest, TheWalkthroughOpensAtItsSavedPageUntilItIsFinished)
{
    launch();
    clock.advance(AppDelegate::onboardingDelay);
    OnboardingView* first = delegate->onboardingWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->currentPage(), OnboardingPage::welcome);
    first->setPage(3);
    first->close();
    processEvents();
    EXPECT_EQ(delegate->onboardingWindow(), nullptr) << "closing without finishing lets the window go";
    EXPECT_FALSE(defaults->boolean(QStringLiteral("hasCompletedOnboarding")));

    QAction* again = trayEntry(*delegate, QStringLiteral("Continue Onboarding"));
    ASSERT_NE(again, nullptr);
    again->trigger();
    OnboardingView* second = delegate->onboardingWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->currentPage(), OnboardingPage::privacy);

    // Opening it again while open replaces the window.
    trayEntry(*delegate, QStringLiteral("Continue Onboarding"))->trigger();
    processEvents();
    OnboardingView* third = delegate->onboardingWindow();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(QApplication::topLevelWidgets().count(third), 1);
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        open += qobject_cast<OnboardingView*>(widget) && widget->isVisible() ? 1 : 0;
    EXPECT_EQ(open, 1);

    third->setPage(OnboardingFlow::indexOf(OnboardingPage::finish, third->needsPermission()));
    third->forwardButton()->click();
    processEvents();
    EXPECT_TRUE(defaults->boolean(QStringLiteral("hasCompletedOnboarding")));
    EXPECT_FALSE(defaults->hasStoredValue(OnboardingFlow::pageKey));
    EXPECT_FALSE(defaults->hasStoredValue(OnboardingFlow::pageWithPermissionKey));
    EXPECT_EQ(delegate->onboardingWindow(), nullptr);
    EXPECT_EQ(trayEntry(*delegate, QStringLiteral("Continue Onboarding")), nullptr);

    // A second finish in the same run does nothing.
    QSignalSpy finished(delegate.get(), &AppDelegate::onboardingFinished);
    delegate->completeOnboarding();
    EXPECT_EQ(finished.count(), 0);
}

TEST_F(AppDelegateTest, MissingSyntheticKeysAreReportedOnceAfterLaunch)
{
    defaults->set(QStringLiteral("hasCompletedOnboarding"), true);
    injector.setCanPost(false);
    keys.setTakenElsewhere(9, test::ctrlAlt);
    launch();
    EXPECT_TRUE(prompts.shown.isEmpty()) << "nothing is shown while launch is still running";
    clock.advance(std::chrono::milliseconds(0));
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("XTest")));
    EXPECT_FALSE(prompts.shown[0].text.contains(QStringLiteral("Ctrl+Alt+V"))) << "told before it was tried again";
    // The shortcut is told of once its last try at launch failed too.
    for (std::chrono::milliseconds delay : HotKeyManager::launchRetryDelays)
        clock.advance(delay);
    ASSERT_EQ(prompts.shown.size(), 2);
    EXPECT_TRUE(prompts.shown[1].text.contains(QStringLiteral("Ctrl+Alt+V")));
    clock.advance(std::chrono::seconds(30));
    EXPECT_EQ(prompts.shown.size(), 2);
}

TEST_F(AppDelegateTest, TracksTheLastOtherApplicationAndBringsItBack)
{
    launch();
    const AppIdentity browser{QStringLiteral("firefox"), QStringLiteral("Firefox"), 10, 100};
    const AppIdentity unnamed{QString(), QStringLiteral("xterm"), 11, 101};
    const AppIdentity lumra{QStringLiteral("lumra"), QStringLiteral("Lumra"), 12, 102};

    NotificationCenter::defaultCenter().post(Notifications::activatePreviousAppForPaste);
    EXPECT_TRUE(workspace.activations().isEmpty());

    workspace.setFrontmost(browser);
    workspace.setFrontmost(lumra);
    EXPECT_EQ(delegate->lastActiveOtherApp(), browser);
    workspace.setFrontmost(unnamed);
    EXPECT_EQ(delegate->lastActiveOtherApp(), unnamed);

    workspace.setFrontmost(lumra);
    NotificationCenter::defaultCenter().post(Notifications::activatePreviousAppForPaste);
    ASSERT_EQ(workspace.activations().size(), 1);
    EXPECT_EQ(workspace.activations().first(), unnamed);
}

TEST_F(AppDelegateTest, ALaterStartTogglesThePopupOfTheRunningOne)
{
    launch();
    SingleInstance primary(dataDir.runtimeDir());
    auto first = primary.claim();
    ASSERT_TRUE(first.ok()) << first.error().toStdString();
    ASSERT_EQ(first.value(), SingleInstance::Role::primary);
    delegate->acceptHandOvers(primary);

    SingleInstance second(dataDir.runtimeDir());
    auto role = second.claim();
    ASSERT_TRUE(role.ok()) << role.error().toStdString();
    EXPECT_EQ(role.value(), SingleInstance::Role::handedOver);
    ASSERT_TRUE(QTest::qWaitFor([] { return PopupPanel::findOpen() != nullptr; }));

    // Another start while the popup is open closes it, as the shortcut does: bound to a key in a
    // Wayland compositor, starting Lumra is the shortcut.
    SingleInstance third(dataDir.runtimeDir());
    ASSERT_EQ(third.claim().value(), SingleInstance::Role::handedOver);
    EXPECT_TRUE(QTest::qWaitFor([] { return PopupPanel::findOpen() == nullptr; }));
}

TEST_F(AppDelegateTest, EitherRoadClosesThePopupTheOtherOpened)
{
    launch();
    delegate->togglePanel();
    PopupPanel* panel = delegate->panel();
    ASSERT_NE(panel, nullptr);
    delegate->hotKeyManager().togglePopup();
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
    EXPECT_EQ(delegate->panel(), nullptr);

    delegate->hotKeyManager().togglePopup();
    ASSERT_NE(PopupPanel::findOpen(), nullptr);
    delegate->togglePanel();
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
}

TEST_F(AppDelegateTest, ThePopupFollowsKeepWindowOpenAndWindowButtons)
{
    launch();
    delegate->togglePanel();
    PopupPanel* panel = delegate->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->keepWindowOpen());
    delegate->toggleKeepWindowOpen();
    EXPECT_TRUE(delegate->clipboardManager().keepWindowOpen());
    EXPECT_TRUE(panel->keepWindowOpen());
    delegate->clipboardManager().setShowTrafficLights(false);
    EXPECT_FALSE(panel->showsWindowButtons());
}

TEST_F(AppDelegateTest, AboutAndSettingsOpenCentredWithoutMinimiseOrMaximise)
{
    AppDelegate& app = launch();
    app.showAbout();
    app.openSettings();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (QWidget* window : {static_cast<QWidget*>(app.aboutWindow()), static_cast<QWidget*>(app.settingsWindow())}) {
        ASSERT_TRUE(window);
        SCOPED_TRACE(window->windowTitle().toStdString());
        if (screen.width() >= window->width() && screen.height() >= window->height())
            EXPECT_LE((window->geometry().center() - screen.center()).manhattanLength(), 8);
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);
        window->close();
    }
}

TEST_F(AppDelegateTest, StartingDiagnosticsQuitsOnlyOnceTheNewLumraRuns)
{
    launch();
    prompts.answerNext(1); // Cancel
    delegate->startDiagnostics();
    EXPECT_FALSE(defaults->boolean(QStringLiteral("diagnosticsEnabled")));
    EXPECT_TRUE(events.filter(QStringLiteral("quit")).isEmpty());

    newInstanceStarts = false;
    prompts.answerNext(0);
    delegate->startDiagnostics();
    EXPECT_TRUE(defaults->boolean(QStringLiteral("diagnosticsEnabled")));
    EXPECT_TRUE(events.filter(QStringLiteral("quit")).isEmpty());
    EXPECT_EQ(prompts.shown.last().title, QStringLiteral("Lumra Could Not Restart"));
    EXPECT_FALSE(defaults->hasUnsavedChanges()) << "the new process must find the setting on disk";

    newInstanceStarts = true;
    prompts.answerNext(0);
    delegate->startDiagnostics();
    EXPECT_EQ(events.mid(events.size() - 2), (QStringList{"start new instance", "quit"}));
}

TEST_F(AppDelegateTest, TheSyncPageRestartsLumraOnlyOnceTheNewOneRuns)
{
    defaults->set(QStringLiteral("iCloudSyncEnabled"), true);
    launch();
    delegate->openSettings(SettingsTab::iCloud);
    auto* sync = qobject_cast<SyncPage*>(delegate->settingsWindow()->page(SettingsTab::iCloud));
    ASSERT_NE(sync, nullptr);

    newInstanceStarts = false;
    prompts.answerNext(0); // Restart Now
    sync->syncSwitch()->click();
    EXPECT_TRUE(events.filter(QStringLiteral("quit")).isEmpty());
    EXPECT_EQ(prompts.shown.last().title, QStringLiteral("Lumra Could Not Restart"));
    EXPECT_FALSE(defaults->boolean(QStringLiteral("iCloudSyncEnabled")));
    EXPECT_FALSE(defaults->hasUnsavedChanges()) << "the new process must find the setting on disk";

    newInstanceStarts = true;
    prompts.answerNext(0);
    sync->requestSync(false);
    EXPECT_EQ(events.mid(events.size() - 2), (QStringList{"start new instance", "quit"}));
    delegate->settingsWindow()->close();
}

TEST_F(AppDelegateTest, CopyingDiagnosticsGoesThroughLumrasOwnClipboardWrite)
{
    launch();
    delegate->copyDiagnostics();
    EXPECT_EQ(prompts.shown.last().title, QStringLiteral("No Diagnostics Available"));
    EXPECT_TRUE(pasteboard.writes().isEmpty());

    writeLog("[2026-03-01T09:00:00.000Z] [INFO] [Capture] something\n");
    pasteboard.setWriteError(QStringLiteral("the clipboard refused"));
    delegate->copyDiagnostics();
    EXPECT_EQ(prompts.shown.last().title, QStringLiteral("Could Not Copy Diagnostics"));

    pasteboard.setWriteError(QString());
    delegate->copyDiagnostics();
    EXPECT_EQ(prompts.shown.last().title, QStringLiteral("Diagnostics Copied"));
    EXPECT_TRUE(lastWrittenText().contains(QStringLiteral("[Capture] something")));
    EXPECT_TRUE(pasteboard.isOwnedByUs());
}

TEST_F(AppDelegateTest, StoppingDiagnosticsLogsTheStopAndKeepsTheLog)
{
    defaults->set(QStringLiteral("diagnosticsEnabled"), true);
    launch();
    delegate->stopDiagnostics();
    EXPECT_FALSE(diagnostics.isEnabled());
    EXPECT_FALSE(defaults->boolean(QStringLiteral("diagnosticsEnabled")));
    diagnostics.info(QStringLiteral("Test"), QStringLiteral("not written"));
    const QString log = logText();
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("Diagnostics stopped by user")));
}

TEST_F(AppDelegateTest, TheTrayBringsBackAPopupThatWentOffScreenWithItsEditor)
{
    launch();
    delegate->togglePanel();
    QPointer<PopupPanel> panel = PopupPanel::findOpen();
    ASSERT_TRUE(panel);
    const ClipboardItem item = textItem("tagged later");
    QPointer<TagEditorWindow> editor
        = EditorWindows::openTagEditor({&delegate->clipboardManager(), &delegate->hotKeyManager(), panel}, item);
    // The window manager minimised the editor and the popup with it.
    editor->showMinimized();
    panel->showMinimized();

    delegate->togglePanel();
    ASSERT_TRUE(panel && editor);
    EXPECT_EQ(PopupPanel::findOpen(), panel.data()) << "the held popup stays open";
    EXPECT_TRUE(panel->isVisible() && !panel->isMinimized());
    EXPECT_TRUE(editor->isVisible() && !editor->isMinimized());

    // Minimised again and cancelled there: the popup comes back with the end of the hold.
    editor->showMinimized();
    panel->showMinimized();
    editor->reject();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible() && !panel->isMinimized());
    delegate->togglePanel();
    EXPECT_EQ(PopupPanel::findOpen(), nullptr) << "the next click closes the popup the user sees";
}

// Qt's tray over D-Bus reports every notification action on the bus, any program's, as a click
// on its own message; Lumra shows no message through the tray, so such a click opens nothing.
TEST_F(AppDelegateTest, AnotherProgramsNotificationActionOpensNoPopup)
{
    launch();
    ASSERT_NE(delegate->statusItem(), nullptr);
    emit delegate->statusItem()->messageClicked();
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
}

TEST_F(AppDelegateTest, WithNoTrayTheReminderShowsNothing)
{
    AppServices s = services();
    s.trayAvailable = [] { return false; };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    delegate->clipboardManager().setClipboardItems({textItem("a")});
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_EQ(delegate->reminderPopover(), nullptr);
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
}

TEST_F(AppDelegateTest, TheReminderCountsOnlyItemsOutsideTheBin)
{
    launch();
    delegate->clipboardManager().setClipboardItems({textItem("a"), textItem("b"), textItem("c", std::nullopt, true)});
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    ReminderPopover* first = delegate->reminderPopover();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->messageText(), QStringLiteral("You have 2 clips saved! Tap to Browse."));

    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_NE(delegate->reminderPopover(), first);
    const QPointer<ReminderPopover> shown = delegate->reminderPopover();
    emit delegate->reminderPopover()->tapped();
    EXPECT_NE(PopupPanel::findOpen(), nullptr);
    EXPECT_TRUE(!shown || !shown->isVisible()); // the popup it invited to is open: it would only cover it

    // While the popup is open the reminder waits, once, and shows when the popup has closed.
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_FALSE(delegate->reminderPopover() && delegate->reminderPopover()->isVisible());
    delegate->togglePanel();
    ASSERT_EQ(PopupPanel::findOpen(), nullptr);
    ASSERT_TRUE(delegate->reminderPopover());
    EXPECT_TRUE(delegate->reminderPopover()->isVisible());
    emit delegate->reminderPopover()->doNotDisturb();
    EXPECT_GT(delegate->clipboardManager().reminder().reminderSnoozedUntil(), clock.now());
}

const char* const notificationServerVariable = "LUMRA_FAKE_NOTIFICATION_BUS";
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString notificationsInterface = QStringLiteral("org.freedesktop.Notifications");

// A notification server that offers actions, prints each notification it is asked to show or
// close, and invokes the actions named in LUMRA_FAKE_NOTIFICATION_ACTIONS on the notifications
// in turn ("none" for one it leaves alone).
class FakeNotificationServer final : public QDBusVirtualObject {
public:
    explicit FakeNotificationServer(QDBusConnection bus)
        : m_bus(std::move(bus))
        , m_actions(qEnvironmentVariable("LUMRA_FAKE_NOTIFICATION_ACTIONS").split(','))
    {
    }
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        const QVariantList args = message.arguments();
        if (message.member() == QLatin1String("GetCapabilities")) {
            m_bus.send(message.createReply(QStringList {"actions", "body"}));
        } else if (message.member() == QLatin1String("Notify")) {
            const uint id = args.at(1).toUInt() ? args.at(1).toUInt() : ++m_lastId;
            const QStringList fields {args.at(0).toString(), args.at(2).toString(), args.at(3).toString(),
                                      args.at(4).toString(), args.at(5).toStringList().join('|'), args.at(7).toString()};
            std::cout << "NOTIFY:" << fields.join(';').toStdString() << std::endl;
            // The click is sent before the answer that names its id: Lumra may hear them in either order.
            const QString action = m_actions.value(m_shown++);
            if (action == QLatin1String("foreign-default")) {
                // Another program's notification is clicked, then this one snoozed.
                QDBusMessage foreign = QDBusMessage::createSignal(notificationsPath, notificationsInterface, "ActionInvoked");
                foreign << id + 100 << QStringLiteral("default");
                m_bus.send(foreign);
                QDBusMessage invoked = QDBusMessage::createSignal(notificationsPath, notificationsInterface, "ActionInvoked");
                invoked << id << QStringLiteral("do-not-disturb");
                m_bus.send(invoked);
            } else if (!action.isEmpty() && action != QLatin1String("none")) {
                QDBusMessage invoked = QDBusMessage::createSignal(notificationsPath, notificationsInterface, "ActionInvoked");
                invoked << id << action;
                m_bus.send(invoked);
            }
            m_bus.send(message.createReply(id));
        } else if (message.member() == QLatin1String("CloseNotification")) {
            std::cout << "CLOSED:" << args.at(0).toUInt() << std::endl;
            m_bus.send(message.createReply());
            QDBusMessage closed = QDBusMessage::createSignal(notificationsPath, notificationsInterface, "NotificationClosed");
            closed << args.at(0).toUInt() << 3u;
            m_bus.send(closed);
        } else {
            m_bus.send(message.createReply());
        }
        return true;
    }

private:
    QDBusConnection m_bus;
    QStringList m_actions;
    int m_shown = 0;
    uint m_lastId = 6;
};

// Server mode only: the notification server of ReminderThroughNotificationServer.
TEST(FakeNotificationServerProcess, ServesNotifications)
{
    if (!qEnvironmentVariableIsSet(notificationServerVariable))
        GTEST_SKIP() << "runs as the notification server of AppDelegateTest";
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable(notificationServerVariable), "server");
    FakeNotificationServer server(bus);
    ASSERT_TRUE(bus.registerVirtualObject(notificationsPath, &server));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    // Serves until the test kills it, however slow the machine; it ends with the test program.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return;
    std::cout << "READY" << std::endl;
    QEventLoop().exec();
}

// The fake notification server, in a process of its own on `bus`; printed() waits for a line.
class NotificationServerProcess {
public:
    ~NotificationServerProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool start(const test::PrivateBus& bus, const QString& actions = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(notificationServerVariable, bus.address());
        environment.insert("LUMRA_FAKE_NOTIFICATION_ACTIONS", actions);
        m_process.setProcessEnvironment(environment);
        lumra::test::startThisProgram(m_process, {"--gtest_filter=FakeNotificationServerProcess.*"});
        return printed("READY");
    }
    bool printed(const QString& text, int count = 1)
    {
        return test::processEventsUntil([&] { return output().count(text) >= count; }, 60000); // reached only when the sign never comes
    }
    const QString& output()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_output;
    }
    void kill() { m_process.kill(); }

private:
    QProcess m_process;
    QString m_output;
};

// On Wayland the reminder is a notification of the desktop's server, with or without a tray host:
// a click on it opens the popup, its "Do not Disturb" snoozes, and one left alone is closed after
// 10 s.
TEST_F(AppDelegateTest, OnWaylandTheReminderIsANotificationWhoseActionsComeBack)
{
    // Bounds only a failure reaches: a machine at load 40 delivers each sign, in its time.
    constexpr int signWaitMs = 60000;
    if (!test::PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBus bus;
    ASSERT_TRUE(bus.start());
    NotificationServerProcess server;
    ASSERT_TRUE(server.start(bus, "none,default,do-not-disturb"));
    const QString& output = server.output();
    auto printed = [&](const QString& text) { return server.printed(text); };

    AppServices s = services();
    s.platformName = QStringLiteral("wayland");
    s.notificationBus = [&] { return QDBusConnection::connectToBus(bus.address(), "lumra-notifications-test"); };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    delegate->clipboardManager().setClipboardItems({textItem("a"), textItem("b")});

    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    ASSERT_TRUE(printed("NOTIFY:")) << qPrintable(output);
    EXPECT_TRUE(output.contains("NOTIFY:Lumra;lumra;Lumra;You have 2 clips saved! Tap to Browse.;"
                                "default|Tap to Browse.|do-not-disturb|Do not Disturb;10000"))
        << qPrintable(output);
    EXPECT_EQ(delegate->reminderPopover(), nullptr) << "no window of its own on Wayland";
    QTest::qWait(200);
    EXPECT_FALSE(output.contains("CLOSED:"));
    clock.advance(std::chrono::seconds(10));
    EXPECT_TRUE(printed("CLOSED:7")) << qPrintable(output);

    // The second one is clicked.
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_TRUE(test::processEventsUntil([] { return PopupPanel::findOpen() != nullptr; }, signWaitMs)) << qPrintable(output);
    EXPECT_TRUE(printed("CLOSED:8")) << qPrintable(output);
    delegate->togglePanel();
    ASSERT_EQ(PopupPanel::findOpen(), nullptr);

    // The third one is snoozed.
    ASSERT_LE(delegate->clipboardManager().reminder().reminderSnoozedUntil(), clock.now());
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_TRUE(test::processEventsUntil([&] { return delegate->clipboardManager().reminder().reminderSnoozedUntil() > clock.now(); },
                                         signWaitMs))
        << qPrintable(output);
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);

    // A desktop with no tray host gets it all the same.
    delegate.reset();
    s.trayAvailable = [] { return false; };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    delegate->clipboardManager().setClipboardItems({textItem("a"), textItem("b")});
    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_TRUE(server.printed("NOTIFY:", 4)) << qPrintable(output);

    delegate.reset();
    QDBusConnection::disconnectFromBus("lumra-notifications-test");
}

// A click on another program's notification is not taken for the reminder's: the reminder's own
// "Do not Disturb", sent after it, still comes back and no popup opened.
TEST_F(AppDelegateTest, AnotherProgramsNotificationActionIsNotTheReminders)
{
    if (!test::PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBus bus;
    ASSERT_TRUE(bus.start());
    NotificationServerProcess server;
    ASSERT_TRUE(server.start(bus, "foreign-default"));
    AppServices s = services();
    s.platformName = QStringLiteral("wayland");
    launchOnBus(bus, s).clipboardManager().setClipboardItems({textItem("a"), textItem("b")});

    NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
    EXPECT_TRUE(test::processEventsUntil([&] { return delegate->clipboardManager().reminder().reminderSnoozedUntil() > clock.now(); },
                                         10000))
        << qPrintable(server.output());
    EXPECT_EQ(PopupPanel::findOpen(), nullptr);
    endOnBus();
}

// A failure the user would otherwise miss is said in a notification: a paste they asked for that
// fails, because the item could not be put on the clipboard or the keys could not be sent (the
// popup has closed by then); pictures lost for want of a decoder to start, told once, not at every
// picture.
TEST_F(AppDelegateTest, FailuresTheUserWouldMissAreToldInANotification)
{
    if (!test::PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBus bus;
    ASSERT_TRUE(bus.start());
    NotificationServerProcess server;
    ASSERT_TRUE(server.start(bus));
    image::ImageDecoder missing(dataDir.root() + QStringLiteral("/no-decoder-here"));
    AppServices s = services();
    s.makeClipboardManager = [&] {
        return makeManager([&](ClipboardManagerServices& engine) { engine.captureDecoder = &missing; });
    };
    ClipboardManager& manager = launchOnBus(bus, s).clipboardManager();
    manager.setClipboardItems({textItem("a")});

    pasteboard.setWriteError(QStringLiteral("Lumra could not take the clipboard: the compositor did not answer in time"));
    manager.paste().copyAndPaste(manager.clipboardItems().first(), false);
    ASSERT_TRUE(server.printed("NOTIFY:")) << qPrintable(server.output());
    EXPECT_TRUE(server.output().contains(
        "NOTIFY:Lumra;lumra;Lumra;Lumra could not take the clipboard: the compositor did not answer in time;;10000"))
        << qPrintable(server.output());

    pasteboard.setWriteError(QString());
    injector.setCanPost(false);
    manager.paste().copyAndPaste(manager.clipboardItems().first(), false);
    clock.advance(std::chrono::seconds(1));
    ASSERT_TRUE(server.printed("NOTIFY:", 2)) << qPrintable(server.output());
    EXPECT_TRUE(server.output().contains("NOTIFY:Lumra;lumra;Lumra;" + KeyInjectorMessages::noXTest() + ";;10000"))
        << qPrintable(server.output());

    QSignalSpy told(&manager, &ClipboardManager::picturesNotRecorded);
    const auto copyPicture = [&](QColor colour) {
        pasteboard.setContents({{QStringLiteral("image/png"), test::solidPng(QSize(8, 8), colour)}});
        clock.advance(std::chrono::milliseconds(1));
        manager.captureService()->checkClipboard();
        test::finishPendingCaptures(manager);
    };
    for (const QColor colour : {Qt::red, Qt::blue}) {
        copyPicture(colour);
        ASSERT_TRUE(server.printed("NOTIFY:", 3)) << qPrintable(server.output());
    }
    EXPECT_TRUE(server.output().contains("NOTIFY:Lumra;lumra;Lumra;Pictures are not being recorded: Lumra's picture "
                                         "decoder could not be started.;;10000"))
        << qPrintable(server.output());
    EXPECT_EQ(manager.clipboardItems().size(), 1);
    EXPECT_EQ(told.count(), 1);

    // The decoder comes back and a picture is recorded; lost again later, it is told again.
    const QString program = dataDir.root() + QStringLiteral("/no-decoder-here");
    ASSERT_TRUE(QFile::link(image::ImageDecoder::installedProgram(), program));
    copyPicture(Qt::green);
    EXPECT_EQ(manager.clipboardItems().size(), 2);
    ASSERT_TRUE(QFile::remove(program));
    for (const pid_t process : missing.runningProcesses())
        ::kill(process, SIGKILL);
    copyPicture(Qt::yellow);
    EXPECT_EQ(told.count(), 2);
    endOnBus();
}

// The tests' bus never starts what the machine has installed (dunst, mako and the like answer a
// notification the tests mean to go unanswered).
TEST_F(AppDelegateTest, ATestBusStartsNoServiceTheMachineHasInstalled)
{
    if (!test::PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    // The user's data folder is one a session bus looks in for services.
    const QString services = dataDir.dataHome() + "/dbus-1/services";
    ASSERT_TRUE(QDir().mkpath(services));
    QFile service(services + "/org.freedesktop.Notifications.service");
    ASSERT_TRUE(service.open(QIODevice::WriteOnly));
    service.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/true\n");
    service.close();
    test::PrivateBus bus;
    ASSERT_TRUE(bus.start());

    {
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "lumra-services-test");
        const QDBusMessage reply = connection.call(QDBusMessage::createMethodCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListActivatableNames"));
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        EXPECT_FALSE(reply.arguments().value(0).toStringList().contains("org.freedesktop.Notifications"));
    }
    QDBusConnection::disconnectFromBus("lumra-services-test");
}

// With no notification server, nothing is sent to that missing server by another road (the
// tray's messages go there too) and no window takes the keyboard: the log says it, once.
TEST_F(AppDelegateTest, OnWaylandWithNoNotificationServerTheLogSaysTheReminderWasNotShown)
{
    if (!test::PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBus bus;
    ASSERT_TRUE(bus.start());
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        logged << text;
    });

    AppServices s = services();
    s.platformName = QStringLiteral("wayland");
    s.showTrayIcon = true;
    s.notificationBus = [&] { return QDBusConnection::connectToBus(bus.address(), "lumra-notifications-test"); };
    delegate = std::make_unique<AppDelegate>(s);
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    delegate->clipboardManager().setClipboardItems({textItem("a"), textItem("b")});
    for (int i = 0; i < 2; ++i) {
        NotificationCenter::defaultCenter().post(Notifications::showCopyReminder);
        test::processEventsUntil([] { return logged.join('\n').contains("Copy reminder not shown"); }, 60000);
        test::processEventsUntil([] { return false; }, 300);
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged.join('\n').count("Copy reminder not shown"), 1) << qPrintable(logged.join('\n'));
    EXPECT_EQ(delegate->reminderPopover(), nullptr);
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();

    delegate.reset();
    QDBusConnection::disconnectFromBus("lumra-notifications-test");
}

} // namespace
} // namespace lumra
