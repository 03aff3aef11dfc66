#pragma once

#include "CandidateTable.h"
#include "Reading.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

// The file system a file lives on, as the kernel names it across mounts and reboots.
struct StoreVolume
{
    std::uint64_t id = 0, type = 0;
    bool operator==(const StoreVolume &) const = default;
};
// The volume of a device, given a path on it; nothing when it has no lasting id.
using StoreVolumeOf = std::function<std::optional<StoreVolume>(std::uint64_t device, const char *path)>;

// How a store is kept.
struct FingerprintStoreOptions
{
    QString folder; // empty: twinfold in $XDG_CACHE_HOME (or ~/.cache)
    // A file whose mtime or ctime is less than this older than the search gets no fact: a
    // change within the file system's clock tick would leave its stamps as they were.
    std::chrono::milliseconds settled{2000};
    int pruneAfterDays = 180;                    // facts of files no search has met for this long are dropped
    StoreVolumeOf volumeOf;                      // by default statfs's f_fsid and f_type
    std::function<void(const QString &)> notice; // the one message about a damaged store
};

// What earlier searches learnt by reading files, kept between searches in the user's cache
// folder and shared by every program of the user. Facts are keyed by the file system's own id
// and the inode, and hold the size, mtime and ctime (nanoseconds) the file had when it was
// read: a fact is used only while all of them are unchanged. It holds the CRC-32 of the file's
// two ends, of the whole file where it was read whole, and which comparison the file took part
// in and which of its classes of byte-for-byte equal files it ended in.
//
// The store only spares reads: a group comes from it only when every member's fact still holds
// and they ended in one class of one comparison; a file told apart from every other by stored
// facts is not read. Anything else is read and compared as without it.
//
// On disk: a log of checksummed chunks appended under a lock, rewritten whole (to a new file,
// then renamed) to prune it. A damaged or foreign file costs its facts, never a wrong group.
class FingerprintStore
{
public:
    using Volume = StoreVolume;
    using VolumeOf = StoreVolumeOf;
    using Options = FingerprintStoreOptions;

    explicit FingerprintStore(Options options = {});
    ~FingerprintStore();
    FingerprintStore(const FingerprintStore &) = delete;
    FingerprintStore &operator=(const FingerprintStore &) = delete;

    static QString defaultFolder();
    // Removes the store's files from `folder`; false (with the reason) when one stays.
    static bool forget(const QString &folder, QString *reason);
    QString path() const;

    // Reads the store; a missing one is empty, a damaged part is dropped with one notice.
    void load();

    // A CandidateTable marker: a file's mark is its fact's place + 1 when a fact holds for the
    // stamps the walk saw, 0 when none does. A search sets it before collecting, as the store
    // loads (load() must be under way or done); until the store is loaded it marks nothing,
    // unless asked to wait.
    CandidateTable::StampMarker marker(const CandidateTable &table);

    // The files of one size (collection indexes, in plan order) split by what is stored.
    struct Recalled
    {
        std::vector<ContentClass> classes;  // groups known equal, unchanged since
        std::vector<std::uint32_t> settled; // told apart from all the others: no read needed
        std::vector<std::uint32_t> toRead;  // compare as usual
    };
    Recalled recall(const CandidateTable &table, std::int64_t size, const std::vector<std::uint32_t> &members);

    // Every size has been recalled. Unless the store is due to be rewritten, the facts read
    // from it go: on a large collection they are most of a rescan's memory.
    void recalledAll();

    // What a comparison learnt, from any reader thread. `k` indexes the table, `readAs` is the
    // file as it was opened, whose stamps the fact keeps; nothing is kept for a file changed
    // shortly before the search began, or on a file system without a lasting id.
    // A file's signature: the CRC-32 of its ends, and of the whole file when it was read whole.
    void learnSignature(const CandidateTable &table, std::uint32_t k, const FileIdentity &readAs, std::size_t edgeBlock,
                        std::uint32_t endsCrc, std::optional<std::uint32_t> wholeCrc);
    // Files compared with one another: with `apartKnown`, equal parts mean equal contents and
    // different parts different contents (without it, only the CRC-32s are kept).
    struct Part
    {
        std::uint32_t k;
        std::uint32_t part;
        std::optional<std::uint32_t> wholeCrc;
        FileIdentity readAs;
        std::optional<std::uint32_t> endsCrc; // of the ends of edgeBlock bytes
    };
    void learnComparison(const CandidateTable &table, const std::vector<Part> &parts, std::size_t edgeBlock,
                         bool apartKnown);

