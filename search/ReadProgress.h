#pragma once

#include "ReadPlan.h"

#include <atomic>
#include <cstdint>
#include <vector>

class CandidateTable;

// Progress of the reading phase, and which planned files have an outcome yet. Progress
// counts bytes, plus a fixed amount per file so that many small files still show. Each file
// is worked on by one task at a time; the totals may be read from any thread.
class ReadProgress
{
public:
    void plan(const CandidateTable &table, const std::vector<SizeGroup> &groups);
    bool planned() const { return m_planned.load(); }

    // Counts up to `bytes` of the file as done, never more than its share.
    void credit(std::uint32_t k, std::uint64_t bytes);
    // The file's outcome is known: listed, left out, or unlike every other file.
    void settle(std::uint32_t k);
    void settle(const std::vector<std::uint32_t> &files);
    // True the first time it is called for the file.
    bool firstOpen(std::uint32_t k);

    int percent() const;
    // Planned files with no outcome: their work was lost (a task failed).
    std::uint64_t unsettled() const;

    static constexpr std::uint64_t PerFileWork = 4096;

private:
    // Per file, in one word so that a visit touches one cache line (files come in inode order,
    // which jumps about the table) and 200,000 files take 1.6 MB: the state in the top bits,
    // the bytes credited below them.
    static constexpr std::uint64_t Planned = std::uint64_t(1) << 63, Opened = std::uint64_t(1) << 62,
                                   Settled = std::uint64_t(1) << 61, Credited = Settled - 1;

    static std::uint64_t weightOf(std::int64_t size);
    // Marks the file settled; returns the progress it still had to credit.
    std::uint64_t settleOne(std::uint32_t k);

    const CandidateTable *m_table = nullptr;
    std::vector<std::uint64_t> m_files;
    std::uint64_t m_total = 0;
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<bool> m_planned{false};
};
