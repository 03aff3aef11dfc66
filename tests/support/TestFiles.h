#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
