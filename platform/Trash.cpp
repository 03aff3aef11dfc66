#include "Trash.h"

#include <QFile>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {
void setError(QString *errorText, const QString &text)
{
    if (errorText)
        *errorText = text;
}

// 0 when the path has no entry any more, otherwise the errno of a failed lstat or -1 when it is there.
int entryState(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0)
        return -1;
    return errno == ENOENT ? 0 : errno;
}
} // namespace

bool SystemTrash::moveToTrash(const QString &path, QString *errorText)
{
    if (path.isEmpty()) {
        setError(errorText, QStringLiteral("no file name"));
        return false;
    }
    const QByteArray encoded = QFile::encodeName(path);
    if (const int before = entryState(encoded); before != -1) {
        setError(errorText, before == 0 ? QStringLiteral("the file no longer exists")
                                        : QString::fromLocal8Bit(std::strerror(before)));
        return false;
    }

    // g_file_trash only ever renames into a trash folder (the home trash, or .Trash-UID on the
    // file's own file system); it never falls back to deleting, and fails across file systems.
    GFile *file = g_file_new_for_path(encoded.constData());
    GError *error = nullptr;
    const bool trashed = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (!trashed) {
        setError(errorText, error ? QString::fromUtf8(error->message) : QStringLiteral("the trash refused the file"));
        if (error)
            g_error_free(error);
        return false;
    }
    // Trust only what the file system shows: the entry must have left its path.
    if (entryState(encoded) != 0) {
        setError(errorText, QStringLiteral("the file is still in its folder"));
        return false;
    }
    return true;
}
