#include "Fakes.h"
#include "MatchingFixture.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "TestMain.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

namespace {

struct Scan
{
    int exitCode = -1; // -1 when it did not end normally
    QByteArray out, err;
};

struct Run
{
    QByteArray input = {}; // standard input
    QString workingDirectory = {};
    QStringList wrapper = {}; // runs the tool, e.g. {"env", "TWINFOLD_THREADS=4"}
};

// During: what the test does while the tool runs, its input already closed.
Scan scan(const QStringList &arguments, const Run &run = {}, const std::function<void(QProcess &)> &during = {})
{
    QProcess process;
    process.setWorkingDirectory(run.workingDirectory);
    const QStringList command = run.wrapper + QStringList{QStringLiteral(TWINFOLD_SCAN)} + arguments;
    process.start(command.front(), command.mid(1));
    process.waitForStarted();
    process.write(run.input);
    process.closeWriteChannel();
    if (during)
        during(process);
    const bool ended = process.waitForFinished(120000); // if not, the process is killed on leaving
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// Standard output of a scan that ends with status 0; otherwise a text of no output format.
QByteArray output(const QStringList &arguments, const Run &run = {})
{
    const Scan result = scan(arguments, run);
    return result.exitCode == 0 ? result.out : "status " + QByteArray::number(result.exitCode) + ": " + result.err;
}

using Groups = QList<QList<QByteArray>>;

// Groups of raw path bytes from -0 output, each path and each group ended by a NUL; -e output
// with one more NUL reads as one group.
Groups nulGroups(const QByteArray &out)
{
    Groups groups{{}};
    for (const QByteArray &path : out.split('\0')) {
        if (path.isEmpty())
            groups.emplace_back();
        else
            groups.back() << path;
    }
    if (groups.size() < 2 || !groups.back().isEmpty() || !groups.at(groups.size() - 2).isEmpty())
        return {{"not -0 output: " + out}};
    return groups.first(groups.size() - 2);
}

// Groups of path bytes from --json output.
Groups jsonGroups(const QByteArray &out)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError || !document["complete"].toBool())
        return {{"not complete JSON: " + out}};
    Groups groups;
    for (const QJsonValue &group : document["groups"].toArray()) {
        groups.emplace_back();
        for (const QJsonValue &file : group["files"].toArray()) {
            const QJsonValue bytes = file["path_bytes"];
            groups.back() << (bytes.isUndefined() ? file["path"].toString().toUtf8()
                                                  : QByteArray::fromBase64(bytes.toString().toLatin1()));
        }
    }
    return groups;
}

// Groups as sorted texts of sorted members, relative to the tree: independent of listing order.
// A path outside the tree, or not absolute, keeps a mark that no expected text has.
QStringList canonical(const Groups &groups, const QByteArray &root)
{
    QStringList result;
    for (const QList<QByteArray> &group : groups) {
        QStringList members;
        for (const QByteArray &path : group)
            members << QString::fromUtf8(path.startsWith(root) ? path.mid(root.size()) : "outside: " + path);
        result << sorted(members).join(QLatin1Char('|'));
    }
    return sorted(result);
}

// "@x" stands for the folder x of the tree.
QStringList atTree(const FileTree &tree, const QStringList &arguments)
{
    QStringList result;
    for (const QString &argument : arguments)
        result << (argument.startsWith(u'@') ? tree.path(argument.mid(1)) : argument);
    return result;
}

// Writes files "path:size:seed[:time]", ", " between them: equal sizes and seeds give equal
// contents, "seed^n" flips the byte at n; the time is in seconds since 1970, 2017 if not given.
void plant(FileTree &tree, const QString &files)
{
    for (const QString &file : files.split(QStringLiteral(", "))) {
        const QStringList part = file.split(u':');
        QByteArray bytes = randomBytes(part[1].toInt(), part[2].section(u'^', 0, 0).toUInt());
        if (part[2].contains(u'^'))
            bytes[part[2].section(u'^', 1).toInt()] ^= 1;
        if (!setFileTime(tree.write(part[0], bytes), part.value(3, QStringLiteral("1500000000")).toLongLong()))
            qFatal("cannot set a file's time");
    }
}

// Reads what a terminal shows until the text appears; false after the timeout.
bool waitFor(int terminal, QByteArray &shown, const QByteArray &text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    char buffer[4096];
    for (pollfd fd{terminal, POLLIN, 0}; !shown.contains(text);) {
        const ssize_t n = deadline.hasExpired() || ::poll(&fd, 1, int(deadline.remainingTime())) <= 0
            ? 0
            : ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        shown.append(buffer, n);
    }
    return true;
}

