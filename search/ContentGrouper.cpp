#include "ContentGrouper.h"

#include "CandidateTable.h"
#include "Crc32.h"
#include "ReadPlan.h"
#include "SourceFile.h"
#include "WorkerPool.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include <sys/stat.h>

namespace {
// Progress counts bytes, plus this much per file so that many small files still show.
constexpr std::uint64_t PerFileWork = 4096;
// Files per task when big groups are signed.
constexpr std::size_t SignatureChunk = 64;
constexpr std::size_t WholeReadBlock = 1u << 20;
constexpr std::size_t MinCompareBlock = 4096;

constexpr int Unreadable = -1;
constexpr int Alone = -2;
constexpr int Changed = -3; // written to or replaced while it was read
bool leftOut(int label)
{
    return label == Unreadable || label == Changed;
}

enum FileState : std::uint8_t {
    Planned = 1, // shares its size with another file, so it has to be compared
    Opened = 2,
    Settled = 4, // its outcome is known: listed, left out, or unlike every other file
};
constexpr std::uint32_t CrcStart = 0xFFFFFFFFu;

// Each reader thread keeps its buffers from task to task: a fresh multi-megabyte buffer per
// task would be zeroed and faulted in page by page every time. Two slots, as a comparison
// holds both ends of its files and a block of each at once. Freed when the thread ends.
class Scratch
{
public:
    static std::uint8_t *get(int slot, std::size_t size)
    {
        thread_local Scratch scratch;
        auto &buffer = scratch.m_buffers[slot];
        if (buffer.size < size) {
            buffer.data.reset(); // never hold the old and the new one together
            buffer.data.reset(new std::uint8_t[size]);
            buffer.size = size;
        }
        return buffer.data.get();
    }

private:
    struct Buffer
    {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
    };
    Buffer m_buffers[2];
};
enum : int { EdgeSlot = 0, BlockSlot = 1 };

// The file's path in a buffer the thread reuses: no allocation per file opened.
const char *pathOf(const CandidateTable &table, std::uint32_t k)
{
    thread_local std::string path;
    const QByteArray &folder = table.folderBytes(k);
    const QByteArrayView name = table.nameBytes(k);
    path.assign(folder.constData(), static_cast<std::size_t>(folder.size()));
    path.append(name.constData(), static_cast<std::size_t>(name.size()));
    return path.c_str();
}
} // namespace

struct ContentGrouper::Counters
{
    std::uint64_t filesRead = 0, bytesRead = 0, unreadable = 0, changed = 0;
};

// Per member: a class number (equal numbers, equal contents), Unreadable, Changed or Alone.
struct ContentGrouper::Lockstep
{
    std::vector<int> label;
    std::vector<std::uint32_t> crc;        // per class number
    std::vector<FileIdentity> identity;    // per member in a class: the file as it was read
};

struct ContentGrouper::SignatureStage
{
    std::int64_t size = 0;
    bool wholeContents = false; // the signature is the CRC-32 of the whole file, not of its two ends
    Members members;
    std::vector<std::uint32_t> signature;
    std::vector<std::uint8_t> readable;
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
        m_planned = true;
        return;
    }
    if (m_options.threads == 0)
        m_options.threads = readersForDevice(m_table.folderBytes(0).constData());
    m_options.threads = std::clamp(m_options.threads, 1u, 64u);
    // Readers beyond the fourth are there to keep reads in flight, not to hold more: each
    // task keeps the share it would have among four, within 256 open files in all.
    const std::size_t sharing = std::min(m_options.threads, 4u);
    m_maxOpenPerTask = std::max<std::size_t>(
        2, std::min<std::size_t>(m_options.maxOpenFiles / sharing, 256 / m_options.threads));
    m_bytesPerTask = std::max<std::size_t>(64u << 10, m_options.bufferBytes / sharing);
    m_pool = std::make_unique<WorkerPool>(m_options.threads);
    m_pool->post([this] { plan(); });
}

