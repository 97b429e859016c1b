#include "platform/files/IconFiles.h"

#include "platform/core/BackgroundWork.h"
#include "platform/files/FileChecks.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/ImageDecoding.h"

#include <QFile>
#include <QImage>
#include <QMutex>
#include <QPixmap>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace lumra {

namespace {

// Themes inherit a few others; a longer chain is a loop or not a theme.
constexpr int maxThemes = 16;
// No file name is longer, so no longer icon name names a picture.
constexpr qsizetype maxNameBytes = 255;
// Looks one name's check may take, and entries one search folder's themes may list at start; a
// theme that needs more is not one to trust.
constexpr qint64 maxLooksPerName = 200'000;
constexpr qint64 maxEntriesPerSearchPath = 500'000;
// Qt is handed this while the theme is checked: a resource folder holds no theme and no FIFO (an
// empty list would stand for Qt's defaults).
const QString noThemeFolder = QStringLiteral(":/lumra-unchecked-icons");

constexpr QByteArrayView symbolicSuffix("-symbolic");
constexpr std::array<QByteArrayView, 3> pictureExtensions {".png", ".svg", ".xpm"};

// A read on a stalled mount holds a thread of the lane, never the quit.
bool startWork(std::function<void()> task)
{
    return BackgroundWork::current().start(BackgroundWork::Lane::iconFiles, std::move(task));
}

std::optional<struct stat> statOf(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return st;
}

bool isDirectory(const QByteArray& path)
{
    const auto st = statOf(path);
    return st && S_ISDIR(st->st_mode);
}

// A missing file and a folder are harmless (Qt finds no picture); anything else but a regular file
// would block the one who opens it.
bool harmless(const QByteArray& path)
{
    const auto st = statOf(path);
    return !st || S_ISREG(st->st_mode) || S_ISDIR(st->st_mode);
}

// QSettings, which reads index.theme for Qt, takes %XX and %UXXXX in a section name for the
// character they stand for.
QString unescapedSection(const QString& section)
{
    if (!section.contains(QLatin1Char('%')))
        return section;
    QString out;
    for (qsizetype i = 0; i < section.size(); ++i) {
        bool ok = false;
        if (section[i] == QLatin1Char('%') && i + 5 < section.size() && section[i + 1] == QLatin1Char('U')) {
            const char16_t c = char16_t(section.mid(i + 2, 4).toUShort(&ok, 16));
            if (ok) {
                out += QChar(c);
                i += 5;
                continue;
            }
        }
        if (section[i] == QLatin1Char('%') && i + 2 < section.size()) {
            const char16_t c = char16_t(section.mid(i + 1, 2).toUShort(&ok, 16));
            if (ok) {
                out += QChar(c);
                i += 2;
                continue;
            }
        }
        out += section[i];
    }
    return out;
}

// index.theme files read so far, while unchanged: each is parsed once, not once per name asked.
std::shared_ptr<const ThemeIndex> readThemeIndex(const QByteArray& path, const struct stat& st)
{
    struct Kept {
        dev_t device;
        ino_t inode;
        off_t size;
        struct timespec modified;
        std::shared_ptr<const ThemeIndex> index;
    };
    static QMutex mutex;
    static QHash<QByteArray, Kept> kept;
    const auto same = [&](const Kept& k) {
        return k.device == st.st_dev && k.inode == st.st_ino && k.size == st.st_size
            && k.modified.tv_sec == st.st_mtim.tv_sec && k.modified.tv_nsec == st.st_mtim.tv_nsec;
    };
    {
        QMutexLocker lock(&mutex);
        if (const auto it = kept.constFind(path); it != kept.cend() && same(*it))
            return it->index;
    }
    std::shared_ptr<const ThemeIndex> index;
    if (const std::optional<QByteArray> bytes = readRegularFile(QFile::decodeName(path), ThemeIndex::maxBytes)) {
        if (std::optional<ThemeIndex> parsed = parseThemeIndex(*bytes))
            index = std::make_shared<const ThemeIndex>(std::move(*parsed));
    }
    QMutexLocker lock(&mutex);
    if (kept.size() >= 64)
        kept.clear();
    kept.insert(path, Kept {st.st_dev, st.st_ino, st.st_size, st.st_mtim, index});
    return index;
}

// A folder where Qt looks for pictures; `root` is its place in the theme search paths, or -1 for a
// fallback folder.
struct PictureFolder {
    qsizetype root;
    QByteArray path;
};

struct ThemeChain {
    QSet<qsizetype> blockingRoots; // search paths with an index.theme or icon-theme.cache Qt must not open
    QList<PictureFolder> folders; // each once
};

// The theme's files as Qt's icon loader finds them: for each theme of the chain (the theme, those it
// inherits, the fallback theme, hicolor) its folder under every search path, whose icon-theme.cache
// it opens, the first index.theme among them, which it reads, and the picture folders it names.
ThemeChain walkThemeChain(const IconThemeSearch& search)
{
    ThemeChain chain;
    QSet<QByteArray> seenFolders;
    // Qt ends every theme's chain with the fallback theme and hicolor: checked once, from the start.
    QStringList themes {search.themeName, search.fallbackThemeName, QStringLiteral("hicolor")};
    QSet<qsizetype> lengthening; // search paths whose index.theme adds themes to the chain
    QSet<QString> seen;
    const auto isNew = [&](const QString& theme) {
        return !theme.isEmpty() && !theme.contains(QLatin1Char('/')) && !seen.contains(theme);
    };
    qsizetype t = 0;
    for (; t < themes.size() && seen.size() < maxThemes; ++t) {
        const QString theme = themes[t];
        if (!isNew(theme))
            continue;
        seen.insert(theme);
        QList<qsizetype> contentRoots;
        std::shared_ptr<const ThemeIndex> index;
        bool indexFound = false;
        for (qsizetype r = 0; r < search.themePaths.size(); ++r) {
            const QByteArray folder = QFile::encodeName(search.themePaths[r] + QLatin1Char('/') + theme);
            if (isDirectory(folder)) {
                contentRoots.append(r);
                if (!harmless(folder + "/icon-theme.cache"))
                    chain.blockingRoots.insert(r);
            }
            if (indexFound)
                continue;
            const QByteArray indexPath = folder + "/index.theme";
            const std::optional<struct stat> st = statOf(indexPath);
            if (!st)
                continue;
            indexFound = true;
            index = readThemeIndex(indexPath, *st);
            if (!index)
                chain.blockingRoots.insert(r);
            else if (!index->parents.isEmpty())
                lengthening.insert(r);
        }
        if (!index)
            continue;
        for (const qsizetype r : contentRoots) {
            const QString content = search.themePaths[r] + QLatin1Char('/') + theme + QLatin1Char('/');
            for (const QString& sub : index->folders) {
                const QByteArray folder = QFile::encodeName(content + sub);
                if (!seenFolders.contains(folder) && isDirectory(folder)) {
                    seenFolders.insert(folder);
                    chain.folders.append({r, folder});
                }
            }
        }
        themes += index->parents;
    }
    // Qt follows the chain to its end: one too long to check is trusted nowhere it leads.
    if (std::any_of(themes.cbegin() + t, themes.cend(), isNew))
        chain.blockingRoots += lengthening;
    for (const QString& folder : search.fallbackPaths)
        chain.folders.append({-1, QFile::encodeName(folder)});
    return chain;
}

// Calls `look(prefix, suffix, extension)` for every picture the theme may open for `name`: the name
// and its shorter forms ("text-x-python", "text-x", "text"), a symbolic name's also with its suffix
// kept, each with every extension; stops at the first false. Makes no string of its own.
template <typename Look>
bool eachPictureName(QByteArrayView name, Look&& look)
{
    const bool symbolic = name.endsWith(symbolicSuffix);
    const QByteArrayView stem = symbolic ? name.chopped(symbolicSuffix.size()) : name;
    for (qsizetype length = stem.size(); length > 0; length = stem.first(length).lastIndexOf('-')) {
        for (const QByteArrayView extension : pictureExtensions) {
            if (!look(stem.first(length), QByteArrayView(), extension))
                return false;
            if (symbolic && !look(stem.first(length), symbolicSuffix, extension))
                return false;
        }
    }
    return true;
}

bool isPictureName(const char* name)
{
    const QByteArrayView file(name);
    return std::any_of(pictureExtensions.begin(), pictureExtensions.end(),
                       [&](QByteArrayView extension) { return file.endsWith(extension); });
}

// Whether every picture in `folder` is a regular file, a folder or a link to nothing, listing it
// once; each entry counts against `entries`.
bool folderPicturesHarmless(const QByteArray& folder, qint64& entries)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return true; // gone, or not to be listed: Qt finds nothing there either
    bool harmlessSoFar = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (--entries < 0) {
            harmlessSoFar = false;
            break;
        }
        if (entry->d_type == DT_REG || entry->d_type == DT_DIR || !isPictureName(entry->d_name))
            continue;
        struct stat st {};
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
                continue;
        }
        harmlessSoFar = false;
        break;
    }
    ::closedir(dir);
    return harmlessSoFar;
}

} // namespace

