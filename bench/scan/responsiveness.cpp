// How responsive a search stays: the longest time between two event-processing calls, and
// how long the search takes to return after STOP FIND.
//
//   scan_responsiveness FOLDER...                     one whole search
//   scan_responsiveness --stop PHASE MS FOLDER...     press STOP FIND MS ms into PHASE
//                                                     (collect, read or match)
// TWINFOLD_THREADS=N sets the number of readers.

#include "CandidateTable.h"
#include "MemoryPools.h"
#include "ResultsSink.h"
#include "SearchDriver.h"
#include "SearchHost.h"
#include "SettingsStore.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

class TimingHost final : public SearchHost
{
public:
    TimingHost(SettingsStore &settings, int stopPhase, int stopAfterMs)
        : m_settings(settings), m_stopPhase(stopPhase), m_stopAfter(std::chrono::milliseconds(stopAfterMs))
    {
        m_phaseStart = m_last = Clock::now();
    }

    void enterPhase(SearchPhase searchPhase, const QString &) override
    {
        int phase = m_phase;
        if (searchPhase == SearchPhase::Reading)
            phase = 1;
        else if (searchPhase == SearchPhase::Matching)
            phase = 2;
        if (phase != m_phase) {
            m_phase = phase;
            m_phaseStart = Clock::now();
        }
    }
    void setProgress(int) override {}
    void pumpEvents() override
    {
        const Clock::time_point now = Clock::now();
        noteGap(now);
        ++pumps;
        // STOP FIND is pressed while events are processed, as in the window.
        if (m_phase == m_stopPhase && !stopPressed && now - m_phaseStart >= m_stopAfter) {
            m_settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
            stopPressed = now;
        }
    }
    bool stopRequested() override { return m_settings.value(QStringLiteral("Stop")) == QStringLiteral("True"); }
    void showMessage(const QString &, const QString &) override {}
    bool askYesNo(const QString &, const QString &) override { return true; }

    void noteGap(Clock::time_point now)
    {
        const double gap = ms(now - m_last);
        if (gap > longestGap[m_phase]) {
            longestGap[m_phase] = gap;
            longestGapAt[m_phase] = ms(m_last - m_phaseStart);
        }
        m_last = now;
    }

    long pumps = 0;
    double longestGap[3] = {0, 0, 0};
    double longestGapAt[3] = {0, 0, 0}; // where it began, in ms from the phase's start
    std::optional<Clock::time_point> stopPressed;

private:
    SettingsStore &m_settings;
    int m_stopPhase;
    Clock::duration m_stopAfter;
    int m_phase = 0;
    Clock::time_point m_phaseStart, m_last;
};

class CountingSink final : public ResultsSink
{
public:
    void clearRows() override { rows = 0; }
    void addRow(const ResultRow &) override { ++rows; }
    std::size_t rowCount() const override { return rows; }
    std::size_t rows = 0;
};

class Rows final : public FolderRows
{
public:
    explicit Rows(QStringList rows) : m_rows(std::move(rows)) {}
    std::size_t rowCount() const override { return static_cast<std::size_t>(m_rows.size()); }
    QString rowText(std::size_t row) const override { return m_rows.at(static_cast<qsizetype>(row)); }

private:
    QStringList m_rows;
};

} // namespace

int main(int argc, char *argv[])
{
    UseOneMemoryPool(); // as the window does
    int stopPhase = -1, stopAfterMs = 0, first = 1;
    if (argc > 3 && std::strcmp(argv[1], "--stop") == 0) {
        const QByteArray phase(argv[2]);
        stopPhase = phase == "collect" ? 0 : phase == "read" ? 1 : phase == "match" ? 2 : -2;
        stopAfterMs = std::atoi(argv[3]);
        first = 4;
    }
    if (stopPhase == -2 || first >= argc) {
        std::fprintf(stderr, "usage: scan_responsiveness [--stop collect|read|match MS] FOLDER...\n");
        return 2;
    }
    QStringList folders;
    for (int i = first; i < argc; ++i)
        folders << QFile::decodeName(argv[i]);

    MemorySettingsStore settings;
    TimingHost host(settings, stopPhase, stopAfterMs);
    CountingSink sink;
    SearchDriver driver(host, settings, sink);
    driver.setAskAboveLimit(false);
    if (const int threads = qEnvironmentVariableIntValue("TWINFOLD_THREADS"); threads > 0) {
        ReadOptions options;
        options.threads = static_cast<unsigned>(threads);
        driver.setReadOptions(options);
    }
    const Clock::time_point start = Clock::now();
    const SearchDriver::Outcome outcome = driver.run(Rows(folders));
    const Clock::time_point end = Clock::now();
    host.noteGap(end);

    std::printf("files %zu, rows %zu, %s in %.1f ms, %ld event pumps\n", driver.candidates().count(), sink.rows,
                outcome == SearchDriver::Outcome::Stopped ? "stopped" : "finished", ms(end - start), host.pumps);
    std::printf("longest gap between pumps: collecting %.1f ms (at %.0f ms), reading %.1f ms (at %.0f ms), "
                "matching %.1f ms (at %.0f ms)\n",
                host.longestGap[0], host.longestGapAt[0], host.longestGap[1], host.longestGapAt[1], host.longestGap[2],
                host.longestGapAt[2]);
    if (host.stopPressed)
        std::printf("stop pressed -> search returned: %.1f ms\n", ms(end - *host.stopPressed));
    return 0;
}
