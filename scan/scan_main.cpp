// twinfold-scan: the search that FIND DUPES runs, without a window, for scripts. The folders are
// the rows of the folder list; the groups go to standard output, messages and a summary to
// standard error. The groups and their order are the window's.

#include "CandidateTable.h"
#include "FolderWalker.h"
#include "MemoryPools.h"
#include "ProductInfo.h"
#include "ResultsSink.h"
#include "SearchDriver.h"
#include "SearchHost.h"
#include "SettingsStore.h"

#include <QByteArrayView>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Exit statuses, as the manual page and --help give them.
enum Status : int {
    Finished = 0, // the search ran to its end, whether or not it found duplicates
    Failed = 1,   // standard output or the folder names could not be read or written
    Usage = 2,    // bad options or folders; nothing was searched
    OutOfMemory = 3, // memory or threads ran out; the search stopped there
    // A stop by signal gives 128 + the signal's number: 130 for Ctrl-C, 143 for SIGTERM.
};

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal)
{
    stopSignal = signal;
}

// A first SIGINT, SIGTERM or SIGHUP is STOP FIND; a second one ends the program at once.
void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // Restarted, a write blocked on a full pipe goes on: the stop is seen at the next poll.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// One line on standard error that is rewritten in place, shown only on a terminal.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) {}

    void phase(const QString &text)
    {
        m_phase = text;
        m_percent = -1;
        draw(true);
    }
    void percent(int value)
    {
        if (value == m_percent)
            return;
        m_percent = value;
        draw(false);
    }
    // Before any other text goes to standard error.
    void clear()
    {
        if (m_enabled && m_shown) {
            std::fputs("\r\033[K", stderr);
            m_shown = false;
        }
    }

private:
    void draw(bool force)
    {
        if (!m_enabled || m_phase.isEmpty())
            return;
        const Clock::time_point now = Clock::now();
        if (!force && now - m_lastDraw < std::chrono::milliseconds(100))
            return;
        m_lastDraw = now;
        QByteArray line = "twinfold-scan: " + m_phase.toUtf8();
        if (m_percent >= 0)
            line += ' ' + QByteArray::number(m_percent) + '%';
        // Long folder names would wrap and break the rewrite: keep the line short.
        if (line.size() > 76)
            line = line.left(36) + "..." + line.right(37);
        std::fprintf(stderr, "\r%s\033[K", line.constData());
        m_shown = true;
    }

    bool m_enabled;
    bool m_shown = false;
    QString m_phase;
    int m_percent = -1;
    Clock::time_point m_lastDraw;
};

// Where the rows go; a failed write stops the search, as there is nobody left to tell.
class Output
{
public:
    // On the terminal that also shows the progress line, rows go out at once, on a line of their own.
    void shareTerminalWith(ProgressLine *progress) { m_progress = progress; }

    bool write(QByteArrayView bytes)
    {
        if (m_progress) {
            m_progress->clear();
            std::fflush(stderr);
        }
        if (m_error == 0 && std::fwrite(bytes.data(), 1, static_cast<std::size_t>(bytes.size()), stdout)
                                != static_cast<std::size_t>(bytes.size()))
            m_error = errno ? errno : EIO;
        if (m_progress && m_error == 0 && std::fflush(stdout) != 0)
            m_error = errno ? errno : EIO;
        return m_error == 0;
    }
    // Flushes and closes standard output; false (with the reason kept) when anything was lost.
    bool finish()
    {
        errno = 0;
        if (std::fflush(stdout) != 0 && m_error == 0)
            m_error = errno ? errno : EIO;
        if (std::fclose(stdout) != 0 && m_error == 0)
            m_error = errno ? errno : EIO;
        return m_error == 0;
    }
    bool failed() const { return m_error != 0; }
    const char *reason() const { return std::strerror(m_error); }

private:
    int m_error = 0;
    ProgressLine *m_progress = nullptr;
};

// No window: events need no processing, a signal is the STOP FIND button, messages go to stderr.
class ConsoleHost final : public SearchHost
{
public:
    ConsoleHost(SettingsStore &settings, ProgressLine &progress, const Output &output, bool quiet)
        : m_settings(settings), m_progress(progress), m_output(output), m_quiet(quiet)
    {
    }

