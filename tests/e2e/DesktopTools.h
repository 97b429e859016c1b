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

} // namespace lumra::test
