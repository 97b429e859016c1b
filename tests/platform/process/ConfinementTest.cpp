// Code a hostile picture or page gets to run in a side program can reach nothing beyond it: the
// probe preloaded into the real programs (helpers/ConfinementProbe.c) tries, once the program is
// confined, what such code would, and Lumra's own memory is closed to the user's other programs.
#include "platform/image/ImageDecoding.h"
#include "platform/ocr/TesseractTextRecognizer.h"
#include "platform/ocr/TextRecognitionProgram.h"
#include "platform/process/Confinement.h"
#include "platform/richtext/HtmlConverter.h"

#include "platform/image/ImageFixtures.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// What a probe may find in this process's memory.
char g_secret[16] = "copied password";

// Under a sanitizer a program starts in seconds; this only bounds a program that never answers.
constexpr int patienceMs = 120'000;

struct ProbeRun {
    bool ready = false;
    QByteArray report; // "probe:<errno>\n", empty when the program ended first
    int status = 0;
};

// Reads `size` bytes, or up to the end of a line when `size` is 0; fewer at the end of the stream.
QByteArray receive(int socket, qsizetype size)
{
    QByteArray bytes;
    while (size > 0 ? bytes.size() < size : !bytes.endsWith('\n')) {
        pollfd ready {socket, POLLIN, 0};
        char byte = 0;
        if (::poll(&ready, 1, patienceMs) <= 0 || ::recv(socket, &byte, 1, 0) != 1)
            break;
        bytes.append(byte);
    }
    return bytes;
}

struct Started {
    pid_t process = 0;
    int socket = -1; // the test's end of the program's standard input and output
};

// `words` run as Lumra runs a side program, its standard input and output a socket, with the probe
// loaded and told to try `probe`.
Started start(QList<QByteArray> words, const QByteArray& probe, const QByteArray& path)
{
    std::vector<QByteArray> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "LD_PRELOAD=", 11) && std::strncmp(*entry, "ASAN_OPTIONS=", 13))
            environment.emplace_back(*entry);
    }
    // The probe is loaded first, ahead of the sanitizer's runtime.
    environment.push_back("ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    environment.push_back(QByteArray("LD_PRELOAD=") + LUMRA_CONFINEMENT_PROBE);
    environment.push_back("LUMRA_PROBE=" + probe);
    environment.push_back("LUMRA_PROBE_PATH=" + path);
    environment.push_back("LUMRA_PROBE_ADDRESS=0x" + QByteArray::number(quintptr(g_secret), 16));
    std::vector<char*> environmentPointers;
    for (QByteArray& entry : environment)
        environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);

    Started started;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return started;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDOUT_FILENO);
    std::vector<char*> arguments;
    for (QByteArray& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const int failed = ::posix_spawn(&started.process, words.front().constData(), &files, nullptr, arguments.data(),
                                     environmentPointers.data());
    posix_spawn_file_actions_destroy(&files);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        return {};
    }
    started.socket = ends[0];
    return started;
}

