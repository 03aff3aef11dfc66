#pragma once

#include <QString>

#include <optional>

class QUrl;

// The row text for a folder chosen in the browse dialog: one trailing separator is
// dropped, except from the root folder, which stays "/".
QString folderRowForChosenFolder(const QString &chosen);

// The row text for one dropped path: a folder as it is, a file as the folder holding it
// (without its trailing separator, "/" for a file in the root). Nothing for a path that
// names no existing entry, which makes the drop fail.
std::optional<QString> folderRowForDroppedPath(const QString &path);

// The same for one dropped URL. Only an absolute path on this machine whose name
// survives decoding is taken; anything else (another host, a relative or missing path,
// a name that is not valid in the file system's encoding) gives nothing.
std::optional<QString> folderRowForDroppedUrl(const QUrl &url);
