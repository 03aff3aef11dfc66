#pragma once

#include "WalkListing.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

class CandidateTable;
class SearchHost;

// One entry of the folder queue: a folder path ending in '/' and what its walk listed. The listing
// itself is kept, not a copy of each file's name: that copy was most of the walk's peak memory.
struct QueuedFolder
{
    QByteArray path;
    FolderListing listing;
};

// The folder queue (List4): each folder before its subfolders, depth-first, in listing order.
using FolderQueue = std::deque<QueuedFolder>;

// Folders listed at once during the walk: a cold disk answers many requests in flight far faster
// than one after another, and the order of the results does not depend on it.
constexpr unsigned DefaultWalkThreads = 8;

// Collects every plain file of one listed folder and all its subfolders into the table; folders
// and files that cannot be read go into the table's left-out lists.
void AnalyzeFolder(const QString &folder, CandidateTable &table, SearchHost &host,
                   unsigned walkThreads = DefaultWalkThreads);

// The queue's first entry for a listed folder: the text with exactly one separator at its end
// ("/" stays "/"); the empty text for an empty folder text.
QByteArray QueueEntryOf(const QString &folder);

// Lists the folder at the back of the queue (a link there is followed, as the user chose it) and
// appends all its subfolders after it depth-first, each listed once. Folders already walked in this
// search and kernel pseudo file systems are left out. Folders are listed on `threads` threads; what
// the host sees (events, stop polls, skip messages) comes from this thread in the walk's order.
void WalkSubfolders(FolderQueue &queue, CandidateTable &table, SearchHost &host, unsigned threads = DefaultWalkThreads);

// The plain files of a queued folder, from the listing its walk made (a folder is read once):
// `file` is called with each one's name and entry, in listing order.
template <typename Each> void ListFiles(const QueuedFolder &folder, Each file)
{
    for (const ListedEntry &entry : folder.listing.entries)
        if (entry.kind == ListedEntry::Kind::File)
            file(folder.listing.nameView(entry), entry);
}
