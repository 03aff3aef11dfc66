#pragma once

#include <QString>

class ResultsModel;

// Check-mark helpers for the results list. None of them ever checks a protected file, nor leaves
// every copy of a group checked: a copy is one file, so every name of a kept file (a hard link, a second path to
// it) stays unchecked with it. Each takes one pass over the list.

enum class KeepRule { FirstListed, Oldest, Newest, ShortestPath };

// In every group, checks every copy but the one the rule keeps; marks set before are replaced.
// Oldest and newest go by the modification time the search saw; ties go to the first listed.
void checkAllButOne(ResultsModel &list, KeepRule rule);

enum class FolderSide { Inside, Outside };

// Checks every row whose file is inside (or outside) folder, subfolders counting as inside;
// other marks stay. Where that would check a whole group, its first listed copy stays unchecked.
void checkByFolder(ResultsModel &list, const QString &folder, FolderSide side);

// Unchecks every row of row's group.
void uncheckGroup(ResultsModel &list, int row);

// The first row of the next group after row's whose every row is checked, going round to the
// top; -1 when there is none.
int nextFullyCheckedGroup(const ResultsModel &list, int row);

struct ProtectedCheck
{
    int groupsChecked = 0; // groups with a protected copy: every other copy checked
    int groupsLeft = 0;    // groups with none: left as they were
};
// In every group with a protected copy, checks every copy outside the protected folders.
ProtectedCheck checkOutsideProtected(ResultsModel &list);
// Whether row's group holds a protected copy.
bool groupHasProtectedCopy(const ResultsModel &list, int row);
