#include "platform/richtext/HtmlConverter.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Q_LOGGING_CATEGORY(lcHtmlConverter, "lumra.richtext.converter")

namespace lumra::RichText {

namespace {

constexpr const char* programName = "lumra-html-converter";

// Beside Lumra in the build and in a portable install; under libexec when packaged. Test and
// benchmark programs, which live elsewhere in the build, use the one built with them.
QString converterProgram()
{
    static const QString found = [] {
        const QString here = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
        QStringList candidates {here + QLatin1Char('/') + QLatin1String(programName),
                                here + QLatin1String("/../libexec/lumra/") + QLatin1String(programName)};
#ifdef LUMRA_HTML_CONVERTER_BUILT
        candidates.append(QStringLiteral(LUMRA_HTML_CONVERTER_BUILT));
#endif
        for (const QString& candidate : candidates) {
            const QFileInfo info(candidate);
            if (info.isFile() && info.isExecutable())
                return info.canonicalFilePath();
        }
        qCWarning(lcHtmlConverter) << "Formatting of copied HTML is not kept:" << programName << "is not installed";
        return QString();
    }();
    return found;
}

enum class Io { done, lost, pastDeadline };

// What one exchange with the program may still cost: the program's own CPU time, which a busy
// machine does not stretch, and the wall clock, generously.
class Budget {
public:
    Budget(pid_t process, std::optional<std::chrono::milliseconds> cpuTime)
        : m_wall(HtmlConverter::wallClockCap)
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
        return used && *used > *m_cpuLimit; // a program gone is told by the socket
    }

    // How long to wait before looking at the program's CPU time again.
    int pollMilliseconds() const
    {
        const qint64 left = m_wall.remainingTime();
        return int(m_cpuLimit ? qMin<qint64>(left, 20) : left);
    }

private:
    std::optional<std::chrono::nanoseconds> cpuUsed() const
    {
        timespec used {};
        if (::clock_gettime(m_clock, &used) != 0)
            return std::nullopt;
        return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
    }

