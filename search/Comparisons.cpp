#include "Comparisons.h"

#include "CandidateTable.h"
#include "Crc32.h"
#include "FingerprintStore.h"
#include "Paths.h"
#include "ReadProgress.h"
#include "SourceFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {
constexpr std::size_t WholeReadBlock = 1u << 20;
constexpr std::size_t MinCompareBlock = 4096;
// The ends a small group's comparison gives the store: a CRC-32 of 512 bytes at each end costs
// far less than one of its whole edge blocks, and still tells different files apart.
constexpr std::size_t SmallGroupEnds = 512;

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

// The two ends of a file of one size, read before anything else: a block at the head and one
// at the tail, which never overlap; in a file of at most two blocks they are the whole file.
struct Ends
{
    std::int64_t headLength, tailStart, tailLength;

    Ends(std::int64_t size, std::size_t edgeBlock)
    {
        headLength = std::min(static_cast<std::int64_t>(edgeBlock), size);
        tailStart = std::max(headLength, size - static_cast<std::int64_t>(edgeBlock));
        tailLength = size - tailStart;
    }
    std::size_t bytes() const { return static_cast<std::size_t>(headLength + tailLength); }
    // The CRC-32 of both ends of a file whose contents are all in `data`.
    std::uint32_t crcIn(const std::uint8_t *data) const
    {
        const std::uint32_t head = crc32::update(CrcStart, data, static_cast<std::size_t>(headLength));
        return ~crc32::update(head, data + tailStart, static_cast<std::size_t>(tailLength));
    }
    // Carries the CRC-32 of both ends over `len` bytes of the file read at `offset`, the
    // blocks of a whole read coming in order.
    std::uint32_t update(std::uint32_t reg, std::int64_t offset, const std::uint8_t *data, std::size_t len) const
    {
        const std::int64_t blockEnd = offset + static_cast<std::int64_t>(len);
        for (const auto &[from, to] :
             {std::pair{std::int64_t(0), headLength}, std::pair{tailStart, tailStart + tailLength}}) {
            const std::int64_t a = std::max(from, offset), b = std::min(to, blockEnd);
            if (a < b)
                reg = crc32::update(reg, data + (a - offset), static_cast<std::size_t>(b - a));
        }
        return reg;
    }
    // Reads both ends into `into`, head then tail.
    bool read(SourceFile &file, std::uint8_t *into) const
    {
        return file.readAt(0, into, static_cast<std::size_t>(headLength))
            && (tailLength == 0 || file.readAt(tailStart, into + headLength, static_cast<std::size_t>(tailLength)));
    }
};

} // namespace

