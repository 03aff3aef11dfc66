#include "RecyclingBin.h"

#include "UserLocale.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int MaxNamedFiles = 15;

using FileKey = std::pair<std::uint64_t, std::uint64_t>; // device, inode

FileKey keyOf(const FileIdentity &identity)
{
    return {identity.device, identity.inode};
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return countText(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

// Up to MaxNamedFiles lines, then how many more there are.
QString namedLines(const QStringList &lines)
{
    QStringList shown = lines.mid(0, MaxNamedFiles);
    if (lines.size() > MaxNamedFiles)
        shown << QStringLiteral("... and %1 more.").arg(countText(lines.size() - MaxNamedFiles));
    return shown.join(QLatin1Char('\n'));
}

QStringList failureLines(const std::vector<TrashFailure> &failures)
{
    QStringList lines;
    for (const TrashFailure &failure : failures)
        lines << failure.path + QStringLiteral(": ") + failure.reason;
    return lines;
}

// The trash takes a path the system can name in one go; a longer one is refused up front.
bool pathTooLong(const QString &path, qsizetype *bytes)
{
    // Each UTF-16 unit takes at most three bytes: most paths need no encoding to tell.
    if (path.size() * 3 < PATH_MAX)
        return false;
    *bytes = QFile::encodeName(path).size();
    return *bytes >= PATH_MAX;
}

const QString NoKeptCopy = QStringLiteral("no unchecked copy of it is left as the search found it");

// The folder a path names its entry in, as the system reaches it now.
FileIdentity folderIdentity(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : encoded.left(slash);
    struct stat st = {};
    if (::stat(folder.constData(), &st) != 0)
        return {};
    return identityOf(st);
}
} // namespace

QString spaceText(std::int64_t bytes)
{
    if (bytes < 1024)
        return plural(bytes, "byte", "bytes");
    return userLocale().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
}

QString countText(qsizetype count)
{
    return userLocale().toString(qlonglong(count));
}

DeletePlan planDeletion(const ResultsModel &list)
{
    DeletePlan plan;
    plan.protection = list.protection();
    std::vector<std::pair<int, int>> groups(static_cast<std::size_t>(list.groupCount()) + 1); // rows, checked
    std::vector<int> checkedRows;
    for (int row = 0; row < list.rows(); ++row) {
        const ResultsModel::Row &each = list.row(row);
        auto &counts = groups[std::min<std::size_t>(each.group, groups.size() - 1)];
        ++counts.first;
        if (each.checked) {
            ++counts.second;
            checkedRows.push_back(row);
        }
    }
    if (checkedRows.empty())
        return plan;
    const auto wholeGroup = [&](const ResultsModel::Row &each) {
        const auto &counts = groups[std::min<std::size_t>(each.group, groups.size() - 1)];
        return counts.first == counts.second;
    };

    // Each checked path once, at its first row. One path names one file, so only the rows of
    // one file need their paths compared; rows whose file is unknown are looked up by path.
    std::vector<std::pair<FileKey, int>> byFile; // (file, row), for checked rows of a known file
    byFile.reserve(checkedRows.size());
    for (int row : checkedRows)
        if (list.row(row).identity.valid)
            byFile.emplace_back(keyOf(list.row(row).identity), row);
    std::sort(byFile.begin(), byFile.end());
    std::vector<bool> repeated(static_cast<std::size_t>(list.rows()), false);
    std::vector<int> names;
    for (std::size_t i = 0; i < byFile.size();) {
        std::size_t end = i + 1;
        while (end < byFile.size() && byFile[end].first == byFile[i].first)
            ++end;
        if (end - i > 1) {
            names.clear();
            for (std::size_t n = i; n < end; ++n)
                names.push_back(byFile[n].second);
            const auto pathOf = [&list](int row) -> const QString & { return list.row(row).path; };
            std::stable_sort(names.begin(), names.end(), [&](int a, int b) { return pathOf(a) < pathOf(b); });
            for (std::size_t n = 1; n < names.size(); ++n)
                if (pathOf(names[n]) == pathOf(names[n - 1]))
                    repeated[static_cast<std::size_t>(names[n])] = true;
        }
        i = end;
    }
    QSet<QString> unknownSeen;
    std::vector<int> requestOfRow(static_cast<std::size_t>(list.rows()), -1);
    plan.requests.reserve(checkedRows.size());
    int lastGroup = -1;
    for (int row : checkedRows) {
        const ResultsModel::Row &each = list.row(row);
        if (repeated[static_cast<std::size_t>(row)])
            continue;
        if (!each.identity.valid) {
            if (unknownSeen.contains(each.path))
                continue;
            unknownSeen.insert(each.path);
        }
        if (wholeGroup(each)) {
            // Nothing of these contents would be kept: they stay, and are named in the question.
            if (static_cast<int>(each.group) != lastGroup)
                ++plan.wholeGroups;
            lastGroup = static_cast<int>(each.group);
            plan.wholeGroupPaths << each.path;
            plan.held.push_back({each.path, NoKeptCopy});
            continue;
        }
        requestOfRow[static_cast<std::size_t>(row)] = static_cast<int>(plan.requests.size());
        plan.requests.push_back({each.path, each.identity, each.group, row, each.collectionIndex, each.size});
    }

    // Requests by file, to find a checked name of a file also listed unchecked. A request's
    // number grows with its row, so the order by file and row holds for them too.
    std::vector<std::pair<FileKey, std::size_t>> files;
    files.reserve(plan.requests.size());
    for (const auto &[key, row] : byFile)
        if (const int request = requestOfRow[static_cast<std::size_t>(row)]; request >= 0)
            files.emplace_back(key, static_cast<std::size_t>(request));

    // A checked name of a file that is also listed unchecked (a second path through a bind
    // mount or a linked folder, or a hard link) is no copy of it: moving it would take the
    // file the user meant to keep.
    std::vector<bool> held(plan.requests.size(), false);
    std::vector<QString> heldReason(plan.requests.size());
    if (!files.empty()) {
        for (int row = 0; row < list.rows(); ++row) {
            const ResultsModel::Row &each = list.row(row);
            if (each.checked || !each.identity.valid)
                continue;
            const FileKey key = keyOf(each.identity);
            auto found = std::lower_bound(files.begin(), files.end(), std::pair(key, std::size_t(0)));
            for (; found != files.end() && found->first == key; ++found) {
                if (!held[found->second]) {
                    held[found->second] = true;
                    heldReason[found->second] =
                        QStringLiteral("it is the same file as %1, which is not checked").arg(each.path);
                }
            }
        }
    }
    for (std::size_t i = 0; i < plan.requests.size(); ++i) {
        qsizetype bytes = 0;
        if (!held[i] && pathTooLong(plan.requests[i].path, &bytes)) {
            held[i] = true;
            heldReason[i] = QStringLiteral("its path is too long for the trash (%1 bytes, the system allows %2)")
                                .arg(countText(bytes), countText(PATH_MAX - 1));
        }
        if (held[i])
            plan.held.push_back({plan.requests[i].path, heldReason[i]});
    }

    // The unchecked copies each requested group relies on, none of them a name of a file
    // that is itself requested. By group number: a hundred thousand groups stay quick.
    std::uint32_t lastGroupNumber = 0;
    for (int row = 0; row < list.rows(); ++row)
        lastGroupNumber = std::max(lastGroupNumber, list.row(row).group);
    std::vector<char> wanted(std::size_t(lastGroupNumber) + 1, 0);
    for (std::size_t i = 0; i < plan.requests.size(); ++i)
        if (!held[i])
            wanted[plan.requests[i].group] = 1;
    std::vector<std::vector<KeptCopy>> keptByGroup(wanted.size());
    for (int row = 0; row < list.rows(); ++row) {
        const ResultsModel::Row &each = list.row(row);
        if (each.checked || !each.identity.valid || !wanted[each.group])
            continue;
        const auto found = std::lower_bound(files.begin(), files.end(),
                                            std::pair(keyOf(each.identity), std::size_t(0)));
        if (found == files.end() || found->first != keyOf(each.identity))
            keptByGroup[each.group].push_back({each.path, each.identity});
    }
    // A group whose only unchecked copies are other names of checked files keeps nothing.
    std::vector<bool> moving(plan.requests.size(), false);
    for (std::size_t i = 0; i < plan.requests.size(); ++i) {
        if (held[i])
            continue;
        if (keptByGroup[plan.requests[i].group].empty())
            plan.held.push_back({plan.requests[i].path, NoKeptCopy});
        else
            moving[i] = true;
    }
    for (std::size_t group = 0; group < wanted.size(); ++group)
        if (wanted[group])
            plan.kept.emplace_hint(plan.kept.end(), std::uint32_t(group), std::move(keptByGroup[group]));

    // What is at stake: the requested files, a file with several requested names once.
    for (std::size_t i = 0; i < files.size();) {
        std::size_t next = i;
        std::optional<std::int64_t> size;
        for (; next < files.size() && files[next].first == files[i].first; ++next)
            if (moving[files[next].second])
                size = std::min(size.value_or(INT64_MAX), plan.requests[files[next].second].size);
        plan.bytes += std::max<std::int64_t>(size.value_or(0), 0);
        i = next;
    }
    for (std::size_t i = 0; i < plan.requests.size(); ++i)
        if (moving[i] && !plan.requests[i].listed.valid)
            plan.bytes += std::max<std::int64_t>(plan.requests[i].size, 0);
    if (std::find(moving.begin(), moving.end(), false) != moving.end()) {
        std::vector<TrashRequest> movable;
        movable.reserve(plan.requests.size());
        for (std::size_t i = 0; i < plan.requests.size(); ++i)
            if (moving[i])
                movable.push_back(std::move(plan.requests[i]));
        plan.requests = std::move(movable);
    }

    return plan;
}

QString confirmationText(const DeletePlan &plan)
{
    QString question = QStringLiteral("Move %1 (%2) to the trash?")
                           .arg(plural(qsizetype(plan.requests.size()), "checked file", "checked files"),
                                spaceText(plan.bytes));
    if (plan.wholeGroups > 0) {
        question += QStringLiteral("\n\nEvery copy is checked in %1, so no copy of %2 would be kept. "
                                   "These files stay where they are:\n")
                        .arg(plural(plan.wholeGroups, "group of identical files", "groups of identical files"),
                             QLatin1String(plan.wholeGroups == 1 ? "its contents" : "their contents"));
        question += namedLines(plan.wholeGroupPaths);
    }
    // The whole groups' files come first among those held, and are named above.
    const std::vector<TrashFailure> others(plan.held.begin() + plan.wholeGroupPaths.size(), plan.held.end());
    if (!others.empty())
        question += QStringLiteral("\n\n%1 where %2:\n")
                        .arg(plural(qsizetype(others.size()), "checked file stays", "checked files stay"),
                             QLatin1String(others.size() == 1 ? "it is" : "they are"))
            + namedLines(failureLines(others));
    return question;
}

QString nothingToMoveText(const DeletePlan &plan)
{
    return QStringLiteral("None of the checked files can be moved to the trash:\n\n")
        + namedLines(failureLines(plan.held));
}

QString trashLockPath()
{
    // Per user: the runtime folder when the session has one, else the user's cache.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return folder + QStringLiteral("/twinfold-trash.lock");
}

TrashRun::TrashRun(Trash &trash, DeletePlan plan) : m_trash(trash), m_plan(std::move(plan))
{
    const QString path = trashLockPath();
    QDir().mkpath(QFileInfo(path).path());
    m_lock = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st = {};
    if (m_lock < 0) {
        m_lockError = QString::fromLocal8Bit(std::strerror(errno));
    } else if (::fstat(m_lock, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        m_lockError = QStringLiteral("it is not a file of your own");
        ::close(m_lock);
        m_lock = -1;
    }
    if (m_lock < 0)
        m_lockError = QStringLiteral("the lock that keeps two Twinfold windows from taking each other's kept "
                                     "copies (%1) could not be taken: %2")
                          .arg(path, m_lockError);
}

TrashRun::~TrashRun()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

void TrashRun::SendToRecycleBin()
{
    for (std::size_t i = 0; i < m_plan.requests.size(); ++i) {
        if (m_stop) {
            m_outcome.notReached = qsizetype(m_plan.requests.size() - i);
            break;
        }
        sendOne(m_plan.requests[i]);
        ++m_done;
    }
    finish();
}

void TrashRun::sendOne(const TrashRequest &request)
{
    if (m_lock < 0) {
        m_outcome.failed.push_back({request.path, m_lockError});
        return;
    }
    // Another instance is between its look and its move: wait, but stay stoppable.
    while (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_outcome.failed.push_back({request.path,
                                        QStringLiteral("the lock %1 could not be taken: %2")
                                            .arg(trashLockPath(), QString::fromLocal8Bit(std::strerror(errno)))});
            return;
        }
        m_waiting = true;
        if (m_stop) {
            m_waiting = false;
            ++m_outcome.notReached;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_waiting = false;

    struct stat st = {};
    if (::fstatat(AT_FDCWD, QFile::encodeName(request.path).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // Listed twice under two paths to one entry and already moved through the other one.
        const bool alreadyMoved = std::any_of(m_movedFiles.begin(), m_movedFiles.end(),
                                              [&](const FileIdentity &moved) { return moved == request.listed; });
        if (!alreadyMoved)
            m_outcome.failed.push_back({request.path, QStringLiteral("it is no longer there")});
        ::flock(m_lock, LOCK_UN);
        return;
    }
    const FileIdentity now = identityOf(st);
    if (const QString reason = reasonToHoldBack(request, now); !reason.isEmpty()) {
        m_outcome.failed.push_back({request.path, reason});
        ::flock(m_lock, LOCK_UN);
        return;
    }
    const FileIdentity folder = folderIdentity(request.path);
    QString error;
    const bool moved = m_trash.moveToTrash(request.path, &error);
    ::flock(m_lock, LOCK_UN);
    if (!moved) {
        m_outcome.failed.push_back({request.path, error.isEmpty() ? QStringLiteral("it could not be moved") : error});
        return;
    }
    MovedFile file{request.path,  now,
                   false,         request.collectionIndex,
                   request.group, TrashedFile{request.path, now.device, now.inode, folder.device, folder.inode}};
    m_movedFiles.push_back(now);
    ++m_namesMoved.try_emplace(keyOf(now), 0, std::uint64_t(st.st_nlink)).first->second.first;
    {
        std::lock_guard guard(m_mutex);
        m_fresh.push_back(file);
    }
    m_outcome.moved.push_back(std::move(file));
}

QString TrashRun::reasonToHoldBack(const TrashRequest &request, const FileIdentity &now)
{
    // Moving one name of a hard-linked file changes the change time of its other names.
    const bool renamedHere = m_namesMoved.count(keyOf(now)) > 0;
    if (!request.listed.valid || (now != request.listed && !(renamedHere && now.sameButChangeTime(request.listed))))
        return QStringLiteral("it has changed since the search");
    if (m_plan.protection.protects(request.path, now))
        return QStringLiteral("it is in a protected folder");
    if (!keptCopyStands(request, now))
        return NoKeptCopy;
    return {};
}

bool TrashRun::keptCopyStands(const TrashRequest &request, const FileIdentity &moving)
{
    const auto copies = m_plan.kept.find(request.group);
    if (copies == m_plan.kept.end() || copies->second.empty())
        return false;
    // The copy that stood last time is looked at first: one stat per move, as a rule.
    std::size_t &standing = m_standing[request.group];
    const std::size_t count = copies->second.size();
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t at = (standing + step) % count;
        const KeptCopy &copy = copies->second[at];
        if (copy.listed.sameFile(moving))
            continue;
        struct stat st = {};
        if (::fstatat(AT_FDCWD, QFile::encodeName(copy.path).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && identityOf(st) == copy.listed) {
            standing = at;
            return true;
        }
    }
    return false;
}

void TrashRun::finish()
{
    // A file frees its space only when every one of its names has gone.
    QSet<QPair<quint64, quint64>> counted;
    for (MovedFile &moved : m_outcome.moved) {
        const auto &names = m_namesMoved[keyOf(moved.identity)];
        moved.freesSpace = std::uint64_t(names.first) >= names.second;
        if (!moved.freesSpace)
            ++m_outcome.sharedNames;
        else if (!counted.contains({moved.identity.device, moved.identity.inode})) {
            counted.insert({moved.identity.device, moved.identity.inode});
            m_outcome.bytesFreed += moved.identity.size;
        }
    }
    std::vector<TrashFailure> failed = m_plan.held;
    failed.insert(failed.end(), m_outcome.failed.begin(), m_outcome.failed.end());
    m_outcome.failed = std::move(failed);
}

namespace {
template <typename T> std::vector<T> takeFront(std::vector<T> &from, std::size_t most)
{
    if (from.size() <= most)
        return std::exchange(from, {});
    const auto end = from.begin() + static_cast<std::ptrdiff_t>(most);
    std::vector<T> taken(std::make_move_iterator(from.begin()), std::make_move_iterator(end));
    from.erase(from.begin(), end);
    return taken;
}
} // namespace

std::vector<MovedFile> TrashRun::takeMoved(std::size_t most)
{
    std::lock_guard guard(m_mutex);
    return takeFront(m_fresh, most);
}

QString reportText(const TrashOutcome &outcome)
{
    QString text =
        QStringLiteral("%1 moved to the trash.").arg(plural(qsizetype(outcome.moved.size()), "file was", "files were"));
    if (!outcome.moved.empty())
        text += QStringLiteral(" Emptying the trash frees %1.").arg(spaceText(outcome.bytesFreed));
    if (outcome.sharedNames > 0)
        text += QStringLiteral(" %1 another name (a hard link) that stays, so %2 no space.")
                    .arg(plural(outcome.sharedNames, "of them is a file with", "of them are files with"),
                         QLatin1String(outcome.sharedNames == 1 ? "it frees" : "they free"));
    if (outcome.notReached > 0)
        text += QStringLiteral(" You stopped the move: %1 where %2.")
                    .arg(plural(outcome.notReached, "checked file stays", "checked files stay"),
                         QLatin1String(outcome.notReached == 1 ? "it is" : "they are"));
    if (!outcome.failed.empty())
        text += QStringLiteral("\n\n%1 not moved to the trash:\n\n")
                    .arg(plural(qsizetype(outcome.failed.size()), "file was", "files were"))
            + namedLines(failureLines(outcome.failed));
    return text;
}

std::vector<ResultsModel::Row> RemoveCheckedRows(ResultsModel &list)
{
    return list.takeRowsWhere([&list](int row) { return list.isChecked(row) && entryIsGone(list.path(row)); });
}

void UndoRun::run()
{
    QHash<QString, std::size_t> rowOf;
    for (std::size_t i = 0; i < m_record.rows.size(); ++i)
        rowOf.insert(m_record.rows[i].path, i);
    const std::vector<QString> results = m_trash.restore(m_record.files, [&](std::size_t index, const QString &why) {
        if (why.isEmpty()) {
            const QString &path = m_record.files[index].originalPath;
            if (const auto found = rowOf.constFind(path); found != rowOf.cend()) {
                ResultsModel::Row row = m_record.rows[*found];
                // The moves out and back changed the file's change time, and nothing else.
                if (const FileIdentity now = identityOf(path); now.sameButChangeTime(row.identity))
                    row.identity = now;
                std::lock_guard guard(m_mutex);
                m_fresh.push_back(std::move(row));
            }
        }
        ++m_done;
        return !m_stop;
    });
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i].isEmpty())
            ++m_back;
        else
            m_failures << m_record.files[i].originalPath + QStringLiteral(": ") + results[i];
    }
    m_notReached = qsizetype(m_record.files.size() - std::min(results.size(), m_record.files.size()));
}

std::vector<ResultsModel::Row> UndoRun::takeRowsBack(std::size_t most)
{
    std::lock_guard guard(m_mutex);
    return takeFront(m_fresh, most);
}

QString UndoRun::reportText() const
{
    QString text = QStringLiteral("%1 put back where %2.")
                       .arg(plural(m_back, "file was", "files were"),
                            QLatin1String(m_back == 1 ? "it was" : "they were"));
    if (m_notReached > 0)
        text += QStringLiteral(" You stopped the Undo: %1 in the trash.")
                    .arg(plural(m_notReached, "file stays", "files stay"));
    if (!m_failures.isEmpty())
        text += QStringLiteral("\n\n%1 not put back:\n\n").arg(plural(m_failures.size(), "file was", "files were"))
            + namedLines(m_failures);
    return text;
}
