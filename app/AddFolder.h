#pragma once

#include <QString>

#include <optional>

// The row text for a folder chosen in the browse dialog: one trailing separator is
// dropped, except from the root folder, which stays "/".
QString folderRowForChosenFolder(const QString &chosen);

// The row text for one dropped path: a folder as it is, a file as the folder holding it
// (without its trailing separator, "/" for a file in the root). Nothing for a path that
// names no folder at all, which makes the drop fail.
std::optional<QString> folderRowForDroppedPath(const QString &path);
