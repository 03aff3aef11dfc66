#pragma once

#include "FolderHandles.h"
#include "ReadPlan.h"
#include "Reading.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class CandidateTable;
class MemberPaths;
class ReadProgress;
class SourceFile;

// The comparisons: the ways of telling files of one size apart (which files take which:
// ReadPlan.cpp). Each runs on the calling thread, reads the files it is given and returns
// their classes of two or more, members ascending, with the identity each member was read
// under. A member that changed while it was read is counted and left out. The caller settles
// the members once it has kept the classes, so that a comparison that fails midway leaves
// them unsettled.
class Comparisons
{
public:
    using Index = std::uint32_t;
    using Members = std::vector<Index>;

    Comparisons(const CandidateTable &table, const ReadOptions &options, ReadLimits limits, ReadProgress &progress,
                const std::atomic<bool> &cancel);

    // Empty files: nothing to read, so an lstat each.
    std::vector<ContentClass> empty(const Members &members, ReadStats &counts);
    // Each file read whole into memory, then sorted by contents.
    std::vector<ContentClass> wholeInMemory(std::int64_t size, const Members &members, ReadStats &counts);
    // All files open at once and compared block by block; at most maxOpenPerTask of them.
    std::vector<ContentClass> lockstep(std::int64_t size, const Members &members, ReadStats &counts);
    // More files than may be open at once: buckets compared against the first file, round by round.
    std::vector<ContentClass> againstFirst(std::int64_t size, Members members, ReadStats &counts);

    // CRC-32 signatures of a big group's files: of their two ends, or with `wholeContents` of
    // the whole file.
    struct Signatures
    {
        Signatures(std::int64_t size, Members members, bool wholeContents);
        std::int64_t size;
        Members members;
        bool wholeContents;
        std::vector<std::uint32_t> signature;
        std::vector<std::uint8_t> readable; // 0 for a file that could not be read
        std::vector<FileIdentity> readAs;   // for the store, when sized: each file as it was opened
    };
    // Signs members[begin, end); chunks of one group may be signed on several threads at once.
    void sign(Signatures &group, std::size_t begin, std::size_t end, ReadStats &counts);
    // The runs of two or more equal signatures, each in member order; settles every other file.
    std::vector<Members> runs(const Signatures &group);

    bool cancelled() const;

private:
    struct Lockstep;
    struct OpenGroup;
    // Lockstep's steps over files held open together.
    Lockstep compare(std::int64_t size, const Members &members, bool onlyFirstsClass, ReadStats &counts);
    void openAndReadEnds(OpenGroup &group);
    void splitByEnds(OpenGroup &group);
    bool compareMiddles(OpenGroup &group);
    void confirmClasses(OpenGroup &group);
    void remember(const OpenGroup &group);
    bool openFile(SourceFile &file, const MemberPaths &paths, std::size_t i, std::int64_t size);
    static ContentClass makeClass(Members members, std::uint32_t crc, std::vector<FileIdentity> identities);

    const CandidateTable &m_table;
    const ReadOptions &m_options;
    ReadLimits m_limits;
    ReadProgress &m_progress;
    const std::atomic<bool> &m_cancel;
    FolderHandles m_folders;
};