void ContentGrouper::plan()
{
    const std::size_t n = m_table.count();
    m_credited.assign(n, 0);
    m_state.assign(n, 0);

    // Only files that share their size with another file can have a duplicate.
    std::vector<SizeGroup> groups = groupBySize(m_table, m_cancel);
    if (m_options.inodeOrder && !groups.empty())
        orderByInode(groups, listedInodes(m_table, m_cancel));
    if (cancelled())
        return;
    for (const SizeGroup &group : groups)
        for (const Index k : group.members)
            m_state[k] = Planned;

    std::uint64_t total = 0;
    for (const SizeGroup &group : groups)
        if (group.size > 0)
            total += group.members.size() * (static_cast<std::uint64_t>(group.size) + PerFileWork);
    m_totalWork = total;
    m_planned = true;

    for (SizeGroup &group : groups) {
        if (cancelled())
            return;
        planGroup(group.size, std::move(group.members));
    }
}

bool ContentGrouper::waitFor(std::chrono::milliseconds timeout)
{
    const bool finished = !m_pool || m_pool->waitIdle(timeout);
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
    std::uint64_t failed = 0;
    if (!m_planned)
        failed = m_table.count();
    else
        for (const std::uint8_t state : m_state)
            if ((state & Planned) && !(state & Settled))
                ++failed;
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
    if (!m_planned)
        return 0;
    const std::uint64_t total = m_totalWork.load();
    if (total == 0)
        return 100;
    return static_cast<int>(std::min<std::uint64_t>(100, m_doneWork.load() * 100 / total));
}

ReadStats ContentGrouper::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

std::vector<ContentClass> ContentGrouper::takeClasses()
{
    std::lock_guard lock(m_mutex);
    std::sort(m_classes.begin(), m_classes.end(),
              [](const ContentClass &a, const ContentClass &b) { return a.members.front() < b.members.front(); });
    return std::move(m_classes);
}

void ContentGrouper::planGroup(std::int64_t size, Members members)
{
    switch (choosePath(size, members.size(), ReadLimits{m_maxOpenPerTask, m_bytesPerTask})) {
    case ReadPath::Empty:
        m_pool->post([this, members = std::move(members)] { recordEmpty(members); });
        break;
    case ReadPath::WholeInMemory:
        m_pool->post([this, size, members = std::move(members)] { readWholeInMemory(size, members); });
        break;
    case ReadPath::Lockstep:
        m_pool->post([this, size, members = std::move(members)] { compareAndRecord(size, members); });
        break;
    case ReadPath::Signatures:
        startSignatures(size, std::move(members), false);
        break;
    }
}

// Small groups: each file is opened once and read whole, then equal contents are found by sorting.
void ContentGrouper::readWholeInMemory(std::int64_t size, const Members &members)
{
    const auto s = static_cast<std::size_t>(size);
    std::uint8_t *const data = Scratch::get(BlockSlot, s * members.size());
    std::vector<std::size_t> readable;
    std::vector<FileIdentity> identity(members.size());
    Counters counters;
    SourceFile file;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (cancelled())
            return;
        const Index k = members[i];
        const bool ok = openFile(file, k, counters) && file.readAt(0, data + i * s, s);
        if (!ok)
            ++counters.unreadable;
        else if (!file.unchangedSinceOpen())
            ++counters.changed;
        else {
            counters.bytesRead += s;
            credit(k, s);
            identity[i] = file.identity();
            readable.push_back(i);
        }
        file.close();
    }

    const auto at = [&](std::size_t i) { return data + i * s; };
    std::stable_sort(readable.begin(), readable.end(),
                     [&](std::size_t a, std::size_t b) { return std::memcmp(at(a), at(b), s) < 0; });
    for (std::size_t begin = 0; begin < readable.size();) {
        std::size_t end = begin + 1;
        while (end < readable.size() && std::memcmp(at(readable[begin]), at(readable[end]), s) == 0)
            ++end;
        if (end - begin >= 2) {
            Members same;
            std::vector<FileIdentity> identities;
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t pos = readable[i];
                // Renamed over or replaced while it was read: its bytes need not be the path's.
                if (!SourceFile::pathStillNames(pathOf(m_table, members[pos]), identity[pos])) {
                    ++counters.changed;
                    continue;
                }
                same.push_back(members[pos]);
                identities.push_back(identity[pos]);
            }
            if (same.size() >= 2)
                record(std::move(same), crc32::checksum(at(readable[begin]), s), std::move(identities));
        }
        begin = end;
    }
    addCounters(counters);
    for (const Index k : members)
        settle(k);
}

