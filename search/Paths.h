#pragma once

#include <QString>

struct stat;

// The text after the last separator; the whole text when there is none.
QString NameOfPath(const QString &path);
// The text up to and including the last separator; the empty text when there is none.
QString FolderOfPath(const QString &path);
// True when the path names a folder (a link to a folder counts); false when it cannot be read.
bool IsFolder(const QString &path);

// open() for a path of any length: one longer than the kernel takes at once (PATH_MAX) is opened
// piece by piece, each piece relative to the folder the one before reached. Links are treated as
// open() treats them; -1 with errno on failure.
int openLongPath(const char *path, int flags);
// Opens a file of the search for reading: never through a link in its last component, never
// blocking (a FIFO put in its place), closed on exec. The caller checks that it is a plain file.
int openFileForReading(const char *path);
// The same for the entry `name` of the open folder `folder`.
int openFileForReading(int folder, const char *name);
// lstat() for a path of any length, reached the way openLongPath reaches it.
int lstatLongPath(const char *path, struct stat *st);
