#include "platform/thumbnails/Thumbnailers.h"

#include "platform/core/Folders.h"
#include "platform/files/FileChecks.h"
#include "platform/thumbnails/SharedThumbnails.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cerrno>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumra::thumbnails {

namespace {

// A key file's string escapes.
QString unescapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        switch (value[++i].unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            out += QLatin1Char('\\');
            out += value[i];
            break;
        }
    }
    return out;
}

bool isInstalled(const QString& program)
{
    if (program.isEmpty())
        return false;
    if (QDir::isAbsolutePath(program)) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// A process of Lumra's own that leads the thumbnailer's group and does nothing. Its pid, the
// group's id, cannot be given to another process before Lumra reaps it, and Lumra reaps it only
// after killing the group: the kill reaches the thumbnailer's group and no other, even once the
// thumbnailer itself was reaped.
class GroupLeader {
public:
    GroupLeader()
    {
        const pid_t lumra = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            // System calls only: another thread may have held a lock at the fork.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != lumra)
                ::_exit(0);
            ::close_range(3, ~0U, 0); // holds no pipe or socket of Lumra's open
            for (;;)
                ::pause();
        }
        // Also from here, so the group exists before the thumbnailer joins it.
        if (m_pid > 0 && ::setpgid(m_pid, m_pid) != 0 && ::getpgid(m_pid) != m_pid)
            end();
    }
    ~GroupLeader() { end(); }
    GroupLeader(const GroupLeader&) = delete;
    GroupLeader& operator=(const GroupLeader&) = delete;

    pid_t group() const { return m_pid; }
    void killGroup() const
    {
        if (m_pid > 0)
            ::kill(-m_pid, SIGKILL);
    }
    // Kills the group, then reaps its leader.
    void end()
    {
        if (m_pid <= 0)
            return;
        killGroup();
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

} // namespace

std::optional<QStringList> splitExec(const QString& value)
{
    const QString text = unescapeValue(value);
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < text.size() && QStringView(u"\"`$\\").contains(text[i + 1])) {
                current += text[++i];
            } else {
                current += c;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument)
                args << current;
            current.clear();
            inArgument = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        args << current;
    return args;
}

QStringList expandExec(
    const QStringList& exec, const QString& input, const QString& uri, const QString& output, int size)
{
    QStringList args;
    for (const QString& arg : exec) {
        QString out;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != QLatin1Char('%') || i + 1 == arg.size()) {
                out += arg[i];
                continue;
            }
            switch (arg[++i].unicode()) {
            case 'i':
                out += input;
                break;
            case 'u':
                out += uri;
                break;
            case 'o':
                out += output;
                break;
            case 's':
                out += QString::number(size);
                break;
            case '%':
                out += QLatin1Char('%');
                break;
            default:
                break;
            }
        }
        args << out;
    }
    return args;
}

std::optional<Thumbnailer> parseThumbnailer(const QByteArray& text, const QString& file)
{
    QString group;
    QString tryExec;
    QString exec;
    QString mimeTypes;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (group != QLatin1String("Thumbnailer Entry") || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("TryExec"))
            tryExec = unescapeValue(value);
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("MimeType"))
            mimeTypes = unescapeValue(value);
    }
    auto args = splitExec(exec);
    if (!args || args->isEmpty())
        return std::nullopt;
    if (!isInstalled(tryExec.isEmpty() ? args->first() : tryExec))
        return std::nullopt;
    Thumbnailer thumbnailer { file, *args, mimeTypes.split(QLatin1Char(';'), Qt::SkipEmptyParts) };
    if (thumbnailer.mimeTypes.isEmpty())
        return std::nullopt;
    return thumbnailer;
}

