#include "FolderHandles.h"

#include "Paths.h"

#include <algorithm>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

FolderHandles::FolderHandles(std::size_t folders, std::size_t budget)
    : m_count(folders), m_budget(budget), m_fds(std::make_unique<std::atomic<int>[]>(folders))
{
    for (std::size_t i = 0; i < folders; ++i)
        m_fds[i].store(budget > 0 ? None : Unavailable, std::memory_order_relaxed);
}

FolderHandles::~FolderHandles()
{
    for (std::size_t i = 0; i < m_count; ++i)
        if (const int fd = m_fds[i].load(std::memory_order_relaxed); fd >= 0)
            ::close(fd);
}

int FolderHandles::get(std::uint32_t folder, const char *path, std::size_t length)
{
    if (folder >= m_count)
        return -1;
    std::atomic<int> &slot = m_fds[folder];
    int fd = slot.load(std::memory_order_acquire);
    if (fd >= 0)
        return fd;
    if (fd == Unavailable)
        return -1;
    if (m_opened.fetch_add(1, std::memory_order_relaxed) >= m_budget) {
        m_opened.fetch_sub(1, std::memory_order_relaxed);
        slot.store(Unavailable, std::memory_order_release);
        return -1;
    }
    // The folder part of a file's path; a link there is followed, as opening by the path would.
    const int opened = openLongPath(std::string(path, length).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        m_opened.fetch_sub(1, std::memory_order_relaxed);
        int expected = None;
        slot.compare_exchange_strong(expected, Unavailable, std::memory_order_acq_rel);
        return expected >= 0 ? expected : -1;
    }
    int expected = None;
    if (slot.compare_exchange_strong(expected, opened, std::memory_order_acq_rel))
        return opened;
    // Another reader opened it first.
    ::close(opened);
    m_opened.fetch_sub(1, std::memory_order_relaxed);
    return expected >= 0 ? expected : -1;
}

std::size_t FolderHandles::budgetFor(std::size_t folders, std::size_t filesOpen)
{
    // Room left for the readers' files and for everything else the process holds open.
    const std::size_t reserve = filesOpen + 512;
    const std::size_t wanted = std::min(folders, MaxKept);
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const auto need = static_cast<rlim_t>(wanted + reserve);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < need
        && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > limit.rlim_cur)) {
        // Only the soft limit moves, and only up: nothing here uses select().
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? need : std::min(need, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    const auto soft = static_cast<std::size_t>(limit.rlim_cur);
    return soft > reserve ? std::min(wanted, soft - reserve) : 0;
}
