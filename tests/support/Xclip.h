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

// Reads the clipboard as another process would, while this event loop keeps running (Lumra may
// be the owner that has to answer). Gives up after ten seconds.
inline QByteArray xclipPaste(const QString& type)
{
    QProcess xclip;
    QEventLoop loop;
    QObject::connect(&xclip, &QProcess::finished, &loop, &QEventLoop::quit);
    xclip.start("xclip", {"-selection", "clipboard", "-o", "-t", type});
    if (!xclip.waitForStarted())
        return {};
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return xclip.readAllStandardOutput();
}

} // namespace lumra::test
