#include "Confinement.h"

#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <utility>

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TWINFOLD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TWINFOLD_ASAN 1
#endif
#endif

namespace {
constexpr rlim_t AddressSpace = rlim_t(1) << 30;
#ifdef TWINFOLD_ASAN
// Checked builds run several times slower.
constexpr rlim_t CpuSeconds = 12;
#else
constexpr rlim_t CpuSeconds = 4;
#endif

bool setLimit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit limit{soft, hard};
    return setrlimit(resource, &limit) == 0;
}
#if defined(__x86_64__)
constexpr std::uint32_t FilteredArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t FilteredArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t FilteredArch = 0; // no filter: the system call numbers are not known here
#endif

// System calls refused outright, and those allowed only aimed at this process itself.
constexpr long Refused[] = {
    SYS_socket,
    SYS_socketpair,
    SYS_connect,
    SYS_bind,
    SYS_listen,
    SYS_accept,
    SYS_accept4,
    SYS_tkill,
    SYS_pidfd_open,
    SYS_pidfd_send_signal,
    SYS_pidfd_getfd,
    SYS_process_vm_readv,
    SYS_process_vm_writev,
    SYS_io_uring_setup, // its operations would pass the filter
#ifndef TWINFOLD_ASAN
    SYS_ptrace, // the leak checker traces its own threads
#endif
};
constexpr long OnlyToItself[] = {SYS_kill, SYS_tgkill, SYS_rt_sigqueueinfo, SYS_rt_tgsigqueueinfo};
} // namespace

void closeInheritedDescriptors()
{
    if (::close_range(STDERR_FILENO + 1, ~0U, 0) == 0)
        return;
    // Kernels before 5.9: what /proc lists, else every number below the limit.
    if (DIR *folder = ::opendir("/proc/self/fd")) {
        std::array<int, 256> found{};
        std::size_t count = 0;
        do {
            count = 0;
            ::rewinddir(folder);
            while (const dirent *entry = ::readdir(folder)) {
                const int fd = std::atoi(entry->d_name);
                if (fd > STDERR_FILENO && fd != ::dirfd(folder) && count < found.size())
                    found[count++] = fd;
            }
            for (std::size_t i = 0; i < count; ++i)
                ::close(found[i]);
        } while (count == found.size());
        ::closedir(folder);
        return;
    }
    rlimit limit{};
    const rlim_t end = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? std::min<rlim_t>(limit.rlim_cur, 1 << 20) : 1024;
    for (rlim_t fd = STDERR_FILENO + 1; fd < end; ++fd)
        ::close(int(fd));
}

bool limitResources()
{
    bool ok = true;
#ifndef TWINFOLD_ASAN
    ok = setLimit(RLIMIT_AS, AddressSpace, AddressSpace) && ok;
#endif
    // SIGXCPU at the soft limit ends the process; the hard limit is the kernel's SIGKILL.
    ok = setLimit(RLIMIT_CPU, CpuSeconds, CpuSeconds + 1) && ok;
    ok = setLimit(RLIMIT_CORE, 0, 0) && ok;
    // The window that waits for the picture comes first when the processors are busy.
    errno = 0;
    ok = (::nice(10) != -1 || errno == 0) && ok;
    ok = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ok;
    return ok;
}

FileAccess forbidFileAccess(const QStringList &readableFolders)
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return FileAccess::NotAvailable;

    std::uint64_t handled = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // every right of the first version
    if (abi >= 2)
        handled |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        handled |= LANDLOCK_ACCESS_FS_TRUNCATE;
    landlock_ruleset_attr ruleset{};
    ruleset.handled_access_fs = handled;
    const int rules = int(syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
    if (rules < 0)
        return FileAccess::Failed;

    QStringList folders = readableFolders;
#ifdef TWINFOLD_ASAN
    // The sanitizers read the process's own maps and threads when they report or look for leaks.
    folders << QStringLiteral("/proc/self");
#endif
    bool ok = true;
    for (const QString &folder : std::as_const(folders)) {
        const int fd = open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue; // not on this system
        landlock_path_beneath_attr beneath{};
        beneath.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        beneath.parent_fd = fd;
        ok = syscall(SYS_landlock_add_rule, rules, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) == 0 && ok;
        close(fd);
    }
    // Landlock needs no new privileges; limitResources() has normally set it already.
    ok = ok && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && syscall(SYS_landlock_restrict_self, rules, 0) == 0;
    close(rules);
    return ok ? FileAccess::Confined : FileAccess::Failed;
}

bool forbidSignalsAndNetwork()
{
    if (FilteredArch == 0)
        return true;
    constexpr std::uint32_t Allow = SECCOMP_RET_ALLOW, Refuse = SECCOMP_RET_ERRNO | EPERM;
    // The architecture and number checked, one jump a rule, then the ends the jumps lead to.
    std::array<sock_filter, 10 + std::size(Refused) + std::size(OnlyToItself)> program{};
    std::size_t at = 0;
    const auto jumpIf = [&](std::uint32_t code, std::uint32_t value, std::size_t target) {
        program[at] = BPF_JUMP(code, value, std::uint8_t(target - at - 1), 0);
        ++at;
    };
    const std::size_t rulesEnd = 4 + (FilteredArch == AUDIT_ARCH_X86_64 ? 1 : 0) + std::size(Refused)
        + std::size(OnlyToItself);
    const std::size_t allow = rulesEnd, ownTarget = allow + 1, refuse = allow + 4;

    program[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, FilteredArch, 1, 0);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, Refuse); // another ABI's numbers mean other calls
    program[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    if (FilteredArch == AUDIT_ARCH_X86_64)
        jumpIf(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, refuse); // the x32 numbers
    for (const long call : Refused)
        jumpIf(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(call), refuse);
    for (const long call : OnlyToItself)
        jumpIf(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(call), ownTarget);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, Allow);
    // The target process is the first argument, a pid_t: the low word.
    program[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0]));
    program[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(::getpid()), 0, 1);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, Allow);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, Refuse);

    const sock_fprog filter{static_cast<unsigned short>(at), program.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0)
        return true;
    return errno == EINVAL; // a kernel built without seccomp filters
}
