#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace lumra::test {

// Another process copies `data` as `type` (xclip's own choice when empty); true once xclip has
// taken the clipboard.
inline bool xclipCopy(const QByteArray& data, const QString& type = QString())
{
    QProcess xclip;
    QStringList args {"-selection", "clipboard", "-i"};
    if (!type.isEmpty())
        args << "-t" << type;
    xclip.start("xclip", args);
    if (!xclip.waitForStarted())
        return false;
    xclip.write(data);
    xclip.closeWriteChannel();
    return xclip.waitForFinished();
}

// Runs another program to its end while this event loop keeps running (Lumra may be the clipboard
// owner that has to answer it) and returns what it printed. Gives up after ten seconds.
inline QByteArray outputWhileServing(const QString& program, const QStringList& args)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    process.start(program, args);
    if (!process.waitForStarted())
        return {};
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return process.readAllStandardOutput();
}

inline QByteArray xclipPaste(const QString& type)
{
    return outputWhileServing("xclip", {"-selection", "clipboard", "-o", "-t", type});
}

} // namespace lumra::test
