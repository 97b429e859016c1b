// Preloaded into a Lumra under test: opening or looking up a path that contains the text in
// LUMRA_STALL_PATHS does not return, as on a network mount whose server went away, until the file
// LUMRA_STALL_UNTIL exists (never, without it): then the server is back. Each stalled call first
// appends a line to LUMRA_STALL_LOG ("main" or "worker"), so the test knows a thread is stuck
// before it goes on.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static void stallOn(const char* path)
{
    const char* marker = getenv("LUMRA_STALL_PATHS");
    if (!path || !marker || !*marker || !strstr(path, marker))
        return;
    const char* log = getenv("LUMRA_STALL_LOG");
    if (log) {
        const int fd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const char* who = syscall(SYS_gettid) == getpid() ? "main\n" : "worker\n";
            (void)!write(fd, who, strlen(who));
            close(fd);
        }
    }
    const char* until = getenv("LUMRA_STALL_UNTIL");
    if (!until || !*until) {
        for (;;)
            pause();
    }
    while (syscall(SYS_faccessat, AT_FDCWD, until, F_OK, 0) != 0)
        usleep(20000);
}

#define NEXT(fn)                                                                                   \
    static __typeof__(&fn) next;                                                                   \
    if (!next)                                                                                     \
    next = (__typeof__(&fn))dlsym(RTLD_NEXT, #fn)

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = va_arg(args, mode_t);
    va_end(args);
    stallOn(path);
    NEXT(open);
    return next(path, flags, mode);
}

// The same call on a 64-bit system.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dir, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = va_arg(args, mode_t);
    va_end(args);
    stallOn(path);
    NEXT(openat);
    return next(dir, path, flags, mode);
}

int stat(const char* path, struct stat* buf)
{
    stallOn(path);
    NEXT(stat);
    return next(path, buf);
}

int lstat(const char* path, struct stat* buf)
{
    stallOn(path);
    NEXT(lstat);
    return next(path, buf);
}

int statx(int dir, const char* path, int flags, unsigned int mask, struct statx* buf)
{
    stallOn(path);
    NEXT(statx);
    return next(dir, path, flags, mask, buf);
}
