#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class SearchHost;

// A plain file as the walk met it, with the size and identity one fstatat gave.
struct WalkFile
{
    QByteArray name;
    std::int64_t size;
    std::uint64_t device;
    std::uint64_t inode;
    bool hardLinked; // more than one name: may be met again in another folder
};

// What one pass over a folder's listing found, in the order the file system yielded it.
struct FolderListing
{
    std::vector<WalkFile> files;
    std::vector<QByteArray> subfolders;
};

// Reads the open folder dirFd once (path: its text ending in '/', for messages). The stop flag is
// polled at every entry and ends the reading. Hidden entries (a leading '.'), symbolic links, FIFOs,
// sockets and devices are left out; a name that does not decode gets the skip message and is left
// out. dirFd stays open and owned by the caller.
void readFolder(int dirFd, const QByteArray &path, SearchHost &host, FolderListing &listing);

// True when the name survives decoding and encoding again unchanged.
bool nameDecodes(const QByteArray &name);
// The name as text, with '?' standing for whatever does not decode.
QString displayName(const QByteArray &name);
// The text of the "Skip" message for an entry whose name does not decode.
QString skipMessage(const QByteArray &path);
