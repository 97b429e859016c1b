#include "platform/process/HelperProcess.h"

#include "platform/core/BackgroundWork.h"
#include "platform/core/Sanitizer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Q_LOGGING_CATEGORY(lcHelperProcess, "lumra.process")

namespace lumra::process {

namespace {

enum class Io { done, lost, pastDeadline };

// How a program whose socket closed ended. It closes its socket as it ends: it is given a moment to
// be gone, as that bounds only a program that closed it and lives on.
HelperProcess::End endOf(pid_t process)
{
    if (const int ending = int(::syscall(SYS_pidfd_open, process, 0)); ending >= 0) {
        pollfd gone {ending, POLLIN, 0};
        while (::poll(&gone, 1, 2000) < 0 && errno == EINTR) {
        }
        ::close(ending);
    }
    siginfo_t ended {};
    if (::waitid(P_PID, id_t(process), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != process)
        return HelperProcess::End::failed;
    if (ended.si_code == CLD_KILLED && ended.si_status == SIGKILL)
        return HelperProcess::End::killed;
    // A sanitizer's report of a crash ends the program with a code.
    if (ended.si_code == CLD_KILLED || ended.si_code == CLD_DUMPED || ended.si_status != 0)
        return HelperProcess::End::crashed;
    return HelperProcess::End::failed;
}

// What one exchange with the program may still cost: the program's own CPU time, which a busy
// machine does not stretch, and the wall clock, generously.
class Budget {
public:
    Budget(pid_t process, std::optional<std::chrono::milliseconds> cpuTime, std::chrono::milliseconds wall,
           qint64 maxResident = 0)
        : m_wall(wall)
        , m_process(process)
        , m_maxResident(maxResident)
    {
        if (cpuTime && ::clock_getcpuclockid(process, &m_clock) == 0) {
            if (const auto used = cpuUsed())
                m_cpuLimit = *used + *cpuTime;
        }
    }

    bool spent() const
    {
        if (m_wall.hasExpired())
            return true;
        const auto used = m_cpuLimit ? cpuUsed() : std::nullopt;
        if (used && *used > *m_cpuLimit) // a program gone is told by the socket
            return true;
        return m_maxResident > 0 && residentBytes() > m_maxResident;
    }

    // How long to wait before looking at the program's CPU time again.
    int pollMilliseconds() const
    {
        const qint64 left = m_wall.remainingTime();
        return int(m_cpuLimit || m_maxResident > 0 ? qMin<qint64>(left, 20) : left);
    }

private:
    qint64 residentBytes() const
    {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/statm", int(m_process));
        FILE* statm = std::fopen(path, "re");
        if (!statm)
            return 0;
        long long size = 0;
        long long resident = 0;
        const int read = std::fscanf(statm, "%lld %lld", &size, &resident);
        std::fclose(statm);
        return read == 2 ? resident * ::sysconf(_SC_PAGESIZE) : 0;
    }

    std::optional<std::chrono::nanoseconds> cpuUsed() const
    {
        timespec used {};
        if (::clock_gettime(m_clock, &used) != 0)
            return std::nullopt;
        return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
    }

    QDeadlineTimer m_wall;
    pid_t m_process;
    qint64 m_maxResident;
    clockid_t m_clock {};
    std::optional<std::chrono::nanoseconds> m_cpuLimit;
};

Io waitFor(int socket, short events, const Budget& budget)
{
    for (;;) {
        if (budget.spent())
            return Io::pastDeadline;
        pollfd ready {socket, events, 0};
        const int polled = ::poll(&ready, 1, budget.pollMilliseconds());
        if (polled > 0)
            return Io::done; // hang-ups and errors are told by the next send or receive
        if (polled < 0 && errno != EINTR)
            return Io::lost;
    }
}

// A message of `size` bytes at `data` with room for one descriptor.
struct DescriptorMessage {
    DescriptorMessage(char* data, qint64 size)
        : part {data, size_t(size)}
    {
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage&) = delete;

    iovec part;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr message {};
};

// Sends the bytes with `descriptor` attached to the first of them.
ssize_t sendWithDescriptor(int socket, const char* data, qint64 size, int descriptor)
{
    DescriptorMessage sent(const_cast<char*>(data), size);
    cmsghdr* rights = CMSG_FIRSTHDR(&sent.message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &descriptor, sizeof(int));
    return ::sendmsg(socket, &sent.message, MSG_NOSIGNAL);
}

// Reads standard input, keeping the first descriptor sent along in `*descriptor` when it holds -1;
// there is room for one, and the kernel closes any more.
ssize_t receiveWithDescriptor(char* data, qint64 size, int* descriptor)
{
    DescriptorMessage received(data, size);
    const ssize_t got = ::recvmsg(STDIN_FILENO, &received.message, MSG_CMSG_CLOEXEC);
    for (cmsghdr* c = got >= 0 ? CMSG_FIRSTHDR(&received.message) : nullptr; c; c = CMSG_NXTHDR(&received.message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        for (size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
            int one = -1;
            std::memcpy(&one, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            if (*descriptor < 0)
                *descriptor = one;
            else
                ::close(one);
        }
    }
    return got;
}

Io sendAll(int socket, const void* bytes, qint64 size, const Budget& budget, int descriptor = -1)
{
    auto data = static_cast<const char*>(bytes);
    while (size > 0) {
        // No SIGPIPE when the program is gone: Lumra would die of it.
        const ssize_t sent = descriptor >= 0 ? sendWithDescriptor(socket, data, size, descriptor)
                                             : ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (sent > 0) {
            descriptor = -1;
            data += sent;
            size -= sent;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Io waited = waitFor(socket, POLLOUT, budget); waited != Io::done)
                return waited;
        } else if (sent < 0 && errno != EINTR) {
            return Io::lost;
        }
    }
    return Io::done;
}

Io receiveAll(int socket, void* bytes, qint64 size, const Budget& budget)
{
    auto data = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t received = ::recv(socket, data, size_t(size), 0);
        if (received > 0) {
            data += received;
            size -= received;
        } else if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Io waited = waitFor(socket, POLLIN, budget); waited != Io::done)
                return waited;
        } else if (received == 0 || errno != EINTR) {
            return Io::lost;
        }
    }
    return Io::done;
}

// The kernel kills a program asked to end with its parent when the THREAD that started it ends,
// not the process: they are all started on a lane whose one thread never expires, so a program
// outlives the worker that asked for it and ends with Lumra's background work.
int spawn(pid_t* process, const char* path, const posix_spawn_file_actions_t* files, const posix_spawnattr_t* attributes,
          char* const* arguments)
{
    // None once Lumra's background work is gone: a thread left running at exit starts nothing.
    BackgroundWork* work = BackgroundWork::currentIfAny();
    if (!work)
        return ECANCELED;
    QFuture<int> done = work->run(BackgroundWork::Lane::spawns, [=] {
        return ::posix_spawn(process, path, files, attributes, arguments, environ);
    });
    done.waitForFinished();
    return done.isCanceled() ? ECANCELED : done.result(); // refused once quitting began
}

} // namespace

