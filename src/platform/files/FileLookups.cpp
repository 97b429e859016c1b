#include "platform/files/FileLookups.h"

#include "platform/files/FileChecks.h"

#include <QFile>
#include <QMimeDatabase>
#include <QThreadPool>

#include <sys/stat.h>

#include <map>
#include <mutex>

namespace lumra {

FileLook lookAtFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0)
        return {};
    if (S_ISDIR(st.st_mode))
        return {FileLook::Kind::folder, {}, {}};
    const QMimeDatabase mimes;
    QMimeType type;
    if (S_ISREG(st.st_mode)) {
        if (const std::unique_ptr<QFile> file = openRegularFile(path))
            type = mimes.mimeTypeForFileNameAndData(path, file.get());
    }
    if (!type.isValid())
        type = mimes.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    FileLook look {FileLook::Kind::file, type.iconName(), type.genericIconName()};
    if (S_ISREG(st.st_mode)) {
        look.size = st.st_size;
        look.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    return look;
}

// When each running look-up began, so the stuck ones can be counted.
struct FileLookups::Running {
    std::mutex mutex;
    std::map<quint64, std::chrono::steady_clock::time_point> started;
    quint64 next = 0;
};

FileLookups& FileLookups::instance()
{
    static auto* lookups = new FileLookups; // outlives every view that asks
    return *lookups;
}

FileLookups::FileLookups()
    : m_running(std::make_shared<Running>())
    , m_pool(new QThreadPool) // never destroyed: a look-up on a hung mount must not hold up exit
{
    m_pool->setMaxThreadCount(threads);
    // Answers arrive one by one; the rows are worked out again once for a handful of them.
    m_tell.setSingleShot(true);
    m_tell.setInterval(30);
    connect(&m_tell, &QTimer::timeout, this, &FileLookups::answered);
    m_watch.setInterval(std::chrono::milliseconds(stuckAfter / 2));
    connect(&m_watch, &QTimer::timeout, this, &FileLookups::countStuck);
}

std::optional<FileLook> FileLookups::look(const QString& path)
{
    const Kept* kept = m_kept.object(path);
    if ((!kept || kept->fresh.hasExpired()) && !m_pending.contains(path))
        start(path);
    return kept ? std::optional(kept->look) : std::nullopt;
}

void FileLookups::start(const QString& path)
{
    m_pending.insert(path);
    if (!m_watch.isActive())
        m_watch.start();
    m_pool->start([this, path, running = m_running] {
        quint64 id = 0;
        {
            std::lock_guard lock(running->mutex);
            id = running->next++;
            running->started.emplace(id, std::chrono::steady_clock::now());
        }
        const FileLook look = lookAtFile(path);
        {
            std::lock_guard lock(running->mutex);
            running->started.erase(id);
        }
        QMetaObject::invokeMethod(this, [this, path, look] { finish(path, look); }, Qt::QueuedConnection);
    });
}

void FileLookups::finish(const QString& path, const FileLook& look)
{
    m_pending.remove(path);
    const Kept* before = m_kept.object(path);
    const bool changed = !before || before->look != look;
    m_kept.insert(path, new Kept {look, QDeadlineTimer(freshFor)});
    if (changed && !m_tell.isActive())
        m_tell.start();
    if (m_pending.isEmpty()) {
        m_watch.stop();
        countStuck();
    }
}

void FileLookups::countStuck()
{
    int stuck = 0;
    {
        std::lock_guard lock(m_running->mutex);
        const auto since = std::chrono::steady_clock::now() - stuckAfter;
        for (const auto& [id, started] : m_running->started)
            stuck += started < since ? 1 : 0;
    }
    m_pool->setMaxThreadCount(threads + std::min(stuck, maxStuck));
}

} // namespace lumra
