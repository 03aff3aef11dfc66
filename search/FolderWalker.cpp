#include "FolderWalker.h"

#include "CandidateTable.h"
#include "Paths.h"
#include "SearchHost.h"

#include <QFile>

#include <fcntl.h>
#include <linux/magic.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// Kernel views hold no user files, and reading some of theirs blocks for ever (/proc/kmsg) or
// never ends (/proc/kcore).
bool isPseudoFileSystem(int fd)
{
    struct statfs fs = {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<std::uint32_t>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
    case BINFMTFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

using Identity = CandidateTable::Identity;
using IdentityHash = CandidateTable::IdentityHash;

// The open folder's device, inode and mount. The mount tells a folder bound into itself from its
// other sight; kernels before 5.8 do not give it, and folders are then told apart without it.
bool folderIdentity(int fd, Identity &identity)
{
    struct statx sx = {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &sx) == 0) {
        identity = Identity{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino,
                            (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0};
        return true;
    }
    // No statx (an old kernel, or a sandbox that refuses it): fstat tells all but the mount.
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return false;
    identity = Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

// A folder whose descriptor its subfolders are opened relative to; closed with the last of them.
struct HeldFolder
{
    HeldFolder(int descriptor, std::atomic<int> &count) : fd(descriptor), held(count) {}
    HeldFolder(const HeldFolder &) = delete;
    HeldFolder &operator=(const HeldFolder &) = delete;
    int fd;
    std::atomic<int> &held;
    ~HeldFolder()
    {
        ::close(fd);
        held.fetch_sub(1, std::memory_order_relaxed);
    }
};

// Descriptors held for subfolders not yet opened. Past this, subfolders are opened by path,
// piece by piece, so a deep or wide tree cannot use up the process's descriptors.
constexpr int HeldFolderLimit = 128;

// Errors that mean the entry is gone or is no folder any more: nothing to report.
bool quietError(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// One folder of the tree. Threads list folders in any order; this thread then takes their listings
// in the walk's own order, so the queue, the messages and which of two ways to one folder is walked
// come out exactly as from a walk on one thread.
struct Node
{
    enum class State : std::uint8_t {
        Pending,
        Listed,
        Unopened, // could not be opened or examined: queued with nothing in it
        Skipped,  // walked before in this search, or a kernel view: not queued
        SameAs,   // another node lists the same folder
    };
    // Set when made.
    QByteArray name;     // as its parent lists it; empty for the listed folder
    QByteArray openPath; // for opening without a held parent
    std::shared_ptr<HeldFolder> parent;
    std::uint64_t parentDevice = 0;
    // Set by the thread that lists it, before it is published.
    State state = State::Pending;
    int error = 0;
    Identity identity{};
    Node *owner = nullptr; // SameAs: the node that holds the listing
    FolderListing listing;
    std::vector<std::unique_ptr<Node>> children; // one per listed subfolder, in order
};

class Walk
{
public:
    Walk(FolderQueue &queue, CandidateTable &table, SearchHost &host, unsigned threads)
        : m_queue(queue), m_table(table), m_host(host), m_threadCount(std::max(1u, threads))
    {}
    ~Walk()
    {
        finish();
        // Node by node: a recursive release would be as deep as the tree.
        std::vector<std::unique_ptr<Node>> pending = std::move(m_root.children);
        while (!pending.empty()) {
            const std::unique_ptr<Node> node = std::move(pending.back());
            pending.pop_back();
            for (std::unique_ptr<Node> &child : node->children)
                pending.push_back(std::move(child));
        }
    }

    // True when listing threads were started.
    bool run()
    {
        m_root.openPath = m_queue.back().path;
        m_outstanding = 1;
        // The listed folder is listed here, and threads start only for its subfolders: a folder
        // without any (one of thousands listed by --from0, say) costs no thread at all.
        list(m_root);
        if (!m_tasks.empty()) {
            try {
                for (unsigned i = 0; i < m_threadCount; ++i)
                    m_threads.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                // The system starts no more threads: those started (or this one alone) list the rest.
            }
        }
        const bool threaded = !m_threads.empty();
        visitAll();
        finish();
        // Whether stopped or not, the folders taken count as walked for the next listed folder.
        for (const Identity &id : m_taken)
            m_table.markFolderWalked(id);
        if (m_outOfMemory)
            throw std::bad_alloc();
        return threaded;
    }

private:
    // ---- the listing threads ----

    void work()
    {
        for (;;) {
            Node *node = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_cancel.load() || !m_tasks.empty() || m_outstanding == 0; });
                if (m_cancel.load() || m_tasks.empty())
                    return;
                node = m_tasks.back(); // deepest first: the walk's order needs those soonest
                m_tasks.pop_back();
            }
            try {
                list(*node);
            } catch (const std::bad_alloc &) {
                // The walk ends here; run() passes the failure on to the search.
                m_outOfMemory = true;
                stop();
                return;
            }
        }
    }

    void list(Node &node)
    {
        const bool root = &node == &m_root;
        int fd = -1;
        if (root) // the listed folder may be a link: it is followed, as the user chose that folder
            fd = openLongPath(node.openPath.constData(), FolderFlags & ~O_NOFOLLOW);
        else if (node.parent)
            fd = ::openat(node.parent->fd, node.name.constData(), FolderFlags);
        else
            fd = openLongPath(node.openPath.constData(), FolderFlags);
        const int openError = errno;
        node.parent.reset();

        Node::State state = Node::State::Listed;
        if (fd < 0 || !folderIdentity(fd, node.identity)) {
            state = Node::State::Unopened;
            node.error = fd < 0 ? openError : errno;
        } else {
            // Only a mount point can change the file system, so statfs is asked there alone.
            if (((root || node.identity.device != node.parentDevice) && isPseudoFileSystem(fd))
                || m_table.folderWalked(node.identity)) {
                state = Node::State::Skipped;
            } else {
                std::lock_guard lock(m_mutex);
                const auto [at, fresh] = m_lister.emplace(node.identity, &node);
                if (!fresh) {
                    state = Node::State::SameAs;
                    node.owner = at->second;
                }
            }
        }

        if (state == Node::State::Listed) {
            readFolder(fd, m_cancel, node.listing, m_table.collectsEveryName());
            std::shared_ptr<HeldFolder> held;
            const bool hasFolders = std::any_of(
                node.listing.entries.begin(), node.listing.entries.end(),
                [](const ListedEntry &e) { return e.kind == ListedEntry::Kind::Folder; });
            if (hasFolders) {
                if (m_held.fetch_add(1, std::memory_order_relaxed) < HeldFolderLimit)
                    held = std::make_shared<HeldFolder>(fd, m_held);
                else
                    m_held.fetch_sub(1, std::memory_order_relaxed);
            }
            for (const ListedEntry &entry : node.listing.entries) {
                if (entry.kind != ListedEntry::Kind::Folder)
                    continue;
                auto child = std::make_unique<Node>();
                child->name = node.listing.name(entry);
                child->parentDevice = node.identity.device;
                if (held)
                    child->parent = held;
                else
                    child->openPath = node.openPath + node.listing.name(entry) + '/';
                node.children.push_back(std::move(child));
            }
            if (held)
                fd = -1; // the children close it
        }
        if (fd >= 0)
            ::close(fd);
        node.openPath.clear();

        {
            std::lock_guard lock(m_mutex);
            node.state = state;
            for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
                m_tasks.push_back(child->get());
            m_outstanding += node.children.size();
            --m_outstanding;
        }
        m_wake.notify_all();
        m_published.notify_all();
    }

    // ---- this thread: the walk's order ----

    // Waits until the node is listed; false when the stop flag was raised meanwhile.
    bool waitFor(Node &node)
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point began = Clock::now();
        std::unique_lock lock(m_mutex);
        // Not taken by a listing thread yet: listing it here saves waking one and waiting for it,
        // which is most of the time a chain of single folders takes.
        if (node.state == Node::State::Pending) {
            const auto waiting = std::find(m_tasks.rbegin(), m_tasks.rend(), &node);
            if (waiting != m_tasks.rend()) {
                m_tasks.erase(std::next(waiting).base());
                lock.unlock();
                list(node);
                return true;
            }
        }
        while (node.state == Node::State::Pending) {
            if (m_published.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::timeout) {
                lock.unlock();
                // A slow folder (a network share, a cold disk) must not freeze the window.
                if (Clock::now() - began > std::chrono::milliseconds(100))
                    m_host.pumpEvents();
                const bool stop = m_host.stopRequested() || m_outOfMemory;
                lock.lock();
                if (stop)
                    return false;
            }
        }
        return true;
    }

    void finish()
    {
        stop();
        for (std::thread &thread : m_threads)
            thread.join();
        m_threads.clear();
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancel.store(true);
        }
        m_wake.notify_all();
    }

    void visitAll()
    {
        struct Frame
        {
            Node *listing;
            std::size_t queueIndex;
            std::size_t next = 0;
        };
        std::vector<Frame> stack;
        // Takes one folder in the walk's order; false when the walk must end.
        const auto visit = [&](Node &node, std::size_t queueIndex) {
            if (!waitFor(node))
                return false;
            if (node.state == Node::State::Skipped)
                return true;
            if (node.state == Node::State::Unopened) {
                // Queued as an empty listing would be; it adds nothing but its name to the left-out list.
                queueFolder(queueIndex);
                m_host.pumpEvents();
                if (!quietError(node.error))
                    m_table.collectStats().folders.push_back({m_queue[queueIndex].path, node.error});
                return true;
            }
            if (m_table.folderWalked(node.identity) || !m_taken.insert(node.identity).second)
                return true;
            Node *listing = node.state == Node::State::SameAs ? node.owner : &node;
            if (!waitFor(*listing))
                return false;
            queueFolder(queueIndex);
            m_host.pumpEvents();
            if (!take(*listing, queueIndex))
                return false;
            stack.push_back(Frame{listing, queueIndex});
            return true;
        };

        if (!visit(m_root, m_queue.size() - 1))
            return stop();
        while (!stack.empty()) {
            Frame &top = stack.back();
            if (top.next == top.listing->children.size()) {
                stack.pop_back();
                continue;
            }
            Node &child = *top.listing->children[top.next++];
            const std::size_t childIndex = m_queue.size();
            m_pendingPath = m_queue[top.queueIndex].path + child.name + '/';
            if (!visit(child, childIndex))
                return stop();
        }
    }

    // The queue entry for the folder being visited (the listed folder is queued already).
    void queueFolder(std::size_t queueIndex)
    {
        if (queueIndex == m_queue.size())
            m_queue.push_back(QueuedFolder{std::move(m_pendingPath), {}});
    }

    // Replays a folder's listing as the walk reads it: a stop poll at every entry, the skip message
    // in its place. False when stopped.
    bool take(Node &listing, std::size_t queueIndex)
    {
        QueuedFolder &folder = m_queue[queueIndex];
        const FolderListing &found = listing.listing;
        for (const ListedEntry &entry : found.entries) {
            if (m_host.stopRequested())
                return false;
            switch (entry.kind) {
            case ListedEntry::Kind::Undecodable:
                m_host.showMessage(skipMessage(folder.path + found.name(entry)), QStringLiteral("Skip"));
                break;
            case ListedEntry::Kind::Unreadable:
                m_table.collectStats().files.push_back({folder.path + found.name(entry), entry.error});
                break;
            case ListedEntry::Kind::File:
            case ListedEntry::Kind::Folder:
                break;
            }
        }
        if (listing.listing.error != 0 && !quietError(listing.listing.error))
            m_table.collectStats().folders.push_back({folder.path, listing.listing.error});
        folder.listing = std::move(listing.listing);
        listing.listing = {};
        return true;
    }

    FolderQueue &m_queue;
    CandidateTable &m_table;
    SearchHost &m_host;
    const unsigned m_threadCount;
    std::vector<std::thread> m_threads;

    std::mutex m_mutex;
    std::condition_variable m_wake;      // work for the listing threads
    std::condition_variable m_published; // a node was listed
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_outOfMemory{false}; // a listing thread found no memory
    std::atomic<int> m_held{0};
    std::vector<Node *> m_tasks;
    std::size_t m_outstanding = 0;
    std::unordered_map<Identity, Node *, IdentityHash> m_lister; // which node lists each folder

    Node m_root;
    std::unordered_set<Identity, IdentityHash> m_taken; // folders in the queue, this walk
    QByteArray m_pendingPath;
};

} // namespace

