#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "platform/core/Folders.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QThread>

#include <csignal>

Q_LOGGING_CATEGORY(lcApp, "lumra.app")

#ifndef LUMRA_VERSION
#define LUMRA_VERSION "0.0.0"
#endif
#ifndef LUMRA_BUILD_NUMBER
#define LUMRA_BUILD_NUMBER "1"
#endif

namespace {

// A Lumra that restarts itself names its predecessor; the new one starts once that has ended,
// so the two never run side by side.
void waitForPredecessor()
{
    bool ok = false;
    const qint64 pid = qEnvironmentVariableIntValue("LUMRA_REPLACES_PID", &ok);
    qunsetenv("LUMRA_REPLACES_PID");
    if (!ok || pid <= 0)
        return;
    QDeadlineTimer deadline(10'000);
    while (::kill(pid_t(pid), 0) == 0 && !deadline.hasExpired())
        QThread::msleep(50);
}

} // namespace

int main(int argc, char** argv)
{
    // Lumra talks to X11 directly; under a Wayland session it runs through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumra"));
    QApplication::setOrganizationName(QStringLiteral("Lumra"));
    QApplication::setApplicationVersion(QStringLiteral(LUMRA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lumra"));
    QApplication::setQuitOnLastWindowClosed(false);
    app.setProperty("buildNumber", QStringLiteral(LUMRA_BUILD_NUMBER));

    waitForPredecessor();

    lumra::SingleInstance instance;
    auto role = instance.claim();
    if (!role) {
        qCCritical(lcApp).noquote() << role.error();
        return 1;
    }
    if (role.value() == lumra::SingleInstance::Role::handedOver) {
        qCInfo(lcApp) << "Lumra is already running; asked it to open its popup.";
        return 0;
    }

    lumra::AppDelegate delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    delegate.acceptHandOvers(instance);

    qCInfo(lcApp) << "Lumra started; history in" << lumra::Folders::supportFolder();
    return app.exec();
}