// A name that only an exact reader gets back, from JSON too.
const QString Odd = QStringLiteral("line\nbreak \"q\"\t\x1b[0m\x7f C:\\x\\");

// The walk order decides which name of a hard-linked file is met first, and every folder of
// "photos" is walked before "backup": the folders are listed in that order.
const QStringList EveryGroup{
    QStringLiteral("backup/one.jpg|photos/one.jpg|photos/two.jpg"),
    QStringLiteral("backup/tiny.txt|photos/tiny.txt"),
    QStringLiteral("backup/big.bin|photos/cache/big.bin"),
    "backup/c.png|photos/bad\uFFFD.png|photos/" + Odd, // the tool lists any name
    QStringLiteral("photos/cache/linked|photos/d-copy"),
    QStringLiteral("backup/empty|photos/empty"),
};

// EveryGroup but the groups at these places, and with these others.
QStringList everyGroupBut(const QList<int> &removed, const QStringList &added = {})
{
    QStringList groups = added;
    for (int i = 0; i < EveryGroup.size(); ++i)
        groups << (removed.contains(i) ? QStringList() : QStringList{EveryGroup[i]});
    return sorted(groups);
}

} // namespace

Q_DECLARE_METATYPE(Run)

class ScanToolTest : public QObject
{
    Q_OBJECT

    FileTree m_tree, m_user, m_unique; // m_user: another user's
    QByteArray m_root;                 // the tree's folder with its separator, as bytes

    QStringList folders() const { return {m_tree.path("photos"), m_tree.path("backup")}; }
    static QString otherUser() { return QString::number(40000 + ::getpid() % 20000); }

private slots:
    void initTestCase()
    {
        m_root = QFile::encodeName(m_tree.root()) + '/';
        // a, b and c are for -e: the same letter, the same contents; then the modification time.
        plant(m_tree,
              QStringLiteral("photos/one.jpg:6000:1, photos/two.jpg:6000:1, backup/one.jpg:6000:1, "
                             "photos/tiny.txt:4:6, backup/tiny.txt:4:6, photos/cache/big.bin:20000:2, "
                             "backup/big.bin:20000:2, backup/c.png:3000:3, photos/d-copy:7000:4, "
                             "photos/cache/linked:7000:4, photos/empty:0:0, backup/empty:0:0, "
                             "photos/unique:6000:5, photos/bad:3000:3, a/long-name-1.bin:5000:10:1000, "
                             "b/x.bin:5000:10:500, c/yy.bin:5000:10:2000, a/t1:4000:11:100, b/t2:4000:11:100, "
                             "c/t3:4000:11:100, a/u.bin:3000:12:300, b/uu:3000:12:200"));
        QVERIFY(setFileTime(m_tree.path("backup/big.bin"), 1000000000, 12345678));
        m_tree.write("photos/" + Odd, randomBytes(3000, 3));
        QCOMPARE(::link(m_root + "photos/cache/linked", m_root + "backup/hard"), 0);
        // A name that is not UTF-8: the window skips it, the tool lists its bytes.
        QCOMPARE(::rename(m_root + "photos/bad", m_root + "photos/bad\xff.png"), 0);
        QCOMPARE(::symlink("photos/cache", m_root + "link"), 0);
        // Trees no listed folder reaches: many small pairs, many folders, many empty files.
        for (int i = 0; i < 600; ++i)
            plant(m_tree, QStringLiteral("cache/open/f%1/a:%2:%1, cache/open/f%1/b:%2:%1").arg(i).arg(100 + i));
        // Enough folders that collecting outlasts the test's reaction to the progress line.
        for (int i = 0; i < 5000; ++i)
            QVERIFY(QDir().mkpath(m_tree.path(QStringLiteral("cache/many/%1/%2").arg(i / 100).arg(i))));
        // Empty files are never opened: one group of rows far larger than the pipe and buffers.
        for (int i = 0; i < 3000; ++i) // names of 106 bytes
            m_tree.write(QStringLiteral("cache/empties/%1").arg(i, 106, 10, QLatin1Char('0')), {});
        // Another user's: copies, a folder it cannot open, one it cannot read in, a file it cannot
        // read, and enough folders to list that no listing thread is done before the last starts.
        plant(m_user,
              QStringLiteral("a/copy:4:30, b/copy:4:30, closed/inner:4:30, blind/inner:4:30, plain.bin:4000:31, "
                             "esc\x1b]2;pwned\x07-a.bin:4000:31, esc\x1b]2;pwned\x07-b.bin:4000:31"));
        for (int i = 0; i < 200; ++i)
            QVERIFY(QDir().mkpath(m_user.path(QStringLiteral("c/%1").arg(i))));
        QProcess::execute("chown", {"-R", otherUser() + u':' + otherUser(), m_user.root()});
        const QByteArray user = QFile::encodeName(m_user.root()) + '/';
        QVERIFY(::chmod(user, 0755) == 0 && ::chmod(user + "esc\x1b]2;pwned\x07-a.bin", 0) == 0);
        QVERIFY(::chmod(user + "closed", 0000) == 0 && ::chmod(user + "blind", 0600) == 0);
        // For --unique-in: see there.
        const QByteArray unique = QFile::encodeName(m_unique.root()) + '/';
        plant(m_unique,
              QStringLiteral("lib/copy:7000:23, other/copy:7000:23, lib/unique:7001:24, lib/start:9000:20, "
                             "other/start:9000:20^0, lib/middle:9001:21, other/middle:9001:21^4500, "
                             "lib/end:9002:22, other/end:9002:22^9001, lib/empty:0:0, other/empty:0:0, "
                             "lib/inner:7002:25, lib/sub/inner:7002:25, lib/prefixtrap:7003:26, "
                             "libx/deep/prefixtrap:7003:26, libx/only:7004:27, lib/linked:7005:28, "
                             "lib/linkedinside:7006:29, lib/locked:7007:30, other/locked:7007:31"));
        QVERIFY(::link(unique + "lib/linked", unique + "other/x") == 0
                && ::link(unique + "lib/linkedinside", unique + "lib/sub/linkedinside") == 0);
        ::chmod(unique + "lib/locked", 0);
    }