    void setCaption(const QString &caption) override
    {
        const QString prefix = productCaption() + QStringLiteral(" [");
        if (!caption.startsWith(prefix))
            return;
        const QString phase = caption.mid(prefix.size()).chopped(1);
        if (phase == QStringLiteral("Reading images")) {
            readingStarted = Clock::now();
            m_progress.phase(QStringLiteral("reading"));
        } else if (phase == QStringLiteral("Finding duplicate images")) {
            matchingStarted = Clock::now();
            m_progress.phase(QStringLiteral("matching"));
        } else if (phase.startsWith(QStringLiteral("Analyzing ")) && phase.endsWith(QStringLiteral(" folder"))) {
            m_progress.phase(QStringLiteral("collecting ") + phase.mid(10).chopped(7));
        }
    }
    void setProgress(int percent) override { m_progress.percent(percent); }
    void pumpEvents() override {}
    bool stopRequested() override
    {
        if (stopSignal || m_output.failed())
            m_settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
        return m_settings.value(QStringLiteral("Stop")) == QStringLiteral("True");
    }
    void showMessage(const QString &text, const QString &title) override
    {
        // "No duplicate images found." belongs to the summary; a stopped scan found nothing yet.
        if (title.isEmpty() && (m_quiet || stopSignal))
            return;
        m_progress.clear();
        std::fprintf(stderr, "twinfold-scan: %s\n", text.toUtf8().constData());
    }
    bool askYesNo(const QString &, const QString &) override { return true; }

    std::optional<Clock::time_point> readingStarted, matchingStarted;

private:
    SettingsStore &m_settings;
    ProgressLine &m_progress;
    const Output &m_output;
    bool m_quiet;
};

// Appends text as a JSON string: quotes, backslashes and control characters escaped, the
// rest as the UTF-8 it is.
void appendJsonString(QByteArray &out, QByteArrayView utf8)
{
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// Modification time as ISO 8601 in UTC with nanoseconds: exact, and sorts as text.
QByteArray isoTime(std::int64_t secondsSinceEpoch, long nanoseconds)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%09ldZ", nanoseconds);
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + fraction;
}

struct OutputStyle
{
    enum Format { Lines, Nul, Json } format = Lines;
    bool omitFirst = false;
};

// Writes each row as it comes. Text: the path's bytes and a newline (or NUL), one more after a
// group, none with --omit-first (a flat list for xargs). JSON: one object per group.
class PrintingSink final : public ResultsSink
{
public:
    PrintingSink(OutputStyle style, Output &output) : m_style(style), m_output(output) {}

    void begin()
    {
        if (m_style.format == OutputStyle::Json)
            m_output.write("{\"groups\": [");
    }
    void end(bool complete)
    {
        if (m_style.format == OutputStyle::Json)
            m_output.write(QByteArray(m_groups ? "\n" : "") + "],\n \"complete\": " + (complete ? "true" : "false")
                           + "}\n");
    }

