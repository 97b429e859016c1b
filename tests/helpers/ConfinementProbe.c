// Preloaded into a side program under test: when the program first reads a request, which it does
// only once it has confined itself, it tries what LUMRA_PROBE names (on LUMRA_PROBE_PATH, its
// parent, or LUMRA_PROBE_ADDRESS in its parent's memory) and writes "probe:<errno>\n", 0 when the
// attempt succeeded, on its standard output. A program the attempt ended writes nothing.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

static ssize_t (*nextRead)(int, void*, size_t);
static ssize_t (*nextRecvmsg)(int, struct msghdr*, int);
static int probed;
static int heldFile = -1; // LUMRA_PROBE_PATH, as a file handed along with a request would be

// Looked up while the program may still open its libraries.
__attribute__((constructor)) static void findRead(void)
{
    nextRead = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    nextRecvmsg = (ssize_t(*)(int, struct msghdr*, int))dlsym(RTLD_NEXT, "recvmsg");
    const char* path = getenv("LUMRA_PROBE_PATH");
    if (path && *path)
        heldFile = open(path, O_RDONLY | O_CLOEXEC);
}

static void* nothing(void* unused) { return unused; }

static int leave(void* unused) { return unused != NULL; }

// 0 when `probe` succeeded, else why not.
static int attempt(const char* probe)
{
    const char* path = getenv("LUMRA_PROBE_PATH");
    const pid_t parent = getppid();
    int done = -1;
    if (!strcmp(probe, "attach")) {
        done = (int)ptrace(PTRACE_ATTACH, parent, 0, 0);
        if (done == 0) { // let the parent go on
            int status = 0;
            waitpid(parent, &status, __WALL);
            ptrace(PTRACE_DETACH, parent, 0, 0);
        }
    } else if (!strcmp(probe, "read-memory")) {
        char copy[16];
        struct iovec local = {copy, sizeof copy};
        struct iovec remote = {(void*)strtoull(getenv("LUMRA_PROBE_ADDRESS"), NULL, 0), sizeof copy};
        done = process_vm_readv(parent, &local, 1, &remote, 1, 0) == (ssize_t)sizeof copy ? 0 : -1;
    } else if (!strcmp(probe, "signal-parent")) {
        done = kill(parent, 0);
    } else if (!strcmp(probe, "fork")) {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        done = child > 0 ? waitpid(child, NULL, 0) > 0 ? 0 : -1 : -1;
    } else if (!strcmp(probe, "vfork")) {
        // A process sharing the memory, as posix_spawn starts one: still a process, not a thread.
        static char stack[64 * 1024];
        const pid_t child = clone(leave, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, NULL);
        done = child > 0 ? waitpid(child, NULL, 0) > 0 ? 0 : -1 : -1;
    } else if (!strcmp(probe, "inet-socket")) {
        done = socket(AF_INET, SOCK_DGRAM, 0) >= 0 ? 0 : -1;
    } else if (!strcmp(probe, "unix-socket")) {
        done = socket(AF_UNIX, SOCK_STREAM, 0) >= 0 ? 0 : -1;
    } else if (!strcmp(probe, "stat")) {
        struct stat status;
        done = stat(path, &status);
    } else if (!strcmp(probe, "fstat")) {
        struct stat status;
        done = fstat(STDIN_FILENO, &status);
    } else if (!strcmp(probe, "open")) {
        done = open(path, O_RDONLY | O_CLOEXEC) >= 0 ? 0 : -1;
    } else if (!strcmp(probe, "unlink")) {
        done = unlink(path);
    } else if (!strcmp(probe, "rename")) {
        char moved[4096];
        snprintf(moved, sizeof moved, "%s.moved", path);
        done = rename(path, moved);
    } else if (!strcmp(probe, "truncate")) {
        done = truncate(path, 0);
    } else if (!strcmp(probe, "chmod")) {
        done = chmod(path, 0777);
    } else if (!strcmp(probe, "fcntl-owner")) {
        done = fcntl(STDIN_FILENO, F_SETOWN, parent);
    } else if (!strcmp(probe, "fcntl-signal")) {
        done = fcntl(STDIN_FILENO, F_SETSIG, SIGUSR2);
    } else if (!strcmp(probe, "fcntl-async")) {
        done = fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_ASYNC);
    } else if (!strcmp(probe, "fcntl-lease")) {
        done = fcntl(heldFile, F_SETLEASE, F_RDLCK);
    } else if (!strcmp(probe, "fcntl-lock") || !strcmp(probe, "fcntl-lock-wait")) {
        struct flock lock = {.l_type = F_RDLCK, .l_whence = SEEK_SET};
        done = fcntl(heldFile, strcmp(probe, "fcntl-lock") ? F_SETLKW : F_SETLK, &lock);
    } else if (!strcmp(probe, "fcntl-flags")) {
        const int flags = fcntl(STDIN_FILENO, F_GETFL);
        const int descriptor = fcntl(STDIN_FILENO, F_GETFD);
        done = flags >= 0 && descriptor >= 0 && fcntl(STDIN_FILENO, F_SETFL, flags) == 0
                && fcntl(STDIN_FILENO, F_SETFD, descriptor) == 0 ? 0 : -1;
    } else if (!strcmp(probe, "thread")) {
        pthread_t thread;
        errno = pthread_create(&thread, NULL, nothing, NULL);
        done = errno == 0 ? pthread_join(thread, NULL) : -1;
    } else {
        errno = EINVAL;
    }
    return done == 0 ? 0 : errno;
}

static void probeOnce(int fd)
{
    const char* probe = getenv("LUMRA_PROBE");
    if (fd == STDIN_FILENO && probe && !probed) {
        probed = 1;
        char report[32];
        const int length = snprintf(report, sizeof report, "probe:%d\n", attempt(probe));
        (void)!write(STDOUT_FILENO, report, (size_t)length);
    }
}

ssize_t read(int fd, void* data, size_t size)
{
    probeOnce(fd);
    return nextRead(fd, data, size);
}

// A program that takes a descriptor along with its request reads the request this way.
ssize_t recvmsg(int fd, struct msghdr* message, int flags)
{
    probeOnce(fd);
    return nextRecvmsg(fd, message, flags);
}
