#include "ReadStages.h"

#include "CandidateTable.h"
#include "Paths.h"
#include "Crc32.h"
#include "ReadProgress.h"
#include "SourceFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {
constexpr std::size_t WholeReadBlock = 1u << 20;
constexpr std::size_t MinCompareBlock = 4096;

constexpr int Unreadable = -1;
constexpr int Alone = -2;
constexpr int Changed = -3; // written to or replaced while it was read
bool leftOut(int label)
{
    return label == Unreadable || label == Changed;
}

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

// Files the readers hold open at most, all together (see ContentGrouper::start).
constexpr std::size_t MaxOpenFiles = 256;

} // namespace

// The paths of a task's files, gathered in one pass before any is opened. Files come in inode
// order, which jumps about the table: a pass that does nothing else lets the processor fetch
// many entries at once, where building each path between two opens waited for every one.
class MemberPaths
{
public:
    MemberPaths(const CandidateTable &table, const ReadStages::Members &members, std::size_t begin, std::size_t end)
    {
        // Each step asks for what the next one reads, for all members at once.
        for (std::size_t i = begin; i < end; ++i)
            __builtin_prefetch(&table.file(members[i]));
        for (std::size_t i = begin; i < end; ++i) {
            __builtin_prefetch(&table.folderBytes(members[i]));
            __builtin_prefetch(table.nameBytes(members[i]).data());
        }
        for (std::size_t i = begin; i < end; ++i)
            __builtin_prefetch(table.folderBytes(members[i]).constData());
        m_at.reserve(end - begin);
        m_bytes.reserve((end - begin) * 64);
        for (std::size_t i = begin; i < end; ++i) {
            const QByteArray &folder = table.folderBytes(members[i]);
            const QByteArrayView name = table.nameBytes(members[i]);
            m_at.push_back(
                Entry{m_bytes.size(), static_cast<std::size_t>(folder.size()), table.file(members[i]).folder});
            m_bytes.append(folder.constData(), static_cast<std::size_t>(folder.size()));
            m_bytes.append(name.constData(), static_cast<std::size_t>(name.size()));
            m_bytes.push_back('\0');
        }
        m_begin = begin;
    }
    MemberPaths(const CandidateTable &table, const ReadStages::Members &members)
        : MemberPaths(table, members, 0, members.size())
    {}
    // The path of members[i].
    const char *operator[](std::size_t i) const { return m_bytes.data() + m_at[i - m_begin].offset; }
    // Its name alone, its folder's index in the table, and the length of its folder part.
    const char *name(std::size_t i) const { return (*this)[i] + m_at[i - m_begin].folderLength; }
    std::uint32_t folder(std::size_t i) const { return m_at[i - m_begin].folder; }
    std::size_t folderLength(std::size_t i) const { return m_at[i - m_begin].folderLength; }

private:
    struct Entry
    {
        std::size_t offset, folderLength;
        std::uint32_t folder;
    };
    std::string m_bytes;
    std::vector<Entry> m_at;
    std::size_t m_begin = 0;
};

// Per member: a class number (equal numbers, equal contents), Unreadable, Changed or Alone.
struct ReadStages::Lockstep
{
    std::vector<int> label;
    std::vector<std::uint32_t> crc;     // per class number
    std::vector<FileIdentity> identity; // per member in a class: the file as it was read
};

ReadStages::ReadStages(const CandidateTable &table, const ReadOptions &options, ReadLimits limits,
                       ReadProgress &progress, const std::atomic<bool> &cancel)
    : m_table(table), m_options(options), m_limits(limits), m_progress(progress), m_cancel(cancel),
      m_folders(table.folderCount(), FolderHandles::budgetFor(table.folderCount(), MaxOpenFiles))
{}

bool ReadStages::cancelled() const
{
    return m_cancel.load(std::memory_order_relaxed);
}

ContentClass ReadStages::makeClass(Members members, std::uint32_t crc, std::vector<FileIdentity> identities)
{
    std::vector<std::size_t> order(members.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return members[a] < members[b]; });
    ContentClass found;
    found.crc = crc;
    for (const std::size_t i : order) {
        found.members.push_back(members[i]);
        found.identities.push_back(identities[i]);
    }
    return found;
}

// Empty files are never opened: their identity is an lstat taken as reading starts, the
// nearest to the walk's own look that this side has. One that got contents by then is left out.
std::vector<ContentClass> ReadStages::empty(const Members &members, ReadCounters &counters)
{
    Members same;
    std::vector<FileIdentity> identities;
    const MemberPaths paths(m_table, members);
    struct stat st = {};
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (cancelled())
            return {};
        const Index k = members[i];
        if (lstatLongPath(paths[i], &st) != 0)
            counters.leftOutUnreadable(k);
        else if (!S_ISREG(st.st_mode) || st.st_size != 0)
            ++counters.changed;
        else {
            same.push_back(k);
            identities.push_back(identityOf(st));
        }
    }
    std::vector<ContentClass> found;
    if (same.size() >= 2)
        found.push_back(makeClass(std::move(same), 0, std::move(identities))); // the CRC-32 of nothing
    return found;
}