void ContentGrouper::compareAndRecord(std::int64_t size, const Members &members)
{
    Counters counters;
    const Lockstep result = compare(size, members, false, counters);
    if (cancelled())
        return;
    std::vector<Members> classes(result.crc.size());
    std::vector<std::vector<FileIdentity>> identities(result.crc.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        if (result.label[i] >= 0) {
            classes[static_cast<std::size_t>(result.label[i])].push_back(members[i]);
            identities[static_cast<std::size_t>(result.label[i])].push_back(result.identity[i]);
        }
    for (std::size_t c = 0; c < classes.size(); ++c)
        if (classes[c].size() >= 2)
            record(std::move(classes[c]), result.crc[c], std::move(identities[c]));
    addCounters(counters);
    for (const Index k : members)
        settle(k);
}

// Compares up to m_maxOpenPerTask files of one size at once: both ends first, then the
// middle block by block, dropping a file as soon as its contents match no other's. The
// CRC-32 is computed once per class as the blocks go by. With `onlyFirstsClass`, files stop
// being read as soon as they differ from the first member.
ContentGrouper::Lockstep ContentGrouper::compare(std::int64_t size, const Members &members, bool onlyFirstsClass,
                                                 Counters &counters)
{
    const std::size_t m = members.size();
    Lockstep out;
    out.label.assign(m, Alone);
    out.identity.resize(m);

    const auto edge = static_cast<std::int64_t>(m_options.edgeBlock);
    const std::int64_t headLen = std::min(edge, size);
    const std::int64_t tailStart = std::max(headLen, size - edge);
    const std::int64_t tailLen = size - tailStart;
    const auto edgeLen = static_cast<std::size_t>(headLen + tailLen);
    std::uint8_t *const edges = Scratch::get(EdgeSlot, m * edgeLen);
    const auto edgeOf = [&](std::size_t i) { return edges + i * edgeLen; };

    std::vector<SourceFile> files(m);
    std::vector<std::size_t> live;
    for (std::size_t i = 0; i < m; ++i) {
        if (cancelled())
            return out;
        const Index k = members[i];
        bool ok = openFile(files[i], k, counters);
        if (ok) {
            ok = files[i].readAt(0, edgeOf(i), static_cast<std::size_t>(headLen))
                && (tailLen == 0
                    || files[i].readAt(tailStart, edgeOf(i) + headLen, static_cast<std::size_t>(tailLen)));
        }
        if (!ok) {
            out.label[i] = Unreadable;
            ++counters.unreadable;
            files[i].close();
            continue;
        }
        counters.bytesRead += edgeLen;
        credit(k, edgeLen);
        live.push_back(i);
    }
    if (onlyFirstsClass && leftOut(out.label[0]))
        return out;

    struct Class
    {
        std::vector<std::size_t> at; // member positions, ascending
        std::uint32_t reg = CrcStart;
    };
    std::vector<Class> classes;
    // Drops classes that cannot (or need not) be followed further, closing their files.
    const auto prune = [&] {
        std::erase_if(classes, [&](const Class &c) {
            const bool keep = c.at.size() >= 2 && (!onlyFirstsClass || c.at.front() == 0);
            if (!keep)
                for (const std::size_t i : c.at)
                    files[i].close();
            return !keep;
        });
    };

    for (const std::size_t i : live) {
        auto same = std::find_if(classes.begin(), classes.end(), [&](const Class &c) {
            return std::memcmp(edgeOf(c.at.front()), edgeOf(i), edgeLen) == 0;
        });
        if (same == classes.end())
            classes.push_back(Class{{i}, CrcStart});
        else
            same->at.push_back(i);
    }
    prune();
    for (Class &c : classes)
        c.reg = crc32::update(c.reg, edgeOf(c.at.front()), static_cast<std::size_t>(headLen));

    if (headLen < tailStart && !classes.empty()) {
        std::size_t following = 0;
        for (const Class &c : classes)
            following += c.at.size();
        std::size_t block = std::max(MinCompareBlock, m_bytesPerTask / following) / MinCompareBlock * MinCompareBlock;
        block = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block), tailStart - headLen));
        std::vector<std::size_t> slot(m, 0);
        {
            std::size_t next = 0;
            for (const Class &c : classes)
                for (const std::size_t i : c.at)
                    slot[i] = next++;
        }
        std::uint8_t *const buffer = Scratch::get(BlockSlot, following * block);
        const auto blockOf = [&](std::size_t i) { return buffer + slot[i] * block; };

        for (std::int64_t offset = headLen; offset < tailStart && !classes.empty();) {
            if (cancelled())
                return Lockstep{std::vector<int>(m, Alone), {}, {}};
            const auto len = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block),
                                                                               tailStart - offset));
            std::vector<Class> next;
            for (Class &c : classes) {
                std::vector<Class> split;
                for (const std::size_t i : c.at) {
                    if (!files[i].readAt(offset, blockOf(i), len)) {
                        out.label[i] = Unreadable;
                        ++counters.unreadable;
                        files[i].close();
                        continue;
                    }
                    counters.bytesRead += len;
                    credit(members[i], len);
                    auto same = std::find_if(split.begin(), split.end(), [&](const Class &s) {
                        return std::memcmp(blockOf(s.at.front()), blockOf(i), len) == 0;
                    });
                    if (same == split.end())
                        split.push_back(Class{{i}, c.reg});
                    else
                        same->at.push_back(i);
                }
                for (Class &s : split) {
                    s.reg = crc32::update(s.reg, blockOf(s.at.front()), len);
                    next.push_back(std::move(s));
                }
            }
            classes = std::move(next);
            prune();
            offset += static_cast<std::int64_t>(len);
        }
    }

    for (Class &c : classes) {
        c.reg = crc32::update(c.reg, edgeOf(c.at.front()) + headLen, static_cast<std::size_t>(tailLen));
        const int number = static_cast<int>(out.crc.size());
        out.crc.push_back(~c.reg);
        for (const std::size_t i : c.at) {
            // Written to, renamed over or replaced while it was read: its bytes may be a mix.
            if (!files[i].unchangedSinceOpen()
                || !SourceFile::pathStillNames(pathOf(m_table, members[i]), files[i].identity())) {
                out.label[i] = Changed;
                ++counters.changed;
            } else {
                out.label[i] = number;
                out.identity[i] = files[i].identity();
            }
            files[i].close();
        }
    }
    return out;
}

