#include "FingerprintStore.h"

#include "CandidateTable.h"
#include "Crc32.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

// The log: a header, then chunks, each a header of four 32-bit words (magic, volume count, fact
// count, CRC-32 of all that follows the CRC word up to the chunk's end), its volumes (id, type)
// and its facts (64 bytes, volumes by index within the chunk). Little-endian, as written.
namespace {
constexpr char FileMagic[8] = {'T', 'w', 'F', 'p', 'S', 't', 'o', 'r'};
constexpr std::uint32_t Version = 2;
constexpr std::size_t HeaderBytes = 32;          // magic, version, reserved, compacted-at, reserved, CRC-32
constexpr std::uint32_t ChunkMagic = 0x6B436654; // "TfCk"
constexpr std::size_t ChunkHeaderBytes = 16;
constexpr std::size_t VolumeBytes = 16;
constexpr std::size_t FactBytes = 60;
constexpr std::uint32_t MaxChunkVolumes = 4096;
constexpr std::uint32_t MaxChunkFacts = 1u << 20;
constexpr std::uint32_t NoVolume = ~std::uint32_t(0);
constexpr std::size_t ChunkFacts = 4096; // as written: a reader holds one chunk at a time
constexpr std::size_t FlushFacts = 2048;
constexpr off_t MaxStoreBytes = off_t(1) << 30; // 16 million facts; a larger file is not read
constexpr auto FlushInterval = std::chrono::milliseconds(100);
constexpr std::int64_t CompactEverySeconds = 7 * 24 * 3600;

// A fact as stored: the Has* flags in the top byte of `flagsAndEdge`, the ends' block size below.
struct [[gnu::packed]] FactRecord
{
    std::uint64_t inode;
    std::int64_t size, mtimeNs, ctimeNs;
    std::uint64_t comparison;
    std::uint32_t endsCrc, wholeCrc, part, flagsAndEdge;
    std::uint16_t volume, lastSeenDay;
};
static_assert(sizeof(FactRecord) == FactBytes);

std::uint32_t today()
{
    return static_cast<std::uint32_t>(::time(nullptr) / 86400);
}

std::int64_t nowNs()
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000000000ll + now.tv_nsec;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The log a window at a time, front to back: read whole, it would be held beside the facts it
// holds, and that moment set a rescan's peak memory. Never more than the file is held.
class LogWindow
{
public:
    explicit LogWindow(int fd) : m_fd(fd)
    {
        struct stat st = {};
        m_size = ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }

    // Bytes [at, at + n) of the file, or nullptr when it ends first; valid until the next call.
    // `at` never goes back past an earlier call's.
    const char *bytes(std::uint64_t at, std::size_t n)
    {
        if (at < m_base || at + n > m_size)
            return nullptr;
        // Only once most of what is held is done with: a damaged log is searched a byte at a
        // time, and moving the rest down at every step would take time growing with its square.
        if (const std::uint64_t done = std::min<std::uint64_t>(at - m_base, m_data.size());
            done >= Piece && done * 2 >= m_data.size()) {
            m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(done));
            m_base += done;
        }
        if (at + n > end()) {
            const auto to = static_cast<std::size_t>(std::min(m_size, std::max(at + n, end() + Piece)) - m_base);
            if (to > m_data.capacity())
                m_data.reserve(
                    std::max<std::size_t>(to, std::min<std::uint64_t>(m_data.capacity() * 2, m_size - m_base)));
            std::size_t got = m_data.size();
            m_data.resize(to);
            while (got < to) {
                const ssize_t r = ::read(m_fd, m_data.data() + got, to - got);
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0)
                    break;
                got += static_cast<std::size_t>(r);
            }
            if (got < to) { // shorter than it was
                m_data.resize(got);
                m_size = end();
            }
        }
        return at + n <= end() ? m_data.data() + (at - m_base) : nullptr;
    }
    std::uint64_t size() const { return m_size; }

private:
    std::uint64_t end() const { return m_base + m_data.size(); }
    static constexpr std::size_t Piece = 64 * 1024;
    int m_fd;
    std::uint64_t m_size;
    std::vector<char> m_data;
    std::uint64_t m_base = 0; // the file offset of m_data's first byte
};

// The store's file, only if it is a plain file: a link, FIFO or device put in its place is
// neither followed nor waited on.
int openStore(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st = {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxStoreBytes)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string header(std::uint64_t compactedAt)
{
    std::string h(HeaderBytes, '\0');
    std::memcpy(h.data(), FileMagic, 8);
    std::memcpy(h.data() + 8, &Version, 4);
    std::memcpy(h.data() + 16, &compactedAt, 8);
    const std::uint32_t crc = crc32::checksum(h.data(), HeaderBytes - 4);
    std::memcpy(h.data() + HeaderBytes - 4, &crc, 4);
    return h;
}

bool headerValid(const std::string &bytes, std::uint64_t &compactedAt)
{
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.data(), FileMagic, 8) != 0)
        return false;
    std::uint32_t version = 0, crc = 0;
    std::memcpy(&version, bytes.data() + 8, 4);
    std::memcpy(&crc, bytes.data() + HeaderBytes - 4, 4);
    std::memcpy(&compactedAt, bytes.data() + 16, 8);
    return version == Version && crc == crc32::checksum(bytes.data(), HeaderBytes - 4);
}

