// twinfold-scan FOLDER...: the search that FIND DUPES runs, without a window. The folders are
// the rows of the folder list; the result rows go to standard output, a summary to standard error.

#include "ResultsSink.h"
#include "SearchDriver.h"
#include "SearchHost.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <sys/resource.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
}

using Clock = std::chrono::steady_clock;

// No window: events need no processing, Ctrl-C is the STOP FIND button, messages go to stderr.
class ConsoleHost final : public SearchHost
{
public:
    explicit ConsoleHost(SettingsStore &settings) : m_settings(settings) {}

    void setCaption(const QString &caption) override
    {
        if (caption.endsWith(QStringLiteral("[Reading images]")))
            readingStarted = Clock::now();
        else if (caption.endsWith(QStringLiteral("[Finding duplicate images]")))
            matchingStarted = Clock::now();
    }
    void setProgress(int) override {}
    void pumpEvents() override {}
    bool stopRequested() override
    {
        if (interrupted)
            m_settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
        return m_settings.value(QStringLiteral("Stop")) == QStringLiteral("True");
    }
    void showMessage(const QString &text, const QString &) override
    {
        std::fprintf(stderr, "twinfold-scan: %s\n", text.toLocal8Bit().constData());
    }
    bool askYesNo(const QString &, const QString &) override { return true; }

    std::optional<Clock::time_point> readingStarted, matchingStarted;

private:
    SettingsStore &m_settings;
};

// Writes each row as it comes: the path's bytes and a newline (or NUL), one more after a group.
class PrintingSink final : public ResultsSink
{
public:
    explicit PrintingSink(char terminator) : m_terminator(terminator) {}

    void clearRows() override { m_rows = 0; }
    void addRow(const ResultRow &row) override
    {
        // Collected names survive decoding (the walker skips any that do not), so this gives
        // back the file system's own bytes.
        const QByteArray bytes = QFile::encodeName(row.path);
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        std::fputc(m_terminator, stdout);
        ++m_rows;
    }
    void endGroup() override { std::fputc(m_terminator, stdout); }
    std::size_t rowCount() const override { return m_rows; }

private:
    char m_terminator;
    std::size_t m_rows = 0;
};

class ArgumentRows final : public FolderRows
{
public:
    explicit ArgumentRows(QStringList rows) : m_rows(std::move(rows)) {}
    std::size_t rowCount() const override { return static_cast<std::size_t>(m_rows.size()); }
    QString rowText(std::size_t row) const override { return m_rows.at(static_cast<qsizetype>(row)); }

private:
    QStringList m_rows;
};

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "twinfold-scan: %s\n", problem);
    std::fprintf(stderr, "usage: twinfold-scan [-0] FOLDER...\n"
                         "  -0  end every path with a NUL byte and every group with one more\n"
                         "  TWINFOLD_THREADS=N in the environment sets the number of readers (1 to 32)\n");
    return 2;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    bool nul = false;
    bool optionsDone = false;
    QStringList folders;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg == "-0") {
            nul = true;
        } else if (!optionsDone && (arg == "-h" || arg == "--help")) {
            usage(nullptr);
            return 0;
        } else if (!optionsDone && arg.startsWith('-')) {
            return usage(QByteArray("unknown option " + arg).constData());
        } else {
            const QString folder = QFile::decodeName(arg);
            if (folder.isEmpty() || !QFileInfo(folder).isDir())
                return usage(QByteArray(arg + ": not a folder").constData());
            // Rows of the folder list are absolute; keep the spelling otherwise.
            folders << (QDir::isRelativePath(folder) ? QDir::current().absoluteFilePath(folder) : folder);
        }
    }
    if (folders.isEmpty())
        return usage("no folder given");

    ReadOptions options;
    if (const QByteArray threads = qgetenv("TWINFOLD_THREADS"); !threads.isEmpty()) {
        bool ok = false;
        const int n = threads.toInt(&ok);
        if (!ok || n < 1 || n > 32)
            return usage("TWINFOLD_THREADS must be a number from 1 to 32");
        options.threads = static_cast<unsigned>(n);
    }

    std::signal(SIGINT, onInterrupt);
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    MemorySettingsStore settings;
    ConsoleHost host(settings);
    PrintingSink sink(nul ? '\0' : '\n');
    SearchDriver driver(host, settings, sink);
    driver.setAskAboveLimit(false);
    driver.setReadOptions(options);

    const Clock::time_point started = Clock::now();
    const SearchDriver::Outcome outcome = driver.run(ArgumentRows(folders));
    const Clock::time_point ended = Clock::now();
    std::fflush(stdout);

    const Clock::time_point reading = host.readingStarted.value_or(ended);
    const Clock::time_point matching = host.matchingStarted.value_or(ended);
    const DuplicateMatcher::Stats &stats = driver.matchStats();
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr,
                 "twinfold-scan: %zu files collected, %llu read (%llu bytes), %llu left out as unreadable\n"
                 "twinfold-scan: %llu groups, %llu duplicate files\n"
                 "twinfold-scan: collecting %.3f s, reading %.3f s, matching %.3f s, peak memory %.1f MiB\n",
                 driver.candidates().count(), static_cast<unsigned long long>(stats.filesRead),
                 static_cast<unsigned long long>(stats.bytesRead), static_cast<unsigned long long>(stats.unreadable),
                 static_cast<unsigned long long>(stats.groups), static_cast<unsigned long long>(stats.rows),
                 seconds(reading - started), seconds(matching - reading), seconds(ended - matching),
                 static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::fprintf(stderr, "twinfold-scan: %llu left out as changed while read, %llu left out as their reader failed\n",
                 static_cast<unsigned long long>(stats.changed), static_cast<unsigned long long>(stats.failed));

    if (outcome == SearchDriver::Outcome::Stopped) {
        std::fprintf(stderr, "twinfold-scan: stopped\n");
        return 130;
    }
    return std::ferror(stdout) ? 1 : 0;
}
