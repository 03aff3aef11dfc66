#include "ContentGrouper.h"

#include "CandidateTable.h"
#include "Comparisons.h"
#include "FingerprintStore.h"
#include "WorkerPool.h"

#include <algorithm>
#include <new>

namespace {
// Files per task when big groups are signed.
constexpr std::size_t SignatureChunk = 64;
} // namespace

struct ContentGrouper::Signing : Comparisons::Signatures
{
    using Signatures::Signatures;
    std::atomic<std::size_t> chunksLeft{0};
};

ContentGrouper::ContentGrouper(const CandidateTable &table, ReadOptions options) : m_table(table), m_options(options)
{
    m_options.edgeBlock = std::clamp<std::size_t>(m_options.edgeBlock, 1, 1u << 20);
}

ContentGrouper::~ContentGrouper()
{
    cancel();
}

void ContentGrouper::start()
{
    // Even the planning runs on a reader, so the calling thread goes straight to its events.
    if (m_table.count() == 0) {
        m_progress.plan(m_table, {});
        return;
    }
    // Left to the device, the count is settled once the files to read are known: from memory
    // four readers do as well as more, so the pool grows only when they have to be read.
    const bool byDevice = m_options.threads == 0;
    if (byDevice)
        m_options.threads = readersForDevice(m_table.folderBytes(0).constData());
    m_options.threads = std::clamp(m_options.threads, 1u, 64u);
    // Readers beyond the fourth are there to keep reads in flight, not to hold more: each
    // task keeps the share it would have among four, within 256 open files in all.
    const std::size_t sharing = std::min(m_options.threads, 4u);
    m_limits.maxOpenPerTask = std::max<std::size_t>(
        2, std::min<std::size_t>(m_options.maxOpenFiles / sharing, 256 / m_options.threads));
    m_limits.bytesPerTask = std::max<std::size_t>(64u << 10, m_options.bufferBytes / sharing);
    m_comparisons = std::make_unique<Comparisons>(m_table, m_options, m_limits, m_progress, m_cancel);
    m_pool = std::make_unique<WorkerPool>(byDevice ? std::min(m_options.threads, 4u) : m_options.threads);
    m_growTo = byDevice ? m_options.threads : 0;
    m_pool->post([this] { plan(); });
}

void ContentGrouper::plan()
{
    // Only files that share their size with another file can have a duplicate.
    std::vector<SizeGroup> groups = groupBySize(m_table, m_cancel);
    if (m_options.inodeOrder && !groups.empty())
        orderByInode(groups, m_table);
    if (cancelled())
        return;
    if (m_growTo != 0 && readersForCache(m_growTo, cachedShare(m_table, groups)) > m_pool->threads())
        m_pool->grow(m_growTo);
    m_progress.plan(m_table, groups);
    for (SizeGroup &group : groups) {
        if (cancelled())
            return;
        if (m_options.store && !recall(group))
            continue;
        planGroup(group.size, std::move(group.members));
    }
    if (m_options.store)
        m_options.store->recalledAll();
}

// The one place the store enters reading: what it knows leaves the group, settled; false when
// nothing is left to read.
bool ContentGrouper::recall(SizeGroup &group)
{
    FingerprintStore::Recalled known = m_options.store->recall(m_table, group.size, group.members);
    m_progress.settle(known.settled);
    for (const ContentClass &c : known.classes)
        m_progress.settle(c.members);
    if (!known.classes.empty())
        keep(std::move(known.classes), {});
    group.members = std::move(known.toRead);
    return group.members.size() >= 2;
}

bool ContentGrouper::waitFor(std::chrono::milliseconds timeout)
{
    const bool finished = !m_pool || m_pool->waitIdle(timeout);
    if (m_pool && m_pool->ranOutOfMemory()) {
        cancel();
        throw std::bad_alloc();
    }
    if (finished && !cancelled())
        tallyFailed();
    return finished;
}

// A task that threw (the pool carries on without it) leaves its files unsettled: they
// are counted here rather than vanishing from the results without a word.
void ContentGrouper::tallyFailed()
{
    if (m_tallied)
        return;
    m_tallied = true;
    const std::uint64_t failed = m_progress.planned() ? m_progress.unsettled() : m_table.count();
    std::lock_guard lock(m_mutex);
    m_stats.failed = failed;
}

void ContentGrouper::cancel()
{
    m_cancel = true;
    if (m_pool)
        m_pool->cancel();
}

int ContentGrouper::percentDone() const
{
    return m_progress.percent();
}

ReadStats ContentGrouper::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

