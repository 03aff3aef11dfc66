#pragma once

#include <cstddef>
#include <cstdint>

class CandidateTable;
class ResultsSink;
class SearchHost;

// The reading and matching phases over one search's collected files.
class DuplicateMatcher
{
public:
    enum class Result { Done, Stopped };

    DuplicateMatcher(const CandidateTable &table, SearchHost &host);
    ~DuplicateMatcher();

    // Reading phase: fingerprints the files, polling the stop flag as it goes.
    Result readFiles();
    // Matching phase: groups identical files and adds their rows to the sink.
    Result matchFiles(ResultsSink &sink);

private:
    const CandidateTable &m_table;
    SearchHost &m_host;
};
