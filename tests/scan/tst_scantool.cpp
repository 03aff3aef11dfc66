#include "Fakes.h"
#include "MatchingFixture.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
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
    QByteArray threads;
    QByteArray input;      // standard input
    QString outputFile;    // standard output goes there instead of a pipe
    QString errorTerminal; // standard error goes to this terminal instead of a pipe
    QString workingDirectory;
};

void startScan(QProcess &process, const QStringList &arguments, const Run &run)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!run.threads.isEmpty())
        environment.insert(QStringLiteral("TWINFOLD_THREADS"), QString::fromLatin1(run.threads));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(run.workingDirectory);
    if (!run.outputFile.isEmpty())
        process.setStandardOutputFile(run.outputFile, QIODevice::Append);
    if (!run.errorTerminal.isEmpty())
        process.setStandardErrorFile(run.errorTerminal, QIODevice::Append);
    process.start(QStringLiteral(TWINFOLD_SCAN), arguments);
    process.waitForStarted();
    process.write(run.input);
    process.closeWriteChannel();
}

Scan finishScan(QProcess &process)
{
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

Scan scan(const QStringList &arguments, const Run &run = {})
{
    QProcess process;
    startScan(process, arguments, run);
    return finishScan(process);
}

using Groups = QList<QList<QByteArray>>;

// Groups of raw path bytes from -0 output; -e output reads as one group.
Groups nulGroups(const QByteArray &out, bool flat = false)
{
    Groups groups;
    QList<QByteArray> group;
    qsizetype at = 0;
    while (at < out.size()) {
        const qsizetype end = out.indexOf('\0', at);
        if (end < 0)
            return {}; // a path without its terminator
        if (end == at) {
            groups << group;
            group.clear();
        } else {
            group << out.mid(at, end - at);
        }
        at = end + 1;
    }
    if (flat && !group.isEmpty())
        return {group};
    return group.isEmpty() ? groups : Groups{};
}

// Groups of path bytes from --json output, with each file's object.
Groups jsonGroups(const QByteArray &out, QList<QJsonObject> *files = nullptr, QList<qint64> *sizes = nullptr)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError || !document.object().value(QStringLiteral("complete")).toBool())
        return {};
    Groups groups;
    for (const QJsonValue &group : document.object().value(QStringLiteral("groups")).toArray()) {
        QList<QByteArray> paths;
        for (const QJsonValue &file : group.toObject().value(QStringLiteral("files")).toArray()) {
            const QJsonObject object = file.toObject();
            paths << (object.contains(QStringLiteral("path_bytes"))
                          ? QByteArray::fromBase64(object.value(QStringLiteral("path_bytes")).toString().toLatin1())
                          : object.value(QStringLiteral("path")).toString().toUtf8());
            if (files)
                *files << file.toObject();
        }
        if (sizes)
            *sizes << group.toObject().value(QStringLiteral("size")).toInteger(-1);
        groups << paths;
    }
    return groups;
}

// Groups as sorted texts of sorted members, relative to the tree: independent of listing order.
QStringList canonical(const Groups &groups, const QByteArray &root)
{
    QStringList result;
    for (const QList<QByteArray> &group : groups) {
        QStringList members;
        for (const QByteArray &path : group)
            members << QString::fromUtf8(path.startsWith(root) ? path.mid(root.size()) : path);
        members.sort();
        result << members.join(QLatin1Char('|'));
    }
    result.sort();
    return result;
}

void writeRaw(const QByteArray &path, const QByteArray &contents)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, contents.constData(), std::size_t(contents.size())) != ssize_t(contents.size()))
        qFatal("cannot write a test file");
    ::close(fd);
}

class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    QString slave() const { return m_slave; }
    // Reads what the terminal shows until the text appears; false after the timeout.
    bool waitFor(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!shown.contains(text)) {
            pollfd fd{m_master, POLLIN, 0};
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0 || ::poll(&fd, 1, left) <= 0)
                return false;
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            shown.append(buffer, n);
        }
        return true;
    }
    QByteArray shown;

private:
    int m_master = -1;
    QString m_slave;
};

// The files left below a folder, relative to it and sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    return sorted(files);
}

// The walk order decides which name of a hard-linked file is met first, and every folder of
// "photos" is walked before "backup": the folders are listed in that order.
const QStringList EveryGroup{
    QStringLiteral("backup/one.jpg|photos/one.jpg|photos/two.jpg"),
    QStringLiteral("backup/tiny.txt|photos/tiny.txt"),
    QStringLiteral("backup/big.bin|photos/cache/big.bin"),
    QStringLiteral("backup/c.png|photos/bad\uFFFD.png|photos/line\nbreak.png"), // the tool lists any name
    QStringLiteral("photos/cache/linked|photos/d-copy"),
    QStringLiteral("backup/empty|photos/empty"),
};

QStringList everyGroupBut(const QStringList &removed, const QStringList &added = {})
{
    QStringList groups = EveryGroup;
    for (const QString &group : removed)
        groups.removeAll(group);
    return sorted(groups + added);
}

} // namespace

class ScanToolTest : public QObject
{
    Q_OBJECT

    FileTree m_tree;
    QByteArray m_root; // the tree's folder with its separator, as bytes

