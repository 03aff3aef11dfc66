#include "Paths.h"

#include <QFile>

#include <sys/stat.h>

QString NameOfPath(const QString &path)
{
    const qsizetype at = path.lastIndexOf(QLatin1Char('/'));
    return at < 0 ? path : path.mid(at + 1);
}

QString FolderOfPath(const QString &path)
{
    const qsizetype at = path.lastIndexOf(QLatin1Char('/'));
    return at < 0 ? QString() : path.left(at + 1);
}

bool IsFolder(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}