std::vector<ContentClass> ContentGrouper::takeClasses()
{
    std::lock_guard lock(m_mutex);
    std::vector<ContentClass> classes;
    classes.reserve(m_classes.size());
    for (ContentClass &c : m_classes)
        classes.push_back(std::move(c));
    m_classes.clear();
    std::sort(classes.begin(), classes.end(),
              [](const ContentClass &a, const ContentClass &b) { return a.members.front() < b.members.front(); });
    return classes;
}

template <typename Comparison> void ContentGrouper::post(Members members, Comparison comparison, bool next)
{
    auto task = [this, members = std::move(members), comparison]() mutable {
        ReadStats counts;
        std::vector<ContentClass> found = comparison(members, counts);
        if (cancelled())
            return;
        keep(std::move(found), counts);
        m_progress.settle(members);
    };
    if (next)
        m_pool->postNext(std::move(task));
    else
        m_pool->post(std::move(task));
}

void ContentGrouper::planGroup(std::int64_t size, Members members)
{
    Comparisons &compare = *m_comparisons;
    switch (choosePath(size, members.size(), m_limits)) {
    case ReadPath::Empty:
        post(std::move(members), [&compare](Members &m, ReadStats &c) { return compare.empty(m, c); });
        break;
    case ReadPath::WholeInMemory:
        post(std::move(members),
             [&compare, size](Members &m, ReadStats &c) { return compare.wholeInMemory(size, m, c); });
        break;
    case ReadPath::Lockstep:
        post(std::move(members), [&compare, size](Members &m, ReadStats &c) { return compare.lockstep(size, m, c); });
        break;
    case ReadPath::Signatures:
        startSignatures(size, std::move(members), false);
        break;
    }
}

void ContentGrouper::startSignatures(std::int64_t size, Members members, bool wholeContents)
{
    auto signing = std::make_shared<Signing>(size, std::move(members), wholeContents);
    if (m_options.store)
        signing->readAs.resize(signing->members.size());
    const std::size_t m = signing->members.size();
    const std::size_t chunks = (m + SignatureChunk - 1) / SignatureChunk;
    signing->chunksLeft = chunks;
    const auto chunk = [this, signing, m](std::size_t c) {
        const std::size_t begin = c * SignatureChunk, end = std::min(m, begin + SignatureChunk);
        return [this, signing, begin, end] { signChunk(signing, begin, end); };
    };
    // The whole files of a group whose ends were signed are read next, in order: a group
    // finishes before others begin, so a search stopped midway leaves few groups half read,
    // whose files the fingerprint store cannot settle.
    if (wholeContents)
        for (std::size_t c = chunks; c-- > 0;)
            m_pool->postNext(chunk(c));
    else
        for (std::size_t c = 0; c < chunks; ++c)
            m_pool->post(chunk(c));
}

void ContentGrouper::signChunk(const std::shared_ptr<Signing> &signing, std::size_t begin, std::size_t end)
{
    ReadStats counts;
    m_comparisons->sign(*signing, begin, end, counts);
    if (cancelled())
        return;
    keep({}, counts);
    if (signing->chunksLeft.fetch_sub(1, std::memory_order_acq_rel) == 1)
        finishSignatures(signing);
}

void ContentGrouper::finishSignatures(const std::shared_ptr<Signing> &signing)
{
    const std::int64_t size = signing->size;
    // The two ends of a small file are the whole file.
    const bool wholeContents = signing->wholeContents || size <= 2 * static_cast<std::int64_t>(m_options.edgeBlock);
    Comparisons &compare = *m_comparisons;
    for (Members &run : compare.runs(*signing)) {
        if (run.size() <= m_limits.maxOpenPerTask)
            post(
                std::move(run), [&compare, size](Members &m, ReadStats &c) { return compare.lockstep(size, m, c); },
                true);
        else if (wholeContents)
            post(
                std::move(run), [&compare, size](Members &m, ReadStats &c) { return compare.againstFirst(size, m, c); },
                true);
        else
            startSignatures(size, std::move(run), true);
    }
}

void ContentGrouper::keep(std::vector<ContentClass> classes, const ReadStats &counts)
{
    std::lock_guard lock(m_mutex);
    for (ContentClass &c : classes)
        m_classes.push_back(std::move(c));
    m_stats.add(counts);
}

void ReadStats::add(const ReadStats &other)
{
    filesRead += other.filesRead;
    bytesRead += other.bytesRead;
    unreadable += other.unreadable;
    changed += other.changed;
    failed += other.failed;
    unreadableFiles.insert(unreadableFiles.end(), other.unreadableFiles.begin(), other.unreadableFiles.end());
    groups += other.groups;
    rows += other.rows;
}
