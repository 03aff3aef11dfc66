#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class CandidateTable;

// The size plan of the reading phase: which files need reading at all, how the files of
// each size are compared, and in which order the device is asked for them. No threads here.

// How the files of one size are told apart (see the table in ReadPlan.cpp).
enum class ReadPath { Empty, WholeInMemory, Lockstep, Signatures };

struct ReadLimits
{
    std::size_t maxOpenPerTask = 16;       // files one task may hold open at once
    std::size_t bytesPerTask = 512u << 10; // file contents one task may hold at once
};

ReadPath choosePath(std::int64_t size, std::size_t members, const ReadLimits &limits);

struct SizeGroup
{
    std::int64_t size = 0;
    std::vector<std::uint32_t> members; // collection indexes
};

// Files that share their size with another file, one group per size, in order of the
// groups' first members. Returns nothing when `cancel` is raised meanwhile.
std::vector<SizeGroup> groupBySize(const CandidateTable &table, const std::atomic<bool> &cancel);

// Puts the members of each group, and then the groups by their first members, in inode order
// (the inodes the walk met). Inode order follows the order in which file systems lay files out,
// so readers working down the plan ask the device for nearly sequential blocks. Results do not
// depend on it.
void orderByInode(std::vector<SizeGroup> &groups, const CandidateTable &table);

// Reader threads suited to the device holding `path`: reads in flight are what a flash or
// virtual disk needs to be fast, while a spinning disk only seeks more with them.
unsigned readersForDevice(const char *path);
// The rule itself, from what /sys says about the device.
unsigned readersFor(bool rotational, bool virtualDisk);

// The share (0 to 1) of the first megabyte of a sample of the groups' files that the page
// cache holds now, without reading anything; below 0 when no file could be sampled. Gives up
// sampling after a few milliseconds and judges on what it has.
double cachedShare(const CandidateTable &table, const std::vector<SizeGroup> &groups, std::size_t samples = 32);
// Readers for a search whose files are that much in memory: reads in flight only pay off when
// the device has to be asked; from memory, four readers copy as fast and hold less.
unsigned readersForCache(unsigned deviceReaders, double cachedShare);
