#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// A file this program put in the trash: where it was, and which file it is (a move into the
// trash keeps the device and inode).
struct TrashedFile
{
    QString originalPath;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Moves one file to the user's trash, from which a file manager can restore it.
// Returns true only when the file has left its path and sits in a trash.
class Trash
{
public:
    virtual ~Trash() = default;
    virtual bool moveToTrash(const QString &path, QString *errorText) = 0;
    // Moves each file back to its original path from the trash record that names it there,
    // never over an entry that now stands at that path. One text per file: empty when it is
    // back, otherwise why not.
    virtual std::vector<QString> restore(const std::vector<TrashedFile> &files);
};

// The freedesktop.org trash through GIO.
class SystemTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override;
    std::vector<QString> restore(const std::vector<TrashedFile> &files) override;
};
