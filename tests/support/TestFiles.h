#pragma once
// Test trees: files with given contents and times, a tree collected into a candidate table in
// a given order, bind mounts undone at the end.

#include "CandidateTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The home trash inside the private data folder the test main sets up.
inline QString trashFolder()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
}

struct TrashEntry
{
    QString storedFile; // under Trash/files; empty when the trash holds nothing for the path
    QByteArray rawPath; // the Path= value of its .trashinfo
};

// What the trash holds for this original path, found the way a file manager restores it.
inline TrashEntry trashEntry(const QString &original)
{
    const QDir trash(trashFolder());
    const QDir infoFolder(trash.filePath(QStringLiteral("info")));
    for (const QFileInfo &info : infoFolder.entryInfoList({QStringLiteral("*.trashinfo")}, QDir::Files)) {
        const QList<QByteArray> lines = readFile(info.filePath()).split('\n');
        for (const QByteArray &line : lines) {
            if (lines.value(0) == "[Trash Info]" && line.startsWith("Path=")
                && QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5))) == original)
                return {trash.filePath(QStringLiteral("files/") + info.completeBaseName()), line.mid(5)};
        }
    }
    return {};
}

// Sets a file's modification time, in seconds since 1970.
inline bool setFileTime(const QString &path, qint64 seconds, long nanoseconds = 0)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

inline QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Collected paths below root, in collection order.
inline QStringList collected(const CandidateTable &table, const QString &root)
{
    QStringList paths;
    for (std::size_t k = 0; k < table.count(); ++k)
        paths << table.path(k).mid(root.size() + 1);
    return paths;
}

// A temporary folder of test files, collected into a candidate table in the order the test gives.
class FileTree
{
public:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString root() const { return m_dir.path(); }

    QString write(const QString &relative, const QByteArray &contents)
    {
        const QString full = path(relative);
        if (!writeFile(full, contents))
            qFatal("cannot write a test file");
        return full;
    }

    // Collects the files in the given order, as the walker would have met them.
    void collect(CandidateTable &table, const QStringList &relativePaths)
    {
        QHash<QByteArray, std::uint32_t> folders;
        for (const QString &relative : relativePaths) {
            const QByteArray full = QFile::encodeName(path(relative));
            const qsizetype slash = full.lastIndexOf('/');
            const QByteArray folder = full.left(slash + 1);
            if (!folders.contains(folder))
                folders.insert(folder, table.addFolder(folder));
            struct stat st = {};
            if (::lstat(full.constData(), &st) != 0)
                qFatal("cannot stat a test file");
            table.addFile(folders.value(folder), full.mid(slash + 1), st.st_size, st.st_dev, st.st_ino);
        }
    }

private:
    QTemporaryDir m_dir;
};

// A bind mount of one path over another, undone at the end; not mounted where that is not allowed.
class BindMount
{
public:
    BindMount(const QString &source, const QString &target) : m_target(QFile::encodeName(target))
    {
        m_mounted = ::mount(QFile::encodeName(source).constData(), m_target.constData(), nullptr, MS_BIND | MS_REC,
                            nullptr)
            == 0;
    }
    ~BindMount()
    {
        if (m_mounted)
            ::umount2(m_target.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_target;
    bool m_mounted = false;
};
