#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The file's length in bytes; -1 when it cannot be opened for reading or is not a plain file.
// Widened to 64 bits so files of 2 GiB and more keep their real size.
std::int64_t FileSize2(const QString &path);

// The size text of a result row: "" for 0, 1 and negative sizes, then " Bytes", " KB", " MB"
// or " GB" (powers of 1024), with the user's thousands and decimal separators.
QString FormatFileSize(std::int64_t size);
QString FormatFileSize(std::int64_t size, const QLocale &locale);
