#include "DuplicateMatcher.h"

#include "CandidateTable.h"
#include "ResultsSink.h"
#include "SearchHost.h"

DuplicateMatcher::DuplicateMatcher(const CandidateTable &table, SearchHost &host) : m_table(table), m_host(host) {}

DuplicateMatcher::~DuplicateMatcher() = default;

DuplicateMatcher::Result DuplicateMatcher::readFiles()
{
    return Result::Done;
}

DuplicateMatcher::Result DuplicateMatcher::matchFiles(ResultsSink &)
{
    return Result::Done;
}
