#pragma once

#include "FileIdentity.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What the reading phase takes (its options) and gives (classes of identical files, counts).

// How the reading phase may use the machine.
struct ReadOptions
{
    unsigned threads = 0;       // reader threads (1 to 64); 0: as suits the device
    unsigned maxOpenFiles = 64; // open files across the first four readers
    // File contents held at once across all readers. Small on purpose: while each reader's
    // share fits its core's cache, copying from the page cache and comparing cost half as much.
    std::size_t bufferBytes = 2u << 20;
    std::size_t edgeBlock = 4096; // bytes compared first at each end of a file
    bool inodeOrder = true;       // read in inode order (else in collection order)
    // Runs on a reader right after a file is opened, before it is read; lets a test change
    // or replace the file while it is being read, or fail the reader's task.
    std::function<void(const char *path)> afterOpen;
};

// A collected file (by collection index) that could not be read, and the errno why (0: unknown).
struct UnreadableFile
{
    std::uint32_t index;
    int error;
};

// Counts of the reading and matching phases: kept by each comparison, summed by the grouper,
// completed by the matcher.
struct ReadStats
{
    std::uint64_t filesRead = 0;  // files opened and read, whole or in part
    std::uint64_t bytesRead = 0;  // every byte read, rereads included
    std::uint64_t unreadable = 0; // left out: could not be opened or read, vanished or changed before opening
    std::uint64_t changed = 0;    // left out: written to, replaced or removed while it was being read
    std::uint64_t failed = 0;     // left out: the reader working on it failed (not for want of memory)
    std::vector<UnreadableFile> unreadableFiles; // in collection order once the matcher has them
    std::uint64_t groups = 0;                    // groups listed
    std::uint64_t rows = 0;                      // files listed

    // Counts file k as unreadable, with the errno of the failure (0 when none was set).
    void leftOutUnreadable(std::uint32_t k)
    {
        ++unreadable;
        unreadableFiles.push_back({k, errno});
    }
    void add(const ReadStats &other);
};

// A set of collected files whose contents are byte-for-byte identical.
struct ContentClass
{
    std::vector<std::uint32_t> members; // collection indexes, ascending
    std::uint32_t crc = 0;              // CRC-32 of the common contents
    // What each member was when its contents were compared, parallel to members; empty
    // when not recorded. The delete command checks a file against this before moving it.
    std::vector<FileIdentity> identities;
};