    void cleanupTestCase()
    {
        ::unlink(m_root + "photos/bad\xff.png"); // Qt cannot name it
        ::chmod(QFile::encodeName(m_user.path("closed")), 0755);
        ::chmod(QFile::encodeName(m_user.path("blind")), 0755);
    }

    // Each option against the same tree, run in its folder; -0 output read back exactly. The
    // folders come last unless a row names them.
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@x" stands for the folder x
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("expected"); // for -e, the one list it prints
        const auto row = [](const char *name, const QStringList &arguments, const QStringList &expected,
                            const QByteArray &input = {}) { QTest::newRow(name) << arguments << input << expected; };
        // The hard link's first name is left out, so its other name takes its place.
        const QStringList noCache = everyGroupBut({2, 4}, {"backup/hard|photos/d-copy"});
        row("no option", {}, sorted(EveryGroup));
        row("min-size with unit", {"--min-size", "5K"}, everyGroupBut({1, 3, 5}));
        row("min-size in bytes leaves out empty files", {"--min-size", "4"}, everyGroupBut({5}));
        row("max-size is inclusive", {"--max-size", "3000"}, sorted({EveryGroup[1], EveryGroup[3], EveryGroup[5]}));
        row("size range with nothing in it", {"--min-size", "3001", "--max-size", "5999"}, {});
        row("size range with KiB", {"--min-size", "3001", "--max-size", "6KiB"}, {EveryGroup[0]});
        row("exclude a folder", {"--exclude", "cache"}, noCache);
        row("exclude by name pattern", {"--exclude", "*.jpg"}, everyGroupBut({0}));
        row("exclude by path below the listed folder", {"--exclude", "cache/*.bin"}, everyGroupBut({2}));
        row("a path pattern does not match a bare name", {"--exclude", "*/tiny.txt"}, sorted(EveryGroup));
        row("two excludes", {"--exclude", "*.jpg", "--exclude", "tiny*"}, everyGroupBut({0, 1}));
        row("the listed folder's own name is not matched", {"--exclude", "photos"}, sorted(EveryGroup));
        row("folders from standard input", {"--from0", "-"}, sorted(EveryGroup), QByteArray("@photos\0@backup\0", 16));
        row("arguments, then stdin without a last NUL", {"--from0", "-", "@photos"}, sorted(EveryGroup), "@backup");
        row("options after the folders", {"@photos", "@backup", "--exclude", "*.jpg"}, everyGroupBut({0}));
        row("a trailing '/' matches folders", {"--exclude", "cache/"}, noCache);
        row("a trailing '/' matches folders at any depth; '.'", {"--exclude", "cache/", "--exclude", "backup/", "."},
            {"a/long-name-1.bin|b/x.bin|c/yy.bin", "a/t1|b/t2|c/t3", "a/u.bin|b/uu",
             "photos/bad\uFFFD.png|photos/" + Odd, "photos/one.jpg|photos/two.jpg"});
        row("a trailing '/' spares files", {"--exclude", "tiny.txt/", "--exclude", "cache/*.bin/"}, sorted(EveryGroup));
        // Folders as clean as they were given, made absolute; ".." taken back only past a real folder.
        row("./photos/", {"./photos/", "@backup"}, sorted(EveryGroup));
        row("doubled separators", {"photos//cache//..//", "@backup"}, sorted(EveryGroup));
        row(".. past a link", {"link/..", "@backup"},
            sorted(QStringList(EveryGroup).replaceInStrings("photos/", "link/../")));