std::optional<ThemeIndex> parseThemeIndex(const QByteArray& bytes)
{
    // Qt takes every section with a size for a folder, whether listed or not: all of them, then.
    ThemeIndex index;
    QSet<QString> folders;
    const auto addFolder = [&](const QString& folder) {
        if (!folder.isEmpty() && !folders.contains(folder)) {
            folders.insert(folder);
            index.folders.append(folder);
        }
    };
    QString section;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            if (section != QLatin1String("Icon Theme"))
                addFolder(unescapedSection(section));
        } else if (section == QLatin1String("Icon Theme")) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            const QString key = line.left(equals).trimmed();
            const QStringList values = line.mid(equals + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (const QString& value : values) {
                if (key == QLatin1String("Inherits"))
                    index.parents.append(value.trimmed());
                else if (key == QLatin1String("Directories") || key == QLatin1String("ScaledDirectories"))
                    addFolder(value.trimmed());
            }
        }
        if (index.folders.size() > ThemeIndex::maxFolders || index.parents.size() > maxThemes)
            return std::nullopt;
    }
    return index;
}

IconThemeSearch IconThemeSearch::current()
{
    return {QIcon::themeName(), QIcon::fallbackThemeName(), QIcon::themeSearchPaths(), QIcon::fallbackSearchPaths()};
}

