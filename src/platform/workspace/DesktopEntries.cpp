#include "platform/workspace/DesktopEntries.h"

#include "platform/core/BackgroundWork.h"
#include "platform/core/Folders.h"
#include "platform/files/FileChecks.h"
#include "platform/files/IconFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QFutureWatcher>
#include <QMutex>
#include <QSet>
#include <QWaitCondition>

namespace lumra {

namespace {

QString unescape(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': result += QLatin1Char(' '); break;
        case 'n': result += QLatin1Char('\n'); break;
        case 't': result += QLatin1Char('\t'); break;
        case 'r': result += QLatin1Char('\r'); break;
        default: result += next;
        }
    }
    return result;
}

QString lastDottedPart(const QString& id) { return id.section(QLatin1Char('.'), -1); }

// The program of an Exec line: its first word, with the desktop entry format's double quotes and escapes.
QString programOfExec(const QString& exec)
{
    QString program;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (quoted && c == QLatin1Char('\\') && i + 1 < exec.size()) {
            program += exec.at(++i);
        } else if (!quoted && c.isSpace()) {
            if (!program.isEmpty())
                break;
        } else {
            program += c;
        }
    }
    return program;
}

} // namespace

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id, const QString& locale)
{
    // Only the keys read below are kept, and only they become text: a file's translations of
    // every other key (most of a large entry) cost a scan, nothing more.
    const QByteArray language = locale.section(QLatin1Char('_'), 0, 0).toUtf8();
    const QByteArray localName = "Name[" + locale.toUtf8() + ']';
    const QByteArray languageName = "Name[" + language + ']';
    static const QByteArrayList plainKeys {"Type", "Hidden", "Name", "StartupWMClass", "Icon", "Exec", "NoDisplay"};
    QHash<QByteArray, QString> keys;
    bool inMainGroup = false;
    bool sawMainGroup = false;
    const QByteArrayView all(contents);
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(at, end - at).trimmed();
        at = end + 1;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (sawMainGroup && inMainGroup)
                break;
            inMainGroup = line == QByteArrayView("[Desktop Entry]");
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals <= 0)
            continue;
        const QByteArray key = line.first(equals).trimmed().toByteArray();
        const bool wanted = plainKeys.contains(key) || (!locale.isEmpty() && (key == localName || key == languageName));
        if (wanted && !keys.contains(key))
            keys.insert(key, unescape(QString::fromUtf8(line.sliced(equals + 1).trimmed())));
    }
    if (!sawMainGroup)
        return std::nullopt;
    DesktopEntry entry;
    entry.id = id;
    entry.hidden = keys.value("Hidden") == QLatin1String("true");
    if (!entry.hidden && keys.value("Type") != QLatin1String("Application"))
        return std::nullopt;
    for (const QByteArray& key : {localName, languageName, QByteArray("Name")}) {
        if (!locale.isEmpty() || key == "Name") {
            entry.name = keys.value(key);
            if (!entry.name.isEmpty())
                break;
        }
    }
    entry.startupWmClass = keys.value("StartupWMClass");
    entry.icon = keys.value("Icon");
    entry.program = programOfExec(keys.value("Exec"));
    entry.noDisplay = keys.value("NoDisplay") == QLatin1String("true");
    return entry;
}

