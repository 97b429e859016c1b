#include "ui/items/AppIcons.h"

#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"
#include "platform/workspace/Workspace.h"

#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>

namespace lumra::AppIcons {

namespace {

QIcon themed(const QStringList& names, const QString& symbolFallback)
{
    for (const QString& name : names) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return Symbols::icon(symbolFallback);
}

} // namespace

QIcon appIcon(Workspace* workspace, const QString& bundleId)
{
    static QHash<QString, QIcon> cache;
    // An icon read from a file replaces the stand-in shown while it was read.
    static const auto forget = QObject::connect(&IconFiles::instance(), &IconFiles::loaded, [] { cache.clear(); });
    Q_UNUSED(forget);
    if (const auto it = cache.constFind(bundleId); it != cache.cend())
        return *it;
    const QIcon icon = workspace ? workspace->icon(bundleId) : QIcon();
    if (!icon.isNull())
        cache.insert(bundleId, icon);
    return icon;
}

QIcon fileIcon(const QString& path)
{
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(path); it != cache.cend())
        return *it;
    static const QMimeDatabase mimes;
    const QFileInfo info(path);
    QIcon icon;
    if (info.isDir()) {
        icon = folderIcon();
    } else {
        const QMimeType type = mimes.mimeTypeForFile(info);
        icon = themed({type.iconName(), type.genericIconName()}, QStringLiteral("doc"));
    }
    cache.insert(path, icon);
    return icon;
}

QIcon folderIcon() { return themed({QStringLiteral("folder")}, QStringLiteral("folder")); }

QIcon genericFileIcon()
{
    return themed({QStringLiteral("application-octet-stream"), QStringLiteral("text-x-generic")}, QStringLiteral("doc"));
}

QIcon multipleFilesIcon()
{
    return themed({QStringLiteral("edit-copy"), QStringLiteral("text-x-generic")}, QStringLiteral("doc.on.doc"));
}

} // namespace lumra::AppIcons