// More files of one size and signature than may be open at once: each round compares the
// first remaining file with the others, a bucket at a time; those that differ go round again.
// The signatures beforehand make a second round rare.
void ContentGrouper::compareAgainstFirst(std::int64_t size, Members remaining)
{
    Counters counters;
    const std::size_t othersPerBucket = m_maxOpenPerTask - 1;
    while (remaining.size() > m_maxOpenPerTask && !cancelled()) {
        const Index first = remaining.front();
        Members same{first};
        std::vector<FileIdentity> identities;
        Members rest;
        std::uint32_t crc = 0;
        bool firstLost = false;
        std::size_t i = 1;
        while (i < remaining.size()) {
            const std::size_t end = std::min(remaining.size(), i + othersPerBucket);
            Members bucket{first};
            bucket.insert(bucket.end(), remaining.begin() + static_cast<std::ptrdiff_t>(i),
                          remaining.begin() + static_cast<std::ptrdiff_t>(end));
            i = end;
            const Lockstep result = compare(size, bucket, true, counters);
            if (cancelled())
                break;
            const int firstsClass = result.label[0];
            // The first file is read again for every bucket: it must be the same file each time.
            const bool firstChanged = firstsClass >= 0 && !identities.empty() && result.identity[0] != identities[0];
            if (leftOut(firstsClass) || firstChanged) {
                if (firstChanged)
                    ++counters.changed;
                firstLost = true;
                rest.insert(rest.end(), bucket.begin() + 1, bucket.end());
                break;
            }
            if (firstsClass >= 0) {
                crc = result.crc[static_cast<std::size_t>(firstsClass)];
                if (identities.empty())
                    identities.push_back(result.identity[0]);
            }
            for (std::size_t j = 1; j < bucket.size(); ++j) {
                if (leftOut(result.label[j]))
                    settle(bucket[j]);
                else if (firstsClass >= 0 && result.label[j] == firstsClass) {
                    same.push_back(bucket[j]);
                    identities.push_back(result.identity[j]);
                } else
                    rest.push_back(bucket[j]);
            }
        }
        if (cancelled())
            break;
        if (firstLost) {
            // The first file went away mid-way: the others are still undecided.
            settle(first);
            rest.insert(rest.end(), same.begin() + 1, same.end());
            rest.insert(rest.end(), remaining.begin() + static_cast<std::ptrdiff_t>(i), remaining.end());
        } else {
            const Members listed = same;
            if (same.size() >= 2)
                record(std::move(same), crc, std::move(identities));
            for (const Index k : listed)
                settle(k);
        }
        std::sort(rest.begin(), rest.end());
        remaining = std::move(rest);
    }
    addCounters(counters);
    if (cancelled())
        return;
    if (remaining.size() >= 2)
        compareAndRecord(size, remaining);
    else
        for (const Index k : remaining)
            settle(k);
}

