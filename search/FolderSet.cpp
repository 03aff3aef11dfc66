// SPDX-License-Identifier: GPL-2.0-or-later
#include "FolderSet.h"

#include "Paths.h"

#include <sys/stat.h>

#include <algorithm>

bool isPathUnder(QByteArrayView path, QByteArrayView folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    if (folder == "/")
        return path.size() > 1 && path.startsWith('/');
    return path.size() > folder.size() + 1 && path.startsWith(folder) && path.at(folder.size()) == '/';
}

FolderSet::FolderSet(const QList<QByteArray> &folders) : m_folders(folders)
{
    for (const QByteArray &folder : folders) {
        struct stat st = {};
        // Followed if a link: the rows are walked that way too.
        if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            m_ids.push_back(Id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    }
}

bool FolderSet::holdsPath(QByteArrayView path) const
{
    return std::any_of(m_folders.begin(), m_folders.end(),
                       [&](const QByteArray &folder) { return isPathUnder(path, folder); });
}

bool FolderSet::holdsFolder(const QByteArray &folder) const
{
    if (m_folders.isEmpty())
        return false;
    QByteArray bare = folder;
    while (bare.size() > 1 && bare.endsWith('/'))
        bare.chop(1);
    if (holdsPath(bare) || std::any_of(m_folders.begin(), m_folders.end(), [&](const QByteArray &f) {
            return QByteArrayView(f).chopped(f.size() > 1 && f.endsWith('/') ? 1 : 0) == bare;
        }))
        return true;
    if (const auto known = m_known.find(folder); known != m_known.end())
        return known->second;
    bool held = false;
    struct stat st = {};
    if (lstatLongPath(bare.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        held = std::find(m_ids.begin(), m_ids.end(),
                         Id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)})
            != m_ids.end();
    // A link row is walked as the folder it names; its own lstat names the link.
    if (!held && S_ISLNK(st.st_mode) && ::stat(bare.constData(), &st) == 0)
        held = std::find(m_ids.begin(), m_ids.end(),
                         Id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)})
            != m_ids.end();
    if (!held && bare.size() > 1) {
        const qsizetype slash = bare.lastIndexOf('/');
        if (slash >= 0)
            held = holdsFolder(bare.left(slash + 1));
    }
    m_known.emplace(folder, held);
    return held;
}

bool FolderSet::holdsFile(const QByteArray &path) const
{
    const qsizetype slash = path.lastIndexOf('/');
    return holdsPath(path) || (slash > 0 && holdsFolder(path.left(slash + 1)));
}
