#include "app/AboutWindow.h"

#include "ui/shell/AppLinks.h"
#include "platform/symbols/Symbols.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace lumra {

AboutWindow::AboutWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint
                          | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("About Lumra"));

    auto* icon = new QLabel(this);
    const QIcon appIcon = qApp->windowIcon().isNull() ? Symbols::icon(QStringLiteral("doc.on.clipboard.fill"))
                                                      : qApp->windowIcon();
    icon->setPixmap(appIcon.pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);

    auto* name = new QLabel(appDisplayName(QGuiApplication::applicationDisplayName()), this);
    QFont nameFont = name->font();
    nameFont.setPixelSize(26);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setObjectName(QStringLiteral("appName"));

    const QString build = qApp->property("buildNumber").toString();
    auto* version = new QLabel(appVersionString(QCoreApplication::applicationVersion(), build), this);
    version->setObjectName(QStringLiteral("appVersion"));
    version->setForegroundRole(QPalette::PlaceholderText);

    auto* links = new QLabel(QStringLiteral("<a href=\"%1\">Privacy Policy</a> \u00B7 <a href=\"%2\">Terms of Use</a>")
                                 .arg(AppLinks::privacyPolicy().toString(), AppLinks::termsOfUse().toString()),
                             this);
    links->setTextFormat(Qt::RichText);
    links->setOpenExternalLinks(true);

    auto* footer = new QLabel(QStringLiteral("Your clipboard history stays on this computer."), this);
    footer->setForegroundRole(QPalette::PlaceholderText);
    footer->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 24, 40, 28);
    layout->setSpacing(10);
    for (QLabel* label : {icon, name, version, links, footer}) {
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    setFixedWidth(340);
    setFixedHeight(sizeHint().height());
}

void AboutWindow::present()
{
    show();
    raise();
    activateWindow();
}

QString AboutWindow::appDisplayName(const QString& displayName)
{
    return displayName.trimmed().isEmpty() ? QStringLiteral("Lumra") : displayName;
}

QString AboutWindow::appVersionString(const QString& version, const QString& build)
{
    return QStringLiteral("Version %1 (%2)")
        .arg(version.isEmpty() ? QStringLiteral("1.0") : version, build.isEmpty() ? QStringLiteral("1") : build);
}

} // namespace lumra