int waitFor(pid_t process)
{
    int status = 0;
    while (::waitpid(process, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The real program, started as Lumra starts it, with the probe loaded and told to try `probe`.
ProbeRun runProbe(const char* program, const QList<QByteArray>& modeArguments, const QByteArray& probe, const QByteArray& path)
{
    ProbeRun run;
    const Started started = start(QList<QByteArray> {program, QByteArray::number(qint64(::getpid()))} + modeArguments, probe, path);
    if (started.process <= 0)
        return run;
    run.ready = receive(started.socket, 8).size() == 8;
    // The program reads its first request, the probe tries and tells.
    if (run.ready)
        run.report = receive(started.socket, 0);
    ::close(started.socket);
    run.status = waitFor(started.process);
    return run;
}

// What another program of the user's, without the privilege to look into any process, reached of
// `target`: attached to it, opened its memory, took its descriptor 0. It runs as a child of this
// process, which is left as it was.
struct Reached {
    bool attached = true;
    bool memory = true;
    bool descriptor = true;
};

Reached whatOthersReach(pid_t target)
{
    const pid_t other = ::fork();
    if (other == 0) {
        // Root's power to look into any process is no ordinary program's.
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct capabilities[2] {};
        ::syscall(SYS_capget, &header, capabilities);
        capabilities[0].effective = capabilities[1].effective = 0;
        if (::syscall(SYS_capset, &header, capabilities) != 0)
            ::_exit(8);
        const bool attached = ::ptrace(PTRACE_SEIZE, target, 0, 0) == 0;
        // Its memory, through /proc or read directly; where /proc is closed to programs without
        // privileges, a read at address 0, never mapped, tells a refusal (EPERM) from a look that
        // found nothing there (EFAULT).
        const QByteArray memoryFile = "/proc/" + QByteArray::number(target) + "/mem";
        char copy[16];
        iovec local {copy, sizeof copy};
        iovec remote {nullptr, sizeof copy};
        const bool memory = ::open(memoryFile.constData(), O_RDONLY | O_CLOEXEC) >= 0
            || (::process_vm_readv(target, &local, 1, &remote, 1, 0) < 0 && errno == EFAULT);
        const int handle = int(::syscall(SYS_pidfd_open, target, 0));
        const bool took = handle >= 0 && ::syscall(SYS_pidfd_getfd, handle, 0, 0) >= 0;
        ::_exit((attached ? 1 : 0) | (memory ? 2 : 0) | (took ? 4 : 0));
    }
    const int status = waitFor(other);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 7)
        return {};
    return {(WEXITSTATUS(status) & 1) != 0, (WEXITSTATUS(status) & 2) != 0, (WEXITSTATUS(status) & 4) != 0};
}

struct Probe {
    const char* name;
    int refusal; // the errno it fails with, 0: the program is ended for it
};

// What code run in a confined program would try to reach beyond it, and how each ends.
const Probe hostileProbes[] {
    {"attach", 0},      {"read-memory", 0}, {"signal-parent", 0}, {"fork", 0},  {"vfork", 0},
    {"inet-socket", 0}, {"unix-socket", 0}, {"unlink", 0},        {"rename", 0}, {"truncate", 0}, {"chmod", 0},
    // A signal of its choosing to any process of the user's when Lumra next writes to it, and a
    // lease or lock that holds up whoever next opens or writes a file it was handed.
    {"fcntl-owner", 0}, {"fcntl-signal", 0}, {"fcntl-async", 0},  {"fcntl-lease", 0}, {"fcntl-lock", 0},
    {"fcntl-lock-wait", 0},
    // Fonts for a script not drawn yet are opened when first needed: that fails, and the glyph is
    // missing. Whether a file exists is not told either.
    {"open", EACCES}, {"stat", EACCES},
};

void expectConfined(const char* program, const QList<QByteArray>& modeArguments = {})
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("user-file"));
    for (const Probe& probe : hostileProbes) {
        SCOPED_TRACE(probe.name);
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("the user's");
            ASSERT_EQ(::fchmod(file.handle(), 0600), 0);
        }
        const ProbeRun run = runProbe(program, modeArguments, probe.name, QFile::encodeName(path));
        ASSERT_TRUE(run.ready) << "the program did not start";
        if (probe.refusal == 0) {
            EXPECT_EQ(run.report.toStdString(), "") << "the program went on after trying";
            EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGSYS) << "status " << run.status;
        } else {
            EXPECT_EQ(run.report.toStdString(), "probe:" + std::to_string(probe.refusal) + '\n');
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the user's file is gone";
        EXPECT_EQ(file.readAll().toStdString(), "the user's");
        struct stat status {};
        ASSERT_EQ(::fstat(file.handle(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    // Threads are still the program's own to start (text recognition runs in one), and a
    // descriptor's own flags and status its own to read and set.
    for (const char* allowed : {"thread", "fcntl-flags", "fstat"}) {
        SCOPED_TRACE(allowed);
        const ProbeRun run = runProbe(program, modeArguments, allowed, {});
        EXPECT_EQ(run.report.toStdString(), "probe:0\n");
        EXPECT_TRUE(WIFEXITED(run.status)) << "status " << run.status;
    }
}

} // namespace

TEST(SideProgramConfinement, CodeRunInTheImageDecoderReachesNothingBeyondIt)
{
    expectConfined(LUMRA_IMAGE_DECODER_PROGRAM);
}

TEST(SideProgramConfinement, CodeRunInTheHtmlConverterReachesNothingBeyondIt)
{
    expectConfined(LUMRA_HTML_CONVERTER_PROGRAM);
}

TEST(SideProgramConfinement, CodeRunInTextRecognitionReachesNothingBeyondIt)
{
    const QString tessdata = lumra::TesseractTextRecognizer::findTessdataFolder();
    if (tessdata.isEmpty())
        GTEST_SKIP() << "tesseract-ocr-eng is not installed";
    expectConfined(LUMRA_IMAGE_DECODER_PROGRAM, {lumra::ocr::programArgument, QFile::encodeName(tessdata)});
}

// Copies pass through the side programs: from their start no other program of the user's reaches
// into them, to read what they hold or to speak to Lumra on their socket.
TEST(SideProgramConfinement, NoOtherProgramOfTheUserReachesIntoASideProgram)
{
    QList<QList<QByteArray>> programs {{LUMRA_IMAGE_DECODER_PROGRAM}, {LUMRA_HTML_CONVERTER_PROGRAM}};
    if (const QString tessdata = lumra::TesseractTextRecognizer::findTessdataFolder(); !tessdata.isEmpty())
        programs.append({LUMRA_IMAGE_DECODER_PROGRAM, lumra::ocr::programArgument, QFile::encodeName(tessdata)});
    for (const QList<QByteArray>& program : programs) {
        SCOPED_TRACE(program.join(' ').toStdString());
        const Started started = start(QList<QByteArray> {program.front(), QByteArray::number(qint64(::getpid()))} + program.mid(1), {}, {});
        ASSERT_GT(started.process, 0);
        ASSERT_EQ(receive(started.socket, 8).size(), 8) << "the program did not start";
        const Reached reached = whatOthersReach(started.process);
        EXPECT_FALSE(reached.attached);
        EXPECT_FALSE(reached.memory);
        EXPECT_FALSE(reached.descriptor);
        ::close(started.socket);
        waitFor(started.process);
    }
}

namespace {

// The real bus relay between this test, as Lumra, and a listening socket that stands for the bus.
struct Relay {
    QTemporaryDir folder;
    Started started;
    int bus = -1;

    explicit Relay(const QByteArray& probe)
    {
        const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("bus")));
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(server, 1) != 0)
            return;
        started = start({LUMRA_BUS_RELAY, "unix:path=" + path}, probe, QFile::encodeName(folder.filePath(QStringLiteral("user-file"))));
        pollfd ready {server, POLLIN, 0};
        if (started.process > 0 && ::poll(&ready, 1, patienceMs) == 1)
            bus = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(server);
    }
    ~Relay()
    {
        for (const int fd : {bus, started.socket})
            if (fd >= 0)
                ::close(fd);
        if (started.process > 0)
            waitFor(started.process);
    }
    // The process that carries the bytes: the first one's child.
    pid_t carrier() const
    {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(started.process));
        return children.open(QIODevice::ReadOnly) ? pid_t(children.readAll().trimmed().toInt()) : 0;
    }
};

} // namespace