// The paths of a task's files, gathered in one pass before any is opened. Files come in inode
// order, which jumps about the table: a pass that does nothing else lets the processor fetch
// many entries at once, where building each path between two opens waited for every one.
class MemberPaths
{
public:
    MemberPaths(const CandidateTable &table, const Comparisons::Members &members, std::size_t begin, std::size_t end)
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
    MemberPaths(const CandidateTable &table, const Comparisons::Members &members)
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
struct Comparisons::Lockstep
{
    std::vector<int> label;
    std::vector<std::uint32_t> crc;     // per class number
    std::vector<FileIdentity> identity; // per member in a class: the file as it was read
};

Comparisons::Comparisons(const CandidateTable &table, const ReadOptions &options, ReadLimits limits,
                         ReadProgress &progress, const std::atomic<bool> &cancel)
    : m_table(table), m_options(options), m_limits(limits), m_progress(progress), m_cancel(cancel),
      m_folders(table.folderCount(), FolderHandles::budgetFor(table.folderCount(), MaxOpenFiles))
{}

bool Comparisons::cancelled() const
{
    return m_cancel.load(std::memory_order_relaxed);
}

ContentClass Comparisons::makeClass(Members members, std::uint32_t crc, std::vector<FileIdentity> identities)
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
std::vector<ContentClass> Comparisons::empty(const Members &members, ReadStats &counts)
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
            counts.leftOutUnreadable(k);
        else if (!S_ISREG(st.st_mode) || st.st_size != 0)
            ++counts.changed;
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
std::vector<ContentClass> Comparisons::wholeInMemory(std::int64_t size, const Members &members, ReadStats &counts)
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
        counts.filesRead += opened ? 1 : 0;
        if (!opened || !file.readAt(0, data + i * s, s))
            counts.leftOutUnreadable(members[i]);
        else {
            counts.bytesRead += s;
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
    std::vector<FingerprintStore::Part> parts; // each run of equal contents one part
    std::vector<std::size_t> partAt;           // the member position of each
    for (std::size_t begin = 0; begin < readable.size();) {
        std::size_t end = begin + 1;
        while (end < readable.size() && std::memcmp(at(readable[begin]), at(readable[end]), s) == 0)
            ++end;
        const auto part = static_cast<std::uint32_t>(begin + 1);
        if (end - begin >= 2) {
            Members same;
            std::vector<FileIdentity> identities;
            const std::uint32_t crc = crc32::checksum(at(readable[begin]), s);
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t pos = readable[i];
                // Renamed over or replaced while it was read: its bytes need not be the path's.
                if (!SourceFile::pathStillNames(paths[pos], identity[pos])) {
                    ++counts.changed;
                    continue;
                }
                same.push_back(members[pos]);
                identities.push_back(identity[pos]);
                parts.push_back({members[pos], part, crc, identity[pos], std::nullopt});
                partAt.push_back(pos);
            }
            if (same.size() >= 2)
                found.push_back(makeClass(std::move(same), crc, std::move(identities)));
        } else {
            parts.push_back({members[readable[begin]], part, std::nullopt, identity[readable[begin]], std::nullopt});
            partAt.push_back(readable[begin]);
        }
        begin = end;
    }
    if (FingerprintStore *store = m_options.store) {
        // Short ends, once for each contents: this comparison tells its files apart already,
        // and the ends only meet those of other small groups' comparisons.
        const std::size_t span = std::min(m_options.edgeBlock, SmallGroupEnds);
        const Ends ends(size, span);
        for (std::size_t i = 0; i < parts.size(); ++i)
            parts[i].endsCrc = i > 0 && parts[i].part == parts[i - 1].part ? parts[i - 1].endsCrc
                                                                           : ends.crcIn(at(partAt[i]));
        store->learnComparison(m_table, parts, span, true);
    }
    return found;
}

