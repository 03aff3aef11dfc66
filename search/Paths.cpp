#include "Paths.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

QString NameOfPath(const QString &path)
{
    const qsizetype at = path.lastIndexOf(QLatin1Char('/'));
    return at < 0 ? path : path.mid(at + 1);
}

QString FolderOfPath(const QString &path)
{
    const qsizetype at = path.lastIndexOf(QLatin1Char('/'));
    return at < 0 ? QString() : path.left(at + 1);
}

bool IsFolder(const QString &path)
{
    struct stat st = {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int openLongPath(const char *path, int flags)
{
    const std::size_t length = std::strlen(path);
    if (length < PATH_MAX)
        return ::open(path, flags);

    int dirFd = AT_FDCWD;
    std::size_t start = 0;
    std::string piece;
    while (length - start >= PATH_MAX) {
        // The longest piece that fits, cut at a separator; an absolute first piece keeps its '/'.
        std::size_t cut = start + PATH_MAX - 1;
        while (cut > start && path[cut] != '/')
            --cut;
        if (cut == start && path[start] != '/') {
            if (dirFd != AT_FDCWD)
                ::close(dirFd);
            errno = ENAMETOOLONG; // one name longer than any file system allows
            return -1;
        }
        if (cut > start)
            piece.assign(path + start, cut - start);
        else
            piece.assign(1, start == 0 ? '/' : '.');
        const int next = ::openat(dirFd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (dirFd != AT_FDCWD)
            ::close(dirFd);
        if (next < 0) {
            errno = error;
            return -1;
        }
        dirFd = next;
        start = cut + 1;
    }
    const int fd = ::openat(dirFd, start < length ? path + start : ".", flags);
    const int error = errno;
    if (dirFd != AT_FDCWD)
        ::close(dirFd);
    errno = error;
    return fd;
}

namespace {
// O_NONBLOCK: a FIFO put in a file's place must not hang the open; O_NOFOLLOW: nor may a link.
constexpr int ReadingFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
} // namespace

int openFileForReading(const char *path)
{
    return openLongPath(path, ReadingFlags);
}

int openFileForReading(int folder, const char *name)
{
    return ::openat(folder, name, ReadingFlags);
}

int lstatLongPath(const char *path, struct stat *st)
{
    const std::size_t length = std::strlen(path);
    if (length < PATH_MAX)
        return ::lstat(path, st);
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr || slash[1] == '\0') {
        errno = ENAMETOOLONG;
        return -1;
    }
    const std::string folder(path, static_cast<std::size_t>(slash - path));
    const int dirFd = openLongPath(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return -1;
    const int result = ::fstatat(dirFd, slash + 1, st, AT_SYMLINK_NOFOLLOW);
    const int error = errno;
    ::close(dirFd);
    errno = error;
    return result;
}
