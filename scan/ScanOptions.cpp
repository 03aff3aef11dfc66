// SPDX-License-Identifier: GPL-2.0-or-later
#include "ScanOptions.h"

#include "Console.h"
#include "ProductInfo.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

constexpr const char *UsageLine = "Usage: twinfold-scan [OPTION]... FOLDER...\n";

constexpr const char *HelpEpilog = R"(
Each group of identical files is printed as one path per line with an empty line
after the group. The groups and their order are those that FIND DUPES shows in
the window. Messages and a summary go to standard error.

Sizes take K, M, G or T (powers of 1024). A GLOB without '/' is matched against
the name of each file and folder below a listed folder; one with '/' against the
path below the listed folder; one ending in '/' matches folders only. A matching
folder is left out with all it holds. --keep and --keep-under choose what -e
keeps: every copy under a DIR; in a group with none there, the first listed, the
oldest or newest by modification time, or the one with the shortest path.
--json prints one document with the command, the groups and the summary's counts
(see twinfold-scan(1)). TWINFOLD_THREADS=N (1 to 64) sets the number of readers.

--unique-in prints instead the files under a DIR that have no identical copy
(nor another name, a hard link) outside the DIRs, which are searched as well;
files under a DIR that could not be read are named on standard error.

Move every extra copy to the trash, keeping the oldest of each group:
  twinfold-scan -0 -e --keep oldest DIR | xargs -0 -r gio trash --

Exit status:
  0    the search ran to its end (duplicates found or not)
  1    the results or the folder names could not be written or read
  2    bad options or folders; nothing was searched
  3    memory or threads ran out; the search stopped there
  130  stopped by Ctrl-C (128 + the signal's number for SIGTERM and SIGHUP)
)";

constexpr const char *VersionText = "twinfold-scan (" TWINFOLD_PRODUCT_NAME ") " TWINFOLD_PRODUCT_VERSION
                                    "\n" TWINFOLD_COPYRIGHT "\n"
                                    "License GPL-2.0-or-later: GNU GPL version 2 or later "
                                    "<https://gnu.org/licenses/gpl.html>.\n"
                                    "This is free software: you are free to change and redistribute it.\n"
                                    "There is NO WARRANTY, to the extent permitted by law.\n";

// A folder name from --from0 longer than this cannot be opened (PATH_MAX), and reading on for
// the NUL that ends it could take all memory (/dev/zero has none, /dev/urandom few).
constexpr qsizetype LongestFolderName = 4095;

ParsedCommandLine usageError(const QString &problem)
{
    message(nullptr, problem.toUtf8());
    std::fprintf(stderr, "%sTry 'twinfold-scan --help' for more information.\n", UsageLine);
    return {std::nullopt, Usage};
}

ParsedCommandLine printAndEnd(const QByteArray &text)
{
    Output output;
    output.write(text);
    if (!output.finish()) {
        message(nullptr, QByteArray("cannot write to standard output: ") + output.reason());
        return {std::nullopt, Failed};
    }
    return {std::nullopt, Finished};
}

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
    static constexpr std::pair<const char *, int> Units[] = {{"", 0}, {"K", 10}, {"M", 20}, {"G", 30}, {"T", 40}};
    for (const auto &[name, shift] : Units)
        if (unit == name)
            return value > (std::numeric_limits<std::int64_t>::max() >> shift) ? std::nullopt
                                                                               : std::optional(value << shift);
    return std::nullopt;
}

// A folder name as the file system's bytes: checked, then added to the options as a clean path.
// The problem's text when it is not a folder that can be searched.
std::optional<QString> addFolder(const QByteArray &name, QStringList &folders)
{
    const QString folder = QFile::decodeName(name);
    if (QFile::encodeName(folder) != name)
        return QString(folder).replace(QChar::ReplacementCharacter, u'?')
            + QStringLiteral(": not valid UTF-8; list a folder above it instead");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return folder + QStringLiteral(": not a folder");
    folders << cleanFolder(folder);
    return std::nullopt;
}

