#include "app/AppDelegate.h"
#include "app/DisplayBackend.h"
#include "app/QuitDeadline.h"
#include "app/SingleInstance.h"
#include "app/Supervisor.h"
#include "platform/core/Allocator.h"
#include "platform/core/BackgroundWork.h"
#include "platform/core/Folders.h"
#include "platform/desktop/PortalBus.h"
#include "platform/symbols/Symbols.h"
#include "ui/AppIcon.h"
#include "ui/DesktopPalette.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>

#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApp, "lumra.app")

#ifndef LUMRA_VERSION
#define LUMRA_VERSION "0.0.0"
#endif
#ifndef LUMRA_BUILD_NUMBER
#define LUMRA_BUILD_NUMBER "1"
#endif

namespace {

// A Lumra that restarts itself names its predecessor; the new one takes over once that has let
// go of the single-instance lock, so the two never run side by side.
qint64 predecessorPid()
{
    bool ok = false;
    const qint64 pid = qEnvironmentVariableIntValue("LUMRA_REPLACES_PID", &ok);
    qunsetenv("LUMRA_REPLACES_PID");
    return ok && pid > 0 ? pid : 0;
}

int unknownArgument(const char* argument)
{
    std::fprintf(stderr, "lumra: unknown argument '%s'\nTry 'lumra --help'.\n", argument);
    return 2;
}

// The workers' share of the quit deadline, at most: the capture's own waits at quit come first,
// and the teardown after them (closing the store writes its log back) keeps what it needs.
constexpr std::chrono::milliseconds workWaitAtQuit {500};
constexpr std::chrono::milliseconds teardownAtQuit {300};

int g_signalSockets[2] = {-1, -1};

void forwardSignal(int)
{
    lumra::QuitDeadline::begin(); // also when the main thread is too busy to read the byte
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[1], &byte, 1);
}

// A logout or Ctrl+C ends Lumra through its own quit, so settings changed a moment ago reach the disk.
void quitOnTermination(lumra::AppDelegate& delegate)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSockets) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalSockets[0], QSocketNotifier::Read, &delegate);
    QObject::connect(notifier, &QSocketNotifier::activated, &delegate, [&delegate] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_signalSockets[0], &byte, 1);
        delegate.quit();
    });
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

// `workLeft`: some lane's task still ran when the lanes were shut down.
int runApplication(int argc, char** argv, const lumra::SessionDisplay& session, bool& workLeft);

} // namespace

// The application, loaded by the `lumra` command (Launcher.cpp) when no Lumra runs yet to hand over to.
extern "C" Q_DECL_EXPORT int lumraMain(int argc, char** argv)
{
    lumra::keepLargeBuffersOutOfHeaps();
    const lumra::SessionDisplay session = lumra::SessionDisplay::fromEnvironment();
    if (const QString platform = lumra::qpaPlatformFor(session); !platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toLatin1());

    // With no display Qt ends the process in its constructor: what Lumra would have said about its
    // arguments, or the missing display, is said here instead.
    const bool platformGiven = std::any_of(argv + 1, argv + argc, [](const char* argument) {
        return !std::strcmp(argument, "-platform") || !std::strcmp(argument, "--platform");
    });
    if (session.qpaPlatform.isEmpty() && session.waylandDisplay.isEmpty() && session.x11Display.isEmpty()
        && !platformGiven) {
        if (argc > 1)
            return unknownArgument(argv[1]);
        std::fputs("Lumra could not start: no display (neither WAYLAND_DISPLAY nor DISPLAY is set).\n", stderr);
        return 1;
    }

    // Qt's Wayland plug-in ends the process when the compositor goes away: a small first process,
    // with no Qt of its own, starts Lumra again once a compositor is back on the same socket.
    if (const std::string socket = lumra::Supervisor::compositorSocket();
        !platformGiven && qgetenv("QT_QPA_PLATFORM").startsWith("wayland") && !socket.empty()) {
        if (const std::optional<int> status = lumra::Supervisor::runSupervised(socket))
            return *status;
    }

    bool workLeft = false;
    const int status = runApplication(argc, argv, session, workLeft);
    // Lumra's objects are gone; what is left of the exit waits for none of its workers.
    lumra::QuitDeadline::end();
    if (workLeft) {
        // The store and settings are on disk by now. A task still running would meet the
        // libraries' statics as the exit destroys them: end without destroying them.
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}

namespace {

int runApplication(int argc, char** argv, const lumra::SessionDisplay& session, bool& workLeft)
{
    // Outlives every object that hands it work, Qt's included.
    lumra::BackgroundWork work;
    lumra::BackgroundWork::setCurrent(&work);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumra"));
    QApplication::setOrganizationName(QStringLiteral("Lumra"));
    QApplication::setApplicationVersion(QStringLiteral(LUMRA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lumra"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(lumra::AppIcon::icon());
    app.setProperty("buildNumber", QStringLiteral(LUMRA_BUILD_NUMBER));
    // Qt has taken its own arguments; anything left is a mistake, never a request to the running Lumra.
    if (const QStringList rest = QApplication::arguments().mid(1); !rest.isEmpty())
        return unknownArgument(qPrintable(rest.first()));

    lumra::SingleInstance instance;
    auto role = instance.claim(predecessorPid());
    if (!role) {
        qCCritical(lcApp).noquote() << role.error();
        lumra::Symbols::prepareTheme(); // the box's icon comes from the theme too
        QMessageBox::critical(nullptr, QStringLiteral("Lumra"), QStringLiteral("Lumra could not start: %1").arg(role.error()));
        return 1;
    }
    if (role.value() == lumra::SingleInstance::Role::handedOver) {
        qCInfo(lcApp) << "Lumra is already running; asked it to open or close its popup.";
        return 0;
    }
    // Before any window: the icon theme is checked before Qt opens its files.
    lumra::Symbols::prepareTheme();

    // Light or dark as the desktop says, where Qt's own theme does not tell.
    std::unique_ptr<lumra::DesktopPalette> desktopPalette;
    if (lumra::followsPortalColorScheme(QProcessEnvironment::systemEnvironment())) {
        desktopPalette = std::make_unique<lumra::DesktopPalette>(lumra::portalBus(), QApplication::palette());
        QObject::connect(&lumra::PortalConnection::instance(), &lumra::PortalConnection::renewed, desktopPalette.get(),
                         [palette = desktopPalette.get()] { palette->listenTo(lumra::portalBus()); });
    }

    lumra::AppDelegate delegate(lumra::chooseDisplayBackend(session));
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    delegate.acceptHandOvers(instance);
    lumra::QuitDeadline::install(std::chrono::seconds(1));
    quitOnTermination(delegate);

    qCInfo(lcApp) << "Lumra started; history in" << lumra::Folders::supportFolder();
    const int status = app.exec();
    lumra::QuitDeadline::begin();
    // Work still queued is dropped; what runs gets part of the quit deadline, so the engine and the
    // windows that wait for their workers as they go find them done.
    workLeft = !work.shutDown(
        std::clamp(lumra::QuitDeadline::remaining() - teardownAtQuit, std::chrono::milliseconds(0), workWaitAtQuit))
                    .isEmpty();
    return status;
}

} // namespace