// The CRC-32 of a chunk's counts and body: all but its magic and the CRC word itself.
std::uint32_t chunkCrc(const char *chunk, std::size_t length)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(chunk);
    return ~crc32::update(crc32::update(0xFFFFFFFFu, bytes + 4, 8), bytes + ChunkHeaderBytes,
                          length - ChunkHeaderBytes);
}

// The lock that orders the programs sharing the store; released when the descriptor closes.
class StoreLock
{
public:
    StoreLock(const QString &folder, int operation)
    {
        m_fd = ::open(QFile::encodeName(folder + QStringLiteral("/lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (m_fd >= 0)
            while (::flock(m_fd, operation) != 0 && errno == EINTR) {
            }
    }
    ~StoreLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

std::optional<FingerprintStore::Volume> statfsVolume(std::uint64_t, const char *path)
{
    struct statfs st = {};
    if (::statfs(path, &st) != 0)
        return std::nullopt;
    std::uint64_t id = 0;
    std::memcpy(&id, &st.f_fsid, std::min(sizeof id, sizeof st.f_fsid));
    // No id of its own (some memory and network file systems): inode numbers could repeat
    // on another one, so nothing is kept.
    if (id == 0)
        return std::nullopt;
    return FingerprintStore::Volume{id, static_cast<std::uint64_t>(st.f_type)};
}
} // namespace

FingerprintStore::FingerprintStore(Options options) : m_options(std::move(options))
{
    m_folder = m_options.folder.isEmpty() ? defaultFolder() : m_options.folder;
    if (!m_options.volumeOf)
        m_options.volumeOf = statfsVolume;
    if (!m_options.notice)
        m_options.notice = [](const QString &text) { qWarning("%s", qPrintable(text)); };
    std::random_device random;
    m_comparisonBase = (std::uint64_t(random()) << 32 | random()) & ~0xFFFFFFFFull;
    m_lastFlush = std::chrono::steady_clock::now();
    m_startedNs = nowNs();
}

FingerprintStore::~FingerprintStore() = default;

QString FingerprintStore::defaultFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/twinfold");
}

QString FingerprintStore::path() const
{
    return m_folder + QStringLiteral("/fingerprints");
}

bool FingerprintStore::forget(const QString &folder, QString *reason)
{
    const StoreLock lock(folder, LOCK_EX);
    bool ok = true;
    QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("fingerprints*")}, QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        if (!file.remove()) {
            ok = false;
            if (reason)
                *reason = file.fileName() + QStringLiteral(": ") + file.errorString();
        }
    }
    return ok;
}

void FingerprintStore::say(const QString &text)
{
    if (m_said)
        return;
    m_said = true;
    if (m_options.notice)
        m_options.notice(text);
}

std::optional<std::uint32_t> FingerprintStore::volumeIndex(const Volume &volume)
{
    const auto [at, added] = m_volumeIndex.try_emplace(volume, static_cast<std::uint32_t>(m_volumes.size()));
    if (!added)
        return at->second;
    // No one has this many file systems; a crafted store could name millions.
    if (m_volumes.size() >= MaxChunkVolumes) {
        m_volumeIndex.erase(at);
        return std::nullopt;
    }
    m_volumes.push_back(volume);
    return at->second;
}

void FingerprintStore::merge(Fact &into, const Fact &from)
{
    if (into.size != from.size || into.mtimeNs != from.mtimeNs || into.ctimeNs != from.ctimeNs) {
        into = from;
        return;
    }
    if (from.flags & HasEnds) {
        into.flags = (into.flags & 0xFF) | (from.flags & ~0xFFu) | HasEnds;
        into.endsCrc = from.endsCrc;
    }
    if (from.flags & HasWhole) {
        into.flags |= HasWhole;
        into.wholeCrc = from.wholeCrc;
    }
    if (from.flags & HasPart) {
        into.flags |= HasPart;
        into.comparison = from.comparison;
        into.part = from.part;
    }
    into.lastSeenDay = std::max(into.lastSeenDay, from.lastSeenDay);
}