// Folder names from --from0, each ended by NUL (the last NUL optional), checked as they come so
// a stream without end ends at its first bad name.
ParsedCommandLine readFolderNames(const QString &source, ScanOptions &options)
{
    const bool standardInput = source == QStringLiteral("-");
    std::FILE *in = standardInput ? stdin : std::fopen(QFile::encodeName(source).constData(), "rbe");
    const auto cannotRead = [&](int error) {
        message(nullptr, "cannot read folder names from " + source.toUtf8() + ": " + std::strerror(error));
        return ParsedCommandLine{std::nullopt, Failed};
    };
    if (!in)
        return cannotRead(errno);
    ParsedCommandLine result{std::nullopt, Finished};
    QByteArray name;
    for (;;) {
        const int c = std::getc(in);
        if (c == EOF && std::ferror(in)) {
            result = cannotRead(errno ? errno : EIO);
            break;
        }
        if (c == EOF && name.isEmpty())
            break;
        if (c == EOF || c == '\0') {
            if (const std::optional<QString> problem = addFolder(name, options.folders)) {
                result = usageError(*problem);
                break;
            }
            name.clear();
            if (c == EOF)
                break;
            continue;
        }
        if (name.size() == LongestFolderName) {
            result = usageError(QStringLiteral("--from0: a folder name longer than %1 bytes").arg(LongestFolderName));
            break;
        }
        name += static_cast<char>(c);
    }
    if (!standardInput)
        std::fclose(in);
    return result;
}

} // namespace

QString cleanFolder(const QString &folder)
{
    const QString absolute = QDir::isRelativePath(folder) ? QDir::currentPath() + u'/' + folder : folder;
    QStringList parts;
    for (const QString &part : absolute.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QStringLiteral("."))
            continue;
        if (part == QStringLiteral("..")) {
            if (parts.isEmpty())
                continue; // "/.." is "/"
            // Back past a real folder only: past a link, ".." leads to the link target's parent.
            struct stat st = {};
            const QByteArray current = QFile::encodeName(u'/' + parts.join(u'/'));
            if (parts.back() != QStringLiteral("..") && ::lstat(current.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
                parts.removeLast();
                continue;
            }
        }
        parts << part;
    }
    return u'/' + parts.join(u'/');
}

