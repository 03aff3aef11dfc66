#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// A folder or file the search could not list, enter or examine, and why (an errno).
struct LeftOutEntry
{
    QByteArray path; // a folder's ends with '/'
    int error = 0;
};

// What collecting left out for want of access, in collection order.
struct CollectStats
{
    std::vector<LeftOutEntry> folders;
    std::vector<LeftOutEntry> files;
};

// When a file's contents and its inode last changed, in nanoseconds since the epoch.
struct FileTimes
{
    std::int64_t mtimeNs = 0, ctimeNs = 0;
};

// The collected files of one search, in collection order. Paths are kept as the raw
// bytes the file system gave, so any name survives; folders end with '/'.
class CandidateTable
{
public:
    // A file by device and inode; a folder by its mount as well, where the kernel tells it.
    struct Identity
    {
        std::uint64_t device, inode;
        std::uint64_t mount = 0;
        bool operator==(const Identity &) const = default;
    };
    struct IdentityHash
    {
        std::size_t operator()(const Identity &id) const noexcept
        {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device ^ id.mount << 48);
        }
    };

    // Kept small: a search may hold millions. Names live in one shared buffer.
    struct File
    {
        std::uint32_t folder; // index into the folder table
        // The low 32 bits of the inode the walk met: where the file system put the file, which
        // sets the reading order without a second listing of every folder.
        std::uint32_t inodeOrder;
        std::uint64_t nameOffset : 40;
        std::uint64_t nameLength : 24;
        std::int64_t size;
    };

    // What the walk's stat said of a file beyond its size, for the fingerprint store.
    struct Stamps
    {
        std::uint64_t device = 0, inode = 0;
        std::int64_t mtimeNs = 0, ctimeNs = 0;
    };
    // Turns collected files' stamps into marks of 32 bits as the walk goes, a batch at a time:
    // kept until reading, the stamps themselves would cost 32 bytes a file. Without `wait` the
    // marker may answer false, marking nothing (its store still loading); it is asked again
    // later, and waiting once 16,384 files wait or by markRemaining().
    using Stamped = std::pair<std::uint32_t, Stamps>; // file k and its stamps
    using StampMarker =
        std::function<bool(const std::vector<Stamped> &files, std::vector<std::uint32_t> &marks, bool wait)>;
    static constexpr std::uint32_t NotYet = ~std::uint32_t(0); // a file's mark until it is marked
    using Times = FileTimes;

    // Files the filter turns down are not collected; it outlives clear(). Only the headless
    // tool sets one (its size and name options): the window's search has no options.
    using Filter = std::function<bool(QByteArrayView folder, QByteArrayView name, std::int64_t size)>;
    void setFilter(Filter filter) { m_filter = std::move(filter); }
    // Collects names that do not decode as well, instead of skipping them with a message. Only
    // the headless tool, which prints the file system's own bytes, sets it; it outlives clear().
    void setCollectEveryName(bool every) { m_everyName = every; }
    bool collectsEveryName() const { return m_everyName; }

    void clear();
    // Collecting is over: forgets which files were met (a few megabytes on 200,000 files, which
    // reading would otherwise carry). A file added after this is not checked against them.
    void endCollecting() { m_seen.clear(); }
    // FileCount: the number of collected files, and the next free index.
    std::size_t count() const { return m_files.size(); }

    std::uint32_t addFolder(const QByteArray &folderWithSeparator);
    // Records a file unless its device and inode were met before in this search (a hard link,
    // or one file mounted over another path, which has a single name); returns whether it was added.
    bool addFile(std::uint32_t folder, QByteArrayView name, std::int64_t size, std::uint64_t device,
                 std::uint64_t inode, Times times = {});
    // Marks every file collected from now on; it outlives clear(). An empty marker marks none.
    void setStampMarker(StampMarker marker) { m_marker = std::move(marker); }
    bool marksStamps() const { return bool(m_marker); }
    // Marks the files the marker could not mark as they were collected; call after collecting.
    void markRemaining();
    // The mark of file k; only while a marker is set.
    std::uint32_t stampMark(std::size_t k) const { return m_marks[k]; }

    // Folders walked in this search, by device, inode and mount: one met again (listed twice,
    // under another spelling, or inside another listed folder) is not walked again, while the
    // same folder seen through another mount (one bound into itself) may hold files its first
    // sight hid under a mount point. True the first time.
    bool markFolderWalked(const Identity &folder);
    bool folderWalked(const Identity &folder) const { return m_walkedFolders.count(folder) != 0; }

    const CollectStats &collectStats() const { return m_collectStats; }
    // A name of a file met before under another name (a hard link): not collected, but it decides
    // whether removing the collected name removes the file, and whether the file is protected.
    struct OtherName
    {
        QByteArray path;
        std::uint64_t device, inode;
    };
    const std::vector<OtherName> &otherNames() const { return m_otherNames; }
    CollectStats &collectStats() { return m_collectStats; }

    std::size_t folderCount() const { return m_folders.size(); }
    const File &file(std::size_t k) const { return m_files[k]; }
    const QByteArray &folderBytes(std::size_t k) const { return m_folders[m_files[k].folder]; }
    // FileNames(k) as the raw bytes; valid until the next addFile.
    QByteArrayView nameBytes(std::size_t k) const
    {
        const File &f = m_files[k];
        return QByteArrayView(m_nameChunks[f.nameOffset / NameChunk].get() + f.nameOffset % NameChunk,
                              static_cast<qsizetype>(f.nameLength));
    }
    QByteArray pathBytes(std::size_t k) const;
    // FileFolders(k) + FileNames(k) as text.
    QString path(std::size_t k) const;
    QString fileName(std::size_t k) const;   // FileNames(k)
    QString folderName(std::size_t k) const; // FileFolders(k)

