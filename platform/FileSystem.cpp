#include "FileSystem.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

bool PathExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

QString applicationFolder()
{
    return QCoreApplication::applicationDirPath();
}