bool themeIconFilesAreRegular(const QString& name, const IconThemeSearch& search)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (encoded.isEmpty() || encoded.size() > maxNameBytes || encoded.contains('/') || encoded.contains('\0'))
        return false;
    const ThemeChain chain = walkThemeChain(search);
    if (!chain.blockingRoots.isEmpty())
        return false;
    qint64 looks = maxLooksPerName;
    QByteArray path;
    for (const PictureFolder& folder : chain.folders) {
        path = folder.path + '/';
        const qsizetype base = path.size();
        const bool regular = eachPictureName(encoded, [&](QByteArrayView prefix, QByteArrayView suffix, QByteArrayView extension) {
            path.truncate(base);
            path.append(prefix).append(suffix).append(extension);
            return --looks >= 0 && harmless(path);
        });
        if (!regular)
            return false;
    }
    return true;
}

namespace {

// How large the pictures of a theme folder are: a scalable one is as large as asked.
int folderPictureSize(QByteArrayView folder)
{
    int size = 0;
    for (const QByteArray& part : folder.toByteArray().split('/')) {
        if (part == "scalable")
            return std::numeric_limits<int>::max();
        bool ok = false;
        const int side = part.left(part.indexOf('x')).toInt(&ok);
        if (ok && side > 0 && side <= 4096)
            size = side;
    }
    return size;
}

} // namespace