    void clearRows() override { m_rows = 0; }
    void addRow(const ResultRow &row) override
    {
        ++m_rows;
        const bool first = m_inGroup == 0;
        ++m_inGroup;
        if (m_style.format == OutputStyle::Json && first) {
            m_pending = QByteArray(m_groups ? ",\n" : "\n") + "  {\"size\": " + QByteArray::number(row.size)
                + ", \"files\": [";
            m_filesInGroup = 0;
        }
        if (first && m_style.omitFirst)
            return;
        // Collected names survive decoding (the walk skips any that do not), so this gives back
        // the file system's own bytes.
        const QByteArray path = QFile::encodeName(row.path);
        if (m_style.format != OutputStyle::Json) {
            m_output.write(path);
            m_output.write(QByteArrayView(m_style.format == OutputStyle::Nul ? "\0" : "\n", 1));
            return;
        }
        QByteArray &out = m_pending;
        out += m_filesInGroup++ ? ", {\"path\": " : "{\"path\": ";
        if (QByteArrayView(path).isValidUtf8()) {
            appendJsonString(out, path);
        } else {
            // Shown with U+FFFD for people; the exact bytes in base64 for programs.
            appendJsonString(out, QString::fromUtf8(path).toUtf8());
            out += ", \"path_bytes\": \"" + path.toBase64() + '"';
        }
        out += ", \"mtime\": ";
        if (const std::optional<QByteArray> time = modificationTime(row, path))
            out += '"' + *time + '"';
        else
            out += "null";
        out += '}';
    }
    void endGroup() override
    {
        if (m_style.format == OutputStyle::Json) {
            m_output.write(m_pending + "]}");
            m_pending.clear();
            ++m_groups;
        } else if (!m_style.omitFirst) {
            m_output.write(QByteArrayView(m_style.format == OutputStyle::Nul ? "\0" : "\n", 1));
        }
        m_inGroup = 0;
    }
    std::size_t rowCount() const override { return m_rows; }

private:
    // The time the comparison recorded, else what the path gives now.
    static std::optional<QByteArray> modificationTime(const ResultRow &row, const QByteArray &path)
    {
        if (row.identity.valid)
            return isoTime(row.identity.mtimeSeconds, row.identity.mtimeNanoseconds);
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            return std::nullopt;
        return isoTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    }

    OutputStyle m_style;
    Output &m_output;
    std::size_t m_rows = 0;
    std::size_t m_inGroup = 0;
    std::size_t m_groups = 0;
    std::size_t m_filesInGroup = 0;
    QByteArray m_pending;
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

// Which collected files the size and name options keep. Names are matched as the file
// system's bytes, below the listed folder the file was found through.
class FileFilter
{
public:
    std::int64_t minSize = 0;
    std::int64_t maxSize = std::numeric_limits<std::int64_t>::max();
    QList<QByteArray> excludes;
    QList<QByteArray> roots; // queue entries of the listed folders, in list order
    std::uint64_t leftOut = 0;

    bool active() const
    {
        return minSize > 0 || maxSize < std::numeric_limits<std::int64_t>::max() || !excludes.isEmpty();
    }

    bool keep(QByteArrayView folder, QByteArrayView name, std::int64_t size)
    {
        const bool kept = size >= minSize && size <= maxSize && !excluded(folder, name);
        leftOut += kept ? 0 : 1;
        return kept;
    }

private:
    bool excluded(QByteArrayView folder, QByteArrayView name)
    {
        if (excludes.isEmpty())
            return false;
        // Files come folder by folder: the folder's verdict is worked out once.
        if (folder != m_lastFolder) {
            m_lastFolder = folder.toByteArray();
            m_relativeFolder = relativeFolder(folder);
            m_folderExcluded = false;
            for (qsizetype end = m_relativeFolder.indexOf('/'); end >= 0 && !m_folderExcluded;
                 end = m_relativeFolder.indexOf('/', end + 1))
                m_folderExcluded = matchesAny(m_relativeFolder.left(end));
        }
        return m_folderExcluded || matchesAny(m_relativeFolder + name.toByteArray());
    }

    // The folder below the first listed folder that holds it: the one whose walk collected it.
    QByteArray relativeFolder(QByteArrayView folder) const
    {
        for (const QByteArray &root : roots)
            if (folder.startsWith(root))
                return folder.sliced(root.size()).toByteArray();
        return folder.toByteArray();
    }

    // A pattern with a '/' is matched against the path below the listed folder, any other
    // against the last name only.
    bool matchesAny(const QByteArray &relative) const
    {
        const QByteArray last = relative.mid(relative.lastIndexOf('/') + 1);
        for (const QByteArray &pattern : excludes) {
            const bool whole = pattern.contains('/');
            if (::fnmatch(pattern.constData(), (whole ? relative : last).constData(), whole ? FNM_PATHNAME : 0) == 0)
                return true;
        }
        return false;
    }

