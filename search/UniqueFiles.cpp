// SPDX-License-Identifier: GPL-2.0-or-later
#include "UniqueFiles.h"

#include "CandidateTable.h"
#include "FileIdentity.h"
#include "FolderSet.h"
#include "Paths.h"

#include <sys/stat.h>

#include <unordered_set>

namespace {
struct IdHash
{
    std::size_t operator()(const CandidateTable::Identity &id) const noexcept
    {
        return CandidateTable::IdentityHash()(id);
    }
};
using IdSet = std::unordered_set<CandidateTable::Identity, IdHash>;
} // namespace

UniqueFiles findUniqueFiles(const CandidateTable &table, const std::vector<ContentClass> &classes,
                            const std::vector<UnreadableFile> &unreadable, const FolderSet &folders)
{
    const std::size_t count = table.count();
    std::vector<signed char> folderHeld(table.folderCount(), -1);
    std::vector<bool> inside(count, false);
    for (std::size_t k = 0; k < count; ++k) {
        signed char &held = folderHeld[table.file(k).folder];
        if (held < 0)
            held = folders.holdsFolder(table.folderBytes(k)) ? 1 : 0;
        inside[k] = held == 1;
    }

    // Files with a name outside: they survive a wipe whatever their contents.
    IdSet namedOutside;
    for (const CandidateTable::OtherName &other : table.otherNames()) {
        const qsizetype slash = other.path.lastIndexOf('/');
        if (!folders.holdsFolder(other.path.left(slash + 1)))
            namedOutside.insert({other.device, other.inode, 0});
    }
    std::unordered_set<std::uint32_t> outsideInodeOrder; // the walk's low inode bits of those files
    for (const CandidateTable::Identity &id : namedOutside)
        outsideInodeOrder.insert(static_cast<std::uint32_t>(id.inode));
    const auto hasOutsideName = [&](std::uint32_t k, const FileIdentity *recorded) {
        if (!inside[k])
            return true;
        if (namedOutside.empty())
            return false;
        FileIdentity identity = recorded ? *recorded : FileIdentity{};
        if (!identity.valid) {
            // The inode the walk met rules out nearly every file without a look at the disk.
            if (outsideInodeOrder.count(table.file(k).inodeOrder) == 0)
                return false;
            struct stat st = {};
            if (lstatLongPath(table.pathBytes(k).constData(), &st) != 0)
                return false; // gone: nothing of it survives anywhere we could tell
            identity = identityOf(st);
        }
        return namedOutside.count({identity.device, identity.inode, 0}) != 0;
    };

    std::vector<bool> hasCopy(count, false);
    for (const ContentClass &group : classes) {
        bool outside = false;
        for (std::size_t m = 0; m < group.members.size() && !outside; ++m)
            outside = hasOutsideName(group.members[m], m < group.identities.size() ? &group.identities[m] : nullptr);
        if (outside)
            for (const std::uint32_t k : group.members)
                hasCopy[k] = true;
    }
    std::vector<bool> unread(count, false);
    for (const UnreadableFile &file : unreadable)
        if (file.index < count)
            unread[file.index] = true;

    UniqueFiles result;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (!inside[k] || hasCopy[k])
            continue;
        if (unread[k])
            result.unreadable.push_back(k);
        else if (!hasOutsideName(k, nullptr)) {
            result.files.push_back(k);
            result.bytes += table.file(k).size;
        }
    }
    return result;
}