std::optional<QByteArray> themeIconFile(const QString& name, const IconThemeSearch& search)
{
    if (!themeIconFilesAreRegular(name, search))
        return std::nullopt;
    const QByteArray encoded = QFile::encodeName(name);
    const ThemeChain chain = walkThemeChain(search);
    // The longest form of the name any folder has, in the first theme that has it, at its largest.
    struct Found {
        qsizetype length = 0;
        QByteArray theme;
        QByteArray path;
        int size = -1;
    };
    Found best;
    qint64 looks = maxLooksPerName;
    for (const PictureFolder& folder : chain.folders) {
        QByteArray theme = folder.path;
        if (folder.root >= 0) {
            const qsizetype start = QFile::encodeName(search.themePaths[folder.root]).size() + 1;
            const qsizetype end = folder.path.indexOf('/', start);
            theme = folder.path.left(end < 0 ? folder.path.size() : end);
        }
        QByteArray path = folder.path + '/';
        const qsizetype base = path.size();
        eachPictureName(encoded, [&](QByteArrayView prefix, QByteArrayView suffix, QByteArrayView extension) {
            if (--looks < 0)
                return false;
            path.truncate(base);
            path.append(prefix).append(suffix).append(extension);
            const auto st = statOf(path);
            if (!st || !S_ISREG(st->st_mode))
                return true;
            const int size = folderPictureSize(folder.path);
            const bool longer = prefix.size() > best.length;
            if (longer || (prefix.size() == best.length && theme == best.theme && size > best.size))
                best = {prefix.size(), theme, path, size};
            return false; // shorter forms of the name in this folder come after this one
        });
    }
    if (best.path.isEmpty())
        return std::nullopt;
    return best.path;
}

IconThemeSearch withoutBlockingFolders(const IconThemeSearch& search)
{
    IconThemeSearch checked = search;
    QHash<QByteArray, bool> listed; // picture folder -> harmless
    // Dropping a search path can bring another theme file forward: walk again until none is dropped.
    for (;;) {
        const ThemeChain chain = walkThemeChain(checked);
        QSet<qsizetype> dropRoots = chain.blockingRoots;
        QSet<QString> dropFallbacks;
        QHash<qsizetype, qint64> entries;
        for (const PictureFolder& folder : chain.folders) {
            if (dropRoots.contains(folder.root))
                continue;
            auto it = listed.find(folder.path);
            if (it == listed.end()) {
                if (!entries.contains(folder.root))
                    entries.insert(folder.root, maxEntriesPerSearchPath);
                it = listed.insert(folder.path, folderPicturesHarmless(folder.path, entries[folder.root]));
            }
            if (*it)
                continue;
            if (folder.root >= 0)
                dropRoots.insert(folder.root);
            else
                dropFallbacks.insert(QFile::decodeName(folder.path));
        }
        if (dropRoots.isEmpty() && dropFallbacks.isEmpty())
            return checked;
        QStringList kept;
        for (qsizetype r = 0; r < checked.themePaths.size(); ++r) {
            if (!dropRoots.contains(r))
                kept.append(checked.themePaths[r]);
        }
        checked.themePaths = kept;
        checked.fallbackPaths.removeIf([&](const QString& folder) { return dropFallbacks.contains(folder); });
    }
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
    startWork([this, path] {
        const std::optional<QImage> image = decodedIcon(path);
        QMetaObject::invokeMethod(this, [this, path, image] { finish(path, image); }, Qt::QueuedConnection);
    });
    return std::nullopt;
}

