// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "FileFilter.h"
#include "KeepRules.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <optional>

// Exit statuses, as the manual page and --help give them.
enum ScanStatus : int {
    Finished = 0,    // the search ran to its end, whether or not it found duplicates
    Failed = 1,      // standard output or the folder names could not be read or written
    Usage = 2,       // bad options or folders; nothing was searched
    OutOfMemory = 3, // memory or threads ran out; the search stopped there
    // A stop by signal gives 128 + the signal's number: 130 for Ctrl-C, 143 for SIGTERM.
};

enum class OutputFormatKind { Lines, Nul, Json };

// What the command line asks for, checked.
struct ScanOptions
{
    QStringList folders; // absolute and clean, in the order given (arguments, then --from0)
    OutputFormatKind format = OutputFormatKind::Lines;
    bool omitFirst = false;
    KeepRule keep = KeepRule::FirstListed;
    QList<QByteArray> keepUnder; // absolute and clean, without a trailing '/'
    // Print the files under these with no copy outside them instead of the groups; as keepUnder.
    QList<QByteArray> uniqueIn;
    FileFilter filter;
    bool quiet = false;
    unsigned threads = 0; // readers; 0: chosen by the search
    unsigned walkThreads = 0;
};

// Either options to search with, or a status to end with at once (after --help, --version or
// an error, whose text has gone out already).
struct ParsedCommandLine
{
    std::optional<ScanOptions> options;
    int status = Finished;
};

ParsedCommandLine parseCommandLine(const QStringList &arguments, int argc, char *argv[]);

// The folder as the folder list holds it: absolute, without "." parts, doubled or trailing
// separators, and ".." taken back only past a real folder (never past a link).
QString cleanFolder(const QString &folder);
