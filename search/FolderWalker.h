#pragma once

#include "WalkListing.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

class CandidateTable;
class SearchHost;

// One entry of the folder queue: a folder path ending in '/' and the plain files its walk listed.
struct QueuedFolder
{
    QByteArray path;
    std::vector<WalkFile> files;
};

// The folder queue (List4): each folder before its subfolders, depth-first, in listing order.
using FolderQueue = std::deque<QueuedFolder>;

// Collects every plain file of one listed folder and all its subfolders into the table.
void AnalyzeFolder(const QString &folder, CandidateTable &table, SearchHost &host);

// The queue's first entry for a listed folder: the text with exactly one separator at its end
// ("/" stays "/"); the empty text for an empty folder text.
QByteArray QueueEntryOf(const QString &folder);

// Lists the folder at the back of the queue (a link there is followed, as the user chose it) and
// appends all its subfolders after it depth-first, each listed once. Folders already walked in this
// search and kernel pseudo file systems are left out.
void WalkSubfolders(FolderQueue &queue, CandidateTable &table, SearchHost &host);

// The plain files of a queued folder, from the listing its walk made (a folder is read once).
inline const std::vector<WalkFile> &ListFiles(const QueuedFolder &folder)
{
    return folder.files;
}