// The files of one size compared side by side, all of them open at once.
std::vector<ContentClass> Comparisons::lockstep(std::int64_t size, const Members &members, ReadStats &counts)
{
    const Lockstep result = compare(size, members, false, counts);
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

// Files of one size held open together while Lockstep's steps compare them.
struct Comparisons::OpenGroup
{
    struct Class
    {
        std::vector<std::size_t> at; // member positions, ascending
        std::uint32_t reg = CrcStart;
    };

    OpenGroup(const CandidateTable &table, std::int64_t size, const Members &members, std::size_t edgeBlock,
              bool onlyFirstsClass, ReadStats &counts)
        : size(size), members(members), ends(size, edgeBlock), onlyFirstsClass(onlyFirstsClass), counts(counts),
          paths(table, members), files(members.size())
    {
        out.label.assign(members.size(), Alone);
        out.identity.resize(members.size());
        openedAs.resize(members.size());
        edges = Scratch::get(EdgeSlot, members.size() * ends.bytes());
    }
    std::uint8_t *edgeOf(std::size_t i) const { return edges + i * ends.bytes(); }
    void leaveOutUnreadable(std::size_t i)
    {
        out.label[i] = Unreadable;
        counts.leftOutUnreadable(members[i]);
        files[i].close();
    }
    // Drops classes that cannot (or need not) be followed further, closing their files.
    void prune()
    {
        std::erase_if(classes, [&](const Class &c) {
            const bool keep = c.at.size() >= 2 && (!onlyFirstsClass || c.at.front() == 0);
            if (!keep)
                for (const std::size_t i : c.at)
                    files[i].close();
            return !keep;
        });
    }

    const std::int64_t size;
    const Members &members;
    const Ends ends;
    const bool onlyFirstsClass;
    ReadStats &counts;
    const MemberPaths paths;
    std::vector<SourceFile> files;
    std::uint8_t *edges = nullptr;
    std::vector<std::size_t> live;      // positions whose two ends were read
    std::vector<FileIdentity> openedAs; // for the store: each file as it was opened
    std::vector<Class> classes;
    Lockstep out;
};

// Compares up to maxOpenPerTask files of one size at once: both ends first, then the
// middle block by block, dropping a file as soon as its contents match no other's. The
// CRC-32 is computed once per class as the blocks go by. With `onlyFirstsClass`, files stop
// being read as soon as they differ from the first member.
Comparisons::Lockstep Comparisons::compare(std::int64_t size, const Members &members, bool onlyFirstsClass,
                                           ReadStats &counts)
{
    OpenGroup group(m_table, size, members, m_options.edgeBlock, onlyFirstsClass, counts);
    openAndReadEnds(group);
    if (cancelled() || (onlyFirstsClass && leftOut(group.out.label[0])))
        return std::move(group.out);
    splitByEnds(group);
    if (!compareMiddles(group))
        return Lockstep{std::vector<int>(members.size(), Alone), {}, {}};
    confirmClasses(group);
    if (m_options.store)
        remember(group);
    return std::move(group.out);
}

// Hands the store what the comparison found: each file's two ends, and unless it followed only
// the first file's class, which files ended equal and which apart from all the others.
void Comparisons::remember(const OpenGroup &group)
{
    std::vector<FingerprintStore::Part> parts;
    for (const std::size_t i : group.live) {
        const int label = group.out.label[i];
        if (leftOut(label))
            continue;
        const FileIdentity &readAs = group.openedAs[i];
        const std::uint32_t ends = crc32::checksum(group.edgeOf(i), group.ends.bytes());
        if (label >= 0)
            parts.push_back({group.members[i], static_cast<std::uint32_t>(label) + 1,
                             group.out.crc[static_cast<std::size_t>(label)], readAs, ends});
        else
            parts.push_back({group.members[i], static_cast<std::uint32_t>(0x10000 + i), std::nullopt, readAs, ends});
    }
    // Following only the first file's class, a file dropped is apart from it alone.
    m_options.store->learnComparison(m_table, parts, m_options.edgeBlock, !group.onlyFirstsClass);
}

void Comparisons::openAndReadEnds(OpenGroup &group)
{
    std::vector<std::size_t> opened;
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        if (cancelled())
            return;
        if (!openFile(group.files[i], group.paths, i, group.size)) {
            group.leaveOutUnreadable(i);
            continue;
        }
        opened.push_back(i);
        if (m_options.store)
            group.openedAs[i] = group.files[i].identity();
        if (!group.ends.read(group.files[i], group.edgeOf(i))) {
            group.leaveOutUnreadable(i);
            continue;
        }
        group.counts.bytesRead += group.ends.bytes();
        group.live.push_back(i);
    }
    // Counted after the opens, in one pass over the progress entries, which are scattered too.
    for (const std::size_t i : opened)
        if (m_progress.firstOpen(group.members[i]))
            ++group.counts.filesRead;
    for (const std::size_t i : group.live)
        m_progress.credit(group.members[i], group.ends.bytes());
}

// Classes of equal ends; the CRC-32 of each starts with its head.
void Comparisons::splitByEnds(OpenGroup &group)
{
    const std::size_t edgeBytes = group.ends.bytes();
    for (const std::size_t i : group.live) {
        auto same = std::find_if(group.classes.begin(), group.classes.end(), [&](const OpenGroup::Class &c) {
            return std::memcmp(group.edgeOf(c.at.front()), group.edgeOf(i), edgeBytes) == 0;
        });
        if (same == group.classes.end())
            group.classes.push_back(OpenGroup::Class{{i}, CrcStart});
        else
            same->at.push_back(i);
    }
    group.prune();
    for (OpenGroup::Class &c : group.classes)
        c.reg = crc32::update(c.reg, group.edgeOf(c.at.front()), static_cast<std::size_t>(group.ends.headLength));
}