    QByteArray m_lastFolder{"\0", 1}; // no folder path starts with NUL
    QByteArray m_relativeFolder;
    bool m_folderExcluded = false;
};

// Bytes, or a number with K, M, G or T (powers of 1024; "KiB", "k" and "KB" read alike).
std::optional<std::int64_t> parseSize(const QString &text)
{
    const QByteArray bytes = text.trimmed().toLatin1().toUpper();
    std::int64_t value = 0;
    const auto [rest, error] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (error != std::errc() || rest == bytes.constData() || value < 0)
        return std::nullopt;
    QByteArray unit(rest, bytes.constData() + bytes.size() - rest);
    if (unit.size() == 3 && unit.endsWith("IB"))
        unit.chop(2);
    else if (unit.size() == 2 && unit.endsWith('B'))
        unit.chop(1);
    else if (unit == "B")
        unit.clear();
    int shift = 0;
    if (unit == "K")
        shift = 10;
    else if (unit == "M")
        shift = 20;
    else if (unit == "G")
        shift = 30;
    else if (unit == "T")
        shift = 40;
    else if (!unit.isEmpty())
        return std::nullopt;
    if (value > (std::numeric_limits<std::int64_t>::max() >> shift))
        return std::nullopt;
    return value << shift;
}

constexpr const char *UsageLine = "usage: twinfold-scan [OPTION]... FOLDER...\n";

int usageError(const QString &problem)
{
    std::fprintf(stderr, "twinfold-scan: %s\n%sTry 'twinfold-scan --help' for more.\n", problem.toUtf8().constData(),
                 UsageLine);
    return Usage;
}

constexpr const char *HelpEpilog = R"(
Each group of identical files is printed as one path per line with an empty line
after the group. The groups and their order are those that FIND DUPES shows in
the window. Messages and a summary go to standard error.

Sizes take K, M, G or T (powers of 1024). A GLOB without '/' is matched against
the name of each file and folder below a listed folder; one with '/' against the
path below the listed folder. A matching folder is left out with all it holds.
JSON: {"groups": [{"size": N, "files": [{"path": "...", "mtime": "..."}]}],
"complete": true}; a path that is not UTF-8 also carries "path_bytes", its exact
bytes in base64. TWINFOLD_THREADS=N (1 to 64) sets the number of readers.

Exit status:
  0    the search ran to its end (duplicates found or not)
  1    the results or the folder names could not be written or read
  2    bad options or folders; nothing was searched
  3    memory or threads ran out; the search stopped there
  130  stopped by Ctrl-C (128 + the signal's number for SIGTERM and SIGHUP)
)";

// Folder names from --from0: NUL-separated, the last NUL optional.
std::optional<QList<QByteArray>> readNulSeparated(const QString &source)
{
    QFile file;
    const bool ok = source == QStringLiteral("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                  : (file.setFileName(source), file.open(QIODevice::ReadOnly));
    if (!ok)
        return std::nullopt;
    QByteArray all;
    for (;;) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return std::nullopt;
            break;
        }
        all += chunk;
    }
    QList<QByteArray> names = all.split('\0');
    if (!names.isEmpty() && names.back().isEmpty())
        names.pop_back();
    return names;
}

} // namespace

