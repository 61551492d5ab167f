// The decoder's system-call allow-list (libseccomp). What a decoder does
// once it is confined: memory, the descriptors it holds, time, its own
// threads and signals, exit; files are opened only as Landlock allows.
// The server compiles it once; each decoder puts its own pid in and loads
// it, which costs a small part of compiling it again.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/sched.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include <seccomp.h>

#include "common/scoped_fd.h"

#include "decoder/confinement.h"
#include "decoder/confinement_inside.h"

namespace corvanta::decoder {
namespace {

// Every family with what needs it.
constexpr std::array kAllowed = {
    // memory: every allocator, the shared pixels, loaders' scratch
    SCMP_SYS(brk),
    SCMP_SYS(mmap),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    // the descriptors it holds: the picture, the channel, the pixels, the
    // temporary files of loaders that need one
    SCMP_SYS(read),
    SCMP_SYS(pread64),
    SCMP_SYS(readv),
    SCMP_SYS(write),
    SCMP_SYS(pwrite64),
    SCMP_SYS(writev),
    SCMP_SYS(lseek),
    SCMP_SYS(close),
    SCMP_SYS(dup),
    SCMP_SYS(fcntl),
    SCMP_SYS(fstat),
    SCMP_SYS(fstatfs),
    SCMP_SYS(ftruncate),
    SCMP_SYS(fsync),
    SCMP_SYS(fdatasync),
    SCMP_SYS(flock),
    SCMP_SYS(sendmsg),
    SCMP_SYS(sendto),
    SCMP_SYS(recvmsg),
    SCMP_SYS(recvfrom),
    SCMP_SYS(poll),
    SCMP_SYS(ppoll),
    // descriptors that reach nothing outside: GLib's wakeups, and the
    // sanitizers' test of whether memory is readable
    SCMP_SYS(pipe2),
    SCMP_SYS(eventfd2),
    // paths, which Landlock judges: fonts, the MIME database, the temporary
    // folder
    SCMP_SYS(open),
    SCMP_SYS(openat),
    SCMP_SYS(stat),
    SCMP_SYS(lstat),
    SCMP_SYS(newfstatat),
    SCMP_SYS(statx),
    SCMP_SYS(statfs),
    SCMP_SYS(access),
    SCMP_SYS(faccessat),
    SCMP_SYS(faccessat2),
    SCMP_SYS(readlink),
    SCMP_SYS(readlinkat),
    SCMP_SYS(getdents64),
    SCMP_SYS(getcwd),
    SCMP_SYS(unlink),
    SCMP_SYS(unlinkat),
    SCMP_SYS(mkdir),
    SCMP_SYS(mkdirat),
    SCMP_SYS(rename),
    SCMP_SYS(renameat),
    SCMP_SYS(renameat2),
    SCMP_SYS(umask),
    // time
    SCMP_SYS(clock_gettime),
    SCMP_SYS(clock_getres),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(nanosleep),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(time),
    // threads of its own (librsvg, libheif): clone is judged by its flags
    SCMP_SYS(futex),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(rseq),
    SCMP_SYS(set_tid_address),
    SCMP_SYS(sched_yield),
    SCMP_SYS(sched_getaffinity),
    SCMP_SYS(membarrier),
    // signals, to itself only (see below); the kernel's returns
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    // what the process may know of itself, and its own limits
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(getppid),
    SCMP_SYS(getuid),
    SCMP_SYS(geteuid),
    SCMP_SYS(getgid),
    SCMP_SYS(getegid),
    SCMP_SYS(uname),
    SCMP_SYS(getrandom),
    SCMP_SYS(getrlimit),
    SCMP_SYS(setrlimit),
    SCMP_SYS(getrusage),
    SCMP_SYS(sysinfo),
    // the end
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
};

// Calls libraries probe for and do without: glibc 2.36 falls back from
// clone3 to clone for a thread, isatty asks a terminal.
struct Refused {
    int call;
    int error;
};
constexpr std::array kRefused = {
    Refused{SCMP_SYS(clone3), ENOSYS},
    Refused{SCMP_SYS(ioctl), ENOTTY},
};

bool Allow(scmp_filter_ctx filter, int call) {
    // A call this architecture lacks has a negative number: nothing to allow.
    return call < 0 || seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
}

// The calls allowed only for some first arguments: a thread but no
// process, a signal or a limit only for this process, a thread's name.
struct Narrow {
    int call;
    scmp_compare compare;
    scmp_datum_t value;
    scmp_datum_t masked = 0;  // what the masked value must be
};

// Where the compiled program compares with the decoder's pid: above any pid
// the kernel gives (at most 2^22), and like no other constant in it.
constexpr std::uint32_t kPidPlaceholder = 0x7E5A11EDU;

bool AllowNarrowly(scmp_filter_ctx filter, scmp_datum_t self) {
    const std::array narrow = {
        Narrow{SCMP_SYS(clone), SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD},
        Narrow{SCMP_SYS(tgkill), SCMP_CMP_EQ, self},
        Narrow{SCMP_SYS(kill), SCMP_CMP_EQ, self},
        Narrow{SCMP_SYS(prlimit64), SCMP_CMP_EQ, 0},
        Narrow{SCMP_SYS(prctl), SCMP_CMP_EQ, PR_SET_NAME},
        Narrow{SCMP_SYS(prctl), SCMP_CMP_EQ, PR_GET_NAME},
    };
    for (const Narrow& n : narrow) {
        scmp_arg_cmp first{};
        first.arg = 0;
        first.op = n.compare;
        first.datum_a = n.value;
        first.datum_b = n.masked;
        if (seccomp_rule_add(filter, SCMP_ACT_ALLOW, n.call, 1, first) != 0) {
            return false;
        }
    }
    return true;
}

bool AddRules(scmp_filter_ctx filter, scmp_datum_t self) {
    for (const int call : kAllowed) {
        if (!Allow(filter, call)) {
            return false;
        }
    }
    for (const Refused& refused : kRefused) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(static_cast<std::uint32_t>(refused.error)),
                             refused.call, 0) != 0) {
            return false;
        }
    }
    return AllowNarrowly(filter, self);
}