namespace {
void prefetch(const void *address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Any number of slots: an index three quarters full costs a third of its entries, where a
// power of two could cost twice them.
std::size_t slotOf(const FingerprintStore::Key &key, std::size_t slotCount)
{
    const std::uint64_t h = (key.inode ^ std::uint64_t(key.volume) << 48) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(((h >> 32) * slotCount) >> 32);
}

std::size_t nextSlot(std::size_t s, std::size_t slotCount)
{
    return s + 1 == slotCount ? 0 : s + 1;
}

std::size_t slotsFor(std::size_t entries)
{
    return std::max<std::size_t>(1024, entries / 3 * 4 + 4);
}
} // namespace

void FingerprintStore::load()
{
    struct Loaded
    {
        std::atomic<bool> &flag;
        ~Loaded()
        {
            flag.store(true, std::memory_order_release);
            flag.notify_all();
        }
    } loaded{m_loaded};
    if (!QDir().mkpath(m_folder))
        return;
    const StoreLock lock(m_folder, LOCK_SH);
    const int fd = openStore(path(), O_RDONLY);
    if (fd < 0)
        return;
    std::lock_guard guard(m_mutex);
    readFile(fd, true);
    ::close(fd);
}

CandidateTable::StampMarker FingerprintStore::marker(const CandidateTable &table)
{
    return [this, &table](const std::vector<CandidateTable::Stamped> &files, std::vector<std::uint32_t> &marks,
                          bool wait) {
        if (wait)
            m_loaded.wait(false, std::memory_order_acquire);
        else if (!m_loaded.load(std::memory_order_acquire))
            return false;
        mark(table, files, marks);
        return true;
    };
}

void FingerprintStore::mark(const CandidateTable &table, const std::vector<CandidateTable::Stamped> &files,
                            std::vector<std::uint32_t> &marks)
{
    marks.assign(files.size(), 0);
    std::lock_guard guard(m_mutex);
    if (m_facts.empty())
        return;
    // The facts lie all over the table: every slot, then every entry, is asked for before the
    // first is waited on.
    std::vector<std::optional<Key>> keys(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto &[k, stamps] = files[i];
        keys[i] = keyOf(table, k, stamps.device, stamps.inode);
        if (!keys[i])
            continue;
        // A class's identities name the device its files were met on; with two devices on one
        // volume that device is not known from the fact, and such files are read.
        if (m_volumeDevices.size() <= keys[i]->volume)
            m_volumeDevices.resize(keys[i]->volume + 1);
        std::optional<std::uint64_t> &device = m_volumeDevices[keys[i]->volume];
        if (!device)
            device = stamps.device;
        if (*device != stamps.device)
            keys[i].reset();
        else
            prefetch(&m_factSlots[slotOf(*keys[i], m_factSlots.size())]);
    }
    for (const std::optional<Key> &key : keys)
        if (key)
            if (const std::uint32_t at = m_factSlots[slotOf(*key, m_factSlots.size())])
                prefetch(&m_facts[at - 1]);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!keys[i])
            continue;
        const auto &[k, stamps] = files[i];
        const Entry *const known = findEntry(*keys[i]);
        if (known && known->fact.size == table.file(k).size && known->fact.mtimeNs == stamps.mtimeNs
            && known->fact.ctimeNs == stamps.ctimeNs)
            marks[i] = static_cast<std::uint32_t>(known - m_facts.data()) + 1;
    }
}

// Merges the log's facts into memory. A chunk that fails its checks is skipped up to the next
// chunk that passes them: a killed writer leaves at most a broken tail, which later appends follow.
void FingerprintStore::readFile(int fd, bool reportDamage)
{
    LogWindow log(fd);
    m_fileBytes = log.size();
    const char *head = log.bytes(0, 1);
    if (!head)
        return;
    head = log.bytes(0, HeaderBytes);
    if (!head || !headerValid(std::string(head, HeaderBytes), m_compactedAt)) {
        m_rewrite = true;
        if (reportDamage)
            say(QStringLiteral("The fingerprint store %1 is damaged or from another version; it is ignored and "
                               "will be rewritten.")
                    .arg(path()));
        return;
    }
    bool damaged = false;
    reserveFacts(std::max<std::size_t>(m_facts.size(), (log.size() - HeaderBytes) / FactBytes));
    std::uint64_t at = HeaderBytes, checked = 0;
    while (const char *chunk = log.bytes(at, ChunkHeaderBytes)) {
        std::uint32_t word[4];
        std::memcpy(word, chunk, sizeof word);
        const std::uint64_t length = ChunkHeaderBytes + std::uint64_t(word[1]) * VolumeBytes
            + std::uint64_t(word[2]) * FactBytes;
        const bool plausible = word[0] == ChunkMagic && word[1] <= MaxChunkVolumes && word[2] <= MaxChunkFacts;
        chunk = plausible ? log.bytes(at, static_cast<std::size_t>(length)) : nullptr;
        // A sound log checksums each byte once; a crafted one could claim a long chunk at every
        // byte. Past twice the file, the rest is dropped as damaged.
        checked += chunk ? length : 0;
        if (checked > 2 * log.size() + (1u << 20)) {
            damaged = true;
            break;
        }
        const bool sound = chunk && chunkCrc(chunk, static_cast<std::size_t>(length)) == word[3];
        if (!sound) {
            damaged = true;
            ++at;
            const char *next = nullptr;
            while ((next = log.bytes(at, 4)) && std::memcmp(next, &ChunkMagic, 4) != 0)
                ++at;
            continue;
        }
        const char *p = chunk + ChunkHeaderBytes;
        std::vector<std::uint32_t> volumes(word[1]);
        for (std::uint32_t v = 0; v < word[1]; ++v, p += VolumeBytes) {
            Volume volume;
            std::memcpy(&volume.id, p, 8);
            std::memcpy(&volume.type, p + 8, 8);
            volumes[v] = volumeIndex(volume).value_or(NoVolume);
        }
        for (std::uint32_t f = 0; f < word[2]; ++f, p += FactBytes) {
            FactRecord r;
            std::memcpy(&r, p, FactBytes);
            if (r.volume >= volumes.size() || volumes[r.volume] == NoVolume)
                continue;
            const std::uint32_t flags = (r.flagsAndEdge >> 24) | (r.flagsAndEdge & 0xFFFFFFu) << 8;
            const Fact fact{r.size,    r.mtimeNs,  r.ctimeNs, r.comparison, flags,
                            r.endsCrc, r.wholeCrc, r.part,    r.lastSeenDay};
            putFact(Key{r.inode, volumes[r.volume]}, fact);
        }
        at += length;
    }
    if (log.bytes(at, 1))
        damaged = true;
    m_fileBytes = log.size();
    if (damaged) {
        m_rewrite = true;
        if (reportDamage)
            say(QStringLiteral("The fingerprint store %1 was damaged; the damaged part is dropped.").arg(path()));
    }
}

