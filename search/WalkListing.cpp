#include "WalkListing.h"

#include "SearchHost.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

void readFolder(int dirFd, const QByteArray &path, SearchHost &host, FolderListing &listing)
{
    // fdopendir takes its descriptor over; a duplicate keeps dirFd open for fstatat and for the
    // subfolders, which are opened relative to it.
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0)
        return;
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    // A read error ends the listing like its end does: what was read stands.
    while (const dirent *entry = ::readdir(dir)) {
        if (host.stopRequested())
            break;
        const char *name = entry->d_name;
        if (name[0] == '.') // ".", ".." and hidden entries
            continue;

        struct stat st {};
        bool haveStat = false;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone meanwhile
            haveStat = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        // Links, FIFOs, sockets and devices are system entries: never followed nor opened.
        if (type != DT_DIR && type != DT_REG)
            continue;

        const QByteArray bytes(name);
        if (!nameDecodes(bytes)) {
            host.showMessage(skipMessage(path + bytes), QStringLiteral("Skip"));
            continue;
        }
        if (type == DT_DIR) {
            listing.subfolders.push_back(bytes);
            continue;
        }
        if (!haveStat && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode)) // replaced by something else since it was listed
            continue;
        listing.files.push_back(WalkFile{bytes, static_cast<std::int64_t>(st.st_size),
                                         static_cast<std::uint64_t>(st.st_dev),
                                         static_cast<std::uint64_t>(st.st_ino), st.st_nlink > 1});
    }
    ::closedir(dir);
}
