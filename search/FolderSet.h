// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <unordered_map>
#include <vector>

// True when `path` names something below `folder` (its bytes, with or without a trailing '/'):
// "/a/b" is below "/a" but "/ab" is not, and a folder is not below itself.
bool isPathUnder(QByteArrayView path, QByteArrayView folder);

// Some folders, and whether a collected folder lies inside one of them: by its path, or by being
// (or lying below) the same folder on disk reached through another path, such as a link or a
// bind mount listed as another row.
class FolderSet
{
public:
    FolderSet() = default;
    explicit FolderSet(const QList<QByteArray> &folders);

    bool empty() const { return m_folders.isEmpty(); }
    const QList<QByteArray> &folders() const { return m_folders; }
    // By the path's bytes alone.
    bool holdsPath(QByteArrayView path) const;
    // For a collected folder's path (ending with '/'); remembered per folder, so a search's
    // folders cost one stat each at most.
    bool holdsFolder(const QByteArray &folder) const;
    // For a file's path: its folder held, by path or on disk.
    bool holdsFile(const QByteArray &path) const;

private:
    struct Id
    {
        std::uint64_t device, inode;
        bool operator==(const Id &) const = default;
    };
    QList<QByteArray> m_folders;
    std::vector<Id> m_ids;
    mutable std::unordered_map<QByteArray, bool> m_known;
};
