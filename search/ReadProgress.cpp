#include "ReadProgress.h"

#include "CandidateTable.h"

#include <algorithm>

std::uint64_t ReadProgress::weightOf(std::int64_t size)
{
    return std::min(static_cast<std::uint64_t>(size) + PerFileWork, Credited);
}

void ReadProgress::plan(const CandidateTable &table, const std::vector<SizeGroup> &groups)
{
    const std::size_t n = table.count();
    m_table = &table;
    m_files.assign(n, 0);
    m_total = 0;
    for (const SizeGroup &group : groups)
        for (const std::uint32_t k : group.members) {
            m_files[k] = Planned;
            if (group.size > 0)
                m_total += weightOf(group.size);
        }
    m_planned = true;
}

void ReadProgress::credit(std::uint32_t k, std::uint64_t bytes)
{
    const std::int64_t size = m_table->file(k).size;
    if (size <= 0)
        return; // empty files are no work
    std::uint64_t &file = m_files[k];
    const std::uint64_t add = std::min(bytes, weightOf(size) - (file & Credited));
    file += add;
    m_done.fetch_add(add, std::memory_order_relaxed);
}

std::uint64_t ReadProgress::settleOne(std::uint32_t k)
{
    std::uint64_t &file = m_files[k];
    file |= Settled;
    const std::int64_t size = m_table->file(k).size;
    if (size <= 0)
        return 0;
    const std::uint64_t rest = weightOf(size) - std::min(weightOf(size), file & Credited);
    file += rest;
    return rest;
}

void ReadProgress::settle(std::uint32_t k)
{
    m_done.fetch_add(settleOne(k), std::memory_order_relaxed);
}

void ReadProgress::settle(const std::vector<std::uint32_t> &files)
{
    // The entries are scattered: asked for all at once, then settled with one shared update.
    for (const std::uint32_t k : files) {
        __builtin_prefetch(&m_files[k]);
        __builtin_prefetch(&m_table->file(k));
    }
    std::uint64_t done = 0;
    for (const std::uint32_t k : files)
        done += settleOne(k);
    m_done.fetch_add(done, std::memory_order_relaxed);
}

bool ReadProgress::firstOpen(std::uint32_t k)
{
    if (m_files[k] & Opened)
        return false;
    m_files[k] |= Opened;
    return true;
}

int ReadProgress::percent() const
{
    if (!m_planned)
        return 0;
    if (m_total == 0)
        return 100;
    return static_cast<int>(std::min<std::uint64_t>(100, m_done.load() * 100 / m_total));
}

std::uint64_t ReadProgress::unsettled() const
{
    std::uint64_t count = 0;
    for (const std::uint64_t file : m_files)
        if ((file & Planned) && !(file & Settled))
            ++count;
    return count;
}