std::size_t FingerprintStore::factCount() const
{
    std::lock_guard guard(m_mutex);
    return m_facts.size();
}

FingerprintStore::Entry *FingerprintStore::findEntry(const Key &key)
{
    if (m_factSlots.empty())
        return nullptr;
    for (std::size_t s = slotOf(key, m_factSlots.size());; s = nextSlot(s, m_factSlots.size())) {
        const std::uint32_t at = m_factSlots[s];
        if (at == 0)
            return nullptr;
        if (m_facts[at - 1].key == key)
            return &m_facts[at - 1];
    }
}

void FingerprintStore::putFact(const Key &key, const Fact &fact)
{
    if (Entry *known = findEntry(key)) {
        merge(known->fact, fact);
        return;
    }
    if ((m_facts.size() + 1) * 4 > m_factSlots.size() * 3)
        indexFacts(slotsFor(m_factSlots.size() * 3 / 2));
    m_facts.push_back({key, fact});
    std::size_t s = slotOf(key, m_factSlots.size());
    while (m_factSlots[s] != 0)
        s = nextSlot(s, m_factSlots.size());
    m_factSlots[s] = static_cast<std::uint32_t>(m_facts.size());
}

void FingerprintStore::reserveFacts(std::size_t count)
{
    m_facts.reserve(count);
    const std::size_t slotCount = slotsFor(count);
    if (slotCount > m_factSlots.size())
        indexFacts(slotCount);
}

// Slots for every entry again, at most three quarters of them used.
void FingerprintStore::indexFacts(std::size_t slotCount)
{
    m_factSlots.assign(slotCount, 0);
    for (std::size_t i = 0; i < m_facts.size(); ++i) {
        std::size_t s = slotOf(m_facts[i].key, slotCount);
        while (m_factSlots[s] != 0)
            s = nextSlot(s, slotCount);
        m_factSlots[s] = static_cast<std::uint32_t>(i + 1);
    }
}

std::uint64_t FingerprintStore::newComparison()
{
    std::lock_guard guard(m_mutex);
    return m_comparisonBase + ++m_nextComparison;
}

// The key of file k, on `device`: the path is asked for only at a device's first sight.
std::optional<FingerprintStore::Key> FingerprintStore::keyOf(const CandidateTable &table, std::uint32_t k,
                                                             std::uint64_t device, std::uint64_t inode)
{
    auto [it, added] = m_deviceVolumes.try_emplace(device);
    if (added) {
        const std::optional<Volume> volume = m_options.volumeOf(device, table.pathBytes(k).constData());
        if (volume)
            it->second = volumeIndex(*volume);
    }
    if (!it->second)
        return std::nullopt;
    return Key{inode, *it->second};
}

// A fact holds the stamps of the file as it was opened. A file changed since shortly before the
// search began gets none: a change during its read could fall in the clock tick of the one
// before, and leave its stamps as they were.
bool FingerprintStore::settledLongEnough(const FileIdentity &readAs) const
{
    const std::int64_t latest = std::max(readAs.mtimeSeconds * 1000000000ll + readAs.mtimeNanoseconds,
                                         readAs.ctimeSeconds * 1000000000ll + readAs.ctimeNanoseconds);
    return readAs.valid && readAs.size > 0
        && m_startedNs - latest >= std::chrono::nanoseconds(m_options.settled).count();
}

