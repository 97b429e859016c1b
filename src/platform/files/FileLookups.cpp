#include "platform/files/FileLookups.h"

#include "platform/files/FileChecks.h"

#include <QFile>
#include <QMimeDatabase>

#include <sys/stat.h>


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

FileLookups& FileLookups::instance()
{
    static auto* lookups = new FileLookups; // outlives every view that asks
    return *lookups;
}

FileLookups::FileLookups()
    : m_pool(std::make_unique<StallTolerantPool>(BackgroundWork::current(), BackgroundWork::Lane::fileLooks, threads,
                                                 maxStuck, stuckAfter))
{
    // Answers arrive one by one; the rows are worked out again once for a handful of them.
    m_tell.setSingleShot(true);
    m_tell.setInterval(30);
    connect(&m_tell, &QTimer::timeout, this, &FileLookups::answered);
    m_watch.setInterval(std::chrono::milliseconds(stuckAfter / 2));
    connect(&m_watch, &QTimer::timeout, this, [this] { m_pool->countStuck(); });
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
    m_pool->start([this, path] {
        const FileLook look = lookAtFile(path);
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
        m_pool->countStuck();
    }
}

} // namespace lumra
