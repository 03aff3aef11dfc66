// SPDX-License-Identifier: GPL-2.0-or-later
#include "KeepRules.h"

#include "FolderSet.h"

#include <utility>

namespace {
// Whether a is the better one to keep than b under the rule (b came first in the list).
bool keepsBetter(const GroupFile &a, const GroupFile &b, KeepRule rule)
{
    const auto time = [](const GroupFile &file) {
        return std::pair(file.identity.mtimeSeconds, file.identity.mtimeNanoseconds);
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
} // namespace

std::vector<bool> keptCopies(const std::vector<GroupFile> &group, KeepRule rule, const QList<QByteArray> &keepUnder)
{
    std::vector<bool> kept(group.size(), false);
    bool any = false;
    for (std::size_t i = 0; i < group.size(); ++i) {
        for (const QByteArray &folder : keepUnder)
            kept[i] = kept[i] || isPathUnder(group[i].path, folder);
        any = any || kept[i];
    }
    if (!any && !group.empty()) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < group.size(); ++i)
            if (keepsBetter(group[i], group[best], rule))
                best = i;
        kept[best] = true;
    }
    // A kept file keeps every name it has here.
    for (std::size_t i = 0; i < group.size(); ++i)
        for (std::size_t j = 0; j < group.size() && !kept[i]; ++j)
            kept[i] = kept[j] && group[i].identity.sameFile(group[j].identity);
    return kept;
}