// The bytes between the two ends, block by block, splitting classes as they differ. False
// when cancelled.
bool Comparisons::compareMiddles(OpenGroup &group)
{
    const std::int64_t begin = group.ends.headLength, end = group.ends.tailStart;
    if (begin >= end || group.classes.empty())
        return true;
    std::size_t following = 0;
    for (const OpenGroup::Class &c : group.classes)
        following += c.at.size();
    std::size_t block = std::max(MinCompareBlock, m_limits.bytesPerTask / following) / MinCompareBlock
        * MinCompareBlock;
    block = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block), end - begin));
    std::vector<std::size_t> slot(group.members.size(), 0);
    {
        std::size_t next = 0;
        for (const OpenGroup::Class &c : group.classes)
            for (const std::size_t i : c.at)
                slot[i] = next++;
    }
    std::uint8_t *const buffer = Scratch::get(BlockSlot, following * block);
    const auto blockOf = [&](std::size_t i) { return buffer + slot[i] * block; };

    for (std::int64_t offset = begin; offset < end && !group.classes.empty();) {
        if (cancelled())
            return false;
        const auto len = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(block), end - offset));
        std::vector<OpenGroup::Class> next;
        for (OpenGroup::Class &c : group.classes) {
            std::vector<OpenGroup::Class> split;
            for (const std::size_t i : c.at) {
                if (!group.files[i].readAt(offset, blockOf(i), len)) {
                    group.leaveOutUnreadable(i);
                    continue;
                }
                group.counts.bytesRead += len;
                m_progress.credit(group.members[i], len);
                auto same = std::find_if(split.begin(), split.end(), [&](const OpenGroup::Class &s) {
                    return std::memcmp(blockOf(s.at.front()), blockOf(i), len) == 0;
                });
                if (same == split.end())
                    split.push_back(OpenGroup::Class{{i}, c.reg});
                else
                    same->at.push_back(i);
            }
            for (OpenGroup::Class &s : split) {
                s.reg = crc32::update(s.reg, blockOf(s.at.front()), len);
                next.push_back(std::move(s));
            }
        }
        group.classes = std::move(next);
        group.prune();
        offset += static_cast<std::int64_t>(len);
    }
    return true;
}

// Numbers the classes that made it to the end, each member checked to be the file its path
// names, unchanged since it was opened.
void Comparisons::confirmClasses(OpenGroup &group)
{
    Lockstep &out = group.out;
    for (OpenGroup::Class &c : group.classes) {
        c.reg = crc32::update(c.reg, group.edgeOf(c.at.front()) + group.ends.headLength,
                              static_cast<std::size_t>(group.ends.tailLength));
        const int number = static_cast<int>(out.crc.size());
        out.crc.push_back(~c.reg);
        for (const std::size_t i : c.at) {
            SourceFile &file = group.files[i];
            // Written to, renamed over or replaced while it was read: its bytes may be a mix.
            if (!file.unchangedSinceOpen() || !SourceFile::pathStillNames(group.paths[i], file.identity())) {
                out.label[i] = Changed;
                ++group.counts.changed;
            } else {
                out.label[i] = number;
                out.identity[i] = file.identity();
            }
            file.close();
        }
    }
}

// More files of one size and signature than may be open at once: each round compares the
// first remaining file with the others, a bucket at a time; those that differ go round again.
// The signatures beforehand make a second round rare.
std::vector<ContentClass> Comparisons::againstFirst(std::int64_t size, Members remaining, ReadStats &counts)
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
            const Lockstep result = compare(size, bucket, true, counts);
            if (cancelled())
                break;
            const int firstsClass = result.label[0];
            // The first file is read again for every bucket: it must be the same file each time.
            const bool firstChanged = firstsClass >= 0 && !identities.empty() && result.identity[0] != identities[0];
            if (leftOut(firstsClass) || firstChanged) {
                if (firstChanged)
                    ++counts.changed;
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
            if (same.size() >= 2) {
                if (m_options.store) {
                    std::vector<FingerprintStore::Part> parts;
                    for (std::size_t j = 0; j < same.size(); ++j)
                        parts.push_back({same[j], 1, crc, identities[j], std::nullopt});
                    m_options.store->learnComparison(m_table, parts, m_options.edgeBlock, true);
                }
                found.push_back(makeClass(std::move(same), crc, std::move(identities)));
            }
        }
        std::sort(rest.begin(), rest.end());
        remaining = std::move(rest);
    }
    if (cancelled())
        return {};
    if (remaining.size() >= 2)
        for (ContentClass &c : lockstep(size, remaining, counts))
            found.push_back(std::move(c));
    return found;
}