void ContentGrouper::startSignatures(std::int64_t size, Members members, bool wholeContents)
{
    auto stage = std::make_shared<SignatureStage>();
    stage->size = size;
    stage->wholeContents = wholeContents;
    stage->members = std::move(members);
    const std::size_t m = stage->members.size();
    stage->signature.assign(m, 0);
    stage->readable.assign(m, 0);
    const std::size_t chunks = (m + SignatureChunk - 1) / SignatureChunk;
    stage->chunksLeft = chunks;
    for (std::size_t c = 0; c < chunks; ++c) {
        const std::size_t begin = c * SignatureChunk, end = std::min(m, begin + SignatureChunk);
        m_pool->post([this, stage, begin, end] { signChunk(stage, begin, end); });
    }
}

void ContentGrouper::signChunk(const std::shared_ptr<SignatureStage> &stage, std::size_t begin, std::size_t end)
{
    const std::int64_t size = stage->size;
    const auto edge = static_cast<std::int64_t>(m_options.edgeBlock);
    const std::int64_t headLen = std::min(edge, size);
    const std::int64_t tailStart = std::max(headLen, size - edge);
    const std::size_t bufferSize = stage->wholeContents
        ? static_cast<std::size_t>(std::min<std::int64_t>(size, WholeReadBlock))
        : static_cast<std::size_t>(size - tailStart + headLen);
    std::uint8_t *const buffer = Scratch::get(BlockSlot, bufferSize);
    Counters counters;
    SourceFile file;
    for (std::size_t i = begin; i < end; ++i) {
        if (cancelled())
            return;
        const Index k = stage->members[i];
        std::uint32_t reg = CrcStart;
        bool ok = openFile(file, k, counters);
        if (ok && stage->wholeContents) {
            for (std::int64_t offset = 0; ok && offset < size && !cancelled();) {
                const auto len = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(bufferSize), size - offset));
                ok = file.readAt(offset, buffer, len);
                if (ok) {
                    reg = crc32::update(reg, buffer, len);
                    counters.bytesRead += len;
                    credit(k, len);
                }
                offset += static_cast<std::int64_t>(len);
            }
        } else if (ok) {
            const auto tailLen = static_cast<std::size_t>(size - tailStart);
            ok = file.readAt(0, buffer, static_cast<std::size_t>(headLen))
                && (tailLen == 0 || file.readAt(tailStart, buffer + headLen, tailLen));
            if (ok) {
                reg = crc32::update(reg, buffer, bufferSize);
                counters.bytesRead += bufferSize;
                credit(k, bufferSize);
            }
        }
        file.close();
        if (!ok)
            ++counters.unreadable;
        stage->signature[i] = ~reg;
        stage->readable[i] = ok ? 1 : 0;
    }
    addCounters(counters);
    if (!cancelled() && stage->chunksLeft.fetch_sub(1, std::memory_order_acq_rel) == 1)
        finishSignatures(stage);
}

