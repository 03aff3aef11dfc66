#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

// The collected files of one search, in collection order. Paths are kept as the raw
// bytes the file system gave, so any name survives; folders end with '/'.
class CandidateTable
{
public:
    // Kept small: a search may hold millions. Names live in one shared buffer.
    struct File
    {
        std::uint32_t folder; // index into the folder table
        std::uint32_t nameLength;
        std::uint64_t nameOffset;
        std::int64_t size;
    };

    // Files the filter turns down are not collected; it outlives clear(). Only the headless
    // tool sets one (its size and name options): the window's search has no options.
    using Filter = std::function<bool(QByteArrayView folder, QByteArrayView name, std::int64_t size)>;
    void setFilter(Filter filter) { m_filter = std::move(filter); }

    void clear();
    // FileCount: the number of collected files, and the next free index.
    std::size_t count() const { return m_files.size(); }

    std::uint32_t addFolder(const QByteArray &folderWithSeparator);
    // Records a file unless its device and inode were met before in this search;
    // returns whether it was added. A file with one name can be met again only through a
    // folder walked twice, which the walk prevents, so only hard-linked files are remembered.
    bool addFile(std::uint32_t folder, QByteArrayView name, std::int64_t size, std::uint64_t device,
                 std::uint64_t inode, bool hardLinked = true);

    // Folders walked in this search, by device and inode: one met again (listed twice, under
    // another spelling, or inside another listed folder) is not walked again. True the first time.
    bool markFolderWalked(std::uint64_t device, std::uint64_t inode);

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
    struct Identity
    {
        std::uint64_t device, inode;
        bool operator==(const Identity &) const = default;
    };
    struct IdentityHash
    {
        std::size_t operator()(const Identity &id) const noexcept
        {
            return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
        }
    };

    std::vector<QByteArray> m_folders;
    // Both grow in fixed blocks: a doubling vector would hold its old and new storage at
    // once, and that moment sets the search's peak memory.
    std::deque<File> m_files;
    static constexpr std::uint64_t NameChunk = 256 * 1024; // far above the longest file name
    std::vector<std::unique_ptr<char[]>> m_nameChunks;
    std::uint64_t m_nameUsed = 0; // bytes taken in the last chunk
    std::unordered_set<Identity, IdentityHash> m_seen;
    std::unordered_set<Identity, IdentityHash> m_walkedFolders;
    Filter m_filter;
};
