#pragma once

#include <QString>

// The folder-browse dialog: the chosen folder's path, or the empty text on cancel.
class FolderDialog
{
public:
    virtual ~FolderDialog() = default;
    virtual QString browseForFolder(const QString &prompt) = 0;
};
