// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "Reading.h"

#include <cstdint>
#include <vector>

class CandidateTable;
class FolderSet;

// The files under some folders that removing those folders would lose: no byte-identical copy
// and no other name (hard link) outside them. A copy inside them does not count.
struct UniqueFiles
{
    std::vector<std::uint32_t> files;      // collection indexes, in collection order
    std::vector<std::uint32_t> unreadable; // under the folders, could not be read: not known either way
    std::int64_t bytes = 0;                // of `files`
};

UniqueFiles findUniqueFiles(const CandidateTable &table, const std::vector<ContentClass> &classes,
                            const std::vector<UnreadableFile> &unreadable, const FolderSet &folders);