FingerprintStore::Recalled FingerprintStore::recall(const CandidateTable &table, std::int64_t size,
                                                    const std::vector<std::uint32_t> &members)
{
    Recalled out;
    const auto readEvery = [&] {
        out = {};
        out.toRead = members;
        return out;
    };
    if (size <= 0 || !table.marksStamps())
        return readEvery();

    // Every member must have a fact that held for the stamps the walk saw; one unknown file
    // could equal any other.
    const std::size_t n = members.size();
    std::vector<Fact> facts(n);
    std::vector<std::uint64_t> devices(n), inodes(n);
    {
        std::lock_guard guard(m_mutex);
        const std::uint32_t day = today();
        // The members' facts lie all over the table: every one is asked for before the first
        // is waited on.
        for (const std::uint32_t k : members) {
            const std::uint32_t mark = table.stampMark(k);
            if (mark == 0 || mark > m_facts.size())
                return readEvery();
            prefetch(&m_facts[mark - 1]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            Entry &known = m_facts[table.stampMark(members[i]) - 1];
            if (known.fact.size != size
                || static_cast<std::uint32_t>(known.key.inode) != table.file(members[i]).inodeOrder)
                return readEvery();
            known.fact.lastSeenDay = day;
            facts[i] = known.fact;
            inodes[i] = known.key.inode;
            devices[i] = m_volumeDevices[known.key.volume].value_or(0);
        }
    }
    // Ends tell files apart only where all were taken over one span: a small group's comparison
    // keeps shorter ends than a big group's signatures.
    bool oneSpan = true;
    for (const Fact &f : facts) {
        if (!(f.flags & HasEnds))
            return readEvery();
        oneSpan = oneSpan && (f.flags & ~0xFFu) == (facts.front().flags & ~0xFFu);
    }

    // Classes: members that ended in one class of one comparison, side by side in byClass;
    // others alone. Class c is byClass[classAt[c], classAt[c + 1]). Flat arrays: a rescan
    // recalls every size of the collection, and a node a class cost more than the rest.
    const auto sameClass = [&](std::uint32_t a, std::uint32_t b) {
        const Fact &x = facts[a], &y = facts[b];
        return (x.flags & HasPart) && (y.flags & HasPart) && x.comparison == y.comparison && x.part == y.part;
    };
    std::vector<std::uint32_t> byClass(n);
    std::iota(byClass.begin(), byClass.end(), 0u);
    std::sort(byClass.begin(), byClass.end(), [&](std::uint32_t a, std::uint32_t b) {
        const Fact &x = facts[a], &y = facts[b];
        const bool xPart = x.flags & HasPart, yPart = y.flags & HasPart;
        if (xPart != yPart)
            return xPart;
        if (xPart && !sameClass(a, b))
            return x.comparison != y.comparison ? x.comparison < y.comparison : x.part < y.part;
        return a < b;
    });
    std::vector<std::uint32_t> classAt;
    for (std::uint32_t p = 0; p < n; ++p)
        if (p == 0 || !sameClass(byClass[p - 1], byClass[p]))
            classAt.push_back(p);
    const std::size_t classCount = classAt.size();
    classAt.push_back(static_cast<std::uint32_t>(n));
    const auto firstOf = [&](std::size_t c) -> const Fact & { return facts[byClass[classAt[c]]]; };
    // One class must agree in all it says.
    for (std::size_t c = 0; c < classCount; ++c)
        for (std::uint32_t p = classAt[c] + 1; p < classAt[c + 1]; ++p) {
            const Fact &a = firstOf(c), &b = facts[byClass[p]];
            if (a.endsCrc != b.endsCrc || (a.flags & HasWhole) != (b.flags & HasWhole)
                || ((a.flags & HasWhole) && a.wholeCrc != b.wholeCrc))
                return readEvery();
        }

    // Two classes are told apart by different ends, different whole contents, or by having
    // ended apart in one comparison. Any pair not told apart is read.
    std::vector<std::uint8_t> read(classCount, 0);
    const auto endsOf = [&](std::size_t c) { return oneSpan ? firstOf(c).endsCrc : 0u; };
    std::vector<std::uint32_t> byEnds(classCount);
    std::iota(byEnds.begin(), byEnds.end(), 0u);
    std::sort(byEnds.begin(), byEnds.end(),
              [&](std::uint32_t a, std::uint32_t b) { return endsOf(a) != endsOf(b) ? endsOf(a) < endsOf(b) : a < b; });
    for (std::size_t begin = 0; begin < classCount;) {
        std::size_t end = begin + 1;
        while (end < classCount && endsOf(byEnds[end]) == endsOf(byEnds[begin]))
            ++end;
        if (end - begin > 64) {
            for (std::size_t x = begin; x < end; ++x)
                read[byEnds[x]] = 1;
        } else {
            for (std::size_t x = begin; x < end; ++x)
                for (std::size_t y = x + 1; y < end; ++y) {
                    const Fact &a = firstOf(byEnds[x]), &b = firstOf(byEnds[y]);
                    const bool apart = ((a.flags & HasPart) && (b.flags & HasPart) && a.comparison == b.comparison)
                        || ((a.flags & HasWhole) && (b.flags & HasWhole) && a.wholeCrc != b.wholeCrc);
                    if (!apart)
                        read[byEnds[x]] = read[byEnds[y]] = 1;
                }
        }
        begin = end;
    }

    std::vector<std::uint32_t> toRead; // member positions
    for (std::size_t c = 0; c < classCount; ++c) {
        const Fact &first = firstOf(c);
        const std::uint32_t from = classAt[c], to = classAt[c + 1];
        if (to - from >= 2 && !read[c] && !(first.flags & HasWhole))
            read[c] = 1; // a class without its CRC-32 cannot be listed
        if (read[c]) {
            toRead.insert(toRead.end(), byClass.begin() + from, byClass.begin() + to);
        } else if (to - from == 1) {
            out.settled.push_back(members[byClass[from]]);
        } else {
            ContentClass found;
            found.crc = first.wholeCrc;
            std::vector<std::uint32_t> at(byClass.begin() + from, byClass.begin() + to);
            std::sort(at.begin(), at.end(), [&](std::uint32_t a, std::uint32_t b) { return members[a] < members[b]; });
            for (const std::uint32_t p : at) {
                found.members.push_back(members[p]);
                // The file as the walk saw it, which its fact matched.
                const Fact &fact = facts[p];
                struct stat st = {};
                st.st_mode = S_IFREG;
                st.st_dev = static_cast<dev_t>(devices[p]);
                st.st_ino = static_cast<ino_t>(inodes[p]);
                st.st_size = size;
                st.st_mtim = {fact.mtimeNs / 1000000000, fact.mtimeNs % 1000000000};
                st.st_ctim = {fact.ctimeNs / 1000000000, fact.ctimeNs % 1000000000};
                if (st.st_mtim.tv_nsec < 0)
                    st.st_mtim = {st.st_mtim.tv_sec - 1, st.st_mtim.tv_nsec + 1000000000};
                if (st.st_ctim.tv_nsec < 0)
                    st.st_ctim = {st.st_ctim.tv_sec - 1, st.st_ctim.tv_nsec + 1000000000};
                found.identities.push_back(identityOf(st));
            }
            out.classes.push_back(std::move(found));
        }
    }
    if (toRead.size() == 1) {
        out.settled.push_back(members[toRead.front()]);
        toRead.clear();
    }
    // In the plan's order, as the comparisons expect.
    std::sort(toRead.begin(), toRead.end());
    out.toRead.reserve(toRead.size());
    for (const std::uint32_t p : toRead)
        out.toRead.push_back(members[p]);
    return out;
}

void FingerprintStore::learn(const CandidateTable &table, std::uint32_t k, const FileIdentity &readAs, const Fact &fact)
{
    learnAll(table, {{k, readAs, fact}});
}

// Under one lock for all: the readers learn at the end of every task. The reader that finds a
// flush due writes it after letting go of the lock, and only when no other flush is under way:
// no reader waits on the disk.
void FingerprintStore::learnAll(const CandidateTable &table, const std::vector<Learnt> &learnt)
{
    if (!table.marksStamps())
        return;
    std::vector<const Learnt *> admitted;
    for (const Learnt &l : learnt)
        if (settledLongEnough(l.readAs))
            admitted.push_back(&l);
    if (admitted.empty())
        return;
    const std::uint32_t day = today();
    std::unique_lock<std::mutex> flushing;
    Batch batch;
    {
        std::lock_guard guard(m_mutex);
        for (const Learnt *l : admitted) {
            const FileIdentity &readAs = l->readAs;
            const std::optional<Key> key = keyOf(table, l->k, readAs.device, readAs.inode);
            if (!key)
                continue;
            Fact stamped = l->fact;
            stamped.size = readAs.size;
            stamped.mtimeNs = readAs.mtimeSeconds * 1000000000ll + readAs.mtimeNanoseconds;
            stamped.ctimeNs = readAs.ctimeSeconds * 1000000000ll + readAs.ctimeNanoseconds;
            stamped.lastSeenDay = day;
            m_pending.push_back({*key, stamped});
        }
        // Early on, flushes follow each other closely, so a search stopped soon after it began
        // reading keeps most of what it read too.
        const auto now = std::chrono::steady_clock::now();
        if (m_learnt == 0)
            m_firstLearnt = now;
        m_learnt += admitted.size();
        const auto interval = std::min<std::chrono::steady_clock::duration>(FlushInterval, (now - m_firstLearnt) / 8);
        if (m_pending.size() >= std::clamp<std::size_t>(m_learnt / 8, 64, FlushFacts)
            || now - m_lastFlush >= interval) {
            flushing = std::unique_lock(m_flushMutex, std::try_to_lock);
            if (flushing.owns_lock())
                batch = takeBatch();
        }
    }
    if (flushing.owns_lock())
        append(batch);
}

void FingerprintStore::learnSignature(const CandidateTable &table, std::uint32_t k, const FileIdentity &readAs,
                                      std::size_t edgeBlock, std::uint32_t endsCrc,
                                      std::optional<std::uint32_t> wholeCrc)
{
    Fact fact;
    fact.flags = HasEnds | static_cast<std::uint32_t>(edgeBlock) << 8;
    fact.endsCrc = endsCrc;
    if (wholeCrc) {
        fact.flags |= HasWhole;
        fact.wholeCrc = *wholeCrc;
    }
    learn(table, k, readAs, fact);
}

void FingerprintStore::learnComparison(const CandidateTable &table, const std::vector<Part> &parts,
                                       std::size_t edgeBlock, bool apartKnown)
{
    const std::uint64_t comparison = apartKnown ? newComparison() : 0;
    std::vector<Learnt> learnt;
    learnt.reserve(parts.size());
    for (const Part &p : parts) {
        Fact fact;
        if (p.endsCrc) {
            fact.flags |= HasEnds | static_cast<std::uint32_t>(edgeBlock) << 8;
            fact.endsCrc = *p.endsCrc;
        }
        if (p.wholeCrc) {
            fact.flags |= HasWhole;
            fact.wholeCrc = *p.wholeCrc;
        }
        if (apartKnown) {
            fact.flags |= HasPart;
            fact.comparison = comparison;
            fact.part = p.part;
        }
        learnt.push_back({p.k, p.readAs, fact});
    }
    learnAll(table, learnt);
}

namespace {
// One chunk of facts, with the volumes they name.
std::string chunkOf(const std::vector<FingerprintStore::Volume> &volumes,
                    const std::vector<FingerprintStore::Entry> &facts, std::size_t begin, std::size_t end)
{
    std::vector<std::uint32_t> local(volumes.size(), UINT32_MAX);
    std::vector<std::uint32_t> used;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint32_t v = facts[i].key.volume;
        if (local[v] == UINT32_MAX) {
            local[v] = static_cast<std::uint32_t>(used.size());
            used.push_back(v);
        }
    }
    std::string chunk(ChunkHeaderBytes + used.size() * VolumeBytes + (end - begin) * FactBytes, '\0');
    char *p = chunk.data() + ChunkHeaderBytes;
    for (const std::uint32_t v : used) {
        std::memcpy(p, &volumes[v].id, 8);
        std::memcpy(p + 8, &volumes[v].type, 8);
        p += VolumeBytes;
    }
    for (std::size_t i = begin; i < end; ++i, p += FactBytes) {
        const auto &[key, f] = facts[i];
        const FactRecord r{key.inode,
                           f.size,
                           f.mtimeNs,
                           f.ctimeNs,
                           f.comparison,
                           f.endsCrc,
                           f.wholeCrc,
                           f.part,
                           (f.flags & 0xFFu) << 24 | (f.flags >> 8 & 0xFFFFFFu),
                           static_cast<std::uint16_t>(local[key.volume]),
                           static_cast<std::uint16_t>(f.lastSeenDay)};
        std::memcpy(p, &r, FactBytes);
    }
    const std::uint32_t word[3] = {ChunkMagic, static_cast<std::uint32_t>(used.size()),
                                   static_cast<std::uint32_t>(end - begin)};
    std::memcpy(chunk.data(), word, sizeof word);
    const std::uint32_t crc = chunkCrc(chunk.data(), chunk.size());
    std::memcpy(chunk.data() + 12, &crc, 4);
    return chunk;
}

std::string chunksOf(const std::vector<FingerprintStore::Volume> &volumes,
                     const std::vector<FingerprintStore::Entry> &facts)
{
    std::string bytes;
    for (std::size_t begin = 0; begin < facts.size(); begin += ChunkFacts)
        bytes += chunkOf(volumes, facts, begin, std::min(facts.size(), begin + ChunkFacts));
    return bytes;
}

// Writes facts as chunks of at most ChunkFacts, one chunk in memory at a time; false when a
// write fails. Each chunk names every volume, so a chunk alone is whole.
bool writeChunks(int fd, const std::vector<FingerprintStore::Volume> &volumes,
                 const std::vector<FingerprintStore::Entry> &facts, std::uint64_t &written)
{
    for (std::size_t begin = 0; begin < facts.size(); begin += ChunkFacts) {
        const std::string chunk = chunkOf(volumes, facts, begin, std::min(facts.size(), begin + ChunkFacts));
        if (!writeAll(fd, chunk.data(), chunk.size()))
            return false;
        written += chunk.size();
    }
    return true;
}
} // namespace

