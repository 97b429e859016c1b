#include "platform/richtext/HtmlConverter.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <climits>
#include <csignal>
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

Io waitFor(int socket, short events, QDeadlineTimer deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return Io::pastDeadline;
        pollfd ready {socket, events, 0};
        const int polled = ::poll(&ready, 1, left < 0 ? -1 : int(qMin<qint64>(left, INT_MAX)));
        if (polled > 0)
            return Io::done; // hang-ups and errors are told by the next send or receive
        if (polled < 0 && errno != EINTR)
            return Io::lost;
    }
}

Io sendAll(int socket, const char* data, qint64 size, QDeadlineTimer deadline)
{
    while (size > 0) {
        // No SIGPIPE when the program is gone: Lumra would die of it.
        const ssize_t sent = ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= sent;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Io waited = waitFor(socket, POLLOUT, deadline); waited != Io::done)
                return waited;
        } else if (sent < 0 && errno != EINTR) {
            return Io::lost;
        }
    }
    return Io::done;
}

Io receiveAll(int socket, char* data, qint64 size, QDeadlineTimer deadline)
{
    while (size > 0) {
        const ssize_t received = ::recv(socket, data, size_t(size), 0);
        if (received > 0) {
            data += received;
            size -= received;
        } else if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Io waited = waitFor(socket, POLLIN, deadline); waited != Io::done)
                return waited;
        } else if (received == 0 || errno != EINTR) {
            return Io::lost;
        }
    }
    return Io::done;
}

} // namespace

HtmlConverter& HtmlConverter::shared()
{
    // Never destroyed: a capture worker may still be converting while the process exits. The
    // program ends with Lumra on its own (it asks to be killed when its parent goes).
    static HtmlConverter* const converter = new HtmlConverter;
    return *converter;
}

QByteArray HtmlConverter::convert(const QString& html, QDeadlineTimer deadline)
{
    std::unique_lock turn(m_turn, std::defer_lock);
    if (deadline.isForever())
        turn.lock();
    else if (!turn.try_lock_for(std::chrono::milliseconds(deadline.remainingTime())))
        return {};
    // The program kept from the last conversion ends with the thread that started it, or may have
    // failed since: a new one takes the request, also when the old one is found gone only now.
    Outcome outcome = Outcome::lost;
    QByteArray rtf;
    for (int attempt = 0; attempt < 2 && outcome == Outcome::lost; ++attempt) {
        const bool reused = runningProcessLocked() > 0;
        if (!reused && !start())
            return {};
        outcome = exchange(html, deadline, &rtf);
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
    const QString program = converterProgram();
    if (program.isEmpty())
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
    QByteArray path = QFile::encodeName(program);
    QByteArray parent = QByteArray::number(qint64(::getpid()));
    char* arguments[] = {path.data(), parent.data(), nullptr};
    pid_t process = 0;
    const int failed = ::posix_spawn(&process, path.constData(), &files, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        qCWarning(lcHtmlConverter).noquote() << "Could not start" << program << ::strerror(failed);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_process = process;
    m_socket = ends[0];
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

HtmlConverter::Outcome HtmlConverter::exchange(const QString& html, QDeadlineTimer deadline, QByteArray* rtf)
{
    const qint64 bytes = html.size() * qint64(sizeof(char16_t));
    Io io = sendAll(m_socket, reinterpret_cast<const char*>(&bytes), sizeof bytes, deadline);
    if (io == Io::done)
        io = sendAll(m_socket, reinterpret_cast<const char*>(html.utf16()), bytes, deadline);
    qint64 answer = -1;
    if (io == Io::done)
        io = receiveAll(m_socket, reinterpret_cast<char*>(&answer), sizeof answer, deadline);
    if (io == Io::done && answer > maxAnswerBytes)
        io = Io::lost;
    if (io == Io::done && answer > 0) {
        rtf->resize(answer);
        io = receiveAll(m_socket, rtf->data(), answer, deadline);
    }
    switch (io) {
    case Io::done:
        if (answer <= 0)
            rtf->clear();
        return Outcome::answered;
    case Io::pastDeadline:
        return Outcome::pastDeadline;
    case Io::lost:
        break;
    }
    return Outcome::lost;
}

} // namespace lumra::RichText
