#pragma once

#include <QString>

#include <cstdint>

struct stat;

// What a path named when it was listed: which file (device and inode) and in what state
// (size, modification time and status change time). The path itself is not followed if it is
// a link. Size and modification time can be set back by anyone; the change time cannot.
struct FileIdentity
{
    bool valid = false; // false when the path could not be examined
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    std::int64_t ctimeSeconds = 0;
    long ctimeNanoseconds = 0;

    bool sameFile(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
    bool operator==(const FileIdentity &other) const = default;
    // The same, but for the change time: for a file this program itself renamed since.
    bool sameButChangeTime(const FileIdentity &other) const
    {
        return sameFile(other) && size == other.size && mtimeSeconds == other.mtimeSeconds
            && mtimeNanoseconds == other.mtimeNanoseconds;
    }
};

FileIdentity identityOf(const QString &path);
// The identity that a stat or fstat result describes.
FileIdentity identityOf(const struct stat &st);

// True only when the path names no entry at all (not when it merely cannot be examined).
bool entryIsGone(const QString &path);

// True when both paths reach the same folder entry, for instance once directly and once
// through a linked folder: removing one of them removes the other.
bool sameFolderEntry(const QString &a, const QString &b);
