// SPDX-License-Identifier: GPL-2.0-or-later
#include "ProtectedFiles.h"

#include <QFile>

namespace {
QList<QByteArray> encoded(const QStringList &folders)
{
    QList<QByteArray> bytes;
    for (const QString &folder : folders)
        bytes << QFile::encodeName(folder);
    return bytes;
}
} // namespace

ProtectedFiles::ProtectedFiles(const QStringList &folders, const std::vector<CandidateTable::OtherName> &otherNames)
    : m_folders(encoded(folders))
{
    if (m_folders.empty())
        return;
    for (const CandidateTable::OtherName &other : otherNames)
        if (m_folders.holdsFile(other.path))
            m_linked.insert({other.device, other.inode, 0});
}

bool ProtectedFiles::protects(const QString &path, const FileIdentity &identity) const
{
    if (m_folders.empty())
        return false;
    if (identity.valid && m_linked.count({identity.device, identity.inode, 0}) != 0)
        return true;
    // Asked once per folder: a million rows lie in far fewer folders.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1);
    if (const auto known = m_byFolder.constFind(folder); known != m_byFolder.constEnd())
        return *known;
    const bool held = m_folders.holdsFile(QFile::encodeName(path));
    m_byFolder.insert(folder, held);
    return held;
}
