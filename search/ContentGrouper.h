#pragma once

#include "ReadPlan.h"
#include "ReadProgress.h"
#include "Reading.h"

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
class Comparisons;
class WorkerPool;

// Sorts the collected files into classes of identical contents on a pool of reader threads.
// Files of a size no other file has are never opened; files of one size are told apart by
// a block at each end, then compared whole, block by block, while their CRC-32 is computed.
// Empty files form one class without being opened. Which files take which comparison:
// ReadPlan.cpp; the comparisons themselves: Comparisons. This class only hands them out.
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
    struct Signing;

    void plan();
    bool recall(SizeGroup &group);
    void planGroup(std::int64_t size, Members members);
    // Runs one comparison over `members` and keeps what it found; then every member is settled.
    template <typename Comparison> void post(Members members, Comparison comparison, bool next = false);
    void startSignatures(std::int64_t size, Members members, bool wholeContents);
    void signChunk(const std::shared_ptr<Signing> &signing, std::size_t begin, std::size_t end);
    void finishSignatures(const std::shared_ptr<Signing> &signing);
    void keep(std::vector<ContentClass> classes, const ReadStats &counts);
    void tallyFailed();
    bool cancelled() const { return m_cancel.load(std::memory_order_relaxed); }

    const CandidateTable &m_table;
    ReadOptions m_options;
    ReadLimits m_limits;

    std::unique_ptr<WorkerPool> m_pool;
    unsigned m_growTo = 0; // readers the device would have, when the files are not in memory
    std::atomic<bool> m_cancel{false};
    ReadProgress m_progress;
    std::unique_ptr<Comparisons> m_comparisons;
    bool m_tallied = false;

    mutable std::mutex m_mutex; // guards the two below
    // Grows in blocks: a doubling vector held its old and new storage at once, at the peak.
    std::deque<ContentClass> m_classes;
    ReadStats m_stats;
};