void FingerprintStore::flush()
{
    const std::lock_guard flushing(m_flushMutex);
    Batch batch;
    {
        std::lock_guard guard(m_mutex);
        batch = takeBatch();
    }
    append(batch);
}

// Under m_mutex: what is pending, and the volumes it names, for one flush.
FingerprintStore::Batch FingerprintStore::takeBatch()
{
    m_lastFlush = std::chrono::steady_clock::now();
    Batch batch;
    batch.facts.swap(m_pending);
    m_pending.swap(m_spare);
    if (!batch.facts.empty())
        batch.volumes = m_volumes;
    return batch;
}

// Appends a batch as chunks, under the file lock, in one write; with m_flushMutex held.
void FingerprintStore::append(Batch &batch)
{
    if (batch.facts.empty())
        return;
    std::uint64_t created = 0; // when this flush began the log
    std::uint64_t written = 0;
    bool ok = QDir().mkpath(m_folder);
    const StoreLock lock(m_folder, LOCK_EX);
    const int fd = ok && lock.held() ? openStore(path(), O_RDWR | O_APPEND | O_CREAT) : -1;
    ok = fd >= 0;
    struct stat st = {};
    ok = ok && ::fstat(fd, &st) == 0;
    if (ok && st.st_size == 0) {
        created = static_cast<std::uint64_t>(::time(nullptr));
        ok = writeAll(fd, header(created).data(), HeaderBytes);
    } else if (ok) {
        // Never after a header that fails its checks: finish() rewrites such a file.
        std::string first(HeaderBytes, '\0');
        std::uint64_t compactedAt = 0;
        ok = ::pread(fd, first.data(), HeaderBytes, 0) == static_cast<ssize_t>(HeaderBytes)
            && headerValid(first, compactedAt);
    }
    std::vector<Entry> &facts = batch.facts;
    if (ok) {
        // One record a file: what one comparison's steps learnt of it comes together, the later
        // over the earlier, in the order learnt.
        std::size_t slotCount = 16;
        while (slotCount < facts.size() * 2)
            slotCount *= 2;
        std::vector<std::uint32_t> seen(slotCount, 0); // kept entry + 1
        std::size_t kept = 0;
        for (std::size_t i = 0; i < facts.size(); ++i) {
            std::size_t at = slotOf(facts[i].key, slotCount);
            while (seen[at] != 0 && facts[seen[at] - 1].key != facts[i].key)
                at = nextSlot(at, slotCount);
            if (seen[at] != 0) {
                merge(facts[seen[at] - 1].fact, facts[i].fact);
            } else {
                facts[kept] = facts[i];
                seen[at] = static_cast<std::uint32_t>(++kept);
            }
        }
        facts.resize(kept);
        const std::string bytes = chunksOf(batch.volumes, facts);
        ok = writeAll(fd, bytes.data(), bytes.size());
        written = bytes.size();
    }
    if (fd >= 0)
        ::close(fd);

    std::lock_guard guard(m_mutex);
    if (created != 0) {
        m_compactedAt = created;
        m_fileBytes = HeaderBytes;
    }
    if (ok) {
        m_fileBytes += written;
        m_appended += facts.size();
    } else {
        // Facts that could not be appended (a foreign header, a full disk) wait for finish()'s
        // rewrite, which is then due even when the facts read were let go.
        for (const Entry &e : facts)
            putFact(e.key, e.fact);
        m_rewrite = true;
    }
    facts.clear();
    if (m_spare.capacity() < facts.capacity())
        m_spare.swap(facts);
}