QByteArray QueueEntryOf(const QString &folder)
{
    QByteArray entry = QFile::encodeName(folder);
    if (!entry.isEmpty() && !entry.endsWith('/'))
        entry += '/';
    return entry;
}

void WalkSubfolders(FolderQueue &queue, CandidateTable &table, SearchHost &host, unsigned threads)
{
    if (queue.empty())
        return;
    const bool threaded = Walk(queue, table, host, threads).run();
#ifdef __GLIBC__
    // The listing threads' memory pools keep what the walk freed; hand it back before reading starts.
    if (threaded && threads > 1)
        ::malloc_trim(0);
#endif
}

void AnalyzeFolder(const QString &folder, CandidateTable &table, SearchHost &host, unsigned walkThreads)
{
    host.setProgress(0);
    if (folder.isEmpty())
        return;
    host.enterPhase(SearchPhase::Collecting, folder);

    FolderQueue queue;
    queue.push_back(QueuedFolder{QueueEntryOf(folder), {}});
    WalkSubfolders(queue, table, host, walkThreads);

    const std::size_t total = queue.size();
    std::size_t listed = 0;
    while (!queue.empty()) {
        host.pumpEvents();
        if (host.stopRequested())
            return;
        host.setProgress(static_cast<int>((total - queue.size()) * 100 / total));
        const QueuedFolder &current = queue.front();
        bool added = false;
        std::uint32_t folderIndex = 0;
        ListFiles(current, [&](QByteArrayView name, const ListedEntry &entry) {
            if (!added)
                folderIndex = table.addFolder(current.path);
            added = true;
            table.addFile(folderIndex, name, entry.size, entry.device, entry.inode, {entry.mtimeNs, entry.ctimeNs});
        });
        queue.pop_front();
#ifdef __GLIBC__
        // The listings were made by the walk's threads, whose memory pools keep them once freed:
        // handed back as they are used, or they would be held while the table grows.
        if (++listed % 512 == 0 || queue.empty())
            ::malloc_trim(0);
#endif
    }
    host.setProgress(100);
    host.enterPhase(SearchPhase::Idle, {});
}
