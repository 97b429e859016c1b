#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace lumra::test {

// What a desktop tool printed, trimmed; empty when it did not finish within ten seconds.
inline QString runText(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList& arguments) { return runText(QStringLiteral("xdotool"), arguments); }

// Whether the process `pid` shows a popup such as a menu on the X display (a mapped
// override-redirect window of its own), so keys typed next go to it rather than the window under it.
bool popupShownBy(qint64 pid);

// The processes whose parent is `parent` and whose name starts with `name`.
QList<qint64> childProcesses(qint64 parent, const QByteArray& name);

// The process that is Lumra, for a `lumra` the test started as `started`: in a Wayland session
// the started process supervises Lumra, run as its child.
qint64 lumraProcess(qint64 started);

} // namespace lumra::test
