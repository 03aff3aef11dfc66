#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// One entry of a folder that the walk acts on.
struct ListedEntry
{
    enum class Kind : std::uint8_t {
        File,
        Folder,
        Undecodable, // gets the skip message
        Unreadable,  // could not be examined: named in the left-out list
    };
    Kind kind;
    int error = 0;                                // Unreadable: the errno
    std::uint32_t nameOffset = 0, nameLength = 0; // in the listing's names
    std::int64_t size = 0;                        // size and identity: a File's
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t mtimeNs = 0, ctimeNs = 0; // a File's, for the fingerprint store
};

// What one pass over a folder's listing found, in the order the file system yielded it. The names
// share one buffer: a folder's listing is a few allocations, whichever thread made it.
struct FolderListing
{
    std::vector<ListedEntry> entries;
    std::string names;
    int error = 0; // the errno of a listing that ended early on a read error

    QByteArray name(const ListedEntry &entry) const { return nameView(entry).toByteArray(); }
    QByteArrayView nameView(const ListedEntry &entry) const
    {
        return QByteArrayView(names.data() + entry.nameOffset, static_cast<qsizetype>(entry.nameLength));
    }
};

// Reads the open folder dirFd once; no window calls, so any thread may do it. `stop` is polled at
// every entry and ends the reading. Hidden entries (a leading '.'), symbolic links, FIFOs, sockets
// and devices are left out, as are entries gone since they were listed. Names that do not decode
// are Undecodable unless everyName is set. dirFd stays open and owned by the caller.
void readFolder(int dirFd, const std::atomic<bool> &stop, FolderListing &listing, bool everyName = false);

// True when the name survives decoding and encoding again unchanged.
bool nameDecodes(const QByteArray &name);
// The name as text, with '?' standing for whatever does not decode.
QString displayName(const QByteArray &name);
// The text of the "Skip" message for an entry whose name does not decode.
QString skipMessage(const QByteArray &path);
