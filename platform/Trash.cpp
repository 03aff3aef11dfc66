#include "Trash.h"

#include <QFile>
#include <QHash>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void setError(QString *errorText, const QString &text)
{
    if (errorText)
        *errorText = text;
}

// 0 when the path has no entry any more, otherwise the errno of a failed lstat or -1 when it is there.
int entryState(const QByteArray &path)
{
    struct stat st = {};
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
        setError(errorText,
                 before == 0 ? QStringLiteral("the file no longer exists")
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

std::vector<QString> Trash::restore(const std::vector<TrashedFile> &files, const RestoreStep &step)
{
    std::vector<QString> results;
    for (std::size_t i = 0; i < files.size(); ++i) {
        results.push_back(QStringLiteral("this trash cannot give files back"));
        if (step && !step(i, results.back()))
            break;
    }
    return results;
}

namespace {
using FileKey = QPair<quint64, quint64>;

// One trash folder (files/ and info/ below it), with its stored files indexed by inode.
struct TrashFolder
{
    QByteArray root;
    QByteArray topdir; // the file system's top for a .Trash-UID folder: Path= is relative to it
    QHash<FileKey, QByteArray> byFile;
};

TrashFolder indexFolder(const QByteArray &root, const QByteArray &topdir)
{
    TrashFolder folder{root, topdir, {}};
    const QByteArray files = root + "/files";
    DIR *dir = ::opendir(files.constData());
    if (!dir)
        return folder;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st = {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            folder.byFile.insert({quint64(st.st_dev), quint64(st.st_ino)}, QByteArray(entry->d_name));
    }
    ::closedir(dir);
    return folder;
}

// The top folder of the file system that holds path (or its nearest existing folder).
QByteArray fileSystemTop(QByteArray path)
{
    struct stat st = {};
    while (!path.isEmpty() && ::lstat(path.constData(), &st) != 0) {
        const qsizetype slash = path.lastIndexOf('/');
        path = slash <= 0 ? QByteArray("/") : path.left(slash);
    }
    if (path.isEmpty())
        return "/";
    const dev_t device = st.st_dev;
    while (path != "/") {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray parent = slash <= 0 ? QByteArray("/") : path.left(slash);
        if (::lstat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        path = parent;
    }
    return path;
}

// The original path a .trashinfo record names; empty when it is no such record. Records
// may be anything a stranger put there: only a regular file is read, and never waited on.
QByteArray recordedPath(const QByteArray &infoFile, const QByteArray &topdir)
{
    const int fd = ::open(infoFile.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat st = {};
    QByteArray text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.resize(1 << 16);
        const ssize_t got = ::read(fd, text.data(), size_t(text.size()));
        text.resize(got > 0 ? got : 0);
    }
    ::close(fd);
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0).trimmed() != "[Trash Info]")
        return {};
    for (const QByteArray &line : lines) {
        if (!line.startsWith("Path="))
            continue;
        QByteArray path = QByteArray::fromPercentEncoding(line.mid(5).trimmed());
        if (!path.startsWith('/') && !topdir.isEmpty())
            path = (topdir == "/" ? QByteArray("/") : topdir + '/') + path;
        return path;
    }
    return {};
}

// Moves from into folder as name unless something stands there; 0 or an errno.
int moveBackNoReplace(const QByteArray &from, int folder, const QByteArray &name)
{
    if (::renameat2(AT_FDCWD, from.constData(), folder, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace rename: a new link fails rather than replaces.
    if (::linkat(AT_FDCWD, from.constData(), folder, name.constData(), 0) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

// The folder a file goes back into, reached now as its path reaches it, and checked to be
// the folder it left: a folder replaced since (by a link or another folder) is not used.
struct ReturnFolder
{
    int fd = -1;
    QByteArray real; // resolved through every link
    QString refusal;
    ~ReturnFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

void openReturnFolder(ReturnFolder &out, const QByteArray &folder, const TrashedFile &file)
{
    out.fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st = {};
    if (out.fd < 0 || ::fstat(out.fd, &st) != 0) {
        out.refusal = QStringLiteral("its folder is no longer there");
        return;
    }
    char resolved[PATH_MAX];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(out.fd);
    const ssize_t length = ::readlink(self.constData(), resolved, sizeof resolved - 1);
    out.real = length > 0 ? QByteArray(resolved, length) : folder;
    if (file.folderInode == 0 || (st.st_dev == file.folderDevice && st.st_ino == file.folderInode))
        return;
    struct stat link = {};
    const QString shown = QFile::decodeName(folder);
    if (::lstat(folder.constData(), &link) == 0 && S_ISLNK(link.st_mode))
        out.refusal = QStringLiteral("its folder %1 is now a link to %2, not the folder it was moved from; "
                                     "it stays in the trash")
                          .arg(shown, QFile::decodeName(out.real));
    else
        out.refusal = QStringLiteral("its folder %1 has been replaced by another folder since the move; "
                                     "it stays in the trash")
                          .arg(shown);
}

template <typename FolderOf>
QString restoreOne(const TrashedFile &file, const QByteArray &home, const QByteArray &uid, FolderOf &folder)
{
    const QByteArray original = QFile::encodeName(file.originalPath);
    const qsizetype slash = original.lastIndexOf('/');
    if (slash < 0)
        return QStringLiteral("its folder is no longer there");
    const QByteArray name = original.mid(slash + 1);
    ReturnFolder into;
    openReturnFolder(into, slash == 0 ? QByteArray("/") : original.left(slash), file);
    if (!into.refusal.isEmpty())
        return into.refusal;
    // A folder reached through a link onto another file system keeps its files in that
    // file system's trash, under the folder's real path.
    const QByteArray realPath = (into.real == "/" ? QByteArray() : into.real) + '/' + name;
    const QByteArray top = fileSystemTop(into.real);
    const QByteArray topPrefix = top == "/" ? QByteArray("/") : top + '/';
    const std::pair<QByteArray, QByteArray> candidates[] = {
        {home, {}}, {topPrefix + ".Trash/" + uid, top}, {topPrefix + ".Trash-" + uid, top}};
    const FileKey key{file.device, file.inode};
    for (const auto &[root, topdir] : candidates) {
        const TrashFolder &trash = folder(root, topdir);
        const auto stored = trash.byFile.constFind(key);
        if (stored == trash.byFile.cend())
            continue;
        const QByteArray info = trash.root + "/info/" + *stored + ".trashinfo";
        const QByteArray recorded = recordedPath(info, trash.topdir);
        if (recorded.isEmpty())
            return QStringLiteral("its trash record %1 cannot be read as one; it stays in the trash")
                .arg(QFile::decodeName(info));
        if (recorded != original && recorded != realPath)
            return QStringLiteral("its trash record now names another place, %1; it stays in the trash")
                .arg(QFile::decodeName(recorded));
        const int error = moveBackNoReplace(trash.root + "/files/" + *stored, into.fd, name);
        if (error == 0) {
            ::unlink(info.constData());
            return {};
        }
        if (error == EEXIST)
            return QStringLiteral("another file now stands at its place");
        if (error == ENOENT)
            return QStringLiteral("its folder is no longer there");
        return QString::fromLocal8Bit(std::strerror(error));
    }
    return QStringLiteral("it is no longer in the trash");
}
} // namespace

std::vector<QString> SystemTrash::restore(const std::vector<TrashedFile> &files, const RestoreStep &step)
{
    std::vector<QString> results;
    std::map<QByteArray, TrashFolder> folders;
    const auto folder = [&folders](const QByteArray &root, const QByteArray &topdir) -> const TrashFolder & {
        auto found = folders.find(root);
        if (found == folders.end())
            found = folders.emplace(root, indexFolder(root, topdir)).first;
        return found->second;
    };
    const QByteArray home = QByteArray(g_get_user_data_dir()) + "/Trash";
    const QByteArray uid = QByteArray::number(::getuid());

    for (std::size_t index = 0; index < files.size(); ++index) {
        const TrashedFile &file = files[index];
        results.push_back(restoreOne(file, home, uid, folder));
        if (step && !step(index, results.back()))
            break;
    }
    return results;
}