// libseccomp's rules as the kernel's program; empty when that fails.
std::vector<sock_filter> Exported(scmp_filter_ctx filter) {
    const ScopedFd file(memfd_create("corvanta-seccomp", MFD_CLOEXEC));
    struct stat info {};
    if (!file.Valid() || seccomp_export_bpf(filter, file.Get()) != 0 ||
        fstat(file.Get(), &info) != 0 || info.st_size <= 0 ||
        info.st_size % static_cast<off_t>(sizeof(sock_filter)) != 0) {
        return {};
    }
    std::vector<sock_filter> program(static_cast<std::size_t>(info.st_size) / sizeof(sock_filter));
    const auto bytes = static_cast<ssize_t>(program.size() * sizeof(sock_filter));
    return pread(file.Get(), program.data(), static_cast<std::size_t>(bytes), 0) == bytes
               ? program
               : std::vector<sock_filter>{};
}

std::vector<sock_filter> Compile(scmp_datum_t self) {
    // Killing only the thread (a kernel before 4.14) would leave the
    // process waiting for it.
    const std::uint32_t forbidden = seccomp_api_get() >= 3 ? SCMP_ACT_KILL_PROCESS : SCMP_ACT_TRAP;
    scmp_filter_ctx filter = seccomp_init(forbidden);
    if (filter == nullptr) {
        return {};
    }
    std::vector<sock_filter> program;
    if (AddRules(filter, self)) {
        program = Exported(filter);
    }
    seccomp_release(filter);
    return program;
}

std::vector<sock_filter>& Compiled() {
    static std::vector<sock_filter> program;
    return program;
}

}  // namespace

bool SystemCallFilterAvailable() {
    return seccomp_api_get() >= 1;
}

void CompileSystemCallFilter() {
    if (SystemCallFilterAvailable()) {
        Compiled() = Compile(kPidPlaceholder);
    }
}

bool FilterSystemCalls() {
    if (!SystemCallFilterAvailable()) {
        return true;
    }
    const auto self = static_cast<std::uint32_t>(getpid());
    std::vector<sock_filter> program = Compiled();
    if (program.empty()) {
        program = Compile(self);
    } else {
        for (sock_filter& step : program) {
            if (BPF_CLASS(step.code) == BPF_JMP && BPF_SRC(step.code) == BPF_K &&
                step.k == kPidPlaceholder) {
                step.k = self;
            }
        }
    }
    if (program.empty()) {
        return false;
    }
    sock_fprog loaded{};
    loaded.len = static_cast<unsigned short>(program.size());
    loaded.filter = program.data();
    return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &loaded) == 0;
}

}  // namespace corvanta::decoder
