#include "RecyclingBin.h"

#include "Trash.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <climits>
#include <map>
#include <sys/stat.h>

namespace {
constexpr int MaxNamedFiles = 15;

using FileKey = QPair<quint64, quint64>; // device, inode

FileKey keyOf(const FileIdentity &identity)
{
    return {identity.device, identity.inode};
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

// Up to MaxNamedFiles lines, then how many more there are.
QString namedLines(const QStringList &lines)
{
    QStringList shown = lines.mid(0, MaxNamedFiles);
    if (lines.size() > MaxNamedFiles)
        shown << QStringLiteral("... and %1 more.").arg(lines.size() - MaxNamedFiles);
    return shown.join(QLatin1Char('\n'));
}

// The trash takes a path the system can name in one go; a longer one is refused up front.
bool pathTooLong(const QString &path, qsizetype *bytes)
{
    *bytes = QFile::encodeName(path).size();
    return *bytes >= PATH_MAX;
}
} // namespace

QString spaceText(std::int64_t bytes)
{
    if (bytes < 1024)
        return plural(bytes, "byte", "bytes");
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

DeletePlan planDeletion(const ResultsModel &list)
{
    DeletePlan plan;
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

    // Each checked path once, at its first row. Sorted lookups: a million rows stay quick.
    std::vector<int> byPath = checkedRows;
    const auto pathOf = [&list](int row) -> const QString & { return list.row(row).path; };
    std::stable_sort(byPath.begin(), byPath.end(), [&](int a, int b) { return pathOf(a) < pathOf(b); });
    std::vector<bool> repeated(static_cast<std::size_t>(list.rows()), false);
    for (std::size_t i = 1; i < byPath.size(); ++i)
        if (pathOf(byPath[i]) == pathOf(byPath[i - 1]))
            repeated[static_cast<std::size_t>(byPath[i])] = true;
    plan.requests.reserve(checkedRows.size());
    for (int row : checkedRows) {
        const ResultsModel::Row &each = list.row(row);
        if (!repeated[static_cast<std::size_t>(row)])
            plan.requests.push_back({each.path, each.identity, each.group, row});
    }

    // Requests by file; a file with several checked names counts its size once.
    std::vector<std::pair<FileKey, std::size_t>> files;
    for (std::size_t i = 0; i < plan.requests.size(); ++i) {
        const TrashRequest &request = plan.requests[i];
        if (request.listed.valid)
            files.emplace_back(keyOf(request.listed), i);
        else
            plan.bytes += std::max<std::int64_t>(list.row(request.row).size, 0);
    }
    std::sort(files.begin(), files.end());
    for (std::size_t i = 0; i < files.size(); ++i)
        if (i == 0 || files[i].first != files[i - 1].first)
            plan.bytes += std::max<std::int64_t>(list.row(plan.requests[files[i].second].row).size, 0);

    // A checked name of a file that is also listed unchecked (a second path through a bind
    // mount or a linked folder, or a hard link) is no copy of it: moving it would take the
    // file the user meant to keep.
    std::vector<bool> held(plan.requests.size(), false);
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
                    plan.held.push_back(
                        {plan.requests[found->second].path,
                         QStringLiteral("it is the same file as %1, which is not checked").arg(each.path)});
                }
            }
        }
    }
    for (std::size_t i = 0; i < plan.requests.size(); ++i) {
        qsizetype bytes = 0;
        if (!held[i] && pathTooLong(plan.requests[i].path, &bytes)) {
            held[i] = true;
            plan.held.push_back({plan.requests[i].path,
                                 QStringLiteral("its path is too long for the trash (%1 bytes, the system allows %2)")
                                     .arg(bytes)
                                     .arg(PATH_MAX - 1)});
        }
    }
    if (!plan.held.empty()) {
        std::vector<TrashRequest> kept;
        for (std::size_t i = 0; i < plan.requests.size(); ++i)
            if (!held[i])
                kept.push_back(std::move(plan.requests[i]));
        plan.requests = std::move(kept);
    }

    // Groups whose every listed copy is checked: nothing of their contents would be kept.
    int lastGroup = -1;
    for (int row : checkedRows) {
        const ResultsModel::Row &each = list.row(row);
        const auto &counts = groups[std::min<std::size_t>(each.group, groups.size() - 1)];
        if (counts.first != counts.second)
            continue;
        if (static_cast<int>(each.group) != lastGroup)
            ++plan.wholeGroups;
        lastGroup = static_cast<int>(each.group);
        plan.wholeGroupPaths << each.path;
    }
    return plan;
}

