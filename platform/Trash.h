#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// A file this program put in the trash: where it was, and which file it is (a move into the
// trash keeps the device and inode).
struct TrashedFile
{
    QString originalPath;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The folder it was moved from, as the path reached it then (0: not known).
    std::uint64_t folderDevice = 0;
    std::uint64_t folderInode = 0;
};

// Told each file's result (empty: it is back) as it comes; false stops before the next file.
using RestoreStep = std::function<bool(std::size_t index, const QString &result)>;

// Moves one file to the user's trash, from which a file manager can restore it.
// Returns true only when the file has left its path and sits in a trash.
class Trash
{
public:
    virtual ~Trash() = default;
    virtual bool moveToTrash(const QString &path, QString *errorText) = 0;
    // Moves each file back to its original path from the trash record that names it there,
    // never over an entry that now stands at that path nor through a folder that was
    // replaced. One text per file reached: empty when it is back, otherwise why not.
    virtual std::vector<QString> restore(const std::vector<TrashedFile> &files, const RestoreStep &step = {});
};

// The freedesktop.org trash through GIO.
class SystemTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override;
    std::vector<QString> restore(const std::vector<TrashedFile> &files, const RestoreStep &step = {}) override;
};
