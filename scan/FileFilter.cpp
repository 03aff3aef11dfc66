// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileFilter.h"

#include <fnmatch.h>

void FileFilter::addExclude(const QByteArray &pattern)
{
    m_given << pattern;
    QByteArray glob = pattern;
    const bool foldersOnly = glob.endsWith('/');
    while (glob.size() > 1 && glob.endsWith('/'))
        glob.chop(1);
    m_patterns << Pattern{glob, glob.contains('/'), foldersOnly};
}

bool FileFilter::active() const
{
    return minSize > 0 || maxSize < std::numeric_limits<std::int64_t>::max() || !m_patterns.isEmpty();
}

bool FileFilter::keep(QByteArrayView folder, QByteArrayView name, std::int64_t size)
{
    const bool kept = size >= minSize && size <= maxSize && !excluded(folder, name);
    leftOut += kept ? 0 : 1;
    return kept;
}

bool FileFilter::excluded(QByteArrayView folder, QByteArrayView name)
{
    if (m_patterns.isEmpty())
        return false;
    // Files come folder by folder: the folder's verdict is worked out once.
    if (folder != m_lastFolder) {
        m_lastFolder = folder.toByteArray();
        m_relativeFolder = folder.startsWith(m_root) ? folder.sliced(m_root.size()).toByteArray() : m_lastFolder;
        m_folderExcluded = false;
        for (qsizetype end = m_relativeFolder.indexOf('/'); end >= 0 && !m_folderExcluded;
             end = m_relativeFolder.indexOf('/', end + 1))
            m_folderExcluded = matchesAny(m_relativeFolder.left(end), true);
    }
    return m_folderExcluded || matchesAny(m_relativeFolder + name.toByteArray(), false);
}

bool FileFilter::matchesAny(const QByteArray &relative, bool folder) const
{
    const QByteArray last = relative.mid(relative.lastIndexOf('/') + 1);
    for (const Pattern &pattern : m_patterns) {
        if (pattern.foldersOnly && !folder)
            continue;
        if (::fnmatch(pattern.glob.constData(), (pattern.wholePath ? relative : last).constData(),
                      pattern.wholePath ? FNM_PATHNAME : 0)
            == 0)
            return true;
    }
    return false;
}
