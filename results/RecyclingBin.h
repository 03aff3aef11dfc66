#pragma once

#include "FileIdentity.h"

#include <QString>

#include <vector>

class ResultsModel;
class Trash;

// One file the user checked, with what its path named when it was listed.
struct TrashRequest
{
    QString path;
    FileIdentity listed;
};

struct TrashFailure
{
    QString path;
    QString reason;
};

struct TrashOutcome
{
    std::vector<QString> moved;
    std::vector<TrashFailure> failed;
};

// Moves each file to the trash, unless it is no longer the file that was listed: a file
// changed or replaced since the search stays where it is and is reported instead.
TrashOutcome SendToRecycleBin(Trash &trash, const std::vector<TrashRequest> &requests);

// Removes exactly the checked rows whose files are gone; rows of files still there stay.
int RemoveCheckedRows(ResultsModel &list);