QString confirmationText(const DeletePlan &plan)
{
    const qsizetype count = qsizetype(plan.requests.size() + plan.held.size());
    QString question = QStringLiteral("Move %1 (%2) to the trash?")
                           .arg(plural(count, "checked file", "checked files"), spaceText(plan.bytes));
    if (plan.wholeGroups > 0) {
        question += QStringLiteral("\n\nEvery copy is checked in %1, so no copy of %2 would be kept. "
                                   "These files stay where they are:\n")
                        .arg(plural(plan.wholeGroups, "group of identical files", "groups of identical files"),
                             QLatin1String(plan.wholeGroups == 1 ? "its contents" : "their contents"));
        question += namedLines(plan.wholeGroupPaths);
    }
    return question;
}

TrashOutcome SendToRecycleBin(Trash &trash, const ResultsModel &list, const DeletePlan &plan)
{
    TrashOutcome outcome;
    outcome.failed = plan.held;

    // Per group, whether an unchecked copy is still there as it was listed; looked at once.
    std::map<std::uint32_t, bool> keptCopy;
    const auto hasKeptCopy = [&](const TrashRequest &request, const FileIdentity &moving) {
        if (const auto known = keptCopy.find(request.group); known != keptCopy.end())
            return known->second;
        bool found = false;
        if (request.row >= 0 && request.row < list.rows() && list.row(request.row).group == request.group) {
            const auto [first, end] = list.groupRange(request.row);
            for (int row = first; row < end && !found; ++row) {
                const ResultsModel::Row &each = list.row(row);
                if (each.checked || !each.identity.valid || each.identity.sameFile(moving))
                    continue;
                found = identityOf(each.path) == each.identity;
            }
        }
        keptCopy[request.group] = found;
        return found;
    };

    std::vector<FileIdentity> movedFiles;
    std::map<FileKey, std::pair<int, nlink_t>> namesMoved; // names moved, links before the first move
    for (const TrashRequest &request : plan.requests) {
        struct stat st = {};
        const QByteArray encoded = QFile::encodeName(request.path);
        const FileIdentity now = identityOf(request.path);
        if (!now.valid || ::lstat(encoded.constData(), &st) != 0) {
            // Listed twice under two paths to one entry and already moved through the other one.
            const bool alreadyMoved = std::any_of(movedFiles.begin(), movedFiles.end(),
                                                  [&](const FileIdentity &moved) { return moved == request.listed; });
            if (!alreadyMoved)
                outcome.failed.push_back({request.path, QStringLiteral("it is no longer there")});
            continue;
        }
        // Moving one name of a hard-linked file changes the change time of its other names.
        const bool renamedHere = namesMoved.count(keyOf(now)) > 0;
        if (!request.listed.valid
            || (now != request.listed && !(renamedHere && now.sameButChangeTime(request.listed)))) {
            outcome.failed.push_back({request.path, QStringLiteral("it has changed since the search")});
            continue;
        }
        if (!hasKeptCopy(request, now)) {
            outcome.failed.push_back(
                {request.path, QStringLiteral("no unchecked copy of it is left as the search found it")});
            continue;
        }
        QString error;
        if (trash.moveToTrash(request.path, &error)) {
            outcome.moved.push_back({request.path, now, false});
            movedFiles.push_back(now);
            auto &names = namesMoved.try_emplace(keyOf(now), 0, st.st_nlink).first->second;
            ++names.first;
        } else {
            outcome.failed.push_back({request.path, error.isEmpty() ? QStringLiteral("it could not be moved") : error});
        }
    }

    // A file frees its space only when every one of its names has gone.
    for (MovedFile &moved : outcome.moved) {
        const auto &names = namesMoved[keyOf(moved.identity)];
        moved.freesSpace = nlink_t(names.first) >= names.second;
        if (!moved.freesSpace)
            ++outcome.sharedNames;
    }
    QSet<FileKey> counted;
    for (const MovedFile &moved : outcome.moved) {
        if (moved.freesSpace && !counted.contains(keyOf(moved.identity))) {
            counted.insert(keyOf(moved.identity));
            outcome.bytesFreed += moved.identity.size;
        }
    }
    return outcome;
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
    if (!outcome.failed.empty()) {
        QStringList lines;
        for (const TrashFailure &failure : outcome.failed)
            lines << failure.path + QStringLiteral(": ") + failure.reason;
        text += QStringLiteral("\n\n%1 not moved to the trash:\n\n")
                    .arg(plural(qsizetype(outcome.failed.size()), "file was", "files were"))
            + namedLines(lines);
    }
    return text;
}

std::vector<ResultsModel::Row> RemoveCheckedRows(ResultsModel &list)
{
    return list.takeRowsWhere([&list](int row) { return list.isChecked(row) && entryIsGone(list.path(row)); });
}
