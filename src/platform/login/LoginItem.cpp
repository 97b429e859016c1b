#include "platform/login/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace lumra {

AutostartLoginItem::AutostartLoginItem(QString entryPath, QString executable)
    : m_entryPath(std::move(entryPath))
    , m_executable(std::move(executable))
{
}

QString AutostartLoginItem::defaultEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/lumra.desktop");
}

QString AutostartLoginItem::runningExecutable()
{
    const QString appImage = qEnvironmentVariable("APPIMAGE");
    if (!appImage.isEmpty() && QFileInfo(appImage).isFile())
        return appImage;
    return QCoreApplication::applicationFilePath();
}

QString AutostartLoginItem::execArgument(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString argument = path;
    if (std::any_of(path.cbegin(), path.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (QChar c : path) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        argument = u'"' + quoted + u'"';
    }
    // Field codes start with %, and the value itself is a string whose backslashes are escaped.
    argument.replace(u'%', QStringLiteral("%%"));
    argument.replace(u'\\', QStringLiteral("\\\\"));
    return argument;
}

std::optional<QString> AutostartLoginItem::entryText(const QString& executable)
{
    if (!QDir::isAbsolutePath(executable))
        return std::nullopt;
    for (QChar c : executable) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Lumra\n"
                          "Comment=Clipboard history\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(executable));
}

bool AutostartLoginItem::isEnabled() const
{
    QFile file(m_entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    bool hasExec = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true"))
            || (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")))
            return false;
        if (key == QLatin1String("Exec") && !value.isEmpty())
            hasExec = true;
    }
    return hasExec;
}

Status AutostartLoginItem::setEnabled(bool enabled)
{
    if (!enabled) {
        const QFileInfo info(m_entryPath);
        if (!info.exists() && !info.isSymLink())
            return {};
        if (!QFile::remove(m_entryPath))
            return Status::failure(QStringLiteral("Could not remove %1.").arg(m_entryPath));
        return {};
    }
    const std::optional<QString> text = entryText(m_executable);
    if (!text)
        return Status::failure(QStringLiteral("Lumra cannot start at login from %1.").arg(m_executable));
    if (!QDir().mkpath(QFileInfo(m_entryPath).path()))
        return Status::failure(QStringLiteral("Could not create the folder of %1.").arg(m_entryPath));
    // A link in our place is replaced, never written through.
    if (QFileInfo(m_entryPath).isSymLink() && !QFile::remove(m_entryPath))
        return Status::failure(QStringLiteral("Could not replace %1.").arg(m_entryPath));
    QSaveFile file(m_entryPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text->toUtf8()) < 0 || !file.commit())
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(m_entryPath, file.errorString()));
    return {};
}

} // namespace lumra
