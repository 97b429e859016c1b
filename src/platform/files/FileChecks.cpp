#include "platform/files/FileChecks.h"

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace lumra {

QList<std::optional<FileState>> checkFiles(const QStringList& paths, std::chrono::milliseconds bound)
{
    struct Batch {
        std::mutex mutex;
        std::condition_variable progress;
        QList<std::optional<FileState>> results;
        qsizetype finished = 0;
    };
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool; // never destroyed: a hung lookup must not hold up exit
        threads->setMaxThreadCount(4);
        return threads;
    }();

    auto batch = std::make_shared<Batch>();
    batch->results.resize(paths.size());
    qsizetype started = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (paths[i].isEmpty()) {
            batch->results[i] = FileState {};
            continue;
        }
        ++started;
        pool->start([batch, i, path = paths[i]] {
            const QFileInfo info(path);
            const FileState state {info.exists(), info.isDir()};
            std::lock_guard lock(batch->mutex);
            batch->results[i] = state;
            ++batch->finished;
            batch->progress.notify_all();
        });
    }
    std::unique_lock lock(batch->mutex);
    qsizetype seen = -1;
    while (batch->finished < started && batch->finished != seen) {
        seen = batch->finished;
        batch->progress.wait_for(lock, bound, [&] { return batch->finished != seen; });
    }
    return batch->results;
}

namespace {

int openRegular(const QString& path, struct stat* st)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return -1;
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes)
{
    struct stat st {};
    const int fd = openRegular(path, &st);
    if (fd < 0)
        return std::nullopt;
    if (st.st_size > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QByteArray data;
    data.reserve(qsizetype(st.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || data.size() + n > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(chunk, n);
    }
    ::close(fd);
    return data;
}

std::unique_ptr<QFile> openRegularFile(const QString& path)
{
    struct stat st {};
    const int fd = openRegular(path, &st);
    if (fd < 0)
        return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

bool isRegularFile(const QString& path)
{
    struct stat st {};
    const int fd = openRegular(path, &st);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace lumra