ThumbnailerIndex ThumbnailerIndex::fromDataFolders(const QStringList& dataFolders)
{
    ThumbnailerIndex index;
    QSet<QString> seenNames;
    for (const QString& folder : dataFolders) {
        const QDir dir(folder + QStringLiteral("/thumbnailers"));
        const QStringList names
            = dir.entryList({ QStringLiteral("*.thumbnailer") }, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString& name : names) {
            if (seenNames.contains(name))
                continue;
            seenNames.insert(name);
            const QString path = dir.filePath(name);
            const auto text = readRegularFile(path, 64 * 1024);
            if (!text)
                continue;
            const auto thumbnailer = parseThumbnailer(*text, path);
            if (!thumbnailer)
                continue;
            for (const QString& type : thumbnailer->mimeTypes) {
                const QString key = type.trimmed().toLower();
                if (!index.m_byType.contains(key))
                    index.m_byType.insert(key, *thumbnailer);
            }
        }
    }
    return index;
}

std::shared_ptr<const ThumbnailerIndex> ThumbnailerIndex::installed()
{
    static QMutex mutex;
    static QStringList folders;
    static std::shared_ptr<const ThumbnailerIndex> index;
    const QStringList now = Folders::dataFolders();
    QMutexLocker lock(&mutex);
    if (!index || now != folders) {
        folders = now;
        index = std::make_shared<const ThumbnailerIndex>(fromDataFolders(now));
    }
    return index;
}

std::optional<Thumbnailer> ThumbnailerIndex::forMimeType(const QString& type) const
{
    const auto it = m_byType.constFind(type.toLower());
    if (it == m_byType.cend())
        return std::nullopt;
    return *it;
}

Result<QByteArray> runThumbnailer(const Thumbnailer& thumbnailer, const QString& input, int size,
    const RunLimits& limits, const std::atomic<bool>* stop)
{
    using Failure = Result<QByteArray>;
    const Result<QString> temp = Folders::privateTempFolder();
    QTemporaryDir folder((temp ? temp.value() : QDir::tempPath()) + QStringLiteral("/thumbnail-XXXXXX"));
    if (!folder.isValid())
        return Failure::failure(QStringLiteral("No folder for the thumbnailer's output."));
    // Thumbnailers pick the output format by its name.
    const QString output = folder.filePath(QStringLiteral("thumbnail.png"));
    const QStringList args = expandExec(thumbnailer.exec, input, fileUri(input), output, size);

    GroupLeader leader;
    const pid_t group = leader.group();
    if (group <= 0)
        return Failure::failure(QStringLiteral("No process group for %1.").arg(args.first()));
    QProcess process;
    process.setProgram(args.first());
    process.setArguments(args.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // In the leader's group, so the helpers it starts are killed with it; never run outside it.
    process.setChildProcessModifier([group] {
        if (::setpgid(0, group) != 0)
            ::_exit(127);
    });
    const QDeadlineTimer deadline(limits.timeout);
    process.start();
    if (!process.waitForStarted(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return Failure::failure(QStringLiteral("%1 did not start.").arg(args.first()));
    bool killed = false;
    bool stopped = false;
    while (!process.waitForFinished(50)) {
        if (process.state() == QProcess::NotRunning)
            break;
        stopped = stop && stop->load();
        if (deadline.hasExpired() || stopped) {
            leader.killGroup();
            killed = true;
            process.waitForFinished(1000);
            break;
        }
    }
    // Helpers it left behind in its group go with it.
    leader.end();
    if (stopped)
        return Failure::failure(QStringLiteral("%1 was stopped: Lumra is quitting.").arg(args.first()));
    if (killed)
        return Failure::failure(
            QStringLiteral("%1 took longer than %2 ms and was stopped.").arg(args.first()).arg(limits.timeout.count()));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return Failure::failure(QStringLiteral("%1 failed.").arg(args.first()));
    const auto bytes = readRegularFile(output, limits.maxOutputBytes);
    if (!bytes && QFileInfo(output).size() > limits.maxOutputBytes)
        return Failure::failure(QStringLiteral("%1 wrote a picture too big to read (over %2 bytes).")
                                    .arg(args.first())
                                    .arg(limits.maxOutputBytes));
    if (!bytes || bytes->isEmpty())
        return Failure::failure(QStringLiteral("%1 wrote no picture.").arg(args.first()));
    return *bytes;
}

} // namespace lumra::thumbnails