ParsedCommandLine parseCommandLine(const QStringList &arguments, int argc, char *argv[])
{
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
                                       QStringLiteral("Print every copy but the one kept of each group, as one flat "
                                                      "list for xargs -0 -r (see below)."));
    const QCommandLineOption keep(QStringLiteral("keep"),
                                  QStringLiteral("Which copy -e keeps: first (listed; the default), oldest, newest "
                                                 "or shortest (path)."),
                                  QStringLiteral("RULE"));
    const QCommandLineOption keepUnder(QStringLiteral("keep-under"),
                                       QStringLiteral("With -e, keep every copy under DIR (may be given more than "
                                                      "once); a group with none there keeps the one RULE picks."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption uniqueIn(QStringLiteral("unique-in"),
                                      QStringLiteral("Print the files under DIR (may be given more than once) with no "
                                                     "identical copy outside, instead of the groups."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption from0(QStringLiteral("from0"),
                                   QStringLiteral("Read more folder names, each ended by NUL, from FILE ('-' for "
                                                  "standard input)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption minSize(QStringLiteral("min-size"), QStringLiteral("Leave out files smaller than SIZE."),
                                     QStringLiteral("SIZE"));
    const QCommandLineOption maxSize(QStringLiteral("max-size"), QStringLiteral("Leave out files larger than SIZE."),
                                     QStringLiteral("SIZE"));
    const QCommandLineOption exclude(QStringLiteral("exclude"),
                                     QStringLiteral("Leave out files and folders whose name matches GLOB (may be "
                                                    "given more than once)."),
                                     QStringLiteral("GLOB"));
    parser.addOptions(
        {help, version, quiet, nul, json, omitFirst, keep, keepUnder, uniqueIn, from0, minSize, maxSize, exclude});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("Folders to search."),
                                 QStringLiteral("FOLDER..."));

    // A name that is not UTF-8 would reach us with U+FFFD in it and name something else.
    for (int i = 1; i < argc; ++i)
        if (QFile::encodeName(QFile::decodeName(argv[i])) != QByteArray(argv[i]))
            return usageError(QFile::decodeName(argv[i]).replace(QChar::ReplacementCharacter, u'?')
                              + QStringLiteral(": not valid UTF-8; list a folder above it instead"));
    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    if (parser.isSet(help)) {
        // Qt's first line names the program by the path it was started with.
        const QByteArray qtHelp = parser.helpText().toUtf8();
        return printAndEnd(UsageLine + qtHelp.mid(qtHelp.indexOf('\n') + 1) + HelpEpilog);
    }
    if (parser.isSet(version))
        return printAndEnd(VersionText);

    ScanOptions options;
    if (parser.isSet(json) && parser.isSet(nul))
        return usageError(QStringLiteral("--json and -0 cannot be used together"));
    options.format = parser.isSet(json) ? OutputFormatKind::Json
        : parser.isSet(nul)             ? OutputFormatKind::Nul
                                        : OutputFormatKind::Lines;
    options.omitFirst = parser.isSet(omitFirst);
    options.quiet = parser.isSet(quiet);

    if ((parser.isSet(keep) || parser.isSet(keepUnder)) && !options.omitFirst)
        return usageError(QStringLiteral("--keep and --keep-under choose what -e leaves out: give -e as well"));
    if (parser.isSet(keep)) {
        static const std::pair<QString, KeepRule> Rules[] = {{QStringLiteral("first"), KeepRule::FirstListed},
                                                             {QStringLiteral("oldest"), KeepRule::Oldest},
                                                             {QStringLiteral("newest"), KeepRule::Newest},
                                                             {QStringLiteral("shortest"), KeepRule::ShortestPath}};
        const auto rule = std::find_if(std::begin(Rules), std::end(Rules),
                                       [&](const auto &r) { return r.first == parser.value(keep); });
        if (rule == std::end(Rules))
            return usageError(QStringLiteral("--keep: not first, oldest, newest or shortest: ") + parser.value(keep));
        options.keep = rule->second;
    }
    for (const QString &folder : parser.values(keepUnder)) {
        // A misspelt folder would keep nothing it was meant to.
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return usageError(QStringLiteral("--keep-under: not a folder: ") + folder);
        options.keepUnder << QFile::encodeName(cleanFolder(folder));
    }

    if (parser.isSet(uniqueIn) && options.omitFirst)
        return usageError(QStringLiteral("--unique-in lists files, not groups: leave out -e"));
    for (const QString &folder : parser.values(uniqueIn)) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return usageError(QStringLiteral("--unique-in: not a folder: ") + folder);
        options.uniqueIn << QFile::encodeName(cleanFolder(folder));
    }

    FileFilter &filter = options.filter;
    for (const auto &[option, target] : {std::pair{&minSize, &filter.minSize}, std::pair{&maxSize, &filter.maxSize}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<std::int64_t> size = parseSize(parser.value(*option));
        if (!size)
            return usageError(
                QStringLiteral("--%1: not a size: %2").arg(option->names().constFirst(), parser.value(*option)));
        *target = *size;
    }
    if (filter.minSize > filter.maxSize)
        return usageError(QStringLiteral("--min-size is larger than --max-size"));
    for (const QString &glob : parser.values(exclude)) {
        if (glob.isEmpty())
            return usageError(QStringLiteral("--exclude: empty pattern"));
        filter.addExclude(QFile::encodeName(glob));
    }

    if (const QByteArray threads = qgetenv("TWINFOLD_THREADS"); !threads.isEmpty()) {
        bool ok = false;
        const int n = threads.toInt(&ok);
        if (!ok || n < 1 || n > 64)
            return usageError(QStringLiteral("TWINFOLD_THREADS must be a number from 1 to 64"));
        options.threads = static_cast<unsigned>(n);
    }
    options.walkThreads = static_cast<unsigned>(
        std::clamp(qEnvironmentVariableIntValue("TWINFOLD_WALK_THREADS"), 0, 256));

    for (const QString &folder : parser.positionalArguments())
        if (const std::optional<QString> problem = addFolder(QFile::encodeName(folder), options.folders))
            return usageError(*problem);
    if (parser.isSet(from0)) {
        const ParsedCommandLine read = readFolderNames(parser.value(from0), options);
        if (read.status != Finished)
            return read;
    }
    // The folders asked about are searched too, after the others.
    for (const QByteArray &folder : options.uniqueIn)
        if (!options.folders.contains(QFile::decodeName(folder)))
            options.folders << QFile::decodeName(folder);
    if (options.folders.isEmpty())
        return usageError(QStringLiteral("no folder given"));
    return {std::move(options), Finished};
}
