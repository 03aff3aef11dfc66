#include "Confinement.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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
} // namespace

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
