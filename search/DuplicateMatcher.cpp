#include "DuplicateMatcher.h"

#include "CandidateTable.h"
#include "FileSize.h"
#include "ResultsSink.h"
#include "SearchHost.h"

#include <QSet>

#include <chrono>

DuplicateMatcher::DuplicateMatcher(const CandidateTable &table, SearchHost &host, ReadOptions options)
    : m_table(table), m_host(host), m_options(options)
{
}

DuplicateMatcher::~DuplicateMatcher() = default;

DuplicateMatcher::Result DuplicateMatcher::readFiles()
{
    m_classes.clear();
    m_stats = {};
    if (m_table.count() == 0)
        return Result::Done;

    ContentGrouper grouper(m_table, m_options);
    grouper.start();
    int shown = -1;
    for (;;) {
        const bool finished = grouper.waitFor(std::chrono::milliseconds(PollIntervalMs));
        m_host.pumpEvents();
        if (const int percent = grouper.percentDone(); percent != shown) {
            m_host.setProgress(percent);
            shown = percent;
        }
        if (m_host.stopRequested()) {
            grouper.cancel();
            return Result::Stopped;
        }
        if (finished)
            break;
    }

    const ReadStats read = grouper.stats();
    m_stats.filesRead = read.filesRead;
    m_stats.bytesRead = read.bytesRead;
    m_stats.unreadable = read.unreadable;
    m_classes = grouper.takeClasses();
    return Result::Done;
}

DuplicateMatcher::Result DuplicateMatcher::matchFiles(ResultsSink &sink)
{
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(PollIntervalMs);

    // IsListed: a path already in the list is not added again.
    QSet<QString> listed;
    bool lightBlue = true;
    auto lastPoll = Clock::now();
    int shown = -1;
    for (std::size_t g = 0; g < m_classes.size(); ++g) {
        // Like the design's poll at a match, before any row of the group; then on a timer.
        if (g == 0 || Clock::now() - lastPoll >= interval) {
            if (g > 0)
                m_host.pumpEvents();
            if (m_host.stopRequested())
                return Result::Stopped;
            lastPoll = Clock::now();
        }

        const ContentClass &group = m_classes[g];
        QStringList paths;
        std::vector<std::size_t> members;
        for (const std::uint32_t k : group.members) {
            QString path = m_table.path(k);
            if (listed.contains(path))
                continue;
            paths << path;
            members.push_back(k);
        }
        // A group needs two rows; a path met twice alone is no duplicate.
        if (paths.size() >= 2) {
            const QString colour = lightBlue ? QStringLiteral("light blue") : QStringLiteral("blue");
            for (qsizetype i = 0; i < paths.size(); ++i) {
                listed.insert(paths.at(i));
                sink.addRow(paths.at(i), FormatFileSize(m_table.file(members[static_cast<std::size_t>(i)]).size),
                            colour);
            }
            sink.endGroup();
            lightBlue = !lightBlue;
            ++m_stats.groups;
            m_stats.rows += static_cast<std::uint64_t>(paths.size());
        }

        if (const int percent = static_cast<int>((g + 1) * 100 / m_classes.size()); percent != shown) {
            m_host.setProgress(percent);
            shown = percent;
        }
    }
    return Result::Done;
}

QString DuplicateMatcher::fingerprint(std::size_t k) const
{
    if (k < m_table.count() && m_table.file(k).size == 0)
        return QStringLiteral("0");
    for (const ContentClass &group : m_classes)
        if (std::binary_search(group.members.begin(), group.members.end(), static_cast<std::uint32_t>(k)))
            return fingerprintText(group.crc);
    return {};
}

QString DuplicateMatcher::fingerprintText(std::uint32_t crc)
{
    return QString::number(crc, 16).toUpper();
}
