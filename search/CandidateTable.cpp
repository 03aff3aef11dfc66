#include "CandidateTable.h"

#include <QFile>

#include <algorithm>

void CandidateTable::clear()
{
    m_folders.clear();
    m_files.clear();
    m_nameChunks.clear();
    m_nameUsed = 0;
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

bool CandidateTable::addFile(std::uint32_t folder, QByteArrayView name, std::int64_t size, std::uint64_t device,
                             std::uint64_t inode, bool hardLinked)
{
    // Before the identity is remembered: a name left out must not hide another name of its file.
    if (m_filter && !m_filter(m_folders[folder], name, size))
        return false;
    const auto length = static_cast<std::uint64_t>(name.size());
    if (length > NameChunk)
        return false; // no file system has such names
    if (hardLinked && !m_seen.insert(Identity{device, inode}).second)
        return false;
    if (m_nameChunks.empty() || m_nameUsed + length > NameChunk) {
        m_nameChunks.push_back(std::make_unique_for_overwrite<char[]>(NameChunk));
        m_nameUsed = 0;
    }
    const std::uint64_t offset = (m_nameChunks.size() - 1) * NameChunk + m_nameUsed;
    std::copy(name.begin(), name.end(), m_nameChunks.back().get() + m_nameUsed);
    m_nameUsed += length;
    m_files.push_back(File{folder, static_cast<std::uint32_t>(length), offset, size});
    return true;
}

QByteArray CandidateTable::pathBytes(std::size_t k) const
{
    const QByteArrayView name = nameBytes(k);
    QByteArray path;
    path.reserve(folderBytes(k).size() + name.size());
    return path.append(folderBytes(k)).append(name);
}

QString CandidateTable::path(std::size_t k) const
{
    return QFile::decodeName(pathBytes(k));
}

QString CandidateTable::fileName(std::size_t k) const
{
    return QFile::decodeName(nameBytes(k).toByteArray());
}

QString CandidateTable::folderName(std::size_t k) const
{
    return QFile::decodeName(folderBytes(k));
}