QStringList DesktopEntryIndex::applicationFolders()
{
    QStringList folders;
    for (const QString& dir : Folders::dataFolders()) {
        const QString folder = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

void DesktopEntryIndex::load(const QStringList& folders, const QString& locale, const Limits& limits)
{
    m_entries.clear();
    m_order.clear();
    QSet<QString> seen;
    qsizetype files = 0;
    qint64 total = 0;
    for (const QString& folder : folders) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        QStringList ids;
        while (it.hasNext() && files < limits.files && total < limits.totalBytes) {
            const QString path = it.next();
            const QString id = idForFile(folder, path);
            if (seen.contains(id))
                continue;
            ++files;
            // Another program may leave a FIFO or a device here: only a regular file is read.
            const std::optional<QByteArray> contents = readRegularFile(path, std::min(limits.entryBytes, limits.totalBytes - total));
            if (!contents)
                continue;
            total += contents->size();
            seen.insert(id); // a hidden entry still hides the same id further down
            auto entry = parseDesktopEntry(*contents, id, locale);
            if (entry && !entry->hidden) {
                m_entries.insert(id, *entry);
                ids.append(id);
            }
        }
        ids.sort();
        m_order += ids;
    }
}

QString DesktopEntryIndex::idForFile(const QString& folder, const QString& path)
{
    QString id = QDir(folder).relativeFilePath(path);
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(int(qstrlen(".desktop")));
    return id.replace(QLatin1Char('/'), QLatin1Char('-'));
}

QList<DesktopEntry> DesktopEntryIndex::entries() const
{
    QList<DesktopEntry> all;
    all.reserve(m_order.size());
    for (const QString& id : m_order)
        all.append(*m_entries.constFind(id));
    return all;
}

const DesktopEntry* DesktopEntryIndex::entry(const QString& id) const
{
    auto it = m_entries.constFind(id);
    return it == m_entries.constEnd() ? nullptr : &*it;
}

const DesktopEntry* DesktopEntryIndex::matchWmClass(const QString& wmClass) const
{
    if (wmClass.isEmpty())
        return nullptr;
    using Matcher = bool (*)(const DesktopEntry&, const QString&);
    const Matcher matchers[] = {
        [](const DesktopEntry& e, const QString& c) { return e.startupWmClass == c; },
        [](const DesktopEntry& e, const QString& c) {
            return !e.startupWmClass.isEmpty() && e.startupWmClass.compare(c, Qt::CaseInsensitive) == 0;
        },
        [](const DesktopEntry& e, const QString& c) { return e.id.compare(c, Qt::CaseInsensitive) == 0; },
        [](const DesktopEntry& e, const QString& c) {
            return lastDottedPart(e.id).compare(c, Qt::CaseInsensitive) == 0;
        },
    };
    for (Matcher matches : matchers) {
        for (const QString& id : m_order) {
            const DesktopEntry& candidate = *m_entries.constFind(id);
            if (matches(candidate, wmClass))
                return &candidate;
        }
    }
    return nullptr;
}

std::optional<AppIdentity> DesktopEntryIndex::identify(const WindowProperties& window, qint64 ownPid) const
{
    const auto fromEntry = [&](const DesktopEntry& entry) {
        return AppIdentity {entry.id, entry.name.isEmpty() ? entry.id : entry.name, window.pid, window.window};
    };
    if (window.pid != 0 && window.pid == ownPid)
        return AppIdentity {QString::fromLatin1(lumraBundleId), QStringLiteral("Lumra"), window.pid, window.window};
    if (const DesktopEntry* entry = this->entry(window.gtkApplicationId))
        return fromEntry(*entry);
    QString kdeId = window.kdeDesktopFile.section(QLatin1Char('/'), -1);
    if (kdeId.endsWith(QLatin1String(".desktop")))
        kdeId.chop(int(qstrlen(".desktop")));
    if (const DesktopEntry* entry = this->entry(kdeId))
        return fromEntry(*entry);
    for (const QString& wmClass : {window.wmClass, window.wmInstance}) {
        if (const DesktopEntry* entry = matchWmClass(wmClass))
            return fromEntry(*entry);
    }
    for (const QString& fallback : {window.wmClass, window.wmInstance, window.gtkApplicationId, kdeId}) {
        if (!fallback.isEmpty())
            return AppIdentity {fallback, fallback, window.pid, window.window};
    }
    return std::nullopt;
}

namespace {

// What a load found: the entries, and the folders to watch for the next change.
struct LoadedEntries {
    DesktopEntryIndex index;
    QStringList watched;
};

LoadedEntries loadEntries(const QString& locale)
{
    LoadedEntries loaded;
    const QStringList folders = DesktopEntryIndex::applicationFolders();
    loaded.index.load(folders, locale);
    // Folders created later (a first user-installed application) are picked up through their
    // parent, which is watched when it exists.
    for (const QString& folder : folders) {
        if (QFileInfo(folder).isDir()) {
            loaded.watched.append(folder);
            QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext() && loaded.watched.size() < DesktopEntryIndex::Limits().files)
                loaded.watched.append(it.next());
        } else if (QFileInfo(QFileInfo(folder).path()).isDir()) {
            loaded.watched.append(QFileInfo(folder).path());
        }
    }
    return loaded;
}

} // namespace

// A load on a worker; the first answer may wait for it a while.
struct DesktopEntries::Load {
    QMutex mutex;
    QWaitCondition done;
    std::optional<LoadedEntries> result;
};

DesktopEntries::DesktopEntries(QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
{
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &DesktopEntries::reload);
    reload();
}

DesktopEntries::~DesktopEntries() = default;

void DesktopEntries::reload()
{
    if (m_load) {
        m_again = true;
        return;
    }
    auto load = std::make_shared<Load>();
    m_load = load;
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        take();
    });
    watcher->setFuture(BackgroundWork::current().run(BackgroundWork::Lane::desktopEntries, [load, locale = QLocale().name()] {
        LoadedEntries loaded = loadEntries(locale);
        QMutexLocker lock(&load->mutex);
        load->result = std::move(loaded);
        load->done.wakeAll();
    }));
}

void DesktopEntries::take()
{
    if (!m_load)
        return;
    std::optional<LoadedEntries> loaded;
    {
        QMutexLocker lock(&m_load->mutex);
        if (!m_load->result)
            return;
        loaded = std::move(m_load->result);
    }
    m_load.reset();
    m_loadedOnce = true;
    watch(loaded->watched);
    const bool differs = !(loaded->index == m_index);
    m_index = std::move(loaded->index);
    if (std::exchange(m_again, false))
        reload();
    if (differs)
        emit changed();
}

const DesktopEntryIndex& DesktopEntries::index()
{
    if (!m_loadedOnce && m_load) {
        {
            QMutexLocker lock(&m_load->mutex);
            if (!m_load->result)
                m_load->done.wait(&m_load->mutex, QDeadlineTimer(firstLoadWait));
        }
        take();
    }
    return m_index;
}

void DesktopEntries::watch(const QStringList& paths)
{
    if (!m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
    if (!paths.isEmpty())
        m_watcher->addPaths(paths);
}

QIcon DesktopEntries::icon(const QString& bundleId)
{
    const DesktopEntry* entry = index().entry(bundleId);
    if (!entry || entry->icon.isEmpty())
        return QIcon();
    // A file is read, or the theme's files checked, off this thread; the generic icon stands in until then.
    const std::optional<QIcon> icon = QFileInfo(entry->icon).isAbsolute() ? IconFiles::instance().icon(entry->icon)
                                                                        : IconFiles::instance().themeIcon(entry->icon);
    return icon ? *icon : QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

} // namespace lumra