    QStringList folders() const { return {m_tree.path("photos"), m_tree.path("backup")}; }

private slots:
    void initTestCase()
    {
        m_root = QFile::encodeName(m_tree.root()) + '/';
        const QByteArray a = randomBytes(6000, 1), b = randomBytes(20000, 2), c = randomBytes(3000, 3),
                         d = randomBytes(7000, 4);
        for (const char *name : {"photos/one.jpg", "photos/two.jpg", "backup/one.jpg"})
            m_tree.write(QString::fromLatin1(name), a);
        m_tree.write("photos/tiny.txt", "tiny");
        m_tree.write("backup/tiny.txt", "tiny");
        m_tree.write("photos/cache/big.bin", b);
        QVERIFY(setFileTime(m_tree.write("backup/big.bin", b), 1000000000, 123456789));
        m_tree.write("photos/line\nbreak.png", c);
        m_tree.write("backup/c.png", c);
        m_tree.write("photos/d-copy", d);
        m_tree.write("photos/cache/linked", d);
        QCOMPARE(::link(QFile::encodeName(m_tree.path("photos/cache/linked")).constData(),
                        QFile::encodeName(m_tree.path("backup/hard")).constData()),
                 0);
        m_tree.write("photos/empty", {});
        m_tree.write("backup/empty", {});
        m_tree.write("photos/unique", randomBytes(6000, 5));
        // A name that is not UTF-8: the window skips it, the tool lists its bytes.
        writeRaw(m_root + "photos/bad\xff.png", c);
    }

    void cleanupTestCase() { ::unlink(m_root + "photos/bad\xff.png"); } // Qt cannot name it

    // Each option against the same tree; -0 output read back exactly.
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@photos" and "@backup" stand for the folders
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("expected");

