// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "FileIdentity.h"

#include <QByteArray>
#include <QList>

#include <vector>

// Which copy of a group -e keeps, as the window's check-all-but-one helpers choose.
enum class KeepRule { FirstListed, Oldest, Newest, ShortestPath };

struct GroupFile
{
    QByteArray path;       // the file system's bytes
    FileIdentity identity; // as the comparison saw it; invalid when not recorded
};

// For each file of a group, whether -e keeps it (leaves it out of its list). Every copy under a
// keepUnder folder is kept; a group with none there keeps the one the rule picks (ties and
// unknown times: the first listed). Every name of a kept file is kept with it.
std::vector<bool> keptCopies(const std::vector<GroupFile> &group, KeepRule rule, const QList<QByteArray> &keepUnder);