int main(int argc, char *argv[])
{
    UseOneMemoryPool();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("twinfold-scan"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TWINFOLD_PRODUCT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds files with identical contents in the FOLDERs and all "
                                                    "their subfolders, as Twinfold's FIND DUPES does."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No summary and no progress line."));
    const QCommandLineOption nul({QStringLiteral("0"), QStringLiteral("null")},
                                 QStringLiteral("End each path with NUL, and each group with one more."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the groups as JSON."));
    const QCommandLineOption omitFirst({QStringLiteral("e"), QStringLiteral("omit-first")},
                                       QStringLiteral("Print every copy but the first of each group, as one flat "
                                                      "list: twinfold-scan -0 -e DIR | xargs -0 gio trash"));
    const QCommandLineOption from0(QStringLiteral("from0"),
                                   QStringLiteral("Read more folder names, each ended by NUL, from FILE ('-' for "
                                                  "standard input)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption minSize(QStringLiteral("min-size"),
                                     QStringLiteral("Leave out files smaller than SIZE."), QStringLiteral("SIZE"));
    const QCommandLineOption maxSize(QStringLiteral("max-size"),
                                     QStringLiteral("Leave out files larger than SIZE."), QStringLiteral("SIZE"));
    const QCommandLineOption exclude(QStringLiteral("exclude"),
                                     QStringLiteral("Leave out files and folders whose name matches GLOB (may be "
                                                    "given more than once)."),
                                     QStringLiteral("GLOB"));
    parser.addOptions({help, version, quiet, nul, json, omitFirst, from0, minSize, maxSize, exclude});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("Folders to search."),
                                 QStringLiteral("FOLDER..."));

    // A name that is not UTF-8 would reach us with U+FFFD in it and name something else.
    for (int i = 1; i < argc; ++i)
        if (QFile::encodeName(QFile::decodeName(argv[i])) != QByteArray(argv[i]))
            return usageError(QFile::decodeName(argv[i]).replace(QChar::ReplacementCharacter, u'?')
                              + QStringLiteral(": not valid UTF-8; list a folder above it instead"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());

    Output output;
    if (parser.isSet(help) || parser.isSet(version)) {
        // Qt's first line names the program by the path it was started with.
        const QByteArray qtHelp = parser.helpText().toUtf8();
        const QByteArray text = parser.isSet(help)
            ? UsageLine + qtHelp.mid(qtHelp.indexOf('\n') + 1) + HelpEpilog
            : QByteArray("twinfold-scan " TWINFOLD_PRODUCT_VERSION "\n");
        output.write(text);
        if (!output.finish()) {
            std::fprintf(stderr, "twinfold-scan: cannot write to standard output: %s\n", output.reason());
            return Failed;
        }
        return Finished;
    }

    OutputStyle style;
    if (parser.isSet(json) && parser.isSet(nul))
        return usageError(QStringLiteral("--json and -0 cannot be used together"));
    style.format = parser.isSet(json) ? OutputStyle::Json : parser.isSet(nul) ? OutputStyle::Nul : OutputStyle::Lines;
    style.omitFirst = parser.isSet(omitFirst);

    FileFilter filter;
    for (const auto &[option, target] : {std::pair{&minSize, &filter.minSize}, std::pair{&maxSize, &filter.maxSize}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<std::int64_t> size = parseSize(parser.value(*option));
        if (!size)
            return usageError(QStringLiteral("--%1: not a size: %2").arg(option->names().constFirst(),
                                                                        parser.value(*option)));
        *target = *size;
    }
    if (filter.minSize > filter.maxSize)
        return usageError(QStringLiteral("--min-size is larger than --max-size"));
    for (const QString &glob : parser.values(exclude)) {
        if (glob.isEmpty())
            return usageError(QStringLiteral("--exclude: empty pattern"));
        filter.excludes << QFile::encodeName(glob);
    }

    QList<QByteArray> names;
    for (const QString &folder : parser.positionalArguments())
        names << QFile::encodeName(folder);
    if (parser.isSet(from0)) {
        const std::optional<QList<QByteArray>> more = readNulSeparated(parser.value(from0));
        if (!more) {
            std::fprintf(stderr, "twinfold-scan: cannot read folder names from %s\n",
                         parser.value(from0).toUtf8().constData());
            return Failed;
        }
        names += *more;
    }
    if (names.isEmpty())
        return usageError(QStringLiteral("no folder given"));

    QStringList folders;
    for (const QByteArray &name : names) {
        const QString folder = QFile::decodeName(name);
        if (QFile::encodeName(folder) != name)
            return usageError(QString(folder).replace(QChar::ReplacementCharacter, u'?')
                              + QStringLiteral(": not valid UTF-8; list a folder above it instead"));
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return usageError(folder + QStringLiteral(": not a folder"));
        // Rows of the folder list are absolute; keep the spelling otherwise.
        folders << (QDir::isRelativePath(folder) ? QDir::current().absoluteFilePath(folder) : folder);
    }
    for (const QString &folder : folders)
        filter.roots << QueueEntryOf(folder);

    ReadOptions options;
    if (const QByteArray threads = qgetenv("TWINFOLD_THREADS"); !threads.isEmpty()) {
        bool ok = false;
        const int n = threads.toInt(&ok);
        if (!ok || n < 1 || n > 64)
            return usageError(QStringLiteral("TWINFOLD_THREADS must be a number from 1 to 64"));
        options.threads = static_cast<unsigned>(n);
    }

    const int walkThreads = qEnvironmentVariableIntValue("TWINFOLD_WALK_THREADS");

    catchStopSignals();
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    const bool showSummary = !parser.isSet(quiet);
    ProgressLine progress(showSummary && ::isatty(STDERR_FILENO));
    if (showSummary && ::isatty(STDERR_FILENO) && ::isatty(STDOUT_FILENO))
        output.shareTerminalWith(&progress);
    MemorySettingsStore settings;
    ConsoleHost host(settings, progress, output, !showSummary);
    PrintingSink sink(style, output);
    SearchDriver driver(host, settings, sink);
    driver.setAskAboveLimit(false);
    driver.setReadOptions(options);
    if (filter.active())
        driver.setFileFilter([&filter](QByteArrayView folder, QByteArrayView name, std::int64_t size) {
            return filter.keep(folder, name, size);
        });
    if (walkThreads > 0)
        driver.setWalkThreads(static_cast<unsigned>(std::min(walkThreads, 256)));

    sink.begin();
    const Clock::time_point started = Clock::now();
    const SearchDriver::Outcome outcome = driver.run(ArgumentRows(folders));
    const Clock::time_point ended = Clock::now();
    const bool outOfMemory = outcome == SearchDriver::Outcome::OutOfMemory;
    const bool stopped = stopSignal != 0 || outcome == SearchDriver::Outcome::Stopped || outOfMemory;
    sink.end(!stopped);
    progress.clear();
    const bool written = output.finish();

    // Every folder and file collecting could not read, by name, like the skip messages.
    const CollectStats &leftOut = driver.collectStats();
    for (const auto &[list, kind] : {std::pair(&leftOut.folders, "folder"), std::pair(&leftOut.files, "file")})
        for (const LeftOutEntry &entry : *list)
            std::fprintf(stderr, "twinfold-scan: cannot read %s %s: %s\n", kind, entry.path.constData(),
                         std::strerror(entry.error));

    // The summary, in one place.
    if (showSummary) {
        const Clock::time_point reading = host.readingStarted.value_or(ended);
        const Clock::time_point matching = host.matchingStarted.value_or(ended);
        const DuplicateMatcher::Stats &stats = driver.matchStats();
        rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        std::fprintf(stderr,
                     "twinfold-scan: %zu files collected, %llu read (%llu bytes), %llu left out as unreadable\n",
                     driver.candidates().count(), static_cast<unsigned long long>(stats.filesRead),
                     static_cast<unsigned long long>(stats.bytesRead),
                     static_cast<unsigned long long>(stats.unreadable));
        if (!leftOut.folders.empty() || !leftOut.files.empty())
            std::fprintf(stderr, "twinfold-scan: left out while collecting: %zu folders, %zu files\n",
                         leftOut.folders.size(), leftOut.files.size());
        if (stats.changed != 0 || stats.failed != 0)
            std::fprintf(stderr,
                         "twinfold-scan: %llu left out as changed while read, %llu left out as their reader failed\n",
                         static_cast<unsigned long long>(stats.changed), static_cast<unsigned long long>(stats.failed));
        if (filter.active())
            std::fprintf(stderr, "twinfold-scan: %llu files left out by size or name\n",
                         static_cast<unsigned long long>(filter.leftOut));
        std::fprintf(stderr, "twinfold-scan: %llu groups, %llu duplicate files\n",
                     static_cast<unsigned long long>(stats.groups), static_cast<unsigned long long>(stats.rows));
        std::fprintf(stderr,
                     "twinfold-scan: collecting %.3f s, reading %.3f s, matching %.3f s, peak memory %.1f MiB\n",
                     seconds(reading - started), seconds(matching - reading), seconds(ended - matching),
                     static_cast<double>(usage.ru_maxrss) / 1024.0);
    }

    if (!written) {
        std::fprintf(stderr, "twinfold-scan: cannot write the results: %s\n", output.reason());
        return Failed;
    }
    if (outOfMemory)
        return OutOfMemory;
    if (stopped) {
        std::fprintf(stderr, "twinfold-scan: stopped\n");
        return 128 + (stopSignal ? static_cast<int>(stopSignal) : SIGINT);
    }
    return Finished;
}