        // Which copies -e keeps, by each rule, on a tree with ties; the folders are listed a, b, c.
        const auto keep = [&](const char *name, const QStringList &options, const QString &printed) {
            row(name, QStringList{"-e"} + options + QStringList{"@a", "@b", "@c"}, {printed});
        };
        keep("-e", {}, "b/t2|b/uu|b/x.bin|c/t3|c/yy.bin");
        keep("--keep first", {"--keep", "first"}, "b/t2|b/uu|b/x.bin|c/t3|c/yy.bin");
        keep("oldest, a tie kept first", {"--keep", "oldest"}, "a/long-name-1.bin|a/u.bin|b/t2|c/t3|c/yy.bin");
        keep("newest, a tie kept first", {"--keep", "newest"}, "a/long-name-1.bin|b/t2|b/uu|b/x.bin|c/t3");
        keep("shortest, a tie kept first", {"--keep", "shortest"}, "a/long-name-1.bin|a/u.bin|b/t2|c/t3|c/yy.bin");
        keep("under a folder; none there: first", {"--keep-under", "@c"}, "a/long-name-1.bin|a/t1|b/t2|b/uu|b/x.bin");
        keep("under a folder; none there: oldest", {"--keep-under", "@c/", "--keep", "oldest"},
             "a/long-name-1.bin|a/t1|a/u.bin|b/t2|b/x.bin");
        keep("under two folders", {"--keep-under", "@b", "--keep-under", "@c"}, "a/long-name-1.bin|a/t1|a/u.bin");
        keep("under the folder holding them all", {"--keep-under", "@"}, "");
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, expected);
        if (input.isEmpty() && arguments.filter("@").isEmpty() && !arguments.contains("."))
            arguments << QStringLiteral("@photos") << QStringLiteral("@backup");
        const QByteArray out = output(QStringList{QStringLiteral("-0")} + atTree(m_tree, arguments),
                                      {.input = input.replace("@", m_root), .workingDirectory = m_tree.root()});
        QCOMPARE(canonical(nulGroups(arguments.contains("-e") ? out + '\0' : out), m_root), expected);
    }

    // Lines, -0 and JSON list the same groups in the same order as the window's search, with
    // any name exactly; JSON adds sizes and modification times. -e lists every copy but the
    // first of each group: one flat list, or in JSON the groups without it.
    void formatsFollowTheWindowsSearch()
    {
        MemorySettingsStore settings;
        RecordingHost host;
        VectorSink sink;
        SearchDriver driver(host, settings, sink);
        driver.setAskAboveLimit(false);
        struct Rows final : FolderRows
        {
            QStringList rows;
            std::size_t rowCount() const override { return std::size_t(rows.size()); }
            QString rowText(std::size_t row) const override { return rows.at(qsizetype(row)); }
        } rows;
        rows.rows = folders();
        QCOMPARE(driver.run(rows), SearchDriver::Outcome::Found);
        // The tool told to leave out the name that is not UTF-8 lists what the window lists.
        QByteArray window;
        for (const QStringList &group : sink.groups())
            window += QFile::encodeName(group.join(QChar(0))) + QByteArray(2, '\0');
        QCOMPARE(canonical(nulGroups(window), m_root), everyGroupBut({3}, {"backup/c.png|photos/" + Odd}));
        const QByteArray bad = m_root + "photos/bad\xff.png";

        for (const char *threads : {"1", "4"}) {
            const Run run{.wrapper = {"env", QStringLiteral("TWINFOLD_THREADS=") + threads}};
            const Scan nul = scan(QStringList{QStringLiteral("-0")} + folders(), run);
            const Groups scanned = nulGroups(nul.exitCode == 0 ? nul.out : QByteArray("failed"));
            QCOMPARE(canonical(scanned, m_root), sorted(EveryGroup));
            QCOMPARE(output(QStringList{"-0", "--exclude", "bad*"} + folders(), run), window);
            QVERIFY(!nul.err.contains('\r')); // no progress line when standard error is not a terminal
            QCOMPARE(output(folders(), run), QByteArray(nul.out).replace('\0', '\n'));

            const QByteArray json = output(QStringList{QStringLiteral("--json")} + folders(), run);
            QCOMPARE(jsonGroups(json), scanned);
            const QJsonObject document = QJsonDocument::fromJson(json).object();
            for (const QJsonValue &group : document["groups"].toArray()) {
                const QJsonArray files = group["files"].toArray();
                // Every group's last name, never the one that is not UTF-8, names a file of its size.
                QCOMPARE(group["size"].toInteger(-1), QFileInfo(files.last()["path"].toString()).size());
                for (const QJsonValue &file : files) {
                    // path_bytes only where the name is not UTF-8, with its exact bytes.
                    const QString path = file["path"].toString();
                    QCOMPARE(QByteArray::fromBase64(file["path_bytes"].toString().toLatin1()),
                             path.contains(QChar::ReplacementCharacter) ? bad : QByteArray());
                    if (path.endsWith(QStringLiteral("backup/big.bin")))
                        QCOMPARE(file["mtime"].toString(), QStringLiteral("2001-09-09T01:46:40.012345678Z"));
                }
            }
            QVERIFY(json.contains("line\\nbreak")); // escaped, not a raw newline in a string
            // Every control character in a name is escaped: the only raw one ends a line.
            QVERIFY(std::all_of(json.cbegin(), json.cend(), [](char c) { return uchar(c) >= 0x20 || c == '\n'; }));
            // The header names the program, the command and the summary's counts.
            const QJsonValue summary = document["summary"];
            QCOMPARE(
                (QJsonArray{document["program"], document["version"], document["folders"], document["options"]["keep"],
                            summary["files_collected"], summary["groups"], summary["files_in_groups"],
                            summary["extra_copies"]}),
                (QJsonArray{"twinfold-scan", "7.0", QJsonArray::fromStringList(folders()), "first", 15, 6, 14, 8}));

            Groups rest;
            QList<QByteArray> flat;
            for (const QList<QByteArray> &group : scanned) {
                rest << group.mid(1);
                flat += group.mid(1);
            }
            QCOMPARE(jsonGroups(output(QStringList{"--json", "--omit-first"} + folders(), run)), rest);
            QCOMPARE(nulGroups(output(QStringList{"-0", "--omit-first"} + folders(), run) + '\0'), Groups{flat});
            QCOMPARE(output(QStringList{"-e"} + folders(), run), flat.join('\n') + '\n');
        }
    }

    // The exit status and what each stream says: wrong arguments (2, with the usage), results
    // that cannot be written (1), help and version (0), the summary and -q.
    void statusAndMessages_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@photos" and "@backup" stand for the folders
        QTest::addColumn<Run>("run");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("out"); // the first starts it; none: not looked at
        QTest::addColumn<QByteArrayList>("err"); // "!" for what is not shown; none: nothing shown
        const auto row = [](const char *name, const QStringList &arguments, int status, const QByteArrayList &err,
                            const QByteArrayList &out = {},
                            const Run &run = {}) { QTest::newRow(name) << arguments << run << status << out << err; };
        const QStringList both{QStringLiteral("@photos"), QStringLiteral("@backup")};
        row("summary", both, 0,
            {": 14 files in 6 groups, 8 of them extra copies\n", "!left out by size or name", "!No duplicate",
             "!skipped"});
        row("files left out by options", QStringList{"--exclude", "*.jpg", "--max-size", "19999"} + both, 0,
            {": 5 files left out by size or name", ": 9 files in 4 groups, 5 of them extra copies"});
        row("files of one size", QStringList{"--min-size", "6000", "--max-size", "6000"} + both, 0,
            {": 3 files in 1 group, 2 of them extra copies\n"});
        row("nothing found", QStringList{"--min-size", "1T"} + both, 0,
            {"No duplicate images found.", ": 0 files in 0 groups"});
        row("files with no copy", QStringList{"--unique-in", "@photos"} + both, 0,
            {": 1 file (6000 bytes) has no copy in the other folders, 0 could not be read\n", "!groups",
             "!extra copies"});
        row("quiet", QStringList{"-q"} + both, 0, {});
        row("quiet, nothing found", QStringList{"-q", "--min-size", "1T"} + both, 0, {});

        const QByteArray usage("Usage: twinfold-scan [OPTION]... FOLDER...\n");
        for (const char *help : {"--help", "-h"})
            row(help, {help}, 0, {}, {usage, "130", "| xargs -0 -r gio trash --\n"});
        for (const char *option : {"--version", "-v"})
            row(option, {option}, 0, {},
                {"twinfold-scan (Twinfold) 7.0\nCopyright (C) 2026 Quillmoor\nLicense GPL-2.0-or-later"});

        // A full disk on standard output is an error, never a quiet success.
        const QByteArrayList full{"cannot write", "No space left on device"};
        const Run toFull{.wrapper = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/full"}};
        for (const QStringList &arguments : {both, QStringList{"-0"} + both, QStringList{"--json"} + both,
                                             QStringList{"--help"}, QStringList{"--version"}})
            row(qPrintable(arguments.front() + " to a full disk"), arguments, 1, full, {}, toFull);
        // Reading keeps folders open to open their files by name; where few descriptors are allowed
        // it keeps none rather than starve the readers: every group is found, no file unreadable.
        row("within 512 open files", {"@cache/open"}, 0, {": 1200 files in 600 groups", ", 0 left out as unreadable"},
            {}, {.wrapper = {"prlimit", "--nofile=512"}});
        // As an unprivileged user of its own (a limit on processes counts all of a user's), the tool
        // names on standard error what it could not read, with control characters escaped, and lists
        // such names exactly; under limits on processes and memory it reads with the threads the
        // system allows, and when not even one can start, stops with a status of its own; never an abort.
        const QByteArray user = QFile::encodeName(m_user.root()) + '/';
        const QByteArrayList listed{user, user + "a/copy\n", user + "b/copy\n", user + "esc\x1b]2;pwned\x07-b.bin\n",
                                    user + "plain.bin\n"};
        QByteArrayList unreadable{"left out while collecting: 1 folders, 1 files", ", 1 left out as unreadable\n",
                                  ": 4 files in 2 groups", "!Not enough memory", "!\x1b"};
        unreadable += {"!\x07", "cannot read folder " + user + "closed/: Permission denied",
                       "cannot read file " + user + "blind/inner: Permission denied",
                       "twinfold-scan: cannot read file " + user + "esc\\x1b]2;pwned\\x07-a.bin: Permission denied"};
        const QByteArray noThread("twinfold-scan: Not enough memory or threads are left to go on finding duplicates");
        const auto asUser = [&](const char *name, const QString &limit, const QString &readers, int status) {
            row(name, {m_user.root()}, status, status == 0 ? unreadable : QByteArrayList{noThread},
                status == 0 ? listed : QByteArrayList{},
                {.wrapper = {"env", "TWINFOLD_THREADS=" + readers, "setpriv", "--reuid=" + otherUser(),
                             "--regid=" + otherUser(), "--clear-groups", "prlimit", limit}});
        };
        asUser("another user, no limit", "--nofile=1024", {}, 0);
        asUser("another user, no thread at all", "--nproc=1", "4", 3);
        asUser("another user, two threads for 16 readers", "--nproc=3", "16", 0);
#ifndef __SANITIZE_ADDRESS__ // which reserves far more address space than this
        asUser("another user, 64 readers in 300 MB", "--as=300000000", "64", 0);
#endif
        row("folder names from a missing list", {"--from0", "/no/such/list"}, 1,
            {"cannot read folder names from /no/such/list: No such file or directory", "!Usage"});

        const auto bad = [&](const char *name, const QStringList &arguments, const QByteArray &said = {},
                             const Run &run = {}) {
            row(name, arguments, 2, {"Usage: twinfold-scan", said}, {}, run);
        };
        const QString tmp = QStringLiteral("/tmp");
        bad("only options", {"-0"});
        bad("unknown option", {"-x", tmp});
        bad("missing folder", {"/no/such/folder/here"});
        bad("a file, not a folder", {QCoreApplication::applicationFilePath()});
        bad("empty folder name", {QString()});
        bad("bad thread count", {tmp}, {}, {.wrapper = {"env", "TWINFOLD_THREADS=zero"}});
        bad("size without a number", {"--min-size", "K", tmp});
        bad("unknown unit", {"--max-size", "5Q", tmp});
        bad("binary suffix without a unit", {"--max-size", "5iB", tmp});
        bad("negative size", {"--min-size", "-1", tmp});
        bad("size too large", {"--max-size", "99999999999T", tmp});
        bad("min above max", {"--min-size", "2K", "--max-size", "1K", tmp});
        bad("json and -0", {"--json", "-0", tmp});
        bad("empty pattern", {"--exclude", "", tmp});
        bad("option value missing", {tmp, "--min-size"});
        bad("no folder on standard input", {"--from0", "-"});
        bad("not a folder on standard input", {"--from0", "-"}, {}, {.input = QByteArray("/tmp\0/no/such\0", 14)});
        bad("folder name not UTF-8", {"--from0", "-"}, {}, {.input = "/tmp/bad\xff"});
        // --from0 is read as a stream: the first bad name ends it, and no name grows without bound.
        bad("endless empty names", {"--from0", "/dev/zero"}, ": not a folder");
        bad("a name without end", {"--from0", "-"}, "a folder name longer than 4095 bytes",
            {.input = QByteArray(5000, 'a')});
        bad("--keep without -e", {"--keep", "oldest", tmp});
        bad("--keep-under without -e", {"--keep-under", tmp, tmp});
        bad("unknown keep rule", {"-e", "--keep", "largest", tmp});
        bad("--keep-under not a folder", {"-e", "--keep-under", "/no/such/folder", tmp});
        bad("--unique-in with -e", {"-e", "--unique-in", tmp});
        bad("--unique-in not a folder", {"--unique-in", "/no/such/folder", tmp});
    }

    void statusAndMessages()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Run, run);
        QFETCH(int, status);
        QFETCH(QByteArrayList, out);
        QFETCH(QByteArrayList, err);
        const Scan result = scan(atTree(m_tree, arguments), run);
        if (result.exitCode != 0 && (result.err.startsWith("setpriv") || result.err.startsWith("prlimit")))
            QSKIP("cannot become an unprivileged user with limits here");
        QCOMPARE(result.exitCode, status);
        if (status != 0)
            QCOMPARE(result.out, QByteArray());
        for (const QByteArray &text : std::as_const(out))
            QVERIFY2(&text == &out.front() ? result.out.startsWith(text) : result.out.contains(text),
                     result.out.constData());
        if (err.isEmpty())
            QCOMPARE(result.err, QByteArray());
        for (const QByteArray &text : std::as_const(err))
            QVERIFY2(result.err.contains(text.startsWith('!') ? text.mid(1) : text) != text.startsWith('!'),
                     result.err.constData());
    }

    // --unique-in on a planted tree: copies outside, copies only inside, one-byte traps at the start,
    // middle and end, empty files, hard links met first inside or outside, a sibling whose name
    // starts with the folder's, an unreadable file; the folder listed twice.
    void uniqueIn_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("-0, the folder first") << QStringList{"-0", "--unique-in", "@lib", "@lib", "@other", "@libx"};
        QTest::newRow("-0, the folder last") << QStringList{"-0", "--unique-in", "@lib/", "@other", "@libx", "@lib"};
        QTest::newRow("lines, added by the option") << QStringList{"--unique-in", "@lib", "@other", "@libx"};
        QTest::newRow("--json") << QStringList{"--json", "--unique-in", "@lib", "@other", "@libx", "@lib"};
    }

    void uniqueIn()
    {
        QFETCH(QStringList, arguments);
        const QByteArray root = QFile::encodeName(m_unique.root()) + '/';
        const Scan result = scan(atTree(m_unique, arguments));
        QCOMPARE(result.exitCode, 0);
        QList<QByteArray> paths;
        if (arguments.contains(QStringLiteral("--json"))) {
            const QJsonDocument json = QJsonDocument::fromJson(result.out);
            for (const QJsonValue &file : json["unique"].toArray())
                paths << file["path"].toString().toUtf8();
            QCOMPARE(json["could_not_be_read"].toArray().size(), ::geteuid() == 0 ? 0 : 1);
        } else { // no name of the tree holds a line break
            const bool nul = arguments.contains(QStringLiteral("-0"));
            paths = nulGroups((nul ? result.out : QByteArray(result.out).replace('\n', '\0')) + '\0').value(0);
        }
        // Which name of the linked file comes first depends on the walk, not on the rule.
        for (QByteArray &path : paths)
            path.replace("sub/linkedinside", "linkedinside");
        QCOMPARE(canonical({paths}, root).value(0),
                 QStringLiteral("lib/end|lib/inner|lib/linkedinside|%1lib/middle|lib/start|lib/sub/inner|lib/unique")
                     .arg(::geteuid() == 0 ? "lib/locked|" : "")); // root reads it: unique
        if (::geteuid() != 0)
            QVERIFY2(result.err.contains("could not be read: " + root + "lib/locked"), result.err.constData());
    }

    // The one-liners of the manual page, without jq: keep the oldest, keep what is under a folder.
    void peersOneLiners_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("delete extras, keeping the oldest")
            << QStringLiteral("twinfold-scan -0 -e --keep oldest . | xargs -0 -r gio trash --")
            << QStringList{"other/q", "x y/old name"};
        QTest::newRow("keep everything under a folder")
            << QStringLiteral("twinfold-scan -0 -e --keep-under master master other 'x y' | xargs -0 -r gio trash --")
            << QStringList{"master/late copy", "other/q"};
    }

    void peersOneLiners()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, left);
        FileTree tree, data;
        // other/q: the first listed of a group with none under master
        plant(tree,
              QStringLiteral("x y/old name:3000:20:100, x y/new\nname:3000:20:900, master/late copy:3000:20:950, "
                             "other/q:2000:21:700, other/sub/q 2:2000:21:800"));
        // In the tree, with twinfold-scan on the PATH and a trash of the test's own.
        const Run run{.workingDirectory = tree.root(),
                      .wrapper = {"sh", "-c", "export PATH=\"${0%/*}:$PATH\" XDG_DATA_HOME=\"$1\" && eval \"$2\""}};
        QCOMPARE(scan({data.root(), command}, run).exitCode, 0);
        QStringList files;
        for (QDirIterator it(tree.root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            files << QDir(tree.root()).relativeFilePath(it.next());
        QCOMPARE(sorted(files), left);
        QCOMPARE(QDir(data.path("Trash/files")).entryList(QDir::Files).size(), 3);
    }

    // A folder bound into itself: the file its mount point hides is found through the mount,
    // and a file reached both ways is listed once.
    void folderBoundIntoItself()
    {
        FileTree tree;
        plant(tree, QStringLiteral("T/a/b/hidden:4000:40, T/c/twin:4000:40, T/c/unique:4000:41"));
        const BindMount bound(tree.path("T"), tree.path("T/a/b"));
        if (!bound.mounted())
            QSKIP("cannot bind folders here (needs root)");
        const QString groups =
            canonical(nulGroups(output({"-0", tree.path("T")})), QFile::encodeName(tree.path("T/"))).join(u' ');
        QVERIFY2(groups == "a/b/a/b/hidden|c/twin" || groups == "a/b/a/b/hidden|a/b/c/twin", qPrintable(groups));
    }

    // A stop ends with "stopped" and 128 + the signal, in whichever phase it comes; the
    // progress line on a terminal says where the scan is.
    void stopSignals_data()
    {
        QTest::addColumn<QByteArray>("phase"); // "collecting" many folders, "matching" many empty files
        // The folders' names hold neither word: the signal must wait for the phase, not the path.
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C while collecting") << QByteArray("collecting") << SIGINT;
        QTest::newRow("SIGTERM while collecting, JSON") << QByteArray("collecting") << SIGTERM; // not complete
        // Standard output is not read until the signal is sent: the scan waits to write its rows.
        QTest::newRow("Ctrl-C while the rows are written") << QByteArray("matching") << SIGINT;
    }

    void stopSignals()
    {
        QFETCH(QByteArray, phase);
        QFETCH(int, signal);
        const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const auto closeTerminal = qScopeGuard([&] { ::close(terminal); });
        if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
            QSKIP("no pseudo-terminal here");
        QByteArray shown;
        bool reached = false;
        const bool json = QByteArray(QTest::currentDataTag()).endsWith("JSON");
        const Scan result = scan(
            {json ? QStringLiteral("--json") : QStringLiteral("-0"),
             m_tree.path(phase == "matching" ? "cache/empties" : "cache/many")},
            {.wrapper = {"sh", "-c", "exec \"$0\" \"$@\" 2>" + QString::fromLocal8Bit(::ptsname(terminal))}},
            [&](QProcess &process) {
                reached = waitFor(terminal, shown, phase, 60000);
                ::kill(pid_t(process.processId()), signal);
            });
        QVERIFY2(reached, shown.constData());
        waitFor(terminal, shown, "stopped", 5000);
        QCOMPARE(result.exitCode, 128 + signal);
        if (json)
            QVERIFY2(result.out.endsWith("\"complete\": false}\n"), result.out.right(200).constData());
        QVERIFY2(shown.contains("twinfold-scan: stopped"), shown.constData());
        QVERIFY(!shown.contains("No duplicate images found."));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(ScanToolTest)
#include "tst_scantool.moc"
