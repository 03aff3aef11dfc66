// scan_probe: the least time this machine needs to find a tree's duplicates, as a yardstick for
// twinfold-scan. It does only the unavoidable work: list every folder and stat every plain file
// (many threads), then read every file that shares its size with another, whole, in inode order
// (many threads). It compares nothing and prints the time of each stage.
//
//   scan_probe [--walkers N] [--readers N] [--order inode|size] FOLDER

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Found
{
    std::string path;
    std::int64_t size;
    std::uint64_t inode;
};

class ParallelWalk
{
public:
    explicit ParallelWalk(unsigned threads) : m_threads(threads) {}

    std::vector<Found> run(const std::string &root)
    {
        m_pending.push_back(root);
        m_outstanding = 1;
        std::vector<std::thread> threads;
        for (unsigned i = 0; i < m_threads; ++i)
            threads.emplace_back([this] { work(); });
        for (std::thread &t : threads)
            t.join();
        return std::move(m_found);
    }

private:
    void work()
    {
        std::vector<Found> found;
        for (;;) {
            std::string folder;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return !m_pending.empty() || m_outstanding == 0; });
                if (m_pending.empty())
                    break;
                folder = std::move(m_pending.back());
                m_pending.pop_back();
            }
            std::vector<std::string> subfolders;
            list(folder, found, subfolders);
            {
                std::lock_guard lock(m_mutex);
                for (std::string &s : subfolders)
                    m_pending.push_back(std::move(s));
                m_outstanding += subfolders.size();
                --m_outstanding;
            }
            m_wake.notify_all();
        }
        std::lock_guard lock(m_mutex);
        for (Found &f : found)
            m_found.push_back(std::move(f));
    }

    static void list(const std::string &folder, std::vector<Found> &found, std::vector<std::string> &subfolders)
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return;
        DIR *dir = ::fdopendir(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (!dir) {
            ::close(fd);
            return;
        }
        while (const dirent *e = ::readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            if (e->d_type == DT_DIR) {
                subfolders.push_back(folder + '/' + e->d_name);
                continue;
            }
            if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN)
                continue;
            struct stat st = {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                subfolders.push_back(folder + '/' + e->d_name);
            else if (S_ISREG(st.st_mode))
                found.push_back(Found{folder + '/' + e->d_name, static_cast<std::int64_t>(st.st_size),
                                      static_cast<std::uint64_t>(st.st_ino)});
        }
        ::closedir(dir);
        ::close(fd);
    }

    unsigned m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::string> m_pending;
    std::size_t m_outstanding = 0;
    std::vector<Found> m_found;
};

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage()
{
    std::fprintf(stderr, "usage: scan_probe [--walkers N] [--readers N] [--order inode|size] FOLDER\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    unsigned walkers = 32, readers = 32;
    bool byInode = true;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--walkers" || arg == "--readers" || arg == "--order") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--order")
                byInode = value == "inode";
            else
                (arg == "--walkers" ? walkers : readers) = static_cast<unsigned>(std::max(1, std::atoi(value.c_str())));
        } else if (root.empty() && arg[0] != '-') {
            root = arg;
        } else {
            return usage();
        }
    }
    if (root.empty())
        return usage();

    const auto started = std::chrono::steady_clock::now();
    std::vector<Found> files = ParallelWalk(walkers).run(root);
    const double walked = since(started);

    // Files that share their size with another: the ones any finder must read.
    std::sort(files.begin(), files.end(), [](const Found &a, const Found &b) { return a.size < b.size; });
    std::vector<const Found *> toRead;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < files.size();) {
        std::size_t j = i;
        while (j < files.size() && files[j].size == files[i].size)
            ++j;
        if (j - i >= 2 && files[i].size > 0)
            for (std::size_t k = i; k < j; ++k) {
                toRead.push_back(&files[k]);
                bytes += static_cast<std::uint64_t>(files[k].size);
            }
        i = j;
    }
    if (byInode)
        std::sort(toRead.begin(), toRead.end(), [](const Found *a, const Found *b) { return a->inode < b->inode; });

    const auto readStarted = std::chrono::steady_clock::now();
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < readers; ++t)
        threads.emplace_back([&] {
            std::vector<char> buffer(128 * 1024);
            for (std::size_t k; (k = next.fetch_add(1)) < toRead.size();) {
                const int fd = ::open(toRead[k]->path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
                if (fd < 0)
                    continue;
                while (::read(fd, buffer.data(), buffer.size()) > 0) {
                }
                ::close(fd);
            }
        });
    for (std::thread &t : threads)
        t.join();
    const double read = since(readStarted);

    std::printf("scan_probe: %zu files, %zu read (%llu bytes) in %s order; %u walkers, %u readers\n"
                "scan_probe: walk+stat %.3f s, read %.3f s, limit %.3f s\n",
                files.size(), toRead.size(), static_cast<unsigned long long>(bytes), byInode ? "inode" : "size",
                walkers, readers, walked, read, walked + read);
    return 0;
}
