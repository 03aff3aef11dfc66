// SPDX-License-Identifier: GPL-2.0-or-later
#include "Summary.h"

#include "CandidateTable.h"
#include "Console.h"
#include "FileFilter.h"
#include "SearchDriver.h"

#include <cstring>

#include <sys/resource.h>

ScanCounts countsOf(const SearchDriver &driver, const FileFilter &filter)
{
    const ReadStats &stats = driver.matchStats();
    const CollectStats &leftOut = driver.collectStats();
    ScanCounts counts;
    counts.collected = driver.candidates().count();
    counts.filesRead = stats.filesRead;
    counts.bytesRead = stats.bytesRead;
    counts.groups = stats.groups;
    counts.filesInGroups = stats.rows;
    counts.leftOutByOptions = filter.leftOut;
    counts.unreadable = stats.unreadable;
    counts.changed = stats.changed;
    counts.failed = stats.failed;
    counts.foldersLeftOut = leftOut.folders.size();
    counts.filesLeftOut = leftOut.files.size();
    counts.unique = driver.findsUniqueFiles();
    counts.uniqueFiles = driver.uniqueFiles().files.size();
    counts.uniqueBytes = static_cast<std::uint64_t>(driver.uniqueFiles().bytes);
    counts.uniqueUnreadable = driver.uniqueFiles().unreadable.size();
    return counts;
}

void printLeftOut(const SearchDriver &driver)
{
    const CollectStats &leftOut = driver.collectStats();
    for (const auto &[list, kind] : {std::pair(&leftOut.folders, "folder "), std::pair(&leftOut.files, "file ")})
        for (const LeftOutEntry &entry : *list)
            message(nullptr, "cannot read " + QByteArray(kind) + entry.path + ": " + std::strerror(entry.error));
    const CandidateTable &table = driver.candidates();
    std::uint32_t last = std::numeric_limits<std::uint32_t>::max();
    for (const UnreadableFile &file : driver.matchStats().unreadableFiles) {
        if (file.index == last || file.index >= table.count())
            continue;
        last = file.index;
        QByteArray text = "cannot read file " + table.pathBytes(file.index);
        if (file.error != 0)
            text += QByteArray(": ") + std::strerror(file.error);
        message(nullptr, text + " (left out)");
    }
}

void printSummary(const ScanCounts &counts, bool filterActive, PhaseTimes times)
{
    const auto n = [](std::uint64_t value) { return QByteArray::number(static_cast<qulonglong>(value)); };
    const auto seconds = [](std::chrono::steady_clock::duration d) {
        return QByteArray::number(std::chrono::duration<double>(d).count(), 'f', 3);
    };
    message(nullptr,
            n(counts.collected) + " files collected, " + n(counts.filesRead) + " read (" + n(counts.bytesRead)
                + " bytes), " + n(counts.unreadable) + " left out as unreadable");
    if (counts.foldersLeftOut != 0 || counts.filesLeftOut != 0)
        message(nullptr,
                "left out while collecting: " + n(counts.foldersLeftOut) + " folders, " + n(counts.filesLeftOut)
                    + " files");
    if (counts.changed != 0 || counts.failed != 0)
        message(nullptr,
                n(counts.changed) + " left out as changed while read, " + n(counts.failed)
                    + " left out as their reader failed");
    if (filterActive)
        message(nullptr, n(counts.leftOutByOptions) + " files left out by size or name");
    if (counts.unique)
        message(nullptr,
                n(counts.uniqueFiles) + (counts.uniqueFiles == 1 ? " file (" : " files (") + n(counts.uniqueBytes)
                    + (counts.uniqueFiles == 1 ? " bytes) has" : " bytes) have") + " no copy in the other folders, "
                    + n(counts.uniqueUnreadable) + " could not be read");
    else
        message(nullptr,
                n(counts.filesInGroups) + " files in " + n(counts.groups)
                    + (counts.groups == 1 ? " group, " : " groups, ") + n(counts.filesInGroups - counts.groups)
                    + " of them extra copies");
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    message(nullptr,
            "collecting " + seconds(times.collecting) + " s, reading " + seconds(times.reading) + " s, matching "
                + seconds(times.matching) + " s, peak memory "
                + QByteArray::number(static_cast<double>(usage.ru_maxrss) / 1024.0, 'f', 1) + " MiB");
}