    QDeadlineTimer m_wall;
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

Io sendAll(int socket, const void* bytes, qint64 size, const Budget& budget)
{
    auto data = static_cast<const char*>(bytes);
    while (size > 0) {
        // No SIGPIPE when the program is gone: Lumra would die of it.
        const ssize_t sent = ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (sent > 0) {
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

// What the writer makes: the document's group and nothing after it but a line break.
bool isRtf(const QByteArray& answer)
{
    return answer.startsWith("{\\rtf") && answer.trimmed().endsWith('}');
}

} // namespace

HtmlConverter& HtmlConverter::shared()
{
    // Never destroyed: a capture worker may still be converting while the process exits. The
    // program ends with Lumra on its own (it asks to be killed when its parent goes).
    static HtmlConverter* const converter = new HtmlConverter(converterProgram());
    return *converter;
}

HtmlConverter::HtmlConverter(QString program, QStringList arguments)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments))
{
}

HtmlConverter::~HtmlConverter()
{
    {
        const std::lock_guard turn(m_turn);
        stop();
    }
    if (m_watcher.joinable())
        m_watcher.join();
}

QString HtmlConverter::installedProgram()
{
    return converterProgram();
}

QByteArray HtmlConverter::convert(const QString& html, std::chrono::milliseconds cpuTime)
{
    std::unique_lock turn(m_turn, std::defer_lock);
    if (!turn.try_lock_for(wallClockCap))
        return {};
    // The program kept from the last conversion ends with the thread that started it, or may have
    // failed since: a new one takes the request, also when the old one is found gone only now.
    Outcome outcome = Outcome::lost;
    QByteArray rtf;
    for (int attempt = 0; attempt < 2 && outcome == Outcome::lost; ++attempt) {
        const bool reused = runningProcessLocked() > 0;
        if (!reused && !start())
            return {};
        outcome = exchange(html, cpuTime, &rtf);
        if (outcome != Outcome::answered)
            stop();
        if (!reused)
            break;
    }
    switch (outcome) {
    case Outcome::answered:
        if (html.size() > restartAboveCharacters)
            stop();
        return rtf;
    case Outcome::pastDeadline:
        qCWarning(lcHtmlConverter).noquote()
            << QStringLiteral("Formatting not kept: converting %1 characters of HTML took too long").arg(html.size());
        break;
    case Outcome::lost:
        qCWarning(lcHtmlConverter).noquote()
            << QStringLiteral("Formatting not kept: the converter failed on %1 characters of HTML").arg(html.size());
        break;
    }
    return {};
}

pid_t HtmlConverter::runningProcess()
{
    const std::lock_guard turn(m_turn);
    return runningProcessLocked();
}

pid_t HtmlConverter::runningProcessLocked()
{
    if (m_process > 0 && ::waitpid(m_process, nullptr, WNOHANG) == m_process) {
        m_process = 0;
        stop();
    }
    return m_process;
}

bool HtmlConverter::start()
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
    const int failed = ::posix_spawn(&process, words.first().constData(), &files, &attributes, arguments.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        qCWarning(lcHtmlConverter).noquote() << "Could not start" << m_program << ::strerror(failed);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_process = process;
    m_socket = ends[0];
    watch(process);
    // Its start-up (Qt and its fonts, seconds under a sanitizer or on a busy machine) is no
    // conversion's: a request waits until the program says it is ready.
    quint64 mark = 0;
    const Io io = receiveAll(m_socket, &mark, sizeof mark, Budget(process, std::nullopt));
    if (io != Io::done || mark != readyMark) {
        qCWarning(lcHtmlConverter).noquote() << m_program << "did not start";
        stop();
        return false;
    }
    return true;
}

void HtmlConverter::stop()
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
}

// A program that ends between conversions (killed, or ended with the thread that started it) is
// reaped at once instead of waiting as a zombie for the next copy of HTML.
void HtmlConverter::watch(pid_t process)
{
    if (m_watcher.joinable())
        m_watcher.join(); // its program was reaped by stop(), so it has returned or is returning
    m_watcher = std::thread([this, process] {
        siginfo_t ended {};
        while (::waitid(P_PID, id_t(process), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        // A conversion under way finds the program gone itself, and stop() reaps it.
        const std::unique_lock turn(m_turn, std::try_to_lock);
        if (turn.owns_lock() && m_process == process)
            runningProcessLocked();
    });
}

HtmlConverter::Outcome HtmlConverter::exchange(const QString& html, std::chrono::milliseconds cpuTime,
                                               QByteArray* rtf)
{
    const Budget budget(m_process, cpuTime);
    const Header request {++m_lastRequest, html.size() * qint64(sizeof(char16_t))};
    Io io = sendAll(m_socket, &request, sizeof request, budget);
    if (io == Io::done)
        io = sendAll(m_socket, html.utf16(), request.bytes, budget);
    Header answer;
    if (io == Io::done)
        io = receiveAll(m_socket, &answer, sizeof answer, budget);
    // An answer to another request, one too large or one that is not RTF: the program is not to
    // be trusted with the next copy either.
    const char* refusal = nullptr;
    if (io == Io::done && answer.id != request.id)
        refusal = "answered another request";
    else if (io == Io::done && answer.bytes > maxAnswerBytes)
        refusal = "answered with too much";
    if (!refusal && io == Io::done && answer.bytes > 0) {
        rtf->resize(answer.bytes);
        io = receiveAll(m_socket, rtf->data(), answer.bytes, budget);
        if (io == Io::done && !isRtf(*rtf))
            refusal = "answered with something other than RTF";
    }
    if (refusal) {
        qCWarning(lcHtmlConverter).noquote() << "The converter" << refusal;
        io = Io::lost;
    }
    switch (io) {
    case Io::done:
        if (answer.bytes <= 0)
            rtf->clear();
        return Outcome::answered;
    case Io::pastDeadline:
        return Outcome::pastDeadline;
    case Io::lost:
        break;
    }
    rtf->clear();
    return Outcome::lost;
}

} // namespace lumra::RichText
