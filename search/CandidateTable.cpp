#include "CandidateTable.h"

#include <QFile>

void CandidateTable::clear()
{
    m_folders.clear();
    m_files.clear();
    m_seen.clear();
    m_walkedFolders.clear();
}

bool CandidateTable::markFolderWalked(std::uint64_t device, std::uint64_t inode)
{
    return m_walkedFolders.insert(Identity{device, inode}).second;
}

std::uint32_t CandidateTable::addFolder(const QByteArray &folderWithSeparator)
{
    m_folders.push_back(folderWithSeparator);
    return static_cast<std::uint32_t>(m_folders.size() - 1);
}

bool CandidateTable::addFile(std::uint32_t folder, const QByteArray &name, std::int64_t size, std::uint64_t device,
                             std::uint64_t inode)
{
    if (!m_seen.insert(Identity{device, inode}).second)
        return false;
    m_files.push_back(File{folder, name, size, device, inode});
    return true;
}

QByteArray CandidateTable::pathBytes(std::size_t k) const
{
    return folderBytes(k) + m_files[k].name;
}

QString CandidateTable::path(std::size_t k) const
{
    return QFile::decodeName(pathBytes(k));
}

QString CandidateTable::fileName(std::size_t k) const
{
    return QFile::decodeName(m_files[k].name);
}

QString CandidateTable::folderName(std::size_t k) const
{
    return QFile::decodeName(folderBytes(k));
}
