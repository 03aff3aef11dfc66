#include "FolderWalker.h"

#include "CandidateTable.h"
#include "SearchHost.h"

#include <QFile>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>

namespace {

// Deeper folders are opened by their full path instead of relative to a held parent, so a very
// deep tree cannot use up the process's descriptors.
constexpr std::size_t HeldFolderDepth = 64;

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// Kernel views hold no user files, and reading some of theirs blocks for ever (/proc/kmsg) or
// never ends (/proc/kcore).
bool isPseudoFileSystem(int fd)
{
    struct statfs fs {};
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

class Walk
{
public:
    Walk(FolderQueue &queue, CandidateTable &table, SearchHost &host) : m_queue(queue), m_table(table), m_host(host)
    {
    }
    ~Walk()
    {
        for (const Frame &frame : m_stack)
            closeFd(frame.fd);
    }

    void run()
    {
        // The listed folder itself may be a link: it is followed, as the user chose that folder.
        const int fd = ::open(m_queue.back().path.constData(), FolderFlags & ~O_NOFOLLOW);
        std::uint64_t device = 0;
        if (fd >= 0 && !admit(fd, 0, true, device)) {
            ::close(fd);
            return;
        }
        enter(fd, device, m_queue.size() - 1);
        while (!m_stack.empty()) {
            Frame &top = m_stack.back();
            if (top.next == top.subfolders.size()) {
                closeFd(top.fd);
                m_stack.pop_back();
                continue;
            }
            const QByteArray &name = top.subfolders[top.next++];
            const QByteArray path = m_queue[top.queueIndex].path + name;
            const int parentFd = top.fd;
            const std::uint64_t parentDevice = top.device;
            const int child = parentFd >= 0 ? ::openat(parentFd, name.constData(), FolderFlags)
                                            : ::open(path.constData(), FolderFlags);
            std::uint64_t device = 0;
            if (child >= 0 && !admit(child, parentDevice, false, device)) {
                ::close(child);
                continue;
            }
            // An unreadable folder is still queued, as an empty listing would be; it adds nothing.
            m_queue.push_back(QueuedFolder{path + '/', {}});
            enter(child, device, m_queue.size() - 1);
        }
    }

private:
    struct Frame
    {
        int fd;
        std::uint64_t device;
        std::size_t queueIndex;
        std::vector<QByteArray> subfolders;
        std::size_t next = 0;
    };

    static void closeFd(int fd)
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Whether the open folder is walked: not when it was walked before in this search (which also
    // ends any cycle through bind mounts) or when it belongs to a kernel pseudo file system.
    bool admit(int fd, std::uint64_t parentDevice, bool root, std::uint64_t &device)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return false;
        device = static_cast<std::uint64_t>(st.st_dev);
        // Only a mount point can change the file system, so statfs is asked there alone.
        if ((root || device != parentDevice) && isPseudoFileSystem(fd))
            return false;
        return m_table.markFolderWalked(device, static_cast<std::uint64_t>(st.st_ino));
    }

    // Walks one queued folder: its files go into its queue entry, its subfolders onto the stack.
    void enter(int fd, std::uint64_t device, std::size_t queueIndex)
    {
        m_host.pumpEvents();
        Frame frame{fd, device, queueIndex, {}};
        if (fd >= 0) {
            FolderListing listing;
            readFolder(fd, m_queue[queueIndex].path, m_host, listing);
            m_queue[queueIndex].files = std::move(listing.files);
            frame.subfolders = std::move(listing.subfolders);
            if (m_stack.size() + 1 >= HeldFolderDepth) {
                ::close(fd);
                frame.fd = -1;
            }
        }
        m_stack.push_back(std::move(frame));
    }

    FolderQueue &m_queue;
    CandidateTable &m_table;
    SearchHost &m_host;
    std::vector<Frame> m_stack;
};

} // namespace

QByteArray QueueEntryOf(const QString &folder)
{
    QByteArray entry = QFile::encodeName(folder);
    if (!entry.isEmpty() && !entry.endsWith('/'))
        entry += '/';
    return entry;
}

void WalkSubfolders(FolderQueue &queue, CandidateTable &table, SearchHost &host)
{
    if (!queue.empty())
        Walk(queue, table, host).run();
}

void AnalyzeFolder(const QString &folder, CandidateTable &table, SearchHost &host)
{
    host.setProgress(0);
    if (folder.isEmpty())
        return;
    host.setCaption(productCaption() + QStringLiteral(" [Analyzing ") + folder + QStringLiteral(" folder]"));

    FolderQueue queue;
    queue.push_back(QueuedFolder{QueueEntryOf(folder), {}});
    WalkSubfolders(queue, table, host);

    const std::size_t total = queue.size();
    while (!queue.empty()) {
        host.pumpEvents();
        if (host.stopRequested())
            return;
        host.setProgress(static_cast<int>((total - queue.size()) * 100 / total));
        const QueuedFolder &current = queue.front();
        const std::vector<WalkFile> &files = ListFiles(current);
        if (!files.empty()) {
            const std::uint32_t folderIndex = table.addFolder(current.path);
            for (const WalkFile &file : files)
                table.addFile(folderIndex, file.name, file.size, file.device, file.inode, file.hardLinked);
        }
        queue.pop_front();
    }
    host.setProgress(100);
    host.setCaption(productCaption());
}
