#include "FolderWalker.h"

#include "CandidateTable.h"
#include "SearchHost.h"

void AnalyzeFolder(const QString &, CandidateTable &, SearchHost &host)
{
    host.setProgress(0);
}
