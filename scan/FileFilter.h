// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <limits>

// Which collected files the size and name options keep. Names are matched as the file
// system's bytes, below the listed folder whose walk collected the file.
class FileFilter
{
public:
    std::int64_t minSize = 0;
    std::int64_t maxSize = std::numeric_limits<std::int64_t>::max();
    std::uint64_t leftOut = 0;

    // A pattern with '/' inside is matched against the path below the listed folder, any other
    // against the last name only; one ending in '/' matches folders alone.
    void addExclude(const QByteArray &pattern);
    const QList<QByteArray> &excludes() const { return m_given; }
    bool active() const;

    // The queue entry of the listed folder being walked: every folder of its walk starts with it.
    void setRoot(const QByteArray &queueEntry)
    {
        m_root = queueEntry;
        m_lastFolder = {"\0", 1};
    }
    bool keep(QByteArrayView folder, QByteArrayView name, std::int64_t size);

private:
    struct Pattern
    {
        QByteArray glob;
        bool wholePath; // has a '/' inside
        bool foldersOnly;
    };
    bool excluded(QByteArrayView folder, QByteArrayView name);
    bool matchesAny(const QByteArray &relative, bool folder) const;

    QList<QByteArray> m_given;
    QList<Pattern> m_patterns;
    QByteArray m_root;
    QByteArray m_lastFolder{"\0", 1}; // no folder path starts with NUL
    QByteArray m_relativeFolder;
    bool m_folderExcluded = false;
};