void ContentGrouper::finishSignatures(const std::shared_ptr<SignatureStage> &stage)
{
    const std::int64_t size = stage->size;
    // The two ends of a small file are the whole file.
    const bool wholeContents =
        stage->wholeContents || size <= 2 * static_cast<std::int64_t>(m_options.edgeBlock);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < stage->members.size(); ++i) {
        if (stage->readable[i])
            order.push_back(i);
        else
            settle(stage->members[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return stage->signature[a] < stage->signature[b]; });
    for (std::size_t begin = 0; begin < order.size();) {
        std::size_t end = begin + 1;
        while (end < order.size() && stage->signature[order[end]] == stage->signature[order[begin]])
            ++end;
        Members run;
        for (std::size_t i = begin; i < end; ++i)
            run.push_back(stage->members[order[i]]);
        begin = end;
        if (run.size() < 2)
            settle(run.front());
        else if (run.size() <= m_maxOpenPerTask)
            m_pool->post([this, size, run = std::move(run)] { compareAndRecord(size, run); });
        else if (wholeContents)
            m_pool->post([this, size, run = std::move(run)]() mutable { compareAgainstFirst(size, std::move(run)); });
        else
            startSignatures(size, std::move(run), true);
    }
}

// Empty files are never opened: their identity is an lstat taken as reading starts, the
// nearest to the walk's own look that this side has. One that got contents by then is left out.
void ContentGrouper::recordEmpty(const Members &members)
{
    Members same;
    std::vector<FileIdentity> identities;
    Counters counters;
    struct stat st {};
    for (const Index k : members) {
        if (cancelled())
            return;
        if (::lstat(pathOf(m_table, k), &st) != 0)
            ++counters.unreadable;
        else if (!S_ISREG(st.st_mode) || st.st_size != 0)
            ++counters.changed;
        else {
            same.push_back(k);
            identities.push_back(identityOf(st));
        }
    }
    if (same.size() >= 2)
        record(std::move(same), 0, std::move(identities)); // the CRC-32 of nothing
    addCounters(counters);
    for (const Index k : members)
        settle(k);
}

void ContentGrouper::record(Members members, std::uint32_t crc, std::vector<FileIdentity> identities)
{
    if (!std::is_sorted(members.begin(), members.end())) {
        std::vector<std::size_t> order(members.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return members[a] < members[b]; });
        Members sortedMembers;
        std::vector<FileIdentity> sortedIdentities;
        for (const std::size_t i : order) {
            sortedMembers.push_back(members[i]);
            sortedIdentities.push_back(identities[i]);
        }
        members = std::move(sortedMembers);
        identities = std::move(sortedIdentities);
    }
    std::lock_guard lock(m_mutex);
    m_classes.push_back(ContentClass{std::move(members), crc, std::move(identities)});
}

// Opens a file for reading and gives a test its chance to change it underneath.
bool ContentGrouper::openFile(SourceFile &file, Index k, Counters &counters)
{
    const char *path = pathOf(m_table, k);
    if (!file.open(path, m_table.file(k).size))
        return false;
    if (!(m_state[k] & Opened)) {
        m_state[k] |= Opened;
        ++counters.filesRead;
    }
    if (m_options.afterOpen)
        m_options.afterOpen(path);
    return true;
}

void ContentGrouper::credit(Index file, std::uint64_t bytes)
{
    const std::uint64_t weight = static_cast<std::uint64_t>(m_table.file(file).size) + PerFileWork;
    const std::uint64_t add = std::min(bytes, weight - m_credited[file]);
    m_credited[file] += add;
    m_doneWork.fetch_add(add, std::memory_order_relaxed);
}

void ContentGrouper::settle(Index file)
{
    m_state[file] |= Settled;
    if (m_table.file(file).size > 0)
        credit(file, std::numeric_limits<std::uint64_t>::max());
}

void ContentGrouper::addCounters(const Counters &counters)
{
    std::lock_guard lock(m_mutex);
    m_stats.filesRead += counters.filesRead;
    m_stats.bytesRead += counters.bytesRead;
    m_stats.unreadable += counters.unreadable;
    m_stats.changed += counters.changed;
}
