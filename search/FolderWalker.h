#pragma once

#include <QString>

class CandidateTable;
class SearchHost;

// Collects every plain file of one listed folder and all its subfolders into the table.
void AnalyzeFolder(const QString &folder, CandidateTable &table, SearchHost &host);