Comparisons::Signatures::Signatures(std::int64_t size, Members members, bool wholeContents)
    : size(size), members(std::move(members)), wholeContents(wholeContents), signature(this->members.size()),
      readable(this->members.size())
{}

void Comparisons::sign(Signatures &group, std::size_t begin, std::size_t end, ReadStats &counts)
{
    const std::int64_t size = group.size;
    const Ends ends(size, m_options.edgeBlock);
    const std::size_t bufferSize = group.wholeContents
        ? static_cast<std::size_t>(std::min<std::int64_t>(size, WholeReadBlock))
        : ends.bytes();
    std::uint8_t *const buffer = Scratch::get(BlockSlot, bufferSize);
    SourceFile file;
    const MemberPaths paths(m_table, group.members, begin, end);
    const bool learning = m_options.store && !group.readAs.empty();
    for (std::size_t i = begin; i < end; ++i) {
        if (cancelled())
            return;
        const Index k = group.members[i];
        std::uint32_t reg = CrcStart;
        std::uint32_t endsReg = CrcStart; // a whole read's ends, as it passes them, for the store
        bool ok = openFile(file, paths, i, size);
        if (ok && m_progress.firstOpen(k))
            ++counts.filesRead;
        std::int64_t offset = 0;
        if (ok && group.wholeContents) {
            for (; ok && offset < size && !cancelled();) {
                const auto len = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(bufferSize), size - offset));
                ok = file.readAt(offset, buffer, len);
                if (ok) {
                    reg = crc32::update(reg, buffer, len);
                    if (learning)
                        endsReg = ends.update(endsReg, offset, buffer, len);
                    counts.bytesRead += len;
                    m_progress.credit(k, len);
                }
                offset += static_cast<std::int64_t>(len);
            }
        } else if (ok) {
            ok = ends.read(file, buffer);
            if (ok) {
                reg = crc32::update(reg, buffer, bufferSize);
                counts.bytesRead += bufferSize;
                m_progress.credit(k, bufferSize);
            }
        }
        if (learning)
            group.readAs[i] = file.identity();
        file.close();
        if (!ok)
            counts.leftOutUnreadable(k);
        // A whole read is kept at once, as it costs the most to repeat after a stop; what the
        // ends told is kept by runs() for the files it leaves alone, as the rest get compared.
        else if (learning && group.wholeContents && offset >= size)
            m_options.store->learnSignature(m_table, k, group.readAs[i], m_options.edgeBlock, ~endsReg, ~reg);
        group.signature[i] = ~reg;
        group.readable[i] = ok ? 1 : 0;
    }
}

std::vector<Comparisons::Members> Comparisons::runs(const Signatures &group)
{
    std::vector<Members> out;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        if (group.readable[i])
            order.push_back(i);
        else
            m_progress.settle(group.members[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return group.signature[a] < group.signature[b]; });
    for (std::size_t begin = 0; begin < order.size();) {
        std::size_t end = begin + 1;
        while (end < order.size() && group.signature[order[end]] == group.signature[order[begin]])
            ++end;
        if (end - begin == 1) {
            const std::size_t i = order[begin];
            if (m_options.store && !group.readAs.empty() && !group.wholeContents)
                m_options.store->learnSignature(m_table, group.members[i], group.readAs[i], m_options.edgeBlock,
                                                group.signature[i], std::nullopt);
            m_progress.settle(group.members[i]);
        } else {
            Members run;
            for (std::size_t j = begin; j < end; ++j)
                run.push_back(group.members[order[j]]);
            out.push_back(std::move(run));
        }
        begin = end;
    }
    return out;
}

// Opens a file for reading, inside its folder where that is open, and gives a test its chance
// to change it underneath.
bool Comparisons::openFile(SourceFile &file, const MemberPaths &paths, std::size_t i, std::int64_t size)
{
    const int folder = m_folders.get(paths.folder(i), paths[i], paths.folderLength(i));
    errno = 0; // a failure that is no system call's (a size changed since collecting) has no reason to give
    if (folder >= 0 ? !file.openIn(folder, paths.name(i), size) : !file.open(paths[i], size))
        return false;
    if (m_options.afterOpen)
        m_options.afterOpen(paths[i]);
    return true;
}
