#pragma once

#include "Xclip.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>

namespace lumra::test {

// Another process copies `data` as `type` (wl-copy's own guess when empty); true once wl-copy
// has handed the copy to its serving child.
inline bool wlCopy(const QByteArray& data, const QString& type = QString())
{
    QProcess copy;
    QStringList args;
    if (!type.isEmpty())
        args << "--type" << type;
    copy.start("wl-copy", args);
    if (!copy.waitForStarted())
        return false;
    copy.write(data);
    copy.closeWriteChannel();
    return copy.waitForFinished() && copy.exitCode() == 0;
}

// Runs wl-paste with `args` as another process would, while Lumra can still answer.
inline QByteArray wlPaste(const QStringList& args) { return outputWhileServing("wl-paste", args); }

} // namespace lumra::test