        const QStringList both{QStringLiteral("@photos"), QStringLiteral("@backup")};
        QTest::newRow("no option") << both << QByteArray() << sorted(EveryGroup);
        QTest::newRow("min-size with unit") << QStringList{"--min-size", "5K"} + both << QByteArray()
                                            << everyGroupBut({EveryGroup[1], EveryGroup[3], EveryGroup[5]});
        QTest::newRow("min-size in bytes leaves out empty files")
            << QStringList{"--min-size", "4"} + both << QByteArray() << everyGroupBut({EveryGroup[5]});
        QTest::newRow("max-size is inclusive") << QStringList{"--max-size", "3000"} + both << QByteArray()
                                               << sorted({EveryGroup[1], EveryGroup[3], EveryGroup[5]});
        QTest::newRow("size range with nothing in it")
            << QStringList{"--min-size", "3001", "--max-size", "5999"} + both << QByteArray() << QStringList{};
        QTest::newRow("size range with KiB") << QStringList{"--min-size", "3001", "--max-size", "6KiB"} + both
                                             << QByteArray() << QStringList{EveryGroup[0]};
        // The hard link's first name is left out, so its other name takes its place.
        QTest::newRow("exclude a folder")
            << QStringList{"--exclude", "cache"} + both << QByteArray()
            << everyGroupBut({EveryGroup[2], EveryGroup[4]}, {QStringLiteral("backup/hard|photos/d-copy")});
        QTest::newRow("exclude by name pattern")
            << QStringList{"--exclude", "*.jpg"} + both << QByteArray() << everyGroupBut({EveryGroup[0]});
        QTest::newRow("exclude by path below the listed folder")
            << QStringList{"--exclude", "cache/*.bin"} + both << QByteArray() << everyGroupBut({EveryGroup[2]});
        QTest::newRow("a path pattern does not match a bare name")
            << QStringList{"--exclude", "*/tiny.txt"} + both << QByteArray() << sorted(EveryGroup);
        QTest::newRow("two excludes") << QStringList{"--exclude", "*.jpg", "--exclude", "tiny*"} + both << QByteArray()
                                      << everyGroupBut({EveryGroup[0], EveryGroup[1]});
        QTest::newRow("the listed folder's own name is not matched")
            << QStringList{"--exclude", "photos"} + both << QByteArray() << sorted(EveryGroup);
        QTest::newRow("folders from standard input")
            << QStringList{"--from0", "-"} << QByteArray("@photos\0@backup\0", 16) << sorted(EveryGroup);
        QTest::newRow("arguments, then standard input without a last NUL")
            << QStringList{"--from0", "-", "@photos"} << QByteArray("@backup") << sorted(EveryGroup);
        QTest::newRow("options after the folders")
            << both + QStringList{"--exclude", "*.jpg"} << QByteArray() << everyGroupBut({EveryGroup[0]});
        QTest::newRow("a trailing '/' matches folders")
            << QStringList{"--exclude", "cache/"} + both << QByteArray()
            << everyGroupBut({EveryGroup[2], EveryGroup[4]}, {QStringLiteral("backup/hard|photos/d-copy")});
        QTest::newRow("a trailing '/' matches no file")
            << QStringList{"--exclude", "tiny.txt/", "--exclude", "cache/*.bin/"} + both << QByteArray()
            << sorted(EveryGroup);
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, expected);
        for (QString &argument : arguments)
            if (argument.startsWith(u'@'))
                argument = m_tree.path(argument.mid(1));
        input.replace("@", m_root);

        const Scan result = scan(QStringList{QStringLiteral("-0")} + arguments, {{}, input, {}, {}, {}});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(canonical(nulGroups(result.out), m_root), expected);
    }

    // Lines, -0 and JSON list the same groups in the same order as the window's search, with
    // any name exactly; JSON adds sizes and modification times.
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
        Groups window;
        for (const QStringList &group : sink.groups()) {
            window << QList<QByteArray>{};
            for (const QString &path : group)
                window.back() << QFile::encodeName(path);
        }
        // The window skips the name that is not UTF-8; the tool lists it where the walk met it.
        const QByteArray bad = m_root + "photos/bad\xff.png";
        QCOMPARE(canonical(window, m_root), everyGroupBut({EveryGroup[3]}, {"backup/c.png|photos/line\nbreak.png"}));

        for (const char *threads : {"1", "4"}) {
            const Scan nul = scan(QStringList{QStringLiteral("-0")} + folders(), {threads, {}, {}, {}, {}});
            QCOMPARE(nul.exitCode, 0);
            const Groups scanned = nulGroups(nul.out);
            QCOMPARE(canonical(scanned, m_root), sorted(EveryGroup));
            // Without it, the window's groups in the window's order; its group may come sooner.
            Groups withoutBad = scanned, windowBut = window;
            const auto takeGroupOf = [&](Groups &groups) {
                const auto at = std::find_if(groups.begin(), groups.end(), [&](const QList<QByteArray> &group) {
                    return group.contains(m_root + "backup/c.png");
                });
                QList<QByteArray> taken = *at;
                groups.erase(at);
                taken.removeAll(bad);
                return taken;
            };
            QCOMPARE(takeGroupOf(withoutBad), takeGroupOf(windowBut));
            QCOMPARE(withoutBad, windowBut);
            QVERIFY(!nul.err.contains('\r')); // no progress line when standard error is not a terminal

            const Scan lines = scan(folders(), {threads, {}, {}, {}, {}});
            QCOMPARE(lines.exitCode, 0);
            QCOMPARE(lines.out, QByteArray(nul.out).replace('\0', '\n'));

            const Scan json = scan(QStringList{QStringLiteral("--json")} + folders(), {threads, {}, {}, {}, {}});
            QCOMPARE(json.exitCode, 0);
            QList<QJsonObject> files;
            QList<qint64> sizes;
            QCOMPARE(jsonGroups(json.out, &files, &sizes), scanned);
            for (qsizetype g = 0; g < scanned.size(); ++g)
                QCOMPARE(sizes[g], QFileInfo(QFile::decodeName(scanned[g].at(scanned[g].front() == bad))).size());
            QString bigTime;
            for (const QJsonObject &file : std::as_const(files)) {
                // path_bytes only where the name is not UTF-8, with its exact bytes.
                const QString path = file.value(QStringLiteral("path")).toString();
                QCOMPARE(QByteArray::fromBase64(file.value(QStringLiteral("path_bytes")).toString().toLatin1()),
                         path.contains(QChar::ReplacementCharacter) ? bad : QByteArray());
                if (path.endsWith(QStringLiteral("backup/big.bin")))
                    bigTime = file.value(QStringLiteral("mtime")).toString();
            }
            QCOMPARE(bigTime, QStringLiteral("2001-09-09T01:46:40.123456789Z"));
            QVERIFY(json.out.contains("line\\nbreak.png")); // escaped, not a raw newline in a string
            // The header names the program, the command and the summary's counts.
            const QJsonObject document = QJsonDocument::fromJson(json.out).object();
            QCOMPARE(document.value(QStringLiteral("program")).toString(), QStringLiteral("twinfold-scan"));
            QCOMPARE(document.value(QStringLiteral("version")).toString(), QStringLiteral("7.0"));
            QCOMPARE(document.value(QStringLiteral("folders")).toVariant().toStringList(), folders());
            QCOMPARE(document.value(QStringLiteral("options")).toObject().value(QStringLiteral("keep")).toString(),
                     QStringLiteral("first"));
            const QJsonObject summary = document.value(QStringLiteral("summary")).toObject();
            QCOMPARE(summary.value(QStringLiteral("files_collected")).toInt(), 15);
            QCOMPARE(summary.value(QStringLiteral("groups")).toInt(), 6);
            QCOMPARE(summary.value(QStringLiteral("files_in_groups")).toInt(), 14);
            QCOMPARE(summary.value(QStringLiteral("extra_copies")).toInt(), 8);
        }
    }

    // A JSON reader gets every name back exactly: quotes, backslashes and control characters.
    void jsonNamesComeBackExactly()
    {
        FileTree tree;
        const QByteArrayList names{"back\\slash", "C:\\x\\",     "quote\"d", "tab\there",
                                   "esc\x1b[0m",  "line\nbreak", "\x7f"};
        for (const QByteArray &name : names)
            tree.write(QString::fromUtf8(name), "same");
        const Scan result = scan({QStringLiteral("--json"), tree.root()});
        QCOMPARE(result.exitCode, 0);
        Groups expected{{}};
        for (const QByteArray &name : names)
            expected[0] << QFile::encodeName(tree.root()) + '/' + name;
        Groups listed = jsonGroups(result.out);
        QVERIFY2(listed.size() == 1, result.out.constData());
        std::sort(listed[0].begin(), listed[0].end());
        std::sort(expected[0].begin(), expected[0].end());
        QCOMPARE(listed, expected);
    }

    // What standard error tells: the summary, what the options left out, and -q keeping only
    // the messages about files that could not be searched.
    void summary_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArrayList>("shown");
        QTest::addColumn<QByteArrayList>("notShown");
        QTest::newRow("summary") << QStringList{} << QByteArrayList{": 14 files in 6 groups, 8 of them extra copies\n"}
                                 << QByteArrayList{"left out by size or name", "No duplicate", "skipped"};
        QTest::newRow("files left out by options")
            << QStringList{"--exclude", "*.jpg", "--max-size", "19999"}
            << QByteArrayList{": 5 files left out by size or name", ": 9 files in 4 groups, 5 of them extra copies"}
            << QByteArrayList{};
        QTest::newRow("nothing found") << QStringList{"--min-size", "1T"}
                                       << QByteArrayList{"No duplicate images found.", ": 0 files in 0 groups"}
                                       << QByteArrayList{};
        QTest::newRow("files with no copy") << QStringList{"--unique-in", m_tree.path("photos")}
                                            << QByteArrayList{": 1 file (6000 bytes) has no copy in the other "
                                                              "folders, 0 could not be read\n"}
                                            << QByteArrayList{"groups", "extra copies"};
        QTest::newRow("quiet") << QStringList{"-q"} << QByteArrayList{} << QByteArrayList{"groups", "collected"};
        QTest::newRow("quiet, nothing found")
            << QStringList{"-q", "--min-size", "1T"} << QByteArrayList{} << QByteArrayList{"No duplicate", "groups"};
    }

    void summary()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArrayList, shown);
        QFETCH(QByteArrayList, notShown);
        const Scan result = scan(options + folders());
        QCOMPARE(result.exitCode, 0);
        for (const QByteArray &text : shown)
            QVERIFY2(result.err.contains(text), result.err.constData());
        for (const QByteArray &text : notShown)
            QVERIFY2(!result.err.contains(text), result.err.constData());
    }

    // Reading keeps folders open to open their files by name; where few descriptors are allowed
    // it keeps none rather than starve the readers: every group is found, no file unreadable.
    void withinTheOpenFileLimit()
    {
        FileTree tree;
        for (int i = 0; i < 600; ++i) {
            const QByteArray contents = randomBytes(100 + i, quint32(100 + i));
            tree.write(QStringLiteral("f%1/a").arg(i), contents);
            tree.write(QStringLiteral("f%1/b").arg(i), contents);
        }
        QProcess process;
        process.setChildProcessModifier([] {
            const rlimit limit{512, 512};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
        startScan(process, {QStringLiteral("-0"), tree.root()}, {});
        const Scan result = finishScan(process);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(nulGroups(result.out).size(), 600);
        QVERIFY2(result.err.contains(" 0 left out as unreadable"), result.err.constData());
    }

    // -e lists every copy but the first of each group, as one flat list, never a whole group.
    void omitFirst_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("-0") << QStringLiteral("-0");
        QTest::newRow("--json") << QStringLiteral("--json");
        QTest::newRow("lines") << QStringLiteral("-e"); // the short form, given as well
    }

    void omitFirst()
    {
        QFETCH(QString, format);
        const Groups groups = nulGroups(scan(QStringList{QStringLiteral("-0")} + folders()).out);
        QCOMPARE(groups.size(), EveryGroup.size());
        const Scan omitted = scan(QStringList{QStringLiteral("--omit-first"), format} + folders());
        QCOMPARE(omitted.exitCode, 0);
        Groups rest;
        QList<QByteArray> flat;
        for (const QList<QByteArray> &group : groups) {
            rest << group.mid(1);
            flat += group.mid(1);
        }
        if (format == QStringLiteral("--json"))
            QCOMPARE(jsonGroups(omitted.out), rest);
        else if (format == QStringLiteral("-0"))
            QCOMPARE(nulGroups(omitted.out, true), Groups{flat});
        else
            QCOMPARE(omitted.out, flat.join('\n') + '\n');
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("start");
        const QByteArray usage("Usage: twinfold-scan [OPTION]... FOLDER...\n");
        const QByteArray version(
            "twinfold-scan (Twinfold) 7.0\nCopyright (C) 2026 Quillmoor\nLicense GPL-2.0-or-later");
        QTest::newRow("--help") << QStringLiteral("--help") << usage;
        QTest::newRow("-h") << QStringLiteral("-h") << usage;
        QTest::newRow("--version") << QStringLiteral("--version") << version;
        QTest::newRow("-v") << QStringLiteral("-v") << version;
    }

    void helpAndVersion()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, start);
        const Scan result = scan({option});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith(start));
        QCOMPARE(result.err, QByteArray());
        if (option.contains(u'h'))
            QVERIFY(result.out.contains("130") && result.out.contains("| xargs -0 -r gio trash --\n"));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("threads");
        QTest::addColumn<QByteArray>("said");
        const auto row = [](const char *name, const QStringList &arguments, const QByteArray &input = {},
                            const QByteArray &threads = {}, const QByteArray &said = "Usage: twinfold-scan") {
            QTest::newRow(name) << arguments << input << threads << said;
        };
        const QString tmp = QStringLiteral("/tmp");
        row("only options", {"-0"});
        row("unknown option", {"-x", tmp});
        row("missing folder", {"/no/such/folder/here"});
        row("a file, not a folder", {QCoreApplication::applicationFilePath()});
        row("empty folder name", {QString()});
        row("bad thread count", {tmp}, {}, "zero");
        row("size without a number", {"--min-size", "K", tmp});
        row("unknown unit", {"--max-size", "5Q", tmp});
        row("binary suffix without a unit", {"--max-size", "5iB", tmp});
        row("negative size", {"--min-size", "-1", tmp});
        row("size too large", {"--max-size", "99999999999T", tmp});
        row("min above max", {"--min-size", "2K", "--max-size", "1K", tmp});
        row("json and -0", {"--json", "-0", tmp});
        row("empty pattern", {"--exclude", "", tmp});
        row("option value missing", {tmp, "--min-size"});
        row("no folder on standard input", {"--from0", "-"});
        row("not a folder on standard input", {"--from0", "-"}, QByteArray("/tmp\0/no/such\0", 14));
        row("folder name not UTF-8", {"--from0", "-"}, "/tmp/bad\xff");
        // --from0 is read as a stream: the first bad name ends it, and no name grows without bound.
        row("endless empty names", {"--from0", "/dev/zero"}, {}, {}, ": not a folder");
        row("a name without end", {"--from0", "-"}, QByteArray(5000, 'a'), {}, "a folder name longer than 4095 bytes");
        row("--keep without -e", {"--keep", "oldest", tmp});
        row("--keep-under without -e", {"--keep-under", tmp, tmp});
        row("unknown keep rule", {"-e", "--keep", "largest", tmp});
        row("--keep-under not a folder", {"-e", "--keep-under", "/no/such/folder", tmp});
        row("--unique-in with -e", {"-e", "--unique-in", tmp});
        row("--unique-in not a folder", {"--unique-in", "/no/such/folder", tmp});
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, threads);
        QFETCH(QByteArray, said);
        const Scan result = scan(arguments, {threads, input, {}, {}, {}});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains("Usage: twinfold-scan") && result.err.contains(said), result.err.constData());
        QCOMPARE(result.out, QByteArray());
    }

    // A full disk or a closed file on standard output is an error, never a quiet success.
    void writeErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("lines") << folders();
        QTest::newRow("-0") << QStringList{"-0"} + folders();
        QTest::newRow("--json") << QStringList{"--json"} + folders();
        QTest::newRow("--help") << QStringList{"--help"};
        QTest::newRow("--version") << QStringList{"--version"};
    }

    void writeErrors()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QFETCH(QStringList, arguments);
        const Scan result = scan(arguments, {{}, {}, QStringLiteral("/dev/full"), {}, {}});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("cannot write") && result.err.contains("No space left on device"),
                 result.err.constData());
    }

    // Which copies -e keeps, by each rule, on a tree with ties; the folders are listed a, b, c.
    void keepRules_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("printed");
        QTest::newRow("first") << QStringList{} << QStringList{"b/t2", "b/uu", "b/x.bin", "c/t3", "c/yy.bin"};
        QTest::newRow("--keep first") << QStringList{"--keep", "first"}
                                      << QStringList{"b/t2", "b/uu", "b/x.bin", "c/t3", "c/yy.bin"};
        QTest::newRow("oldest, a tie kept first")
            << QStringList{"--keep", "oldest"}
            << QStringList{"a/long-name-1.bin", "a/u.bin", "b/t2", "c/t3", "c/yy.bin"};
        QTest::newRow("newest, a tie kept first")
            << QStringList{"--keep", "newest"} << QStringList{"a/long-name-1.bin", "b/t2", "b/uu", "b/x.bin", "c/t3"};
        QTest::newRow("shortest, a tie kept first")
            << QStringList{"--keep", "shortest"}
            << QStringList{"a/long-name-1.bin", "a/u.bin", "b/t2", "c/t3", "c/yy.bin"};
        QTest::newRow("under a folder; none there: the first")
            << QStringList{"--keep-under", "@c"} << QStringList{"a/long-name-1.bin", "a/t1", "b/t2", "b/uu", "b/x.bin"};
        QTest::newRow("under a folder; none there: the oldest")
            << QStringList{"--keep-under", "@c/", "--keep", "oldest"}
            << QStringList{"a/long-name-1.bin", "a/t1", "a/u.bin", "b/t2", "b/x.bin"};
        QTest::newRow("under two folders") << QStringList{"--keep-under", "@b", "--keep-under", "@c"}
                                           << QStringList{"a/long-name-1.bin", "a/t1", "a/u.bin"};
        QTest::newRow("under the folder holding them all") << QStringList{"--keep-under", "@"} << QStringList{};
    }

    void keepRules()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, printed);
        static FileTree tree;
        if (!QFileInfo::exists(tree.path("a"))) {
            const QByteArray x = randomBytes(5000, 10), t = randomBytes(4000, 11), u = randomBytes(3000, 12);
            const std::pair<const char *, std::pair<QByteArray, qint64>> files[] = {{"a/long-name-1.bin", {x, 1000}},
                                                                                    {"b/x.bin", {x, 500}},
                                                                                    {"c/yy.bin", {x, 2000}},
                                                                                    {"a/t1", {t, 100}},
                                                                                    {"b/t2", {t, 100}},
                                                                                    {"c/t3", {t, 100}},
                                                                                    {"a/u.bin", {u, 300}},
                                                                                    {"b/uu", {u, 200}}};
            for (const auto &[name, file] : files)
                QVERIFY(setFileTime(tree.write(QString::fromLatin1(name), file.first), file.second));
        }
        QStringList arguments{QStringLiteral("-0"), QStringLiteral("-e")};
        for (const QString &option : options + QStringList{"@a", "@b", "@c"})
            arguments << (option.startsWith(u'@') ? tree.path(option.mid(1)) : option);
        const Scan result = scan(arguments);
        QCOMPARE(result.exitCode, 0);
        QStringList names;
        for (const QByteArray &path : nulGroups(result.out, true).value(0))
            names << QDir(tree.root()).relativeFilePath(QFile::decodeName(path));
        QCOMPARE(sorted(names), printed);
    }

    // As an unprivileged user of its own (a limit on processes counts all of a user's), the tool
    // names on standard error what it could not read, with control characters escaped, and lists
    // such names exactly; under limits on processes and memory it reads with the threads the
    // system allows, and when not even one can start, stops with a status of its own; never an abort.
    void asAnotherUser_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QByteArray>("readers"); // TWINFOLD_THREADS
        QTest::addColumn<int>("status");
        QTest::newRow("no limit") << QStringLiteral("--nofile=1024") << QByteArray() << 0;
        QTest::newRow("no thread at all") << QStringLiteral("--nproc=1") << QByteArray("4") << 3;
        QTest::newRow("two threads for 16 readers") << QStringLiteral("--nproc=3") << QByteArray("16") << 0;
