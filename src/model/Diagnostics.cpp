#include "model/Diagnostics.h"

#include "platform/core/BackgroundWork.h"
#include "platform/core/Clock.h"
#include "platform/core/Folders.h"
#include "platform/files/FileChecks.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QSysInfo>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef LUMRA_VERSION
#define LUMRA_VERSION ""
#endif
#ifndef LUMRA_BUILD_NUMBER
#define LUMRA_BUILD_NUMBER ""
#endif

namespace lumra {

namespace {

constexpr qint64 rotateAtBytes = 5 * 1024 * 1024;
// The log and one record past its rotation, with room to spare; a bigger file is not Lumra's log.
constexpr qint64 maxReadBytes = 4 * rotateAtBytes;

const char* levelName(Diagnostics::Level level)
{
    switch (level) {
    case Diagnostics::Level::debug: return "DEBUG";
    case Diagnostics::Level::info: return "INFO";
    case Diagnostics::Level::warn: return "WARN";
    case Diagnostics::Level::error: return "ERROR";
    }
    return "DEBUG";
}

// One record is one line: control characters are escaped so no text can forge another record.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\') {
            out += QLatin1String("\\\\");
        } else if (u == '\n') {
            out += QLatin1String("\\n");
        } else if (u == '\r') {
            out += QLatin1String("\\r");
        } else if (u == '\t') {
            out += QLatin1String("\\t");
        } else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

QString readTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

// A single worker thread runs every file operation in submission order.
struct Diagnostics::Private {
    bool enabled = false;
    QString logPath;
    std::atomic<qint64> lostCopies = 0;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    bool refusalSaid = false; // worker only
    std::unique_ptr<BackgroundWork::OwnThread> worker;

    void run()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !tasks.empty(); });
                if (tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    void submit(std::function<void()> task)
    {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        wake.notify_one();
    }

    template <typename T>
    T submitAndWait(std::function<T()> task)
    {
        std::packaged_task<T()> packaged(std::move(task));
        auto future = packaged.get_future();
        auto shared = std::make_shared<std::packaged_task<T()>>(std::move(packaged));
        submit([shared] { (*shared)(); });
        return future.get();
    }

    // Opens the log for writing only when it is a regular file (created 0600 when missing): a FIFO
    // or a device planted at its path would hold the log's worker, and those who wait for it. The
    // first refusal is said once on stderr; -1 then.
    int openForWriting(int flags)
    {
        const int fd = ::open(QFile::encodeName(logPath).constData(),
                              flags | O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
        struct stat st {};
        const bool refused = fd < 0 ? errno == ENXIO : ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
        if (refused && !refusalSaid) {
            refusalSaid = true;
            const QByteArray message = "Lumra: the diagnostics log " + QFile::encodeName(logPath)
                + " is not a regular file; nothing is written to it.\n";
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message.constData(), size_t(message.size()));
        }
        if (fd >= 0 && refused) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // Appends never truncate: O_APPEND; a failed write loses that record only.
    void append(const QByteArray& bytes)
    {
        const QByteArray native = QFile::encodeName(logPath);
        struct stat st {};
        if (::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size + bytes.size() > rotateAtBytes) {
            const QByteArray rotated = native + ".1";
            ::rename(native.constData(), rotated.constData());
        }
        const int fd = openForWriting(O_APPEND);
        if (fd < 0)
            return;
        writeAll(fd, bytes);
        ::close(fd);
    }
};

Diagnostics::Diagnostics(QString logPath) : d(new Private)
{
    d->logPath = logPath.isEmpty() ? Folders::supportFolder() + QStringLiteral("/diagnostics.log") : std::move(logPath);
    d->worker = BackgroundWork::current().thread("lumra-log", [this] { d->run(); });
}

Diagnostics::~Diagnostics()
{
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_one();
    d->worker.reset();
    delete d;
}

Diagnostics& Diagnostics::shared()
{
    static Diagnostics* instance = new Diagnostics; // lives until the process ends
    return *instance;
}

bool Diagnostics::isEnabled() const { return d->enabled; }
void Diagnostics::setEnabled(bool enabled) { d->enabled = enabled; }
QString Diagnostics::logPath() const { return d->logPath; }

void Diagnostics::log(Level level, const QString& category, const QString& message)
{
    if (!d->enabled)
        return;
    const QString time = Clock::shared().now().toUTC().toString(Qt::ISODateWithMs);
    const QString line = QLatin1Char('[') + time + QLatin1String("] [") + QLatin1String(levelName(level))
        + QLatin1String("] [") + escaped(category) + QLatin1String("] ") + escaped(message) + QLatin1Char('\n');
    QByteArray bytes = line.toUtf8();
    d->submit([this, bytes = std::move(bytes)] { d->append(bytes); });
}

void Diagnostics::logDiagnosticInfo(int itemCount, bool cloudSyncEnabled)
{
    const QString category = QStringLiteral("AppDelegate");
    debug(category, QStringLiteral("--- Diagnostic Info ---"));
    debug(category, QStringLiteral("App: ") + appVersionText());
    debug(category, QStringLiteral("OS: ") + osVersionText());
    debug(category, QStringLiteral("Device: ") + hardwareModel());
    debug(category, QStringLiteral("Locale: ") + QLocale().name());
    debug(category, QStringLiteral("Items: ") + QString::number(itemCount));
    debug(category, QStringLiteral("Sync enabled: ") + (cloudSyncEnabled ? QStringLiteral("true") : QStringLiteral("false")));
    debug(category, QString(23, QLatin1Char('-')));
}

void Diagnostics::countLostCopies(qint64 count) { d->lostCopies += count; }
qint64 Diagnostics::lostCopies() const { return d->lostCopies.load(); }

void Diagnostics::writeDiagnosticsLog()
{
    d->submitAndWait<void>([this] {
        if (const int fd = d->openForWriting(O_TRUNC); fd >= 0)
            ::close(fd);
    });
}

std::optional<QString> Diagnostics::readDiagnosticsLog()
{
    return d->submitAndWait<std::optional<QString>>([path = d->logPath]() -> std::optional<QString> {
        const std::optional<QByteArray> bytes = readRegularFile(path, maxReadBytes);
        if (!bytes)
            return std::nullopt;
        auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(*bytes);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    });
}

void Diagnostics::flush()
{
    d->submitAndWait<void>([] { });
}

QString Diagnostics::appVersionText()
{
    const QString version = QStringLiteral(LUMRA_VERSION);
    const QString build = QStringLiteral(LUMRA_BUILD_NUMBER);
    return (version.isEmpty() ? QStringLiteral("?") : version) + QStringLiteral(" (")
        + (build.isEmpty() ? QStringLiteral("?") : build) + QLatin1Char(')');
}

QString Diagnostics::osVersionText()
{
    // The distribution's own name, then the kernel: "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64".
    return QSysInfo::prettyProductName() + QStringLiteral(", Linux ") + QSysInfo::kernelVersion();
}

QString Diagnostics::hardwareModel()
{
    const QString product = readTextFile(QStringLiteral("/sys/class/dmi/id/product_name"));
    if (product.isEmpty())
        return QStringLiteral("computer");
    const QString vendor = readTextFile(QStringLiteral("/sys/class/dmi/id/sys_vendor"));
    return vendor.isEmpty() || product.startsWith(vendor) ? product : vendor + QLatin1Char(' ') + product;
}

} // namespace lumra
