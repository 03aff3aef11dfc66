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
    // True the first time it is called for the file.
    bool firstOpen(std::uint32_t k);

    int percent() const;
    // Planned files with no outcome: their work was lost (a task failed).
    std::uint64_t unsettled() const;

    static constexpr std::uint64_t PerFileWork = 4096;

private:
    enum : std::uint8_t { Planned = 1, Opened = 2, Settled = 4 };

    // Together, so that a file's visit touches one cache line: files come in inode order,
    // which jumps about the table.
    struct File
    {
        std::uint64_t credited = 0;
        std::uint8_t state = 0;
    };
    const CandidateTable *m_table = nullptr;
    std::vector<File> m_files;
    std::uint64_t m_total = 0;
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<bool> m_planned{false};
};