#ifndef __SANITIZE_ADDRESS__ // which reserves far more address space than this
        QTest::newRow("64 readers in 300 MB") << QStringLiteral("--as=300000000") << QByteArray("64") << 0;
#endif
    }
    void asAnotherUser()
    {
        QFETCH(QString, limit);
        QFETCH(QByteArray, readers);
        QFETCH(int, status);
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        QVERIFY(writeFile(dir.filePath("a/copy"), "same") && writeFile(dir.filePath("b/copy"), "same"));
        QVERIFY(writeFile(dir.filePath("closed/inner"), "same") && writeFile(dir.filePath("blind/inner"), "same"));
        const QByteArray folder = QFile::encodeName(dir.path()) + '/', x = randomBytes(4000, 30);
        writeRaw(folder + "esc\x1b]2;pwned\x07-a.bin", x);
        writeRaw(folder + "esc\x1b]2;pwned\x07-b.bin", x);
        QVERIFY(writeFile(dir.filePath("plain.bin"), x));
        for (int i = 0; i < 200; ++i) // enough to list that no listing thread is done before the last starts
            QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("c/%1").arg(i)));
        const QString user = QString::number(40000 + ::getpid() % 20000);
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), user + u':' + user, dir.path()});
        QCOMPARE(::chmod(folder + "esc\x1b]2;pwned\x07-a.bin", 0), 0);
        QVERIFY(::chmod(QFile::encodeName(dir.filePath("closed")).constData(), 0000) == 0);
        QVERIFY(::chmod(QFile::encodeName(dir.filePath("blind")).constData(), 0600) == 0);
        const auto reopen = qScopeGuard([&] {
            ::chmod(QFile::encodeName(dir.filePath("closed")).constData(), 0755);
            ::chmod(QFile::encodeName(dir.filePath("blind")).constData(), 0755);
        });
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TWINFOLD_THREADS"), QString::fromLatin1(readers));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("setpriv"),
                      {"--reuid=" + user, "--regid=" + user, QStringLiteral("--clear-groups"),
                       QStringLiteral("prlimit"), limit, QStringLiteral(TWINFOLD_SCAN), dir.path()});
        const Scan result = finishScan(process);
        const QString errors = QString::fromUtf8(result.err);
        if (result.exitCode != 0
            && (errors.startsWith(QLatin1String("setpriv")) || errors.startsWith(QLatin1String("prlimit"))))
            QSKIP("cannot become an unprivileged user with limits here");
        QVERIFY2(result.exitCode == status, qPrintable(errors));
        const QStringList found{dir.filePath("a/copy"), dir.filePath("b/copy"),
                                QFile::decodeName(folder + "esc\x1b]2;pwned\x07-b.bin"), dir.filePath("plain.bin")};
        QCOMPARE(sorted(QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts)),
                 status == 0 ? sorted(found) : QStringList());
        QCOMPARE(errors.contains("twinfold-scan: Not enough memory or threads are left to go on finding duplicates"),
                 status == 3);
        if (status != 0)
            return;
        QVERIFY2(errors.contains("cannot read folder " + dir.filePath("closed/") + ": Permission denied"),
                 qPrintable(errors));
        QVERIFY2(errors.contains("cannot read file " + dir.filePath("blind/inner") + ": Permission denied"),
                 qPrintable(errors));
        QVERIFY2(errors.contains("left out while collecting: 1 folders, 1 files"), qPrintable(errors));
        QVERIFY2(result.err.contains("twinfold-scan: cannot read file " + folder
                                     + "esc\\x1b]2;pwned\\x07-a.bin: Permission denied"),
                 result.err.constData());
        QVERIFY(!result.err.contains('\x1b') && !result.err.contains('\x07'));
        QVERIFY(result.err.contains(", 1 left out as unreadable\n"));
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
        static FileTree tree;
        if (!QFileInfo::exists(tree.path("lib"))) {
            // name:size:seed, equal seeds and sizes giving equal contents; a '^' flips the byte at that place.
            for (const QString &entry :
                 QStringLiteral("lib/copy:7000:23 other/copy:7000:23 lib/unique:7001:24 lib/start:9000:20 "
                                "other/start:9000:20^0 lib/middle:9001:21 other/middle:9001:21^4500 "
                                "lib/end:9002:22 other/end:9002:22^9001 lib/empty:0:0 other/empty:0:0 "
                                "lib/inner:7002:25 lib/sub/inner:7002:25 lib/prefixtrap:7003:26 "
                                "libx/deep/prefixtrap:7003:26 libx/only:7004:27 lib/linked:7005:28 "
                                "lib/linkedinside:7006:29 lib/locked:7007:30 other/locked:7007:31")
                     .split(u' ')) {
                const QStringList part = entry.split(u':');
                QByteArray bytes = randomBytes(part[1].toInt(), part[2].section(u'^', 0, 0).toUInt());
                if (part[2].contains(u'^'))
                    bytes[part[2].section(u'^', 1).toInt()] ^= 1;
                tree.write(part[0], bytes);
            }
            QVERIFY(::link(QFile::encodeName(tree.path("lib/linked")), QFile::encodeName(tree.path("other/x"))) == 0);
            QVERIFY(::link(QFile::encodeName(tree.path("lib/linkedinside")),
                           QFile::encodeName(tree.path("lib/sub/linkedinside")))
                    == 0);
            ::chmod(QFile::encodeName(tree.path("lib/locked")), 0);
        }
        QStringList resolved;
        for (const QString &argument : arguments)
            resolved << (argument.startsWith(u'@') ? tree.path(argument.mid(1)) : argument);
        const Scan result = scan(resolved);
        QCOMPARE(result.exitCode, 0);
        QStringList names;
        const QByteArray root = QFile::encodeName(tree.root()) + '/';
        const auto add = [&](const QByteArray &path) {
            // Which name of the linked file comes first depends on the walk, not on the rule.
            names << QString::fromUtf8(path.mid(root.size()))
                         .replace(QStringLiteral("sub/linkedinside"), QStringLiteral("linkedinside"));
        };
        if (resolved.contains(QStringLiteral("--json"))) {
            const QJsonObject json = QJsonDocument::fromJson(result.out).object();
            for (const QJsonValue &file : json.value(QStringLiteral("unique")).toArray())
                add(file.toObject().value(QStringLiteral("path")).toString().toUtf8());
            QCOMPARE(json.value(QStringLiteral("could_not_be_read")).toArray().size(), ::geteuid() == 0 ? 0 : 1);
        } else {
            const QList<QByteArray> paths = resolved.contains(QStringLiteral("-0"))
                ? nulGroups(result.out, true).value(0)
                : result.out.split('\n');
            for (const QByteArray &path : paths)
                if (!path.isEmpty())
                    add(path);
        }
        QStringList expected{"lib/end",       "lib/inner",        "lib/middle", "lib/start",
                             "lib/sub/inner", "lib/linkedinside", "lib/unique"};
        if (::geteuid() == 0)
            expected << QStringLiteral("lib/locked"); // root reads it: unique
        QVERIFY2(sorted(names) == sorted(expected), qPrintable(sorted(names).join(u' ')));
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
        const QByteArray p = randomBytes(3000, 20), q = randomBytes(2000, 21);
        QVERIFY(setFileTime(tree.write("x y/old name", p), 100));
        QVERIFY(setFileTime(tree.write("x y/new\nname", p), 900));
        QVERIFY(setFileTime(tree.write("master/late copy", p), 950));
        QVERIFY(setFileTime(tree.write("other/q", q), 700)); // the first listed of a group with none under master
        QVERIFY(setFileTime(tree.write("other/sub/q 2", q), 800));
        // In the tree, with twinfold-scan on the PATH and a trash of the test's own.
        QCOMPARE(QProcess::execute(QStringLiteral("sh"),
                                   {QStringLiteral("-c"),
                                    QStringLiteral("cd \"$1\" && PATH=\"$2:$PATH\" XDG_DATA_HOME=\"$3\" && export "
                                                   "PATH XDG_DATA_HOME && eval \"$4\""),
                                    QStringLiteral("sh"), tree.root(),
                                    QFileInfo(QStringLiteral(TWINFOLD_SCAN)).absolutePath(), data.root(), command}),
                 0);
        QCOMPARE(filesBelow(tree.root()), left);
        QCOMPARE(QDir(data.path("Trash/files")).entryList(QDir::Files).size(), 3);
    }

    // Folders as clean as they were given, made absolute: never "/x/./b/y", and ".." taken back
    // only past a real folder.
    void cleanPaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("path"); // of one.jpg in photos
        QTest::newRow(".") << QStringLiteral(".") << QByteArray("photos/one.jpg");
        QTest::newRow("./photos/") << QStringLiteral("./photos/") << QByteArray("photos/one.jpg");
        QTest::newRow("doubled separators") << QStringLiteral("photos//cache//..//") << QByteArray("photos/one.jpg");
        QTest::newRow(".. past a link") << QStringLiteral("link/..") << QByteArray("link/../one.jpg");
    }

    void cleanPaths()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, path);
        if (!QFileInfo(m_tree.path("link")).isSymLink())
            QCOMPARE(::symlink("photos/cache", QFile::encodeName(m_tree.path("link")).constData()), 0);
        Run run;
        run.workingDirectory = m_tree.root();
        const Scan result = scan({QStringLiteral("-0"), folder, m_tree.path("backup")}, run);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains('\0' + m_root + path + '\0') || result.out.startsWith(m_root + path + '\0'),
                 result.out.constData());
        QVERIFY(!result.out.contains("/./") && !result.out.contains("//"));
    }

    // A folder bound into itself: the file its mount point hides is found through the mount,
    // and a file reached both ways is listed once.
    void folderBoundIntoItself()
    {
        FileTree tree;
        const QByteArray x = randomBytes(4000, 40);
        tree.write("T/a/b/hidden.txt", x);
        tree.write("T/c/twin.txt", x);
        tree.write("T/c/unique", randomBytes(4000, 41));
        const BindMount bound(tree.path("T"), tree.path("T/a/b"));
        if (!bound.mounted())
            QSKIP("cannot bind folders here (needs root)");
        const Scan result = scan({QStringLiteral("-0"), tree.path("T")});
        QCOMPARE(result.exitCode, 0);
        const Groups groups = nulGroups(result.out);
        QCOMPARE(groups.size(), 1);
        QStringList members = canonical(groups, QFile::encodeName(tree.path("T/"))).value(0).split(u'|');
        QCOMPARE(members.size(), 2);
        QCOMPARE(members.front(), QStringLiteral("a/b/a/b/hidden.txt"));
        QVERIFY2(members.back() == QStringLiteral("c/twin.txt") || members.back() == QStringLiteral("a/b/c/twin.txt"),
                 qPrintable(members.back()));
    }

    // A stop ends with "stopped" and 128 + the signal, in whichever phase it comes; the
    // progress line on a terminal says where the scan is.
    void stopSignals_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("phase");
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C while collecting") << QStringLiteral("many") << QByteArray("collecting") << SIGINT;
        // JSON says the results are not complete.
        QTest::newRow("SIGTERM while collecting, JSON")
            << QStringLiteral("many") << QByteArray("collecting") << SIGTERM;
        // Standard output is not read until the signal is sent: the scan waits to write its rows.
        QTest::newRow("Ctrl-C while the rows are written")
            << QStringLiteral("empties") << QByteArray("matching") << SIGINT;
    }

    void stopSignals()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, phase);
        QFETCH(int, signal);
        static FileTree tree; // built once for every row
        if (!QFileInfo::exists(tree.path("many"))) {
            // Enough folders that collecting outlasts the test's reaction to the progress line.
            QVERIFY(QDir().mkpath(tree.path("many")));
            for (int i = 0; i < 5000; ++i) {
                const QByteArray folder = QFile::encodeName(tree.path(QStringLiteral("many/%1").arg(i / 100)));
                ::mkdir(folder.constData(), 0755);
                QCOMPARE(::mkdir(folder + '/' + QByteArray::number(i), 0755), 0);
            }
            // Empty files are never opened: one group of rows far larger than the pipe and buffers.
            for (int i = 0; i < 3000; ++i)
                tree.write(QStringLiteral("empties/%1-%2").arg(i, 5, 10, QLatin1Char('0')).arg(QString(100, u'x')), {});
        }
        Pty terminal;
        if (terminal.slave().isEmpty())
            QSKIP("no pseudo-terminal here");

        QProcess process;
        const bool json = QByteArray(QTest::currentDataTag()).endsWith("JSON");
        startScan(process, {json ? QStringLiteral("--json") : QStringLiteral("-0"), tree.path(folder)},
                  {{}, {}, {}, terminal.slave(), {}});
        QVERIFY2(terminal.waitFor(phase, 60000), terminal.shown.constData());
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        const Scan result = finishScan(process);
        terminal.waitFor("stopped", 5000);
        QCOMPARE(result.exitCode, 128 + signal);
        if (json)
            QVERIFY2(result.out.endsWith("\"complete\": false}\n"), result.out.right(200).constData());
        QVERIFY2(terminal.shown.contains("twinfold-scan: stopped"), terminal.shown.constData());
        QVERIFY(!terminal.shown.contains("No duplicate images found."));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(ScanToolTest)
#include "tst_scantool.moc"
