#include "WalkListing.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool nameDecodes(const QByteArray &name)
{
    // Almost every name is plain ASCII, which always decodes; only the rest pays for the round trip.
    if (std::all_of(name.cbegin(), name.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return true;
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

QString displayName(const QByteArray &name)
{
    QString text = QFile::decodeName(name);
    text.replace(QChar::ReplacementCharacter, QLatin1Char('?'));
    return text;
}

QString skipMessage(const QByteArray &path)
{
    return displayName(path)
        + QStringLiteral(" has been skipped because it is unrecognizeable. This is probably because it contains "
                         "strange characters. Please rename the file or folder if you would like it included next "
                         "time you find dupes.");
}

void readFolder(int dirFd, const std::atomic<bool> &stop, FolderListing &listing, bool everyName)
{
    // fdopendir takes its descriptor over; a duplicate keeps dirFd open for fstatat and for the
    // subfolders, which are opened relative to it.
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0) {
        listing.error = errno;
        return;
    }
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        listing.error = errno;
        ::close(listFd);
        return;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            listing.error = errno; // what was read before an error stands
            break;
        }
        if (stop.load(std::memory_order_relaxed))
            break;
        const char *name = entry->d_name;
        if (name[0] == '.') // ".", ".." and hidden entries
            continue;
        const auto add = [&](ListedEntry::Kind kind, int error) -> ListedEntry & {
            const std::size_t length = std::strlen(name);
            listing.entries.push_back(
                {kind, error, static_cast<std::uint32_t>(listing.names.size()), static_cast<std::uint32_t>(length)});
            listing.names.append(name, length);
            return listing.entries.back();
        };

        struct stat st = {};
        bool haveStat = false;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) // not merely gone meanwhile
                    add(ListedEntry::Kind::Unreadable, errno);
                continue;
            }
            haveStat = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        // Links, FIFOs, sockets and devices are system entries: never followed nor opened.
        if (type != DT_DIR && type != DT_REG)
            continue;

        if (!everyName && !nameDecodes(QByteArray::fromRawData(name, static_cast<qsizetype>(std::strlen(name))))) {
            add(ListedEntry::Kind::Undecodable, 0);
            continue;
        }
        if (type == DT_DIR) {
            add(ListedEntry::Kind::Folder, 0);
            continue;
        }
        if (!haveStat && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                add(ListedEntry::Kind::Unreadable, errno);
            continue;
        }
        if (!S_ISREG(st.st_mode)) // replaced by something else since it was listed
            continue;
        ListedEntry &file = add(ListedEntry::Kind::File, 0);
        file.size = static_cast<std::int64_t>(st.st_size);
        file.device = static_cast<std::uint64_t>(st.st_dev);
        file.inode = static_cast<std::uint64_t>(st.st_ino);
        file.mtimeNs = st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec;
        file.ctimeNs = st.st_ctim.tv_sec * 1000000000ll + st.st_ctim.tv_nsec;
    }
    ::closedir(dir);
}
