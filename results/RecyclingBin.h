#pragma once

#include "FileIdentity.h"
#include "ResultsModel.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class Trash;

// What may go to the trash, and what is said about it: the delete command's policy, apart
// from the window that asks.

// One file the user checked, with what its path named when it was listed.
struct TrashRequest
{
    QString path;
    FileIdentity listed;
    std::uint32_t group = 0;
    int row = -1; // where it stood in the list when the plan was made
};

struct TrashFailure
{
    QString path;
    QString reason;
};

// The checked rows, looked at before the user is asked.
struct DeletePlan
{
    std::vector<TrashRequest> requests; // each checked path once, in list order
    std::vector<TrashFailure> held;     // checked, but never to be moved
    std::int64_t bytes = 0;             // the checked files' sizes, a file with several checked names once
    int wholeGroups = 0;                // groups whose every listed copy is checked
    QStringList wholeGroupPaths;
};

struct MovedFile
{
    QString path;
    FileIdentity identity;   // as it was just before the move
    bool freesSpace = false; // false while another name of the file stays
};

struct TrashOutcome
{
    std::vector<MovedFile> moved;
    std::vector<TrashFailure> failed;
    std::int64_t bytesFreed = 0; // once the trash is emptied
    int sharedNames = 0;         // moved names whose file keeps another name
};

// Reads the checked rows: which to request, which to hold back (a path too long to hand to
// the trash, a file that is also listed unchecked under another path), what is at stake.
DeletePlan planDeletion(const ResultsModel &list);
// The question put to the user before anything moves.
QString confirmationText(const DeletePlan &plan);

// Moves each requested file to the trash, unless it is no longer the file that was listed,
// or no unchecked copy of its group is still there as it was listed: then it stays where it
// is and is reported instead. The plan's held files come back as failures.
TrashOutcome SendToRecycleBin(Trash &trash, const ResultsModel &list, const DeletePlan &plan);
// The one report after the move: how many files went, what that frees, every failure named.
QString reportText(const TrashOutcome &outcome);

// Removes exactly the checked rows whose files are gone; rows of files still there stay.
// Returns the rows removed.
std::vector<ResultsModel::Row> RemoveCheckedRows(ResultsModel &list);

// "30 bytes", "1.5 MB": an amount of disk space for the messages.
QString spaceText(std::int64_t bytes);
