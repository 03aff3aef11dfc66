#pragma once

#include "FileIdentity.h"
#include "ReadPlan.h"
#include "ReadProgress.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CandidateTable;
class ReadStages;
class WorkerPool;

// How the reading phase may use the machine.
struct ReadOptions
{
    unsigned threads = 0;       // reader threads (1 to 64); 0: as suits the device
    unsigned maxOpenFiles = 64; // open files across the first four readers
    // File contents held at once across all readers. Small on purpose: while each reader's
    // share fits its core's cache, copying from the page cache and comparing cost half as much.
    std::size_t bufferBytes = 2u << 20;
    std::size_t edgeBlock = 4096; // bytes compared first at each end of a file
    bool inodeOrder = true;       // read in inode order (else in collection order)
    // Runs on a reader right after a file is opened, before it is read; lets a test change
    // or replace the file while it is being read, or fail the reader's task.
    std::function<void(const char *path)> afterOpen;
};

struct ReadCounters;

// A collected file (by collection index) that could not be read, and the errno why (0: unknown).
struct UnreadableFile
{
    std::uint32_t index;
    int error;
};

struct ReadStats
{
    std::uint64_t filesRead = 0;  // files opened and read, whole or in part
    std::uint64_t bytesRead = 0;  // every byte read, rereads included
    std::uint64_t unreadable = 0; // left out: could not be opened or read, vanished or changed before opening
    std::uint64_t changed = 0;    // left out: written to, replaced or removed while it was being read
    std::uint64_t failed = 0;     // left out: the reader working on it failed (not for want of memory)
    std::vector<UnreadableFile> unreadableFiles; // in no particular order
};

// A set of collected files whose contents are byte-for-byte identical.
struct ContentClass
{
    std::vector<std::uint32_t> members; // collection indexes, ascending
    std::uint32_t crc = 0;              // CRC-32 of the common contents
    // What each member was when its contents were compared, parallel to members; empty
    // when not recorded. The delete command checks a file against this before moving it.
    std::vector<FileIdentity> identities;
};

// Sorts the collected files into classes of identical contents on a pool of reader threads.
// Files of a size no other file has are never opened; files of one size are told apart by
// a block at each end, then compared whole, block by block, while their CRC-32 is computed.
// Empty files form one class without being opened. Which files take which path: ReadPlan.cpp;
// the paths themselves: ReadStages. This class only hands them out to the readers.
class ContentGrouper
{
public:
    ContentGrouper(const CandidateTable &table, ReadOptions options);
    ~ContentGrouper();
    ContentGrouper(const ContentGrouper &) = delete;
    ContentGrouper &operator=(const ContentGrouper &) = delete;

    void start();
    // True once every file is settled; waits at most `timeout` for that. Once a reader has run
    // out of memory, stops the others and throws std::bad_alloc.
    bool waitFor(std::chrono::milliseconds timeout);
    // Stops the readers at their next block and joins them. Results are then incomplete.
    void cancel();

    int percentDone() const;
    ReadStats stats() const;
    // Classes of two or more files, ordered by their first members. Call once finished.
    std::vector<ContentClass> takeClasses();

    using Index = std::uint32_t;
    using Members = std::vector<Index>;

private:
    struct SignatureStage;

    void plan();
    void planGroup(std::int64_t size, Members members);
    // Runs one stage over `members` and keeps what it found; then every member is settled.
    template <typename Stage> void post(Members members, Stage stage);
    void startSignatures(std::int64_t size, Members members, bool wholeContents);
    void signChunk(const std::shared_ptr<SignatureStage> &stage, std::size_t begin, std::size_t end);
    void finishSignatures(const std::shared_ptr<SignatureStage> &stage);
    void keep(std::vector<ContentClass> classes, const ReadCounters &counters);
    void tallyFailed();
    bool cancelled() const { return m_cancel.load(std::memory_order_relaxed); }

    const CandidateTable &m_table;
    ReadOptions m_options;
    ReadLimits m_limits;

    std::unique_ptr<WorkerPool> m_pool;
    unsigned m_growTo = 0; // readers the device would have, when the files are not in memory
    std::atomic<bool> m_cancel{false};
    ReadProgress m_progress;
    std::unique_ptr<ReadStages> m_stages;
    bool m_tallied = false;

    mutable std::mutex m_mutex; // guards the two below
    // Grows in blocks: a doubling vector held its old and new storage at once, at the peak.
    std::deque<ContentClass> m_classes;
    ReadStats m_stats;
};
