#include "platform/files/ReplacingFile.h"

#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

namespace lumra {

ReplacingFile::ReplacingFile(const QString& path)
    : QTemporaryFile(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() + QStringLiteral(".XXXXXX"))
    , m_path(QFileInfo(path).absoluteFilePath())
{
    setAutoRemove(true);
}

ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::commit()
{
    if (!isOpen())
        return false;
    if (!flush() || ::fsync(handle()) != 0) {
        setErrorString(QStringLiteral("the file could not be written to the disk"));
        cancelWriting();
        return false;
    }
    const QString written = fileName();
    QTemporaryFile::close();
    // rename() replaces a link at the destination rather than following it.
    if (std::rename(QFile::encodeName(written).constData(), QFile::encodeName(m_path).constData()) != 0) {
        setErrorString(QStringLiteral("the file could not be put in place"));
        remove();
        return false;
    }
    setAutoRemove(false);
    return true;
}

void ReplacingFile::cancelWriting()
{
    QTemporaryFile::close();
    remove();
}

} // namespace lumra
