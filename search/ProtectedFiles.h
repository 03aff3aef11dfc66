// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "CandidateTable.h"
#include "FileIdentity.h"
#include "FolderSet.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <unordered_set>
#include <vector>

// The files in the folders the user protected: never to be checked or moved. A file is
// protected by any of its names: one below a protected folder by its path, one reached through
// another row by the folder on disk, and a hard link whose other name is in one.
class ProtectedFiles
{
public:
    ProtectedFiles() = default;
    // otherNames: the search's names of files it collected under another name.
    ProtectedFiles(const QStringList &folders, const std::vector<CandidateTable::OtherName> &otherNames);

    bool empty() const { return m_folders.empty(); }
    // identity: what the search recorded of the file (invalid when not recorded).
    bool protects(const QString &path, const FileIdentity &identity) const;

    static QString reason() { return QStringLiteral("It is in a protected folder, so it cannot be checked."); }

private:
    FolderSet m_folders;
    std::unordered_set<CandidateTable::Identity, CandidateTable::IdentityHash> m_linked;
    mutable QHash<QString, bool> m_byFolder;
};