private:
    std::vector<QByteArray> m_folders;
    // Both grow in fixed blocks: a doubling vector would hold its old and new storage at
    // once, and that moment sets the search's peak memory.
    std::deque<File> m_files;
    std::deque<std::uint32_t> m_marks; // parallel to m_files while m_marker is set
    StampMarker m_marker;
    std::vector<Stamped> m_unmarked; // collected, not yet marked
    void markUnmarked(bool wait);
    static constexpr std::uint64_t NameChunk = 256 * 1024;                // far above the longest file name
    static constexpr std::uint64_t MaxNameBytes = std::uint64_t(1) << 40; // what File::nameOffset holds
    static_assert(NameChunk < (std::uint64_t(1) << 24));                  // and File::nameLength
    std::vector<std::unique_ptr<char[]>> m_nameChunks;
    std::uint64_t m_nameUsed = 0; // bytes taken in the last chunk
    // Every collected file's device and inode in about 13 bytes: one 64-bit key of a small device
    // number and the inode, in open-addressed parts that each grow by half, so no growth step
    // doubles the whole set at once.
    class SeenFiles
    {
    public:
        bool insert(std::uint64_t device, std::uint64_t inode);
        void clear();

    private:
        struct Part
        {
            std::vector<std::uint64_t> keys; // 0: free
            std::size_t used = 0;
        };
        static constexpr std::size_t Parts = 64;
        std::unordered_map<std::uint64_t, std::uint64_t> m_deviceNumbers; // from 1
        std::uint64_t m_lastDevice = 0, m_lastNumber = 0;
        std::vector<Part> m_parts = std::vector<Part>(Parts);
        // Inodes above 48 bits or more devices than the key has room for: rare, kept whole.
        std::unordered_set<Identity, IdentityHash> m_rest;
    };
    SeenFiles m_seen;
    std::unordered_set<Identity, IdentityHash> m_walkedFolders;
    Filter m_filter;
    bool m_everyName = false;
    CollectStats m_collectStats;
    std::vector<OtherName> m_otherNames;
};
