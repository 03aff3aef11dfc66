#include "CandidateTable.h"

#include <QFile>

#include <algorithm>

namespace {
constexpr unsigned InodeBits = 48;
constexpr std::uint64_t MaxDeviceNumber = (std::uint64_t(1) << (64 - InodeBits)) - 1;

std::uint64_t mix(std::uint64_t key)
{
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDull;
    key ^= key >> 33;
    key *= 0xC4CEB9FE1A85EC53ull;
    return key ^ (key >> 33);
}

// A slot in [0, size) from the hash's low 32 bits, without a division (a part stays far below 2^32).
std::size_t slotOf(std::uint64_t hash, std::size_t size)
{
    return static_cast<std::size_t>(((hash & 0xFFFFFFFFull) * size) >> 32);
}

bool insertKey(std::vector<std::uint64_t> &keys, std::uint64_t key, std::uint64_t hash)
{
    for (std::size_t i = slotOf(hash, keys.size());; i = i + 1 == keys.size() ? 0 : i + 1) {
        if (keys[i] == key)
            return false;
        if (keys[i] == 0) {
            keys[i] = key;
            return true;
        }
    }
}
} // namespace

void CandidateTable::SeenFiles::clear()
{
    // Fresh containers: clearing the old ones would keep their memory.
    m_deviceNumbers = {};
    m_lastNumber = 0;
    m_parts = std::vector<Part>(Parts);
    m_rest = {};
}

bool CandidateTable::SeenFiles::insert(std::uint64_t device, std::uint64_t inode)
{
    // Nearly every file shares its device with the one before.
    if (m_lastNumber == 0 || m_lastDevice != device) {
        m_lastDevice = device;
        m_lastNumber = m_deviceNumbers.emplace(device, m_deviceNumbers.size() + 1).first->second;
    }
    const std::uint64_t number = m_lastNumber;
    if (number > MaxDeviceNumber || inode >> InodeBits != 0)
        return m_rest.insert(Identity{device, inode}).second;

    const std::uint64_t key = number << InodeBits | inode;
    const std::uint64_t hash = mix(key);
    Part &part = m_parts[hash >> 58];
    static_assert(Parts == 64);
    if ((part.used + 1) * 4 > part.keys.size() * 3) {
        std::vector<std::uint64_t> grown(std::max<std::size_t>(16, part.keys.size() + part.keys.size() / 2), 0);
        for (const std::uint64_t old : part.keys)
            if (old != 0)
                insertKey(grown, old, mix(old));
        part.keys = std::move(grown);
    }
    if (!insertKey(part.keys, key, hash))
        return false;
    ++part.used;
    return true;
}

void CandidateTable::clear()
{
    m_folders.clear();
    m_files.clear();
    m_marks.clear();
    m_unmarked = {};
    m_nameChunks.clear();
    m_nameUsed = 0;
    m_seen.clear();
    m_walkedFolders.clear();
    m_collectStats = {};
    m_otherNames.clear();
}

bool CandidateTable::markFolderWalked(const Identity &folder)
{
    return m_walkedFolders.insert(folder).second;
}

std::uint32_t CandidateTable::addFolder(const QByteArray &folderWithSeparator)
{
    m_folders.push_back(folderWithSeparator);
    return static_cast<std::uint32_t>(m_folders.size() - 1);
}

bool CandidateTable::addFile(std::uint32_t folder, QByteArrayView name, std::int64_t size, std::uint64_t device,
                             std::uint64_t inode, Times times)
{
    // Before the identity is remembered: a name left out must not hide another name of its file.
    if (m_filter && !m_filter(m_folders[folder], name, size))
        return false;
    const auto length = static_cast<std::uint64_t>(name.size());
    if (length > NameChunk)
        return false; // no file system has such names
    const bool newChunk = m_nameChunks.empty() || m_nameUsed + length > NameChunk;
    if ((m_nameChunks.size() + (newChunk ? 1 : 0)) * NameChunk > MaxNameBytes)
        return false; // a terabyte of names
    if (!m_seen.insert(device, inode)) {
        m_otherNames.push_back(OtherName{m_folders[folder] + name.toByteArray(), device, inode});
        return false;
    }
    if (newChunk) {
        m_nameChunks.push_back(std::make_unique_for_overwrite<char[]>(NameChunk));
        m_nameUsed = 0;
    }
    const std::uint64_t offset = (m_nameChunks.size() - 1) * NameChunk + m_nameUsed;
    std::copy(name.begin(), name.end(), m_nameChunks.back().get() + m_nameUsed);
    m_nameUsed += length;
    m_files.push_back(File{folder, static_cast<std::uint32_t>(inode), offset, length, size});
    if (m_marker) {
        m_marks.push_back(NotYet);
        m_unmarked.emplace_back(static_cast<std::uint32_t>(m_files.size() - 1),
                                Stamps{device, inode, times.mtimeNs, times.ctimeNs});
        // In batches: the marker's look-ups are asked for together, not waited on one by one.
        // Past a bound the walk waits for the marker rather than hold more stamps.
        if (m_unmarked.size() % 256 == 0)
            markUnmarked(m_unmarked.size() >= 16384);
    }
    return true;
}

void CandidateTable::markUnmarked(bool wait)
{
    std::vector<std::uint32_t> marks;
    if (m_unmarked.empty() || !m_marker(m_unmarked, marks, wait))
        return;
    for (std::size_t i = 0; i < m_unmarked.size() && i < marks.size(); ++i)
        m_marks[m_unmarked[i].first] = marks[i];
    if (m_unmarked.capacity() > 4096)
        m_unmarked = {}; // what gathered while the marker could not tell
    else
        m_unmarked.clear();
}

void CandidateTable::markRemaining()
{
    if (m_marker)
        markUnmarked(true);
}

QByteArray CandidateTable::pathBytes(std::size_t k) const
{
    const QByteArrayView name = nameBytes(k);
    QByteArray path;
    path.reserve(folderBytes(k).size() + name.size());
    return path.append(folderBytes(k)).append(name);
}

namespace {
bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
} // namespace

QString CandidateTable::path(std::size_t k) const
{
    // Most paths are plain ASCII, which every locale decodes as Latin-1 does, at a fraction of
    // the cost: this runs for every listed file.
    const QByteArray &folder = folderBytes(k);
    const QByteArrayView name = nameBytes(k);
    if (isAscii(folder) && isAscii(name)) {
        QString text;
        text.reserve(folder.size() + name.size());
        return text.append(QLatin1String(folder)).append(QLatin1String(name.data(), name.size()));
    }
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
