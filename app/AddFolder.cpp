#include "AddFolder.h"

#include "Paths.h"

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
} // namespace

QString folderRowForChosenFolder(const QString &chosen)
{
    return withoutTrailingSeparator(chosen);
}

std::optional<QString> folderRowForDroppedPath(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    if (IsFolder(path))
        return path;
    const QString folder = FolderOfPath(path);
    if (folder.isEmpty())
        return std::nullopt;
    return withoutTrailingSeparator(folder);
}
