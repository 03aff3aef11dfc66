#include "Trash.h"

#include <QFile>
#include <QHash>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <cerrno>
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

std::vector<QString> Trash::restore(const std::vector<TrashedFile> &files)
{
    return std::vector<QString>(files.size(), QStringLiteral("this trash cannot give files back"));
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

// The original path a .trashinfo record names, or empty when it is no such record.
QByteArray recordedPath(const QByteArray &infoFile, const QByteArray &topdir)
{
    QFile info(QFile::decodeName(infoFile));
    if (!info.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = info.read(1 << 16).split('\n');
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

// Moves from to to unless something stands at to; 0 or an errno.
int moveBackNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace rename: a new link fails rather than replaces.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}
} // namespace

std::vector<QString> SystemTrash::restore(const std::vector<TrashedFile> &files)
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

    for (const TrashedFile &file : files) {
        const QByteArray original = QFile::encodeName(file.originalPath);
        const FileKey key{file.device, file.inode};
        const QByteArray top = fileSystemTop(original);
        const QByteArray topPrefix = top == "/" ? QByteArray("/") : top + '/';
        const std::pair<QByteArray, QByteArray> candidates[] = {
            {home, {}}, {topPrefix + ".Trash/" + uid, top}, {topPrefix + ".Trash-" + uid, top}};
        QString result = QStringLiteral("it is no longer in the trash");
        for (const auto &[root, topdir] : candidates) {
            const TrashFolder &trash = folder(root, topdir);
            const auto stored = trash.byFile.constFind(key);
            if (stored == trash.byFile.cend())
                continue;
            const QByteArray info = trash.root + "/info/" + *stored + ".trashinfo";
            if (recordedPath(info, trash.topdir) != original)
                continue;
            const int error = moveBackNoReplace(trash.root + "/files/" + *stored, original);
            if (error == 0) {
                ::unlink(info.constData());
                result.clear();
            } else if (error == EEXIST) {
                result = QStringLiteral("another file now stands at its place");
            } else if (error == ENOENT) {
                result = QStringLiteral("its folder is no longer there");
            } else {
                result = QString::fromLocal8Bit(std::strerror(error));
            }
            break;
        }
        results.push_back(result);
    }
    return results;
}