HelperProcess::HelperProcess(QString program, QStringList arguments, Limits limits)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments))
    , m_limits(limits)
{
}

HelperProcess::~HelperProcess()
{
    {
        const std::lock_guard turn(m_turn);
        stop();
    }
    m_watcher.reset();
}

QString HelperProcess::findProgram(const char* name, const QString& builtAt, const char* whatIsLost)
{
    const QString here = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    QStringList candidates {here + QLatin1Char('/') + QLatin1String(name),
                            here + QLatin1String("/../libexec/lumra/") + QLatin1String(name)};
    if (!builtAt.isEmpty())
        candidates.append(builtAt);
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.canonicalFilePath();
    }
    qCWarning(lcHelperProcess).noquote() << whatIsLost << "because" << name << "is not installed";
    return QString();
}

bool HelperProcess::beginProgram(int argc, char** argv, const char* name, qint64 addressSpaceLimit)
{
    // Ends with Lumra, however Lumra ends; a Lumra gone before this line is told by the parent id.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || QByteArray(argv[1]).toLongLong() != qint64(::getppid()))
        return false;
    ::prctl(PR_SET_NAME, name);
    const rlimit noCore {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef LUMRA_ADDRESS_SANITIZER // the sanitizer reserves terabytes of address space for itself
    const rlimit memory {rlim_t(addressSpaceLimit), rlim_t(addressSpaceLimit)};
    ::setrlimit(RLIMIT_AS, &memory);
#else
    (void)addressSpaceLimit;
#endif
    return true;
}

bool HelperProcess::readAll(char* data, qint64 size)
{
    return readAll(data, size, nullptr);
}

bool HelperProcess::readAll(char* data, qint64 size, int* descriptor)
{
    while (size > 0) {
        const ssize_t got = descriptor ? receiveWithDescriptor(data, size, descriptor) : ::read(STDIN_FILENO, data, size_t(size));
        if (got > 0) {
            data += got;
            size -= got;
        } else if (got == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool HelperProcess::writeAll(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size_t(size));
        if (written > 0) {
            data += written;
            size -= written;
        } else if (written < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

HelperProcess::Outcome HelperProcess::exchange(QByteArrayView request, std::chrono::milliseconds cpuTime,
                                               QByteArray* answer, const std::function<bool(const QByteArray&)>& accept,
                                               int descriptor, QByteArrayView more)
{
    std::unique_lock turn(m_turn, std::defer_lock);
    if (!turn.try_lock_for(m_limits.wallClockCap))
        return Outcome::pastDeadline;
    if (m_shutDown)
        return Outcome::unavailable;
    // The program kept from the last request may have failed since: a new one takes the request,
    // also when the old one is found gone only now.
    Outcome outcome = Outcome::lost;
    for (int attempt = 0; attempt < 2 && outcome == Outcome::lost && !m_shutDown; ++attempt) {
        const bool reused = runningProcessLocked() > 0;
        m_endedStarting = false;
        if (!reused && !start())
            return m_endedStarting ? Outcome::lost : Outcome::unavailable;
        outcome = once(request, cpuTime, answer, accept, descriptor, more);
        if (outcome != Outcome::answered)
            stop();
        if (!reused)
            break;
    }
    return outcome;
}

void HelperProcess::shutDown()
{
    m_shutDown = true;
    if (const pid_t process = m_current.load(); process > 0)
        ::kill(-process, SIGKILL);
}

void HelperProcess::restart()
{
    const std::lock_guard turn(m_turn);
    stop();
}

pid_t HelperProcess::runningProcess()
{
    const std::lock_guard turn(m_turn);
    return runningProcessLocked();
}

pid_t HelperProcess::runningProcessLocked()
{
    if (m_process > 0 && ::waitpid(m_process, nullptr, WNOHANG) == m_process) {
        m_process = 0;
        stop();
    }
    return m_process;
}

bool HelperProcess::start()
{
    if (m_program.isEmpty())
        return false;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    // posix_spawn execs at once, so it is safe in a process with threads; the program gets its end
    // of the socket as standard input and output, the inherited standard error, and no other
    // descriptor. It leads a process group of its own, which is what is killed.
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    QList<QByteArray> words {QFile::encodeName(m_program), QByteArray::number(qint64(::getpid()))};
    for (const QString& argument : m_arguments)
        words.append(argument.toLocal8Bit());
    std::vector<char*> arguments;
    for (QByteArray& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    pid_t process = 0;
    const int failed = spawn(&process, words.first().constData(), &files, &attributes, arguments.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        qCWarning(lcHelperProcess).noquote() << "Could not start" << m_program << ::strerror(failed);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_process = process;
    m_current = process;
    m_socket = ends[0];
    watch(process);
    if (m_shutDown) { // shutDown() may have looked before the program was known
        stop();
        return false;
    }
    // Its start-up (Qt and its fonts, seconds under a sanitizer or on a busy machine) is no
    // request's: a request waits until the program says it is ready.
    quint64 mark = 0;
    const Io io = receiveAll(m_socket, &mark, sizeof mark, Budget(process, std::nullopt, m_limits.wallClockCap));
    if (io != Io::done || mark != m_limits.readyMark) {
        qCWarning(lcHelperProcess).noquote() << m_program << "did not start";
        // One killed or crashing on its way is told as such, not as one that could not be started.
        m_endedStarting = io == Io::lost;
        if (m_endedStarting)
            m_lastEnd = endOf(process);
        stop();
        return false;
    }
    return true;
}

void HelperProcess::stop()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_process > 0) {
        ::kill(-m_process, SIGKILL);
        while (::waitpid(m_process, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_process = 0;
    m_current = 0;
}

// A program that ends between requests (killed, or failed on its own) is reaped at once instead of waiting as a zombie for the next request.
void HelperProcess::watch(pid_t process)
{
    m_watcher.reset(); // its program was reaped by stop(), so it has returned or is returning
    BackgroundWork* work = BackgroundWork::currentIfAny();
    if (!work)
        return; // Lumra is ending: the program is reaped by stop()
    m_watcher = work->thread("lumra-reaper", [this, process] {
        siginfo_t ended {};
        while (::waitid(P_PID, id_t(process), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        // A request under way finds the program gone itself, and stop() reaps it.
        const std::unique_lock turn(m_turn, std::try_to_lock);
        if (turn.owns_lock() && m_process == process)
            runningProcessLocked();
    });
}

HelperProcess::Outcome HelperProcess::once(QByteArrayView request, std::chrono::milliseconds cpuTime, QByteArray* answer,
                                           const std::function<bool(const QByteArray&)>& accept, int descriptor,
                                           QByteArrayView more)
{
    const Budget budget(m_process, cpuTime, m_limits.wallClockCap, m_limits.maxResidentBytes);
    const Header header {++m_lastRequest, request.size() + more.size()};
    Io io = sendAll(m_socket, &header, sizeof header, budget, descriptor);
    if (io == Io::done)
        io = sendAll(m_socket, request.data(), request.size(), budget);
    if (io == Io::done)
        io = sendAll(m_socket, more.data(), more.size(), budget);
    Header reply;
    if (io == Io::done)
        io = receiveAll(m_socket, &reply, sizeof reply, budget);
    // An answer to another request, one too large or one refused: the program is not to be trusted
    // with the next request either.
    const char* refusal = nullptr;
    if (io == Io::done && reply.id != header.id)
        refusal = "answered another request";
    else if (io == Io::done && reply.bytes > m_limits.maxAnswerBytes)
        refusal = "answered with too much";
    else if (io == Io::done && (reply.bytes < -1 || (reply.bytes <= 0 && !m_limits.mayAnswerNothing)))
        refusal = "answered with nothing";
    answer->clear();
    if (!refusal && io == Io::done && reply.bytes > 0) {
        // Its exact size: resize() would round a picture's answer up to the next power of two.
        *answer = QByteArray(qsizetype(reply.bytes), Qt::Uninitialized);
        io = receiveAll(m_socket, answer->data(), reply.bytes, budget);
        if (io == Io::done && accept && !accept(*answer))
            refusal = "answered with something it may not";
    }
    if (refusal) {
        qCWarning(lcHelperProcess).noquote() << QFileInfo(m_program).fileName() << refusal;
        io = Io::lost;
    }
    switch (io) {
    case Io::done:
        if (reply.bytes <= 0)
            answer->clear();
        return Outcome::answered;
    case Io::pastDeadline:
        answer->clear();
        return Outcome::pastDeadline;
    case Io::lost:
        break;
    }
    answer->clear();
    m_lastEnd = refusal ? End::failed : endOf(m_process);
    return Outcome::lost;
}

HelperPool::HelperPool(const QString& program, const QStringList& arguments, HelperProcess::Limits limits, int programs,
                       int programsForNewSources)
    : m_anyone(size_t(std::max(1, programs)))
{
    for (size_t i = 0; i < m_anyone + size_t(std::max(0, programsForNewSources)); ++i)
        m_programs.push_back(std::make_unique<HelperProcess>(program, arguments, limits));
    m_busy.assign(m_programs.size(), false);
    m_servedSource.resize(m_programs.size());
}

HelperProcess::Outcome HelperPool::exchange(QByteArrayView request, std::chrono::milliseconds cpuTime, QByteArray* answer,
                                            const std::function<bool(const QByteArray&)>& accept, bool restartAfter,
                                            const Turn& turn, int descriptor, QByteArrayView more)
{
    HelperProcess* program = take(turn);
    if (!program) {
        answer->clear();
        return HelperProcess::Outcome::dropped;
    }
    const HelperProcess::Outcome outcome = program->exchange(request, cpuTime, answer, accept, descriptor, more);
    if (restartAfter && outcome == HelperProcess::Outcome::answered)
        program->restart();
    giveBack(*program);
    return outcome;
}

QList<pid_t> HelperPool::runningProcesses()
{
    std::vector<bool> busy;
    {
        const std::lock_guard lock(m_mutex);
        busy = m_busy;
    }
    QList<pid_t> running;
    for (size_t i = 0; i < m_programs.size(); ++i) {
        // One at work is not waited for.
        if (const pid_t process = busy[i] ? m_programs[i]->currentProcess() : m_programs[i]->runningProcess())
            running.append(process);
    }
    return running;
}

int HelperPool::waiting()
{
    const std::lock_guard lock(m_mutex);
    return int(m_waiting.size());
}

HelperProcess* HelperPool::take(const Turn& turn)
{
    std::unique_lock lock(m_mutex);
    Waiter self {++m_lastSerial, &turn};
    m_waiting.push_back(&self);
    handOut();
    while (self.program < 0 && !turn.wanted.hasExpired()) {
        if (turn.wanted.isForever())
            m_free.wait(lock);
        else
            m_free.wait_until(lock, turn.wanted.deadline<std::chrono::steady_clock>());
    }
    std::erase(m_waiting, &self);
    return self.program >= 0 ? m_programs[size_t(self.program)].get() : nullptr;
}

void HelperPool::giveBack(HelperProcess& program)
{
    {
        const std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < m_programs.size(); ++i) {
            if (m_programs[i].get() == &program) {
                m_busy[i] = false;
                m_servedSource[i].clear();
            }
        }
        handOut();
    }
    m_free.notify_all();
}

int HelperPool::atWork(const QString& source) const
{
    int count = 0;
    for (size_t i = 0; i < m_programs.size(); ++i)
        count += m_busy[i] && m_servedSource[i] == source;
    return count;
}

void HelperPool::handOut()
{
    bool handed = false;
    for (;;) {
        // The waiting request whose source has fewest at work, the newest of those, that a free
        // program may take.
        Waiter* chosen = nullptr;
        int chosenAtWork = 0;
        size_t chosenProgram = 0;
        for (Waiter* waiter : m_waiting) {
            if (waiter->program >= 0 || waiter->turn->wanted.hasExpired())
                continue;
            const int busy = atWork(waiter->turn->source);
            if (chosen && (busy > chosenAtWork || (busy == chosenAtWork && waiter->serial < chosen->serial)))
                continue;
            for (size_t i = 0; i < m_programs.size(); ++i) {
                if (!m_busy[i] && (i < m_anyone || busy == 0)) {
                    chosen = waiter;
                    chosenAtWork = busy;
                    chosenProgram = i;
                    break;
                }
            }
        }
        if (!chosen)
            break;
        chosen->program = int(chosenProgram);
        m_busy[chosenProgram] = true;
        m_servedSource[chosenProgram] = chosen->turn->source;
        handed = true;
    }
    if (handed)
        m_free.notify_all();
}

} // namespace lumra::process
