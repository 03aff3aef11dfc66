#include "FileIdentity.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

FileIdentity identityOf(const QString &path)
{
    FileIdentity identity;
    struct stat st = {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return identity;
    return identityOf(st);
}

FileIdentity identityOf(const struct stat &st)
{
    FileIdentity identity;
    identity.valid = true;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.mtimeSeconds = st.st_mtim.tv_sec;
    identity.mtimeNanoseconds = st.st_mtim.tv_nsec;
    identity.ctimeSeconds = st.st_ctim.tv_sec;
    identity.ctimeNanoseconds = st.st_ctim.tv_nsec;
    return identity;
}

bool entryIsGone(const QString &path)
{
    struct stat st = {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) == 0)
        return false;
    return errno == ENOENT || errno == ENOTDIR;
}

namespace {
// The folder part resolved through every link, followed by the entry's own name.
QByteArray resolvedEntry(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : encoded.left(slash);
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return {};
    QByteArray entry(resolved);
    if (!entry.endsWith('/'))
        entry += '/';
    return entry + encoded.mid(slash + 1);
}
} // namespace

bool sameFolderEntry(const QString &a, const QString &b)
{
    const QByteArray first = resolvedEntry(a);
    return !first.isEmpty() && first == resolvedEntry(b);
}
