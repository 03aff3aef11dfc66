#pragma once

#include <QString>

// The text after the last separator; the whole text when there is none.
QString NameOfPath(const QString &path);
// The text up to and including the last separator; the empty text when there is none.
QString FolderOfPath(const QString &path);
// True when the path names a folder (a link to a folder counts); false when it cannot be read.
bool IsFolder(const QString &path);
