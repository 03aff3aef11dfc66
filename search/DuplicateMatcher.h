#pragma once

#include "ContentGrouper.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CandidateTable;
class ResultsSink;
class SearchHost;

// The reading and matching phases over one search's collected files. Two files are listed
// together only when their contents are byte-for-byte identical (same size, same CRC-32,
// and the same bytes); empty files form one group.
class DuplicateMatcher
{
public:
    enum class Result { Done, Stopped };

    using Stats = ReadStats;

    DuplicateMatcher(const CandidateTable &table, SearchHost &host, ReadOptions options = {});
    ~DuplicateMatcher();

    // Reading phase: readers work on other threads while this one processes events, shows
    // progress and polls the stop flag every few milliseconds.
    Result readFiles();
    // Matching phase: adds the groups' rows to the sink, in order of their first members.
    Result matchFiles(ResultsSink &sink);

    const Stats &stats() const { return m_stats; }
    // The classes of identical contents once read: two or more files each.
    const std::vector<ContentClass> &classes() const { return m_classes; }
    // The fingerprint of a listed file ("0" for an empty one); the empty text for files that
    // were not read whole (a size no other file has, different contents, unreadable).
    // For tests and diagnostics: it searches the groups.
    QString fingerprint(std::size_t k) const;
    // The upper-case hexadecimal text of a CRC-32, without leading zeros.
    static QString fingerprintText(std::uint32_t crc);

    // How often, at least, events are processed and the stop flag is polled during a phase.
    static constexpr int PollIntervalMs = 10;

private:
    const CandidateTable &m_table;
    SearchHost &m_host;
    ReadOptions m_options;
    std::vector<ContentClass> m_classes;
    Stats m_stats;
};