// Small groups: each file is opened once and read whole, then equal contents are found by sorting.
std::vector<ContentClass> ReadStages::wholeInMemory(std::int64_t size, const Members &members, ReadCounters &counters)
{
    const auto s = static_cast<std::size_t>(size);
    std::uint8_t *const data = Scratch::get(BlockSlot, s * members.size());
    std::vector<std::size_t> readable;
    readable.reserve(members.size());
    std::vector<FileIdentity> identity(members.size());
    const MemberPaths paths(m_table, members);
    SourceFile file;
    std::vector<ContentClass> found;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (cancelled())
            return {};
        // No fstat after the read: the lstat below, once the classes are known, sees the same
        // inode's size and time whenever the path still names this file.
        const bool opened = openFile(file, paths, i, size);
        // Opened by this task alone and read whole: no first-open check, and settling the file
        // credits its progress.
        counters.filesRead += opened ? 1 : 0;
        if (!opened || !file.readAt(0, data + i * s, s))
            counters.leftOutUnreadable(members[i]);
        else {
            counters.bytesRead += s;
            identity[i] = file.identity();
            readable.push_back(i);
        }
        file.close();
    }

    const auto at = [&](std::size_t i) { return data + i * s; };
    // Equal contents in member order, as a stable sort would give, without its buffer.
    std::sort(readable.begin(), readable.end(), [&](std::size_t a, std::size_t b) {
        const int order = std::memcmp(at(a), at(b), s);
        return order != 0 ? order < 0 : a < b;
    });
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
                if (!SourceFile::pathStillNames(paths[pos], identity[pos])) {
                    ++counters.changed;
                    continue;
                }
                same.push_back(members[pos]);
                identities.push_back(identity[pos]);
            }
            if (same.size() >= 2)
                found.push_back(
                    makeClass(std::move(same), crc32::checksum(at(readable[begin]), s), std::move(identities)));
        }
        begin = end;
    }
    return found;
}

