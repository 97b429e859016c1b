#include "platform/process/Confinement.h"

#include "platform/core/Sanitizer.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <vector>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/sched.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef PR_SET_VMA
#define PR_SET_VMA 0x53564d41
#endif

namespace lumra::process {

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "an argument's low word is read first");

// Calls that reach beyond the program: whoever makes one is not decoding anything.
const std::vector<long>& fatalCalls()
{
    static const std::vector<long> calls {
        __NR_ptrace, __NR_process_vm_readv, __NR_process_vm_writev, __NR_kcmp, __NR_pidfd_open, __NR_pidfd_getfd,
        __NR_pidfd_send_signal, __NR_rt_sigqueueinfo, __NR_rt_tgsigqueueinfo, __NR_execve, __NR_execveat,
        __NR_socket, __NR_socketpair, __NR_connect, __NR_bind, __NR_listen, __NR_accept, __NR_accept4,
        __NR_unlinkat, __NR_renameat2, __NR_truncate, __NR_ftruncate, __NR_fallocate, __NR_fchmod, __NR_fchmodat,
        __NR_fchown, __NR_fchownat, __NR_linkat, __NR_symlinkat, __NR_mkdirat, __NR_mknodat, __NR_utimensat,
        __NR_setxattr, __NR_lsetxattr, __NR_fsetxattr, __NR_removexattr, __NR_lremovexattr, __NR_fremovexattr,
        __NR_name_to_handle_at, __NR_open_by_handle_at, __NR_setns, __NR_unshare, __NR_mount, __NR_umount2,
        __NR_pivot_root, __NR_chroot, __NR_bpf, __NR_perf_event_open, __NR_userfaultfd, __NR_io_uring_setup,
        __NR_io_uring_enter, __NR_io_uring_register, __NR_keyctl, __NR_add_key, __NR_request_key,
        __NR_process_madvise, __NR_personality,
#ifdef __NR_renameat
        __NR_renameat,
#endif
#ifdef __NR_fork
        __NR_fork, __NR_vfork, __NR_unlink, __NR_rmdir, __NR_rename, __NR_chmod,
        __NR_chown, __NR_lchown, __NR_link, __NR_symlink, __NR_mkdir, __NR_mknod, __NR_creat, __NR_utime,
        __NR_utimes, __NR_futimesat,
#endif
    };
    return calls;
}

// What reading a request, decoding or converting it and answering take.
const std::vector<long>& allowedCalls()
{
    static const std::vector<long> calls {
        __NR_read, __NR_readv, __NR_pread64, __NR_recvfrom, __NR_recvmsg, __NR_write, __NR_writev, __NR_sendto,
        __NR_sendmsg, __NR_close, __NR_fstat, __NR_lseek, __NR_ppoll,
        __NR_mmap, __NR_munmap, __NR_mprotect, __NR_mremap, __NR_madvise, __NR_brk,
        __NR_futex, __NR_set_robust_list, __NR_rseq, __NR_sched_yield, __NR_sched_getaffinity, __NR_eventfd2,
        __NR_clock_gettime, __NR_clock_getres, __NR_clock_nanosleep, __NR_nanosleep, __NR_gettimeofday, __NR_getrusage,
        __NR_rt_sigreturn, __NR_rt_sigprocmask, __NR_rt_sigaction, __NR_sigaltstack, __NR_restart_syscall,
        __NR_getpid, __NR_gettid, __NR_getuid, __NR_geteuid, __NR_getgid, __NR_getegid, __NR_getrandom,
        __NR_exit, __NR_exit_group,
#ifdef __NR_poll
        __NR_poll, __NR_time,
#endif
#ifdef LUMRA_ADDRESS_SANITIZER
        __NR_pipe2, // the sanitizer tells readable memory by writing it into a pipe
#endif
    };
    return calls;
}

class Filter {
public:
    void load(__u32 offset) { add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
    void loadNumber() { load(offsetof(seccomp_data, nr)); }
    void loadArgument(int index) { load(__u32(offsetof(seccomp_data, args) + index * sizeof(__u64))); }
    void ret(__u32 action) { add(BPF_STMT(BPF_RET | BPF_K, action)); }
    // Next instruction when the accumulator equals `value`, else the one after it.
    void skipIfEqual(__u32 value, __u8 skip) { add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, skip, 0)); }
    void skipUnlessEqual(__u32 value, __u8 skip) { add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, skip)); }
    // `action` when the accumulator holds `value`.
    void on(long value, __u32 action)
    {
        skipUnlessEqual(__u32(value), 1);
        ret(action);
    }
    void add(sock_filter instruction) { m_code.push_back(instruction); }

    bool install() const
    {
        const sock_fprog program {static_cast<unsigned short>(m_code.size()), const_cast<sock_filter*>(m_code.data())};
        return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
    }

private:
    std::vector<sock_filter> m_code;
};

constexpr __u32 allow = SECCOMP_RET_ALLOW;
constexpr __u32 fatal = SECCOMP_RET_KILL_PROCESS;
constexpr __u32 fails(int error) { return SECCOMP_RET_ERRNO | (__u32(error) & SECCOMP_RET_DATA); }

// What carrying bytes between two sockets already open takes, and ending.
const std::vector<long>& carryingCalls()
{
    static const std::vector<long> calls {
        __NR_read, __NR_write, __NR_ppoll, __NR_close, __NR_fstat, __NR_mmap, __NR_munmap, __NR_mremap, __NR_madvise, __NR_brk,
        __NR_futex, __NR_rt_sigreturn, __NR_exit, __NR_exit_group,
#ifdef __NR_poll
        __NR_poll,
#endif
#ifdef LUMRA_ADDRESS_SANITIZER
        __NR_pipe2, __NR_sigaltstack, // the sanitizer looks at its signal stack before every call that does not return
#endif
    };
    return calls;
}

