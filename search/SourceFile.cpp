#include "SourceFile.h"

#include "Paths.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SourceFile &SourceFile::operator=(SourceFile &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_atOpen = other.m_atOpen;
        other.m_fd = -1;
    }
    return *this;
}

bool SourceFile::open(const char *path, std::int64_t expectedSize)
{
    close();
    return accept(openFileForReading(path), expectedSize);
}

bool SourceFile::openIn(int folder, const char *name, std::int64_t expectedSize)
{
    close();
    return accept(openFileForReading(folder, name), expectedSize);
}

bool SourceFile::accept(int fd, std::int64_t expectedSize)
{
    m_fd = fd;
    if (m_fd < 0)
        return false;
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != expectedSize) {
        close();
        return false;
    }
    m_atOpen = identityOf(st);
    if (expectedSize > 256 * 1024)
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool SourceFile::readAt(std::int64_t offset, std::uint8_t *buffer, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::pread(m_fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        offset += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void SourceFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_atOpen = {};
}

bool SourceFile::unchangedSinceOpen() const
{
    struct stat st = {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && identityOf(st) == m_atOpen;
}

bool SourceFile::pathStillNames(const char *path, const FileIdentity &identity)
{
    struct stat st = {};
    return lstatLongPath(path, &st) == 0 && S_ISREG(st.st_mode) && identityOf(st) == identity;
}
