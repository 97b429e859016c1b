#include "platform/files/IconFiles.h"

#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoding.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QThreadPool>

#include <sys/stat.h>

namespace lumra {

namespace {

// A theme's index.theme is a few hundred lines; anything much bigger is not one.
constexpr qint64 maxThemeIndexBytes = 1024 * 1024;
// Themes inherit a few others; a longer chain is a loop or not a theme.
constexpr int maxThemes = 16;

QThreadPool& workers()
{
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool; // never destroyed: a read on a stalled mount must not hold up exit
        threads->setMaxThreadCount(2);
        return threads;
    }();
    return *pool;
}

bool exists(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A missing file and a folder are harmless (Qt finds no picture); anything else but a regular file
// would block the one who opens it.
bool harmless(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

struct ThemeIndex {
    QStringList folders; // every section but the theme's own, and the folders it lists
    QStringList parents;
};

ThemeIndex parseThemeIndex(const QByteArray& bytes)
{
    ThemeIndex index;
    QString section;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            if (section != QLatin1String("Icon Theme"))
                index.folders.append(section);
            continue;
        }
        if (section != QLatin1String("Icon Theme"))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QStringList values = line.mid(equals + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (key == QLatin1String("Inherits"))
            index.parents += values;
        else if (key == QLatin1String("Directories") || key == QLatin1String("ScaledDirectories"))
            index.folders += values;
    }
    for (QString& parent : index.parents)
        parent = parent.trimmed();
    for (QString& folder : index.folders)
        folder = folder.trimmed();
    return index;
}

} // namespace

IconThemeSearch IconThemeSearch::current()
{
    return {QIcon::themeName(), QIcon::fallbackThemeName(), QIcon::themeSearchPaths(), QIcon::fallbackSearchPaths()};
}

bool themeIconFilesAreRegular(const QString& name, const IconThemeSearch& search)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    // The name and its shorter forms ("text-x-python", "text-x", "text"), as the theme falls back.
    QStringList names {name};
    for (qsizetype dash = name.lastIndexOf(QLatin1Char('-')); dash > 0; dash = name.lastIndexOf(QLatin1Char('-'), dash - 1))
        names.append(name.left(dash));
    const QStringList extensions {QStringLiteral(".png"), QStringLiteral(".svg"), QStringLiteral(".xpm")};
    const auto picturesHarmless = [&](const QString& folder) {
        for (const QString& shortName : names) {
            for (const QString& extension : extensions) {
                if (!harmless(folder + QLatin1Char('/') + shortName + extension))
                    return false;
            }
        }
        return true;
    };

    QStringList themes {search.themeName, search.fallbackThemeName};
    QSet<QString> seen;
    for (qsizetype t = 0; t < themes.size() && seen.size() < maxThemes; ++t) {
        const QString theme = themes[t];
        if (theme.isEmpty() || theme.contains(QLatin1Char('/')) || seen.contains(theme))
            continue;
        seen.insert(theme);
        QStringList contentFolders;
        std::optional<ThemeIndex> index;
        for (const QString& root : search.themePaths) {
            const QString folder = root + QLatin1Char('/') + theme;
            if (isDirectory(folder)) {
                contentFolders.append(folder);
                if (!harmless(folder + QStringLiteral("/icon-theme.cache")))
                    return false;
            }
            const QString indexPath = folder + QStringLiteral("/index.theme");
            if (index || !exists(indexPath))
                continue;
            const std::optional<QByteArray> bytes = readRegularFile(indexPath, maxThemeIndexBytes);
            if (!bytes)
                return false;
            index = parseThemeIndex(*bytes);
        }
        if (!index)
            continue;
        for (const QString& content : contentFolders) {
            for (const QString& sub : index->folders) {
                const QString folder = content + QLatin1Char('/') + sub;
                if (isDirectory(folder) && !picturesHarmless(folder))
                    return false;
            }
        }
        themes += index->parents;
        themes += {search.fallbackThemeName, QStringLiteral("hicolor")};
    }
    for (const QString& folder : search.fallbackPaths) {
        if (!picturesHarmless(folder))
            return false;
    }
    return true;
}

IconFiles& IconFiles::instance()
{
    static auto* icons = new IconFiles; // outlives every view that asks
    return *icons;
}

std::optional<QIcon> IconFiles::icon(const QString& path)
{
    if (const auto it = m_icons.constFind(path); it != m_icons.cend())
        return *it;
    if (m_reading.contains(path))
        return std::nullopt;
    m_reading.insert(path);
    workers().start([this, path] {
        QImage image;
        if (const std::optional<QByteArray> bytes = readRegularFile(path, maxBytes)) {
            const image::DecodeLimits limits {maxBytes, 4096ll * 4096};
            if (auto decoded = image::decodeImage(*bytes, limits, maxPixelSize))
                image = std::move(decoded).value();
        }
        QMetaObject::invokeMethod(this, [this, path, image] { finish(path, image); }, Qt::QueuedConnection);
    });
    return std::nullopt;
}

void IconFiles::finish(const QString& path, const QImage& image)
{
    m_reading.remove(path);
    m_icons.insert(path, image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
    emit loaded(path);
}


std::optional<QIcon> IconFiles::themeIcon(const QString& name)
{
    if (const auto it = m_themed.constFind(name); it != m_themed.cend() && !(it->icon.isNull() && it->recheck.hasExpired()))
        return it->icon;
    if (m_checking.contains(name))
        return std::nullopt;
    m_checking.insert(name);
    workers().start([this, name, search = IconThemeSearch::current()] {
        const bool regular = themeIconFilesAreRegular(name, search);
        QMetaObject::invokeMethod(this, [this, name, regular] { finishThemed(name, regular); }, Qt::QueuedConnection);
    });
    return std::nullopt;
}

std::optional<QIcon> IconFiles::firstThemeIcon(const QStringList& names)
{
    for (const QString& name : names) {
        const std::optional<QIcon> icon = themeIcon(name);
        if (!icon || !icon->isNull())
            return icon;
    }
    return QIcon();
}

void IconFiles::finishThemed(const QString& name, bool regular)
{
    m_checking.remove(name);
    QIcon icon = regular ? QIcon::fromTheme(name) : QIcon();
    if (icon.isNull())
        icon = QIcon();
    m_themed.insert(name, Themed {icon, QDeadlineTimer(missKeptFor)});
    emit loaded(name);
}

} // namespace lumra