// The C library's fstat is newfstatat(fd, "", AT_EMPTY_PATH), but the same call with a path names
// any file, and a filter cannot read the path: it is trapped here and done as fstat on the descriptor
// when the path is empty, refused otherwise.
void statDescriptorOnly(int, siginfo_t* info, void* context)
{
    auto* state = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    greg_t* registers = state->uc_mcontext.gregs;
    const long descriptor = registers[REG_RDI];
    const auto* path = reinterpret_cast<const char*>(registers[REG_RSI]);
    const long buffer = registers[REG_RDX];
    greg_t& result = registers[REG_RAX];
#elif defined(__aarch64__)
    auto& registers = state->uc_mcontext.regs;
    const long descriptor = long(registers[0]);
    const auto* path = reinterpret_cast<const char*>(registers[1]);
    const long buffer = long(registers[2]);
    auto& result = registers[0];
#endif
    if (info->si_syscall != __NR_newfstatat || !path || *path) {
        result = -EACCES;
        return;
    }
    const int savedError = errno;
    const long done = ::syscall(__NR_fstat, descriptor, buffer);
    result = done < 0 ? -errno : done;
    errno = savedError;
}

// The rules every side program is held to; the caller adds what its work takes and the default.
bool startFilter(Filter& filter)
{
#if defined(__x86_64__)
    constexpr __u32 architecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr __u32 architecture = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
#ifndef __NR_openat2
#define __NR_openat2 437
#endif
    const __u32 self = __u32(::getpid());
    filter.load(offsetof(seccomp_data, arch));
    filter.skipIfEqual(architecture, 1);
    filter.ret(fatal);
    filter.loadNumber();
    // The x32 numbers of the same calls.
    filter.add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1));
    filter.ret(fails(EACCES));
    for (const long call : fatalCalls())
        filter.on(call, fatal);
    // Threads, not processes: a clone without CLONE_THREAD is a fork.
    filter.skipUnlessEqual(__NR_clone, 4);
    filter.loadArgument(0);
    filter.add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 0, 1));
    filter.ret(allow);
    filter.ret(fatal);
    // Without its flags in reach, the C library falls back to clone.
    filter.on(__NR_clone3, fails(ENOSYS));
    // Signals to itself only (abort raises one).
    for (const long call : {long(__NR_kill), long(__NR_tgkill)}) {
        filter.skipUnlessEqual(__u32(call), 4);
        filter.loadArgument(0);
        filter.skipIfEqual(self, 1);
        filter.ret(fatal);
        filter.ret(allow);
    }
    // Naming itself and its memory; nothing that changes what it may do.
    const std::initializer_list<long> options {PR_GET_DUMPABLE, PR_SET_NAME, PR_GET_NAME, PR_SET_VMA};
    filter.skipUnlessEqual(__NR_prctl, __u8(2 * options.size() + 2));
    filter.loadArgument(0);
    for (const long option : options)
        filter.on(option, allow);
    filter.ret(fails(EPERM));
    // A descriptor's own flags only. The rest reach other processes: a signal of the program's choosing
    // sent to any of them when the socket turns ready (owner, signal, O_ASYNC), or a lease on a file
    // that holds up whoever opens it next.
    filter.skipUnlessEqual(__NR_fcntl, 8);
    filter.loadArgument(1);
    filter.add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, F_GETFD, 0, 5));
    filter.add(BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, F_SETFL, 4, 0));
    filter.skipUnlessEqual(F_SETFL, 2);
    filter.loadArgument(2);
    filter.add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_ASYNC, 1, 0));
    filter.ret(allow);
    filter.ret(fatal);
#ifdef __NR_open
    filter.on(__NR_open, fails(EACCES));
#endif
    filter.on(__NR_openat, fails(EACCES));
    filter.on(__NR_openat2, fails(EACCES));
    // Whether a file exists is not the program's to learn either: a status by descriptor only
    // (statDescriptorOnly), and statx, which Qt tries first, as missing, so that it takes that road.
    filter.skipUnlessEqual(__NR_newfstatat, 4);
    filter.loadArgument(3);
    filter.add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 0, 1));
    filter.ret(SECCOMP_RET_TRAP);
    filter.ret(fails(EACCES));
    filter.on(__NR_statx, fails(ENOSYS));
    return true;
}

// `calls` and `alsoAllowed` after the rules every side program is held to; any other call fails.
bool confineTo(const std::vector<long>& calls, std::initializer_list<long> alsoAllowed)
{
    Filter filter;
    if (!startFilter(filter))
        return false;
    for (const long call : calls)
        filter.on(call, allow);
    for (const long call : alsoAllowed)
        filter.on(call, allow);
    filter.ret(fails(EPERM));
    struct sigaction trap {};
    trap.sa_sigaction = statDescriptorOnly;
    trap.sa_flags = SA_SIGINFO;
    sigemptyset(&trap.sa_mask);
    sigset_t trapped;
    sigemptyset(&trapped);
    sigaddset(&trapped, SIGSYS);
    return ::sigaction(SIGSYS, &trap, nullptr) == 0 && ::sigprocmask(SIG_UNBLOCK, &trapped, nullptr) == 0 && filter.install();
}

} // namespace

bool confine(std::initializer_list<long> alsoAllowed) { return confineTo(allowedCalls(), alsoAllowed); }

bool confineToCarrying(std::initializer_list<long> alsoAllowed) { return confineTo(carryingCalls(), alsoAllowed); }

bool keepOtherProcessesOut() { return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0; }

bool othersMayAttach() { return ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 1; }

} // namespace lumra::process
