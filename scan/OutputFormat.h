// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "KeepRules.h"
#include "ScanOptions.h"
#include "Summary.h"

#include <cstdint>
#include <memory>
#include <vector>

class Output;

// One way of printing the groups: a header before the search, each group as the matching
// finds it (only the files to print: with -e, those not kept), and a footer at the end.
class OutputFormat
{
public:
    virtual ~OutputFormat() = default;
    virtual void header(const ScanOptions &) {}
    virtual void group(std::int64_t size, const std::vector<GroupFile> &files) = 0;
    // With --unique-in, once instead of the groups: the files with no copy outside the folders,
    // and those under them that could not be read.
    virtual void uniqueFiles(const std::vector<GroupFile> &files, const std::vector<QByteArray> &unreadable) = 0;
    virtual void footer(const ScanCounts &, bool /*complete*/) {}
};

// Paths as the file system's bytes, each ended by `terminator`; one more after each group
// unless `flat` (-e: one list for xargs).
std::unique_ptr<OutputFormat> makeTextFormat(Output &output, char terminator, bool flat);
// One JSON document: the program and the command, the groups, the summary's counts.
std::unique_ptr<OutputFormat> makeJsonFormat(Output &output);
