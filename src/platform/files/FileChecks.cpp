#include "platform/files/FileChecks.h"

#include "platform/files/StallTolerantPool.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    // A check stuck on a hung mount stops counting against the threads after a second, so the
    // files of later copies are still looked up.
    static auto* pool = new StallTolerantPool(4, 16, std::chrono::seconds(1));

    auto batch = std::make_shared<Batch>();
    batch->results.resize(paths.size());
    qsizetype started = 0;
    pool->countStuck();
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
    const auto slice = std::min<std::chrono::milliseconds>(bound, pool->stuckAfter() / 2);
    qsizetype seen = -1;
    auto lastProgress = std::chrono::steady_clock::now();
    while (batch->finished < started) {
        if (batch->finished != seen) {
            seen = batch->finished;
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress >= bound) {
            break;
        }
        batch->progress.wait_for(lock, slice, [&] { return batch->finished != seen; });
        lock.unlock();
        pool->countStuck();
        lock.lock();
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