// The relay holds the socket on which Lumra's D-Bus library takes what comes as the bus's word:
// the process that carries the bytes is closed to other programs and can do nothing but carry them.
// The one the portal looks into, as the caller, holds nothing.
TEST(BusRelayConfinement, TheCarrierIsClosedToOthersAndConfinedToCarrying)
{
    Relay relay("fstat");
    ASSERT_GE(relay.bus, 0) << "the relay did not reach the bus";
    // A first message across: the probe in the carrier, confined by now, reports on Lumra's side.
    ASSERT_EQ(::write(relay.started.socket, "x", 1), 1);
    ASSERT_EQ(receive(relay.started.socket, 0).toStdString(), "probe:0\n");
    const pid_t carrier = relay.carrier();
    ASSERT_GT(carrier, 0);
    QFile status(QStringLiteral("/proc/%1/status").arg(carrier));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    EXPECT_TRUE(status.readAll().contains("\nSeccomp:\t2\n"));
    const Reached reached = whatOthersReach(carrier);
    EXPECT_FALSE(reached.attached);
    EXPECT_FALSE(reached.memory);
    EXPECT_FALSE(reached.descriptor);
    EXPECT_EQ(QDir(QStringLiteral("/proc/%1/fd").arg(relay.started.process)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList()) << "the process the portal looks into holds descriptors";

    const Probe probes[] {{"open", EACCES}, {"stat", EACCES}, {"unix-socket", 0}, {"attach", 0}, {"fork", 0}, {"signal-parent", 0}};
    for (const Probe& probe : probes) {
        SCOPED_TRACE(probe.name);
        Relay tried(probe.name);
        ASSERT_GE(tried.bus, 0);
        {
            QFile file(tried.folder.filePath(QStringLiteral("user-file")));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        ASSERT_EQ(::write(tried.started.socket, "x", 1), 1);
        const QByteArray report = receive(tried.started.socket, 0);
        if (probe.refusal != 0) {
            EXPECT_EQ(report.toStdString(), "probe:" + std::to_string(probe.refusal) + '\n');
            continue;
        }
        EXPECT_EQ(report.toStdString(), "") << "the carrier went on after trying";
        const int ended = waitFor(tried.started.process);
        tried.started.process = 0;
        // The first process tells the carrier's end as a shell does.
        EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 128 + SIGSYS) << "status " << ended;
    }
}

// The confinement leaves the programs what their work takes: every kind of picture, large ones,
// text in scripts whose fonts are not loaded yet, pages in any script.
TEST(SideProgramConfinement, PicturesOfEveryKindAndPagesInAnyScriptStillConvert)
{
    using namespace lumra::test;
    const QByteArray gif = QByteArray("GIF89a\x01\0\x01\0\x80\0\0", 13) + QByteArray("\0\0\0\xff\xff\xff", 6)
        + QByteArray("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3b", 16);
    const QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' width='300' height='40'><text x='2' y='20' "
                           "font-family='serif' font-weight='bold' font-style='italic'>中文 日本語 한국어 العربية "
                           "עברית ελληνικά кириллица देवनागरी ไทย 😀</text></svg>";
    const QList<QByteArray> pictures {
        encode(markedImage(40, 30), "png"), encode(markedImage(40, 30), "jpeg"), encode(markedImage(40, 30), "webp"),
        encode(markedImage(40, 30), "tiff"), encode(markedImage(40, 30), "bmp"), encode(markedImage(40, 30), "ico"),
        encode(markedImage(4000, 3000), "png"), gif, svg,
    };
    for (const QByteArray& picture : pictures) {
        const lumra::Result<QByteArray> png = lumra::image::pngData(picture);
        EXPECT_TRUE(png.ok()) << picture.left(12).toHex().toStdString() << ": " << png.error().toStdString();
    }
    lumra::RichText::HtmlConverter converter(lumra::RichText::HtmlConverter::installedProgram());
    const QByteArray rtf = converter.convert(QStringLiteral("<p style='font-family:monospace'><b>中文</b> <i>العربية</i> "
                                                            "кириллица 😀</p><table><tr><td>1</td></tr></table>"),
                                             std::chrono::seconds(20));
    EXPECT_TRUE(rtf.startsWith("{\\rtf1")) << rtf.left(40).toStdString();
}

// Another program of the user's, without the privilege to look into any process, tries to read
// the memory of a process that kept others out (a child here, so this one is left as it was).
TEST(LumraProcess, NoOtherProgramOfTheUserCanReadItsMemory)
{
    int toTest[2];
    int toChild[2];
    ASSERT_EQ(::pipe2(toTest, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    const pid_t lumra = ::fork();
    if (lumra == 0) {
        ::close(toChild[1]);
        const char kept = lumra::process::keepOtherProcessesOut() && !lumra::process::othersMayAttach() ? 'k' : 'o';
        (void)!::write(toTest[1], &kept, 1);
        char end = 0;
        (void)!::read(toChild[0], &end, 1);
        ::_exit(0);
    }
    ASSERT_GT(lumra, 0);
    char kept = 0;
    ASSERT_EQ(::read(toTest[0], &kept, 1), 1);
    EXPECT_EQ(kept, 'k');

    const pid_t other = ::fork();
    if (other == 0) {
        ::close(toChild[1]);
        // Root's power to look into any process is no ordinary program's.
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct capabilities[2] {};
        ::syscall(SYS_capget, &header, capabilities);
        capabilities[0].effective = capabilities[1].effective = 0;
        if (::syscall(SYS_capset, &header, capabilities) != 0)
            ::_exit(2);
        char copy[sizeof g_secret] {};
        iovec local {copy, sizeof copy};
        iovec remote {g_secret, sizeof copy};
        const bool read = ::process_vm_readv(lumra, &local, 1, &remote, 1, 0) == ssize_t(sizeof copy);
        const bool attached = ::ptrace(PTRACE_SEIZE, lumra, 0, 0) == 0;
        ::_exit(read || attached ? 1 : 0);
    }
    ASSERT_GT(other, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    ::close(toChild[1]);
    ASSERT_EQ(::waitpid(lumra, &status, 0), lumra);
    for (int fd : {toTest[0], toTest[1], toChild[0]})
        ::close(fd);
}

// The `lumra` command closes itself from its first line, before it looks for a running Lumra or
// loads anything: held at its first look at the runtime folder, it is closed already.
TEST(LumraProcess, TheCommandIsClosedToOtherProgramsFromItsFirstLine)
{
    QTemporaryDir dir;
    const QString runtime = dir.filePath(QStringLiteral("runtime-held"));
    const QString log = dir.filePath(QStringLiteral("held.log"));
    ASSERT_TRUE(QDir().mkdir(runtime));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LUMRA_REPLACES_PID"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // The shim that holds the look is loaded first, ahead of the sanitizer's runtime.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LUMRA_STALL_SHIM));
    environment.insert(QStringLiteral("LUMRA_STALL_PATHS"), runtime);
    environment.insert(QStringLiteral("LUMRA_STALL_LOG"), log);
    QProcess lumra;
    lumra.setProcessEnvironment(environment);
    lumra.setProcessChannelMode(QProcess::MergedChannels);
    lumra.start(QStringLiteral(LUMRA_COMMAND), {});
    ASSERT_TRUE(lumra.waitForStarted());
    const auto end = qScopeGuard([&] {
        lumra.kill();
        lumra.waitForFinished();
    });
    const auto held = [&] {
        QFile written(log);
        return written.open(QIODevice::ReadOnly) && written.readAll().contains("main");
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return held() || lumra.state() == QProcess::NotRunning; }, patienceMs));
    ASSERT_TRUE(held()) << lumra.readAll().constData();

    const Reached reached = whatOthersReach(pid_t(lumra.processId()));
    EXPECT_FALSE(reached.attached);
    EXPECT_FALSE(reached.memory);
    EXPECT_FALSE(reached.descriptor);
}
