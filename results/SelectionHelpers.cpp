#include "SelectionHelpers.h"

#include "ResultsModel.h"

#include <vector>

namespace {
// Rows naming the same file; a row whose file is unknown is a copy of its own.
bool sameCopy(const ResultsModel::Row &a, const ResultsModel::Row &b)
{
    return &a == &b || a.identity.sameFile(b.identity);
}

// Calls visit(first, end) for each group's rows, in list order.
template <class Visit> void forEachGroup(const ResultsModel &list, Visit visit)
{
    for (int first = 0; first < list.rows();) {
        int end = first + 1;
        while (end < list.rows() && list.row(end).group == list.row(first).group)
            ++end;
        visit(first, end);
        first = end;
    }
}

std::vector<bool> currentStates(const ResultsModel &list)
{
    std::vector<bool> states(static_cast<std::size_t>(list.rows()));
    for (int row = 0; row < list.rows(); ++row)
        states[static_cast<std::size_t>(row)] = list.isChecked(row);
    return states;
}

// Whether a is the better one to keep than b under the rule (b came first in the list).
bool keepsBetter(const ResultsModel::Row &a, const ResultsModel::Row &b, KeepRule rule)
{
    const auto time = [](const ResultsModel::Row &row) {
        return std::pair(row.identity.mtimeSeconds, row.identity.mtimeNanoseconds);
    };
    switch (rule) {
    case KeepRule::FirstListed:
        return false;
    case KeepRule::Oldest:
        return a.identity.valid && (!b.identity.valid || time(a) < time(b));
    case KeepRule::Newest:
        return a.identity.valid && (!b.identity.valid || time(a) > time(b));
    case KeepRule::ShortestPath:
        return a.path.size() < b.path.size();
    }
    return false;
}

// Every helper's marks go through here: a protected file is never checked.
void applyStates(ResultsModel &list, std::vector<bool> &states)
{
    for (int row = 0; row < list.rows(); ++row)
        if (list.isProtected(row))
            states[static_cast<std::size_t>(row)] = false;
    list.setCheckStates(states);
}

bool isInside(const QString &path, const QString &folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/');
}
} // namespace

void checkAllButOne(ResultsModel &list, KeepRule rule)
{
    std::vector<bool> states(static_cast<std::size_t>(list.rows()), false);
    forEachGroup(list, [&](int first, int end) {
        int kept = first;
        for (int row = first + 1; row < end; ++row)
            // A protected copy is the one kept; else the rule's.
            if (list.isProtected(row) != list.isProtected(kept) ? list.isProtected(row)
                                                                : keepsBetter(list.row(row), list.row(kept), rule))
                kept = row;
        for (int row = first; row < end; ++row)
            states[static_cast<std::size_t>(row)] = !sameCopy(list.row(row), list.row(kept));
    });
    applyStates(list, states);
}

void checkByFolder(ResultsModel &list, const QString &folder, FolderSide side)
{
    QString top = folder;
    while (top.size() > 1 && top.endsWith(QLatin1Char('/')))
        top.chop(1);
    std::vector<bool> states = currentStates(list);
    forEachGroup(list, [&](int first, int end) {
        int firstNew = -1;
        bool whole = true;
        for (int row = first; row < end; ++row) {
            if (!states[static_cast<std::size_t>(row)] && !list.isProtected(row)
                && isInside(list.path(row), top) == (side == FolderSide::Inside)) {
                states[static_cast<std::size_t>(row)] = true;
                if (firstNew < 0)
                    firstNew = row;
            }
            whole = whole && states[static_cast<std::size_t>(row)];
        }
        if (whole && firstNew >= 0) {
            for (int row = first; row < end; ++row)
                if (sameCopy(list.row(row), list.row(firstNew)))
                    states[static_cast<std::size_t>(row)] = list.isChecked(row);
        }
    });
    applyStates(list, states);
}

void uncheckGroup(ResultsModel &list, int row)
{
    if (row < 0 || row >= list.rows())
        return;
    std::vector<bool> states = currentStates(list);
    const auto [first, end] = list.groupRange(row);
    for (int r = first; r < end; ++r)
        states[static_cast<std::size_t>(r)] = false;
    applyStates(list, states);
}

int nextFullyCheckedGroup(const ResultsModel &list, int row)
{
    if (list.rows() == 0)
        return -1;
    const int start = row < 0 || row >= list.rows() ? 0 : list.groupRange(row).second;
    // From the group after row's to the end, then from the top round to row's own group.
    for (int pass = 0; pass < 2; ++pass) {
        int first = pass == 0 ? start : 0;
        const int stop = pass == 0 ? list.rows() : start;
        while (first < stop) {
            const int end = list.groupRange(first).second;
            bool whole = true;
            for (int r = first; r < end && whole; ++r)
                whole = list.isChecked(r);
            if (whole)
                return first;
            first = end;
        }
    }
    return -1;
}

ProtectedCheck checkOutsideProtected(ResultsModel &list)
{
    ProtectedCheck done;
    std::vector<bool> states = currentStates(list);
    forEachGroup(list, [&](int first, int end) {
        int kept = -1;
        for (int row = first; row < end && kept < 0; ++row)
            if (list.isProtected(row))
                kept = row;
        if (kept < 0) {
            ++done.groupsLeft;
            return;
        }
        ++done.groupsChecked;
        for (int row = first; row < end; ++row)
            if (!sameCopy(list.row(row), list.row(kept)))
                states[static_cast<std::size_t>(row)] = true;
    });
    applyStates(list, states);
    return done;
}

bool groupHasProtectedCopy(const ResultsModel &list, int row)
{
    const auto [first, end] = list.groupRange(row);
    for (int r = first; r < end; ++r)
        if (list.isProtected(r))
            return true;
    return false;
}
