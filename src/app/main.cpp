#include "platform/core/Folders.h"

#include <QApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApp, "lumra.app")

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumra"));
    QApplication::setOrganizationName(QStringLiteral("Lumra"));
    QApplication::setDesktopFileName(QStringLiteral("lumra"));
    QApplication::setQuitOnLastWindowClosed(false);

    lumra::Folders::supportFolder();
    lumra::Folders::configFolder();
    lumra::Folders::cacheFolder();
    if (auto temp = lumra::Folders::privateTempFolder(); !temp)
        qCWarning(lcApp) << temp.error();

    qCInfo(lcApp) << "Lumra started; history in" << lumra::Folders::supportFolder();
    return app.exec();
}