// Rewrites the store once in a while (facts of files not met for long dropped, every entry
// once), or at once when it was found damaged or foreign. Facts other programs appended
// meanwhile are read first, so none is lost.
bool FingerprintStore::rewriteDue(std::int64_t now) const
{
    return m_rewrite || now - static_cast<std::int64_t>(m_compactedAt) >= CompactEverySeconds
        || m_fileBytes
        > HeaderBytes + (m_facts.size() + m_dropped + m_appended) * (FactBytes + 1) * 5 / 4 + (64u << 10);
}

void FingerprintStore::recalledAll()
{
    std::lock_guard guard(m_mutex);
    if (rewriteDue(static_cast<std::int64_t>(::time(nullptr))))
        return;
    m_dropped = m_facts.size();
    std::vector<Entry>().swap(m_facts);
    std::vector<std::uint32_t>().swap(m_factSlots);
}

void FingerprintStore::finish()
{
    flush();
    std::lock_guard guard(m_mutex);
    const auto now = static_cast<std::int64_t>(::time(nullptr));
    // Facts let go of took with them what this search saw of them: their rewrite waits for a
    // search that keeps them, unless the file must be mended.
    if (!rewriteDue(now) || (m_dropped != 0 && !m_rewrite) || !QDir().mkpath(m_folder))
        return;
    const StoreLock lock(m_folder, LOCK_EX);
    if (!lock.held())
        return;
    const QByteArray target = QFile::encodeName(path());
    if (const int fd = openStore(path(), O_RDONLY); fd >= 0) {
        readFile(fd, false);
        ::close(fd);
    }
    const std::uint32_t oldest = today() - static_cast<std::uint32_t>(std::max(0, m_options.pruneAfterDays));
    // What this program appended is in the log just read, so m_facts now holds every fact.
    std::erase_if(m_facts, [oldest](const Entry &e) { return e.fact.lastSeenDay < oldest; });
    indexFacts(m_factSlots.size());
    const QByteArray temporary = target + '.' + QByteArray::number(::getpid()) + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const std::string head = header(static_cast<std::uint64_t>(now));
    std::uint64_t written = head.size();
    // No fsync: a store lost in a system crash costs its facts, never a group.
    const bool ok = writeAll(fd, head.data(), head.size()) && writeChunks(fd, m_volumes, m_facts, written);
    ::close(fd);
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
        ::unlink(temporary.constData());
        return;
    }
    m_compactedAt = static_cast<std::uint64_t>(now);
    m_fileBytes = written;
    m_rewrite = false;
    m_appended = 0;
}
