// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstdint>

class FileFilter;
class ProgressLine;
class SearchDriver;

// The counts a search ends with, for the summary and the JSON footer.
struct ScanCounts
{
    std::uint64_t collected = 0, filesRead = 0, bytesRead = 0;
    std::uint64_t groups = 0, filesInGroups = 0;
    std::uint64_t leftOutByOptions = 0, unreadable = 0, changed = 0, failed = 0;
    std::uint64_t foldersLeftOut = 0, filesLeftOut = 0;
    // With --unique-in, what is said instead of the groups.
    bool unique = false;
    std::uint64_t uniqueFiles = 0, uniqueBytes = 0, uniqueUnreadable = 0;
};

ScanCounts countsOf(const SearchDriver &driver, const FileFilter &filter);

// Every folder and file the search could not read, by name.
void printLeftOut(const SearchDriver &driver);

struct PhaseTimes
{
    std::chrono::steady_clock::duration collecting, reading, matching;
};

// The summary on standard error.
void printSummary(const ScanCounts &counts, bool filterActive, PhaseTimes times);
