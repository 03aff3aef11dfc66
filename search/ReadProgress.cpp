#include "ReadProgress.h"

#include "CandidateTable.h"

#include <algorithm>
#include <limits>

void ReadProgress::plan(const CandidateTable &table, const std::vector<SizeGroup> &groups)
{
    const std::size_t n = table.count();
    m_size.assign(n, 0);
    m_credited.assign(n, 0);
    m_state.assign(n, 0);
    m_total = 0;
    for (const SizeGroup &group : groups)
        for (const std::uint32_t k : group.members) {
            m_state[k] = Planned;
            m_size[k] = group.size;
            if (group.size > 0)
                m_total += static_cast<std::uint64_t>(group.size) + PerFileWork;
        }
    m_planned = true;
}

void ReadProgress::credit(std::uint32_t k, std::uint64_t bytes)
{
    if (m_size[k] <= 0)
        return; // empty files are no work
    const std::uint64_t weight = static_cast<std::uint64_t>(m_size[k]) + PerFileWork;
    const std::uint64_t add = std::min(bytes, weight - m_credited[k]);
    m_credited[k] += add;
    m_done.fetch_add(add, std::memory_order_relaxed);
}

void ReadProgress::settle(std::uint32_t k)
{
    m_state[k] |= Settled;
    credit(k, std::numeric_limits<std::uint64_t>::max());
}

bool ReadProgress::firstOpen(std::uint32_t k)
{
    if (m_state[k] & Opened)
        return false;
    m_state[k] |= Opened;
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
    for (const std::uint8_t state : m_state)
        if ((state & Planned) && !(state & Settled))
            ++count;
    return count;
}
