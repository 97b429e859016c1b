// Runs a fuzz target once over every file of the folders (or files) it is given, the way
// `make test` keeps every input that once crashed or hung fixed. No fuzzing happens here.
//
// Each input is bounded as the fuzzer bounds it, so that an input that hangs or swells fails the
// replay, naming the input, instead of holding `make test` for minutes: CPU time through the
// process's CPU limit (LUMRA_REPLAY_CPU_SECONDS each, default 20: the replay runs the debug build
// under sanitizers, many times slower than the fuzzer's), time on the clock for an input that
// blocks and so spends no CPU (LUMRA_REPLAY_WALL_SECONDS, default 120: generous, for a machine
// busy many times over), memory above what the process held before the input (LUMRA_REPLAY_MB,
// default 1024), watched while it runs and checked at its peak.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

char g_input[4096]; // the input under way, for the signal handler and the watcher
std::atomic<bool> g_running {false};
std::atomic<long> g_baseKb {0};
long g_limitKb = 0;
long g_cpuSeconds = 0;
long g_wallSeconds = 0;
std::atomic<std::chrono::steady_clock::rep> g_startedAt {0};

void writeAll(const char* text) { (void)!::write(STDERR_FILENO, text, std::strlen(text)); }

[[noreturn]] void broke(const char* what)
{
    writeAll("replay: ");
    writeAll(g_input);
    writeAll(": ");
    writeAll(what);
    writeAll("\n");
    ::_exit(1);
}

void onCpuLimit(int) { broke("used more CPU time than an input may (LUMRA_REPLAY_CPU_SECONDS)"); }

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when it cannot be read.
long statusKb(const char* field)
{
    char buffer[8192];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    buffer[n] = 0;
    const size_t length = std::strlen(field);
    for (const char* line = buffer; line && *line; line = std::strchr(line, '\n') ? std::strchr(line, '\n') + 1 : nullptr)
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            return std::strtol(line + length + 1, nullptr, 10);
    return -1;
}

// Starts the peak resident size afresh; false where the kernel does not allow it.
bool resetPeak()
{
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return ok;
}

long limitFromEnvironment(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    const long parsed = value ? std::strtol(value, nullptr, 10) : 0;
    return parsed > 0 ? parsed : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    g_cpuSeconds = limitFromEnvironment("LUMRA_REPLAY_CPU_SECONDS", 20);
    g_limitKb = limitFromEnvironment("LUMRA_REPLAY_MB", 1024) * 1024;
    g_wallSeconds = limitFromEnvironment("LUMRA_REPLAY_WALL_SECONDS", 120);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else {
            files << path;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.isEmpty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onCpuLimit;
    ::sigaction(SIGXCPU, &action, nullptr);
    std::atomic<bool> done {false};
    std::thread watcher([&done] {
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const long rss = statusKb("VmRSS");
            if (g_running.load() && rss > 0 && rss - g_baseKb.load() > g_limitKb)
                broke("used more memory than an input may (LUMRA_REPLAY_MB)");
            const auto running = std::chrono::steady_clock::duration(
                std::chrono::steady_clock::now().time_since_epoch().count() - g_startedAt.load());
            if (g_running.load() && running > std::chrono::seconds(g_wallSeconds))
                broke("took longer on the clock than an input may (LUMRA_REPLAY_WALL_SECONDS)");
        }
    });

    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray data = file.readAll();
        std::snprintf(g_input, sizeof g_input, "%s", qPrintable(path));
        std::fprintf(stderr, "replay: %s\n", g_input);

        rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        const rlimit cpu {rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1 + g_cpuSeconds), RLIM_INFINITY};
        ::setrlimit(RLIMIT_CPU, &cpu);
        const bool peakKnown = resetPeak();
        g_baseKb = statusKb("VmRSS");
        g_startedAt = std::chrono::steady_clock::now().time_since_epoch().count();
        g_running = true;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
        g_running = false;
        const long peak = peakKnown ? statusKb("VmHWM") : -1;
        if (peak > 0 && peak - g_baseKb.load() > g_limitKb)
            broke("used more memory than an input may (LUMRA_REPLAY_MB)");
    }
    done = true;
    watcher.join();
    const rlimit unlimited {RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_CPU, &unlimited);
    std::printf("%lld inputs replayed\n", static_cast<long long>(files.size()));
    return 0;
}
