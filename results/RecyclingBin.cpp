#include "RecyclingBin.h"

#include "ResultsModel.h"
#include "Trash.h"

#include <algorithm>

TrashOutcome SendToRecycleBin(Trash &trash, const std::vector<TrashRequest> &requests)
{
    TrashOutcome outcome;
    std::vector<FileIdentity> movedFiles;
    for (const TrashRequest &request : requests) {
        const FileIdentity now = identityOf(request.path);
        if (!now.valid) {
            // Listed twice under two paths to one entry and already moved through the other one.
            const bool alreadyMoved = std::any_of(movedFiles.begin(), movedFiles.end(), [&](const FileIdentity &moved) {
                return moved == request.listed;
            });
            if (alreadyMoved)
                outcome.moved.push_back(request.path);
            else
                outcome.failed.push_back({request.path, QStringLiteral("it is no longer there")});
            continue;
        }
        if (!request.listed.valid || now != request.listed) {
            outcome.failed.push_back({request.path, QStringLiteral("it has changed since the search")});
            continue;
        }
        QString error;
        if (trash.moveToTrash(request.path, &error)) {
            outcome.moved.push_back(request.path);
            movedFiles.push_back(now);
        } else {
            outcome.failed.push_back({request.path, error.isEmpty() ? QStringLiteral("it could not be moved") : error});
        }
    }
    return outcome;
}

int RemoveCheckedRows(ResultsModel &list)
{
    return list.removeRowsWhere([&list](int row) { return list.isChecked(row) && entryIsGone(list.path(row)); });
}