std::optional<QImage> IconFiles::decodedIcon(const QString& path)
{
    if (const std::optional<QByteArray> bytes = readRegularFile(path, maxBytes)) {
        const image::DecodeLimits limits {maxBytes, 4096ll * 4096};
        auto decoded = image::decodeImage(*bytes, limits, maxPixelSize,
                                          image::DecodeTurn::shownWithin(image::ImageDecoder::shownWithin));
        if (decoded)
            return std::move(decoded).value();
        if (decoded.error() == image::ImageDecoder::notWanted)
            return std::nullopt;
    }
    return QImage();
}

void IconFiles::finish(const QString& path, const std::optional<QImage>& image)
{
    m_reading.remove(path);
    // One not read in time is not kept as a miss: the ask that follows `loaded` reads it again.
    if (image)
        m_icons.insert(path, image->isNull() ? QIcon() : QIcon(QPixmap::fromImage(*image)));
    emit loaded(path);
}


void IconFiles::checkTheme(const IconThemeSearch& search, std::chrono::milliseconds wait)
{
    const quint64 run = ++m_themeRun;
    m_themeHidden = true;
    QIcon::setThemeSearchPaths({noThemeFolder});
    QIcon::setFallbackSearchPaths({noThemeFolder});
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<IconThemeSearch> checked;
    };
    auto outcome = std::make_shared<Outcome>();
    startWork([this, run, search, outcome] {
        const IconThemeSearch checked = withoutBlockingFolders(search);
        {
            std::lock_guard lock(outcome->mutex);
            outcome->checked = checked;
        }
        outcome->done.notify_all();
        QMetaObject::invokeMethod(this, [this, run, checked] { useTheme(run, checked); }, Qt::QueuedConnection);
    });
    std::unique_lock lock(outcome->mutex);
    if (!outcome->done.wait_for(lock, wait, [&] { return outcome->checked.has_value(); }))
        return;
    const IconThemeSearch checked = *outcome->checked;
    lock.unlock();
    useTheme(run, checked);
}

void IconFiles::useTheme(quint64 run, const IconThemeSearch& checked)
{
    if (run != m_themeRun || !m_themeHidden)
        return;
    m_themeHidden = false;
    QIcon::setThemeSearchPaths(checked.themePaths.isEmpty() ? QStringList {noThemeFolder} : checked.themePaths);
    QIcon::setFallbackSearchPaths(checked.fallbackPaths.isEmpty() ? QStringList {noThemeFolder} : checked.fallbackPaths);
    for (const QString& name : std::exchange(m_waitingForTheme, {}))
        themeIcon(name);
    emit themeReady();
}

std::optional<QIcon> IconFiles::themeIcon(const QString& name)
{
    if (const auto it = m_themed.constFind(name); it != m_themed.cend() && !(it->icon.isNull() && it->recheck.hasExpired()))
        return it->icon;
    if (m_checking.contains(name))
        return std::nullopt;
    if (m_themeHidden) {
        m_waitingForTheme.insert(name);
        return std::nullopt;
    }
    m_checking.insert(name);
    startWork([this, name, search = IconThemeSearch::current()] {
        // Installed programs put icons in the user's own theme folders: the picture is decoded by
        // the decoder program like any other from outside, never by Qt's theme loader here.
        const std::optional<QByteArray> file = themeIconFile(name, search);
        // One not read in time is kept as a miss, which is checked again later.
        const QImage image = file ? decodedIcon(QFile::decodeName(*file)).value_or(QImage()) : QImage();
        QMetaObject::invokeMethod(this, [this, name, image] { finishThemed(name, image); }, Qt::QueuedConnection);
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

void IconFiles::finishThemed(const QString& name, const QImage& image)
{
    m_checking.remove(name);
    if (m_themeHidden) { // checked against folders Qt may not keep
        m_waitingForTheme.insert(name);
        return;
    }
    const QIcon icon = image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
    m_themed.insert(name, Themed {icon, QDeadlineTimer(missKeptFor)});
    emit loaded(name);
}

} // namespace lumra
