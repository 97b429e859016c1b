#include "platform/files/FileChecks.h"

#include "platform/core/BackgroundWork.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace lumra {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Look-up threads of every caller, those stuck on a hung mount included: a stuck one keeps its
// thread until the mount answers. Past this many, what is left is answered unknown at once.
constexpr int maxLookupThreads = 64;
// One call takes at most this many: the files of one copy on a hung mount hold no more threads,
// and no call waits behind another's look-ups.
constexpr int threadsPerCall = 4;
// A path looked up for this long by another call is taken as stuck there: answered unknown at
// once rather than stalling another thread.
constexpr std::chrono::milliseconds stuckAfter {250};

struct LookupThreads {
    std::mutex mutex;
    int running = 0;
    std::map<QString, std::pair<SteadyClock::time_point, int>> paths; // being looked up: since, by how many
};

LookupThreads& lookupThreads()
{
    static auto* threads = new LookupThreads; // outlives threads still stuck at exit
    return *threads;
}

struct Batch {
    std::mutex mutex;
    std::condition_variable progress;
    QStringList paths;
    QList<std::optional<FileState>> results;
    qsizetype next = 0;
    qsizetype finished = 0;
    bool abandoned = false;
};

std::optional<FileState> lookUp(const QString& path)
{
    LookupThreads& threads = lookupThreads();
    {
        std::lock_guard lock(threads.mutex);
        const auto [entry, added] = threads.paths.try_emplace(path, SteadyClock::now(), 0);
        if (!added && SteadyClock::now() - entry->second.first >= stuckAfter)
            return std::nullopt;
        ++entry->second.second;
    }
    const QFileInfo info(path);
    const FileState state {info.exists(), info.isDir()};
    std::lock_guard lock(threads.mutex);
    const auto entry = threads.paths.find(path);
    if (--entry->second.second == 0)
        threads.paths.erase(entry);
    return state;
}

void lookUpBatch(const std::shared_ptr<Batch>& batch)
{
    for (;;) {
        qsizetype i = 0;
        {
            std::lock_guard lock(batch->mutex);
            while (batch->next < batch->paths.size() && batch->paths[batch->next].isEmpty())
                ++batch->next;
            if (batch->abandoned || batch->next >= batch->paths.size())
                break;
            i = batch->next++;
        }
        const std::optional<FileState> state = lookUp(batch->paths[i]);
        {
            std::lock_guard lock(batch->mutex);
            batch->results[i] = state;
            ++batch->finished;
        }
        batch->progress.notify_all();
    }
    LookupThreads& threads = lookupThreads();
    std::lock_guard lock(threads.mutex);
    --threads.running;
}

} // namespace

QList<std::optional<FileState>> checkFiles(const QStringList& paths, std::chrono::milliseconds bound)
{
    auto batch = std::make_shared<Batch>();
    batch->paths = paths;
    batch->results.resize(paths.size());
    qsizetype wanted = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (paths[i].isEmpty())
            batch->results[i] = FileState {};
        else
            ++wanted;
    }
    LookupThreads& threads = lookupThreads();
    int started = 0;
    {
        std::lock_guard lock(threads.mutex);
        started = int(std::clamp<qsizetype>(std::min<qsizetype>(threadsPerCall, wanted), 0,
                                             qsizetype(maxLookupThreads - threads.running)));
        threads.running += started;
    }
    for (int t = started; t > 0; --t) {
        // Refused once quitting has begun: what is left is answered unknown.
        if (!BackgroundWork::current().start(BackgroundWork::Lane::fileChecks, [batch] { lookUpBatch(batch); })) {
            --started;
            std::lock_guard lock(threads.mutex);
            --threads.running;
        }
    }

    std::unique_lock lock(batch->mutex);
    qsizetype seen = -1;
    auto lastProgress = SteadyClock::now();
    while (started > 0 && batch->finished < wanted) {
        if (batch->finished != seen) {
            seen = batch->finished;
            lastProgress = SteadyClock::now();
        } else if (SteadyClock::now() - lastProgress >= bound) {
            break;
        }
        batch->progress.wait_until(lock, lastProgress + bound, [&] { return batch->finished != seen; });
    }
    batch->abandoned = true;
    return batch->results;
}

namespace {

int openRegular(const QString& path, struct stat* st, int flags = 0)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return -1;
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | flags);
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

std::optional<RegularFile> RegularFile::open(const QString& path)
{
    struct stat st {};
    const int fd = openRegular(path, &st, O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    return RegularFile(fd, qint64(st.st_size));
}

RegularFile::RegularFile(int descriptor, qint64 size)
    : m_descriptor(descriptor)
    , m_size(size)
{
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_size(other.m_size)
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_size = other.m_size;
    }
    return *this;
}

RegularFile::~RegularFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QByteArray RegularFile::head(qint64 maxBytes) const
{
    QByteArray data(qsizetype(std::clamp<qint64>(std::min(maxBytes, m_size), 0, qint64(1) << 30)), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::pread(m_descriptor, data.data() + got, size_t(data.size() - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

} // namespace lumra
