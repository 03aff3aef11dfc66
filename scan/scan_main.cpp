// SPDX-License-Identifier: GPL-2.0-or-later
// twinfold-scan: the search that FIND DUPES runs, without a window, for scripts. The folders are
// the rows of the folder list; the groups go to standard output, messages and a summary to
// standard error. The groups and their order are the window's.

#include "CandidateTable.h"
#include "Console.h"
#include "ConsoleHost.h"
#include "FolderSet.h"
#include "FolderWalker.h"
#include "GroupPrinter.h"
#include "MemoryPools.h"
#include "OutputFormat.h"
#include "ScanOptions.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "Summary.h"

#include <QCoreApplication>

#include <cstdio>

#include <unistd.h>

namespace {
class ArgumentRows final : public FolderRows
{
public:
    explicit ArgumentRows(const QStringList &rows) : m_rows(rows) {}
    std::size_t rowCount() const override { return static_cast<std::size_t>(m_rows.size()); }
    QString rowText(std::size_t row) const override { return m_rows.at(static_cast<qsizetype>(row)); }

private:
    const QStringList &m_rows;
};

// The search as the options ask for it; the filter outlives the driver.
void configure(SearchDriver &driver, FileFilter &filter, const ScanOptions &options)
{
    driver.setAskAboveLimit(false);
    driver.setCollectEveryName(true);
    ReadOptions readOptions;
    if (options.threads > 0)
        readOptions.threads = options.threads;
    driver.setReadOptions(readOptions);
    if (filter.active())
        driver.setFileFilter([&filter](QByteArrayView folder, QByteArrayView name, std::int64_t size) {
            return filter.keep(folder, name, size);
        });
    if (options.walkThreads > 0)
        driver.setWalkThreads(options.walkThreads);
}

void printUniqueFiles(const SearchDriver &driver, OutputFormat &format)
{
    const CandidateTable &table = driver.candidates();
    const UniqueFiles &unique = driver.uniqueFiles();
    std::vector<GroupFile> files;
    files.reserve(unique.files.size());
    for (const std::uint32_t k : unique.files) {
        GroupFile file{table.pathBytes(k), {}};
        file.identity.size = table.file(k).size; // the size only: the time is read when printed
        files.push_back(std::move(file));
    }
    std::vector<QByteArray> unreadable;
    for (const std::uint32_t k : unique.unreadable)
        unreadable.push_back(table.pathBytes(k));
    format.uniqueFiles(files, unreadable);
}

// What could not be read, the summary and the exit status, once the results are out.
int finish(const SearchDriver &driver, const Output &output, bool written, SearchDriver::Outcome outcome,
           const ScanOptions &options, PhaseTimes times)
{
    printLeftOut(driver);
    if (!options.quiet)
        printSummary(countsOf(driver, options.filter), options.filter.active(), times);
    if (!written) {
        message(nullptr, QByteArray("cannot write the results: ") + output.reason());
        return Failed;
    }
    if (outcome == SearchDriver::Outcome::OutOfMemory)
        return OutOfMemory;
    if (stopSignal != 0 || outcome == SearchDriver::Outcome::Stopped) {
        message(nullptr, "stopped");
        return 128 + (stopSignal ? static_cast<int>(stopSignal) : SIGINT);
    }
    return Finished;
}
} // namespace

int main(int argc, char *argv[])
{
    UseOneMemoryPool();
    QCoreApplication app(argc, argv);
    const ParsedCommandLine command = parseCommandLine(QCoreApplication::arguments(), argc, argv);
    if (!command.options)
        return command.status;
    ScanOptions options = *command.options;

    catchStopSignals();
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    Output output;
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO));
    if (!options.quiet && ::isatty(STDERR_FILENO) && ::isatty(STDOUT_FILENO))
        output.shareTerminalWith(&progress);
    const std::unique_ptr<OutputFormat> format = options.format == OutputFormatKind::Json
        ? makeJsonFormat(output)
        : makeTextFormat(output, options.format == OutputFormatKind::Nul ? '\0' : '\n', options.omitFirst);
    GroupPrinter printer(*format);
    if (options.omitFirst)
        printer.omitKept(options.keep, options.keepUnder);

    MemorySettingsStore settings;
    ConsoleHost host(settings, progress, output, options.quiet);
    FileFilter &filter = options.filter;
    host.onCollecting([&filter](const QString &folder) { filter.setRoot(QueueEntryOf(folder)); });
    SearchDriver driver(host, settings, printer);
    printer.setTable(driver.candidates());
    configure(driver, filter, options);

    const FolderSet uniqueIn(options.uniqueIn);
    if (!uniqueIn.empty())
        driver.setUniqueIn(&uniqueIn);

    format->header(options);
    const ConsoleHost::Clock::time_point started = ConsoleHost::Clock::now();
    const SearchDriver::Outcome outcome = driver.run(ArgumentRows(options.folders));
    const ConsoleHost::Clock::time_point ended = ConsoleHost::Clock::now();
    const bool stopped = stopSignal != 0 || outcome == SearchDriver::Outcome::Stopped
        || outcome == SearchDriver::Outcome::OutOfMemory;
    if (!uniqueIn.empty() && !stopped)
        printUniqueFiles(driver, *format);
    format->footer(countsOf(driver, filter), !stopped);
    progress.clear();
    const bool written = output.finish();

    const auto reading = host.readingStarted.value_or(ended), matching = host.matchingStarted.value_or(ended);
    return finish(driver, output, written, outcome, options, {reading - started, matching - reading, ended - matching});
}