// The files of one size compared side by side, all of them open at once.
std::vector<ContentClass> ReadStages::lockstep(std::int64_t size, const Members &members, ReadCounters &counters)
{
    const Lockstep result = compare(size, members, false, counters);
    if (cancelled())
        return {};
    std::vector<Members> classes(result.crc.size());
    std::vector<std::vector<FileIdentity>> identities(result.crc.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        if (result.label[i] >= 0) {
            classes[static_cast<std::size_t>(result.label[i])].push_back(members[i]);
            identities[static_cast<std::size_t>(result.label[i])].push_back(result.identity[i]);
        }
    std::vector<ContentClass> found;
    for (std::size_t c = 0; c < classes.size(); ++c)
        if (classes[c].size() >= 2)
            found.push_back(makeClass(std::move(classes[c]), result.crc[c], std::move(identities[c])));
    return found;
}

// Compares up to maxOpenPerTask files of one size at once: both ends first, then the
// middle block by block, dropping a file as soon as its contents match no other's. The
// CRC-32 is computed once per class as the blocks go by. With `onlyFirstsClass`, files stop
// being read as soon as they differ from the first member.
ReadStages::Lockstep ReadStages::compare(std::int64_t size, const Members &members, bool onlyFirstsClass,
                                         ReadCounters &counters)
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
    std::vector<std::size_t> live, opened;
    const MemberPaths paths(m_table, members);
    for (std::size_t i = 0; i < m; ++i) {
        if (cancelled())
            return out;
        bool ok = openFile(files[i], paths, i, size);
        if (ok) {
            opened.push_back(i);
            ok = files[i].readAt(0, edgeOf(i), static_cast<std::size_t>(headLen))
                && (tailLen == 0 || files[i].readAt(tailStart, edgeOf(i) + headLen, static_cast<std::size_t>(tailLen)));
        }
        if (!ok) {
            out.label[i] = Unreadable;
            counters.leftOutUnreadable(members[i]);
            files[i].close();
            continue;
        }
        counters.bytesRead += edgeLen;
        live.push_back(i);
    }
    // Counted after the opens, in one pass over the progress entries, which are scattered too.
    for (const std::size_t i : opened)
        if (m_progress.firstOpen(members[i]))
            ++counters.filesRead;
    for (const std::size_t i : live)
        m_progress.credit(members[i], edgeLen);
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
        std::size_t block = std::max(MinCompareBlock, m_limits.bytesPerTask / following) / MinCompareBlock
            * MinCompareBlock;
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
            const auto len = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(block), tailStart - offset));
            std::vector<Class> next;
            for (Class &c : classes) {
                std::vector<Class> split;
                for (const std::size_t i : c.at) {
                    if (!files[i].readAt(offset, blockOf(i), len)) {
                        out.label[i] = Unreadable;
                        counters.leftOutUnreadable(members[i]);
                        files[i].close();
                        continue;
                    }
                    counters.bytesRead += len;
                    m_progress.credit(members[i], len);
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
            if (!files[i].unchangedSinceOpen() || !SourceFile::pathStillNames(paths[i], files[i].identity())) {
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
std::vector<ContentClass> ReadStages::againstFirst(std::int64_t size, Members remaining, ReadCounters &counters)
{
    std::vector<ContentClass> found;
    const std::size_t othersPerBucket = m_limits.maxOpenPerTask - 1;
    while (remaining.size() > m_limits.maxOpenPerTask && !cancelled()) {
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
                    continue;
                if (firstsClass >= 0 && result.label[j] == firstsClass) {
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
            rest.insert(rest.end(), same.begin() + 1, same.end());
            rest.insert(rest.end(), remaining.begin() + static_cast<std::ptrdiff_t>(i), remaining.end());
        } else {
            if (same.size() >= 2)
                found.push_back(makeClass(std::move(same), crc, std::move(identities)));
        }
        std::sort(rest.begin(), rest.end());
        remaining = std::move(rest);
    }
    if (cancelled())
        return {};
    if (remaining.size() >= 2)
        for (ContentClass &c : lockstep(size, remaining, counters))
            found.push_back(std::move(c));
    return found;
}

void ReadStages::sign(std::int64_t size, bool wholeContents, const Members &members, std::size_t begin, std::size_t end,
                      std::vector<std::uint32_t> &signature, std::vector<std::uint8_t> &readable,
                      ReadCounters &counters)
{
    const auto edge = static_cast<std::int64_t>(m_options.edgeBlock);
    const std::int64_t headLen = std::min(edge, size);
    const std::int64_t tailStart = std::max(headLen, size - edge);
    const std::size_t bufferSize = wholeContents
        ? static_cast<std::size_t>(std::min<std::int64_t>(size, WholeReadBlock))
        : static_cast<std::size_t>(size - tailStart + headLen);
    std::uint8_t *const buffer = Scratch::get(BlockSlot, bufferSize);
    SourceFile file;
    const MemberPaths paths(m_table, members, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
        if (cancelled())
            return;
        const Index k = members[i];
        std::uint32_t reg = CrcStart;
        bool ok = openFile(file, paths, i, size);
        if (ok && m_progress.firstOpen(k))
            ++counters.filesRead;
        if (ok && wholeContents) {
            for (std::int64_t offset = 0; ok && offset < size && !cancelled();) {
                const auto len = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(bufferSize), size - offset));
                ok = file.readAt(offset, buffer, len);
                if (ok) {
                    reg = crc32::update(reg, buffer, len);
                    counters.bytesRead += len;
                    m_progress.credit(k, len);
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
                m_progress.credit(k, bufferSize);
            }
        }
        file.close();
        if (!ok)
            counters.leftOutUnreadable(k);
        signature[i] = ~reg;
        readable[i] = ok ? 1 : 0;
    }
}

std::vector<ReadStages::Members> ReadStages::runs(const Members &members, const std::vector<std::uint32_t> &signature,
                                                  const std::vector<std::uint8_t> &readable)
{
    std::vector<Members> out;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (readable[i])
            order.push_back(i);
        else
            m_progress.settle(members[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return signature[a] < signature[b]; });
    for (std::size_t begin = 0; begin < order.size();) {
        std::size_t end = begin + 1;
        while (end < order.size() && signature[order[end]] == signature[order[begin]])
            ++end;
        Members run;
        for (std::size_t i = begin; i < end; ++i)
            run.push_back(members[order[i]]);
        begin = end;
        if (run.size() < 2)
            m_progress.settle(run.front());
        else
            out.push_back(std::move(run));
    }
    return out;
}

// Opens a file for reading, inside its folder where that is open, and gives a test its chance
// to change it underneath.
bool ReadStages::openFile(SourceFile &file, const MemberPaths &paths, std::size_t i, std::int64_t size)
{
    const int folder = m_folders.get(paths.folder(i), paths[i], paths.folderLength(i));
    errno = 0; // a failure that is no system call's (a size changed since collecting) has no reason to give
    if (folder >= 0 ? !file.openIn(folder, paths.name(i), size) : !file.open(paths[i], size))
        return false;
    if (m_options.afterOpen)
        m_options.afterOpen(paths[i]);
    return true;
}
