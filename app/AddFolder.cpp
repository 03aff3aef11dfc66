#include "AddFolder.h"

#include "Paths.h"

#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <sys/stat.h>

namespace {
const QChar Separator = QLatin1Char('/');

// Stripping the separator must never turn the root folder into the empty text,
// which the search would read as no folder at all.
QString withoutTrailingSeparator(const QString &folder)
{
    if (folder.endsWith(Separator) && folder.size() > 1)
        return folder.chopped(1);
    return folder;
}

// A name of an entry that is there, whatever it is; a dangling link still names one.
bool entryExists(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool isThisMachine(const QString &host)
{
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}
} // namespace

QString folderRowForChosenFolder(const QString &chosen)
{
    return withoutTrailingSeparator(chosen);
}

std::optional<QString> folderRowForDroppedPath(const QString &path)
{
    // A missing path would otherwise add its parent, which the search then walks whole.
    if (!path.startsWith(Separator) || !entryExists(path))
        return std::nullopt;
    if (IsFolder(path))
        return path;
    const QString folder = FolderOfPath(path);
    if (folder.isEmpty())
        return std::nullopt;
    return withoutTrailingSeparator(folder);
}

std::optional<QString> folderRowForDroppedUrl(const QUrl &url)
{
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0
        || !isThisMachine(url.host()) || !url.query().isEmpty() || url.hasFragment())
        return std::nullopt;
    // The path's own bytes: a name that is not valid UTF-8 decodes to other characters,
    // which would name another entry, or none and so the parent folder.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString path = QFile::decodeName(bytes);
    if (bytes.isEmpty() || bytes.contains('\0') || QFile::encodeName(path) != bytes)
        return std::nullopt;
    return folderRowForDroppedPath(path);
}