    // Appends what was learnt since the last flush; the search calls it as it goes, so a killed
    // search keeps most of what it read.
    void flush();
    // Flushes, and rewrites the store when pruning or repair is due.
    void finish();

    std::size_t factCount() const;

    // Packed to four bytes: 64 bytes an entry rather than 72. An 8-byte member may then lie on
    // a 4-byte boundary: read members by value, never through a reference or pointer.
#pragma pack(push, 4)
    struct Key
    {
        std::uint64_t inode = 0;
        std::uint32_t volume = 0; // index into m_volumes
        bool operator==(const Key &) const = default;
    };
    struct Fact
    {
        std::int64_t size = 0, mtimeNs = 0, ctimeNs = 0;
        std::uint64_t comparison = 0;
        std::uint32_t flags = 0; // Has* below; the ends' block size above bit 8
        std::uint32_t endsCrc = 0, wholeCrc = 0;
        std::uint32_t part = 0;
        std::uint32_t lastSeenDay = 0;
    };
#pragma pack(pop)
    enum : std::uint32_t { HasEnds = 1, HasWhole = 2, HasPart = 4 };
    struct Entry
    {
        Key key;
        Fact fact;
    };
    static_assert(sizeof(Entry) == 64);

private:
    void mark(const CandidateTable &table, const std::vector<CandidateTable::Stamped> &files,
              std::vector<std::uint32_t> &marks);
    std::optional<Key> keyOf(const CandidateTable &table, std::uint32_t k, std::uint64_t device, std::uint64_t inode);
    bool settledLongEnough(const FileIdentity &readAs) const;
    Entry *findEntry(const Key &key);
    void putFact(const Key &key, const Fact &fact);
    void reserveFacts(std::size_t count);
    void indexFacts(std::size_t slotCount);
    struct Learnt
    {
        std::uint32_t k;
        FileIdentity readAs;
        Fact fact;
    };
    void learn(const CandidateTable &table, std::uint32_t k, const FileIdentity &readAs, const Fact &fact);
    void learnAll(const CandidateTable &table, const std::vector<Learnt> &learnt);
    struct Batch
    {
        std::vector<Entry> facts;
        std::vector<Volume> volumes;
    };
    Batch takeBatch();
    void append(Batch &batch);
    void readFile(int fd, bool reportDamage);
    std::optional<std::uint32_t> volumeIndex(const Volume &volume);
    static void merge(Fact &into, const Fact &from);
    void say(const QString &text);
    bool rewriteDue(std::int64_t now) const;

    Options m_options;
    QString m_folder;
    mutable std::mutex m_mutex; // guards all below
    std::vector<Volume> m_volumes;
    struct VolumeHash
    {
        std::size_t operator()(const Volume &v) const noexcept
        {
            return std::hash<std::uint64_t>()(v.id * 0x9E3779B97F4A7C15ull ^ v.type);
        }
    };
    std::unordered_map<Volume, std::uint32_t, VolumeHash> m_volumeIndex;             // into m_volumes
    std::unordered_map<std::uint64_t, std::optional<std::uint32_t>> m_deviceVolumes; // st_dev to m_volumes
    // The one st_dev a volume's marked files were met on; a second one's files get no mark.
    std::vector<std::optional<std::uint64_t>> m_volumeDevices;
    std::atomic<bool> m_loaded{false};
    // Facts read from the log, one a file, with an open-addressed index (entry + 1, 0 free):
    // a quarter of a node-based map's memory on a large collection.
    std::vector<Entry> m_facts;
    std::vector<std::uint32_t> m_factSlots;
    std::vector<Entry> m_pending; // learnt, not yet appended; not looked up again by this search
    std::vector<Entry> m_spare;   // the last flush's buffer, for the next facts
    std::mutex m_flushMutex;      // held by the one flush under way, before m_mutex
    std::uint64_t m_appended = 0; // facts this program appended to the log
    std::size_t m_dropped = 0;    // facts let go of by recalledAll()
    std::chrono::steady_clock::time_point m_lastFlush;
    std::chrono::steady_clock::time_point m_firstLearnt; // when this search first learnt a fact
    std::size_t m_learnt = 0;                            // facts this search learnt
    std::int64_t m_startedNs = 0;                        // the wall clock when this search began
    std::uint64_t m_fileBytes = 0;                       // the log's length when last read
    std::uint64_t m_compactedAt = 0;                     // seconds since the epoch
    bool m_rewrite = false;                              // damaged or foreign: rewrite at finish
    bool m_said = false;
    std::uint64_t m_comparisonBase = 0;
    std::uint64_t m_nextComparison = 0;

public:
    // A number for a new comparison, unique across searches and programs in practice.
    std::uint64_t newComparison();
};
