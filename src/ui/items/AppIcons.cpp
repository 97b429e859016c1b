#include "ui/items/AppIcons.h"

#include "platform/files/FileLookups.h"
#include "platform/files/IconFiles.h"
#include "platform/symbols/Symbols.h"
#include "platform/workspace/Workspace.h"

#include <QHash>

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
    // The file is looked at off this thread; the generic icon stands in until it has been.
    const std::optional<FileLook> look = FileLookups::instance().look(path);
    if (!look || look->kind == FileLook::Kind::missing)
        return genericFileIcon();
    if (look->kind == FileLook::Kind::folder)
        return folderIcon();
    static QHash<QString, QIcon> byType;
    if (const auto it = byType.constFind(look->iconName); it != byType.cend())
        return *it;
    // The type's icon names come from the MIME database, which other programs add to: the theme's
    // files for them are checked off this thread first (IconFiles::loaded follows).
    const std::optional<QIcon> icon = IconFiles::instance().firstThemeIcon({look->iconName, look->genericIconName});
    if (!icon)
        return genericFileIcon();
    return *byType.insert(look->iconName, icon->isNull() ? Symbols::icon(QStringLiteral("doc")) : *icon);
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
