#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Descriptors of the collected files' folders, opened once each on first use and kept until
// reading ends, so that a file is opened by its name inside its folder rather than by a path
// the kernel walks from the root every time (11 levels deep, open and read took a sixth less
// CPU on one thread; on four readers sharing the descriptors, about a twentieth).
// Any thread may ask. At most `budget` are kept: beyond that, and for a folder that cannot be
// opened, there is none and the caller opens by the whole path. None is ever closed while
// reading, so no thread can find one closed under it. Only opens use them: every check that
// a path still names a file goes by the path, as a folder renamed meanwhile must count.
class FolderHandles
{
public:
    FolderHandles(std::size_t folders, std::size_t budget);
    ~FolderHandles();
    FolderHandles(const FolderHandles &) = delete;
    FolderHandles &operator=(const FolderHandles &) = delete;

    // The folder's descriptor (O_PATH), opened on first use from the first `length` bytes at
    // `path` (its path, ending in '/'); -1 when there is none.
    int get(std::uint32_t folder, const char *path, std::size_t length);
    std::size_t opened() const { return m_opened.load(std::memory_order_relaxed); }

    // How many to keep for that many folders when readers may hold `filesOpen` files at once:
    // raises the process's soft limit on open files towards its hard limit where that is needed,
    // and stays within what it allows. Never more than MaxKept.
    static std::size_t budgetFor(std::size_t folders, std::size_t filesOpen);
    static constexpr std::size_t MaxKept = 4096;

private:
    static constexpr int None = -1, Unavailable = -2;
    const std::size_t m_count;
    const std::size_t m_budget;
    std::unique_ptr<std::atomic<int>[]> m_fds;
    std::atomic<std::size_t> m_opened{0};
};
