#include "platform/core/DataReset.h"

#include "platform/core/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace lumra {

namespace {

bool isLumraFolder(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    const QString clean = QDir::cleanPath(path);
    if (clean != QDir::cleanPath(QDir::fromNativeSeparators(path)) || clean.contains(QLatin1String("/../")))
        return false;
    const QString name = QFileInfo(clean).fileName();
    if (name != QLatin1String("Lumra") && name != QLatin1String("lumra"))
        return false;
    const QString home = QDir::cleanPath(Folders::homeFolder());
    // The home folder itself, or a folder that holds it, is never Lumra's.
    return clean != home && !(home + QLatin1Char('/')).startsWith(clean + QLatin1Char('/'));
}

} // namespace

DataResetTargets defaultResetTargets()
{
    DataResetTargets targets;
    targets.folders << Folders::supportFolder() << Folders::configFolder() << Folders::cacheFolder();
    // Where the private temporary folder would be; asking Folders for it would create it.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        targets.folders << runtime + QStringLiteral("/lumra");
    return targets;
}

DataResetReport removeLumraData(const DataResetTargets& targets)
{
    DataResetReport report;
    for (const QString& path : targets.folders) {
        if (!isLumraFolder(path)) {
            report.refused << path;
            continue;
        }
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            continue;
        // removeRecursively deletes links it meets, never what they point to.
        const bool ok = info.isSymLink() || !info.isDir() ? QFile::remove(path) : QDir(path).removeRecursively();
        (ok ? report.removed : report.failed) << path;
    }
    return report;
}

} // namespace lumra
