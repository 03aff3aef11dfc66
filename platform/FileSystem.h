#pragma once

#include <QString>

// True when the file's modification time can be read; any failure gives false.
bool PathExists(const QString &path);

// The folder that holds the program file.
QString applicationFolder();
