#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <unordered_set>
#include <vector>

// The collected files of one search, in collection order. Paths are kept as the raw
// bytes the file system gave, so any name survives; folders end with '/'.
class CandidateTable
{
public:
    struct File
    {
        std::uint32_t folder; // index into the folder table
        QByteArray name;
        std::int64_t size;
        std::uint64_t device;
        std::uint64_t inode;
    };

    void clear();
    // FileCount: the number of collected files, and the next free index.
    std::size_t count() const { return m_files.size(); }

    std::uint32_t addFolder(const QByteArray &folderWithSeparator);
    // Records a file unless its device and inode were met before in this search;
    // returns whether it was added.
    bool addFile(std::uint32_t folder, const QByteArray &name, std::int64_t size, std::uint64_t device,
                 std::uint64_t inode);

    // Folders walked in this search, by device and inode: one met again (listed twice, under
    // another spelling, or inside another listed folder) is not walked again. True the first time.
    bool markFolderWalked(std::uint64_t device, std::uint64_t inode);

    const File &file(std::size_t k) const { return m_files[k]; }
    const QByteArray &folderBytes(std::size_t k) const { return m_folders[m_files[k].folder]; }
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
    std::vector<File> m_files;
    std::unordered_set<Identity, IdentityHash> m_seen;
    std::unordered_set<Identity, IdentityHash> m_walkedFolders;
};
