#include "DuplicateMatcher.h"

#include "CandidateTable.h"
#include "FileSize.h"
#include "Fingerprint.h"
#include "ResultsSink.h"
#include "SearchHost.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string_view>
#include <unordered_set>

DuplicateMatcher::DuplicateMatcher(const CandidateTable &table, SearchHost &host, ReadOptions options)
    : m_table(table), m_host(host), m_options(options)
{}

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

    m_stats = grouper.stats();
    std::sort(m_stats.unreadableFiles.begin(), m_stats.unreadableFiles.end(),
              [](const UnreadableFile &a, const UnreadableFile &b) { return a.index < b.index; });
    m_classes = grouper.takeClasses();
    return Result::Done;
}

namespace {

// IsListed over the rows added so far, kept as collection indexes and compared by path. The
// raw bytes stand in for the text: the walker admits only names that decode and encode back
// to the same bytes, so equal bytes and equal texts go together. An index is a few bytes
// where a copy of the path text would be a few hundred.
class ListedPaths
{
public:
    explicit ListedPaths(const CandidateTable &table) : m_paths(16, Hash{table}, Equal{table}) {}
    // False when the path was listed already.
    bool insert(std::uint32_t k) { return m_paths.insert(k).second; }
    void erase(std::uint32_t k) { m_paths.erase(k); }

private:
    struct Hash
    {
        const CandidateTable &table;
        // Not qHash: Qt 6.4 took 0.2 microseconds here to hash a key as short as most names.
        std::size_t operator()(std::uint32_t k) const
        {
            const QByteArray &folder = table.folderBytes(k);
            const QByteArrayView name = table.nameBytes(k);
            const std::hash<std::string_view> hash;
            const std::size_t h = hash(std::string_view(folder.constData(), static_cast<std::size_t>(folder.size())));
            const std::size_t n = hash(std::string_view(name.data(), static_cast<std::size_t>(name.size())));
            return h ^ (n + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
        }
    };
    struct Equal
    {
        const CandidateTable &table;
        bool operator()(std::uint32_t a, std::uint32_t b) const
        {
            if (a == b)
                return true;
            const QByteArray &folderA = table.folderBytes(a), &folderB = table.folderBytes(b);
            const QByteArrayView nameA = table.nameBytes(a), nameB = table.nameBytes(b);
            if (folderA.size() + nameA.size() != folderB.size() + nameB.size())
                return false;
            return table.pathBytes(a) == table.pathBytes(b);
        }
    };
    std::unordered_set<std::uint32_t, Hash, Equal> m_paths;
};

} // namespace

DuplicateMatcher::Result DuplicateMatcher::matchFiles(ResultsSink &sink)
{
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(PollIntervalMs);

    // IsListed: a path already in the list is not added again.
    ListedPaths listed(m_table);
    std::uint32_t groupNumber = 0;
    auto lastPoll = Clock::now();
    int shown = -1;
    for (std::size_t g = 0; g < m_classes.size(); ++g) {
        // Polled before the first group's rows, as at a match, then on a timer.
        if (g == 0 || Clock::now() - lastPoll >= interval) {
            if (g > 0)
                m_host.pumpEvents();
            if (m_host.stopRequested())
                return Result::Stopped;
            lastPoll = Clock::now();
        }

        const ContentClass &group = m_classes[g];
        std::vector<std::uint32_t> rows;
        for (const std::uint32_t k : group.members)
            if (listed.insert(k))
                rows.push_back(k);
        // A group needs two rows; a path met twice alone is no duplicate.
        if (rows.size() < 2) {
            for (const std::uint32_t k : rows)
                listed.erase(k);
        } else {
            ++groupNumber;
            for (const std::uint32_t k : rows) {
                ResultRow row;
                row.collectionIndex = k;
                row.path = m_table.path(k);
                row.size = m_table.file(k).size;
                row.group = groupNumber;
                const auto at = std::lower_bound(group.members.begin(), group.members.end(), k);
                const auto member = static_cast<std::size_t>(at - group.members.begin());
                if (member < group.identities.size())
                    row.identity = group.identities[member];
                sink.addRow(row);
            }
            sink.endGroup();
            ++m_stats.groups;
            m_stats.rows += rows.size();
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
    return QString::fromStdString(::fingerprintText(crc));
}
