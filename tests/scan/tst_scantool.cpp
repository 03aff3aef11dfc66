#include "Fakes.h"
#include "MatchingFixture.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "TestMain.h"

#include <QDateTime>
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
};

void startScan(QProcess &process, const QStringList &arguments, const Run &run)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!run.threads.isEmpty())
        environment.insert(QStringLiteral("TWINFOLD_THREADS"), QString::fromLatin1(run.threads));
    process.setProcessEnvironment(environment);
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
            paths << file.toObject().value(QStringLiteral("path")).toString().toUtf8();
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

// Modification time as the scan tool reports it.
QString isoMtime(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return {};
    return QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral(".%1Z").arg(st.st_mtim.tv_nsec, 9, 10, QLatin1Char('0'));
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

// The walk order decides which name of a hard-linked file is met first, and every folder of
// "photos" is walked before "backup": the folders are listed in that order.
const QStringList EveryGroup{
    QStringLiteral("backup/one.jpg|photos/one.jpg|photos/two.jpg"),
    QStringLiteral("backup/tiny.txt|photos/tiny.txt"),
    QStringLiteral("backup/big.bin|photos/cache/big.bin"),
    QStringLiteral("backup/c.png|photos/line\nbreak.png"),
    QStringLiteral("photos/cache/linked|photos/d-copy"),
    QStringLiteral("backup/empty|photos/empty"),
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

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
        m_tree.write("backup/big.bin", b);
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
        // A name that is not UTF-8 is left out with a message, never listed under a wrong name.
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
        QTest::newRow("two excludes") << QStringList{"--exclude", "*.jpg", "--exclude", "tiny*"} + both
                                      << QByteArray() << everyGroupBut({EveryGroup[0], EveryGroup[1]});
        QTest::newRow("the listed folder's own name is not matched")
            << QStringList{"--exclude", "photos"} + both << QByteArray() << sorted(EveryGroup);
        QTest::newRow("folders from standard input")
            << QStringList{"--from0", "-"} << QByteArray("@photos\0@backup\0", 16) << sorted(EveryGroup);
        QTest::newRow("arguments, then standard input without a last NUL")
            << QStringList{"--from0", "-", "@photos"} << QByteArray("@backup") << sorted(EveryGroup);
        QTest::newRow("options after the folders") << both + QStringList{"--exclude", "*.jpg"} << QByteArray()
                                                   << everyGroupBut({EveryGroup[0]});
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

        const Scan result = scan(QStringList{QStringLiteral("-0")} + arguments, {{}, input, {}, {}});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(canonical(nulGroups(result.out), m_root), expected);
        QVERIFY(result.err.contains("bad?.png has been skipped"));
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
        QCOMPARE(canonical(window, m_root), sorted(EveryGroup));

        for (const char *threads : {"1", "4"}) {
            const Scan nul = scan(QStringList{QStringLiteral("-0")} + folders(), {threads, {}, {}, {}});
            QCOMPARE(nul.exitCode, 0);
            QCOMPARE(nulGroups(nul.out), window);
            QVERIFY(!nul.err.contains('\r')); // no progress line when standard error is not a terminal

            const Scan lines = scan(folders(), {threads, {}, {}, {}});
            QCOMPARE(lines.exitCode, 0);
            QCOMPARE(lines.out, QByteArray(nul.out).replace('\0', '\n'));

            const Scan json = scan(QStringList{QStringLiteral("--json")} + folders(), {threads, {}, {}, {}});
            QCOMPARE(json.exitCode, 0);
            QList<QJsonObject> files;
            QList<qint64> sizes;
            QCOMPARE(jsonGroups(json.out, &files, &sizes), window);
            for (qsizetype g = 0; g < window.size(); ++g)
                QCOMPARE(sizes[g], QFileInfo(QFile::decodeName(window[g].front())).size());
            for (const QJsonObject &file : std::as_const(files)) {
                QCOMPARE(file.value(QStringLiteral("mtime")).toString(),
                         isoMtime(file.value(QStringLiteral("path")).toString().toUtf8()));
                QVERIFY(!file.contains(QStringLiteral("path_bytes"))); // every listed name is UTF-8
            }
            QVERIFY(json.out.contains("line\\nbreak.png")); // escaped, not a raw newline in a string
            QVERIFY(json.err.contains("bad?.png has been skipped"));
        }
    }

    // What standard error tells: the summary, what the options left out, and -q keeping only
    // the messages about files that could not be searched.
    void summary_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArrayList>("shown");
        QTest::addColumn<QByteArrayList>("notShown");
        const QByteArray skipped("bad?.png has been skipped");
        QTest::newRow("summary") << QStringList{} << QByteArrayList{skipped, "6 groups, 13 duplicate files"}
                                 << QByteArrayList{"left out by size or name", "No duplicate"};
        QTest::newRow("files left out by options")
            << QStringList{"--exclude", "*.jpg", "--max-size", "19999"}
            << QByteArrayList{"5 files left out by size or name", "4 groups, 8 duplicate files"} << QByteArrayList{};
        QTest::newRow("nothing found") << QStringList{"--min-size", "1T"}
                                       << QByteArrayList{"No duplicate images found.", "0 groups"} << QByteArrayList{};
        QTest::newRow("quiet") << QStringList{"-q"} << QByteArrayList{skipped} << QByteArrayList{"groups", "collected"};
        QTest::newRow("quiet, nothing found") << QStringList{"-q", "--min-size", "1T"} << QByteArrayList{skipped}
                                              << QByteArrayList{"No duplicate", "groups"};
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
        QTest::newRow("lines") << QString();
    }

    void omitFirst()
    {
        QFETCH(QString, format);
        const Scan full = scan(QStringList{QStringLiteral("-0")} + folders());
        QCOMPARE(full.exitCode, 0);
        const Groups groups = nulGroups(full.out);
        QCOMPARE(groups.size(), EveryGroup.size());

        QStringList arguments{QStringLiteral("--omit-first")};
        if (!format.isEmpty())
            arguments << format;
        const Scan omitted = scan(arguments + folders());
        QCOMPARE(omitted.exitCode, 0);
        Groups expected;
        for (const QList<QByteArray> &group : groups)
            expected << group.mid(1);
        if (format == QStringLiteral("--json")) {
            QCOMPARE(jsonGroups(omitted.out), expected);
            return;
        }
        QList<QByteArray> flat;
        for (const QList<QByteArray> &rest : std::as_const(expected))
            flat += rest;
        if (format.isEmpty()) {
            QByteArray text;
            for (const QByteArray &path : std::as_const(flat))
                text += path + '\n';
            QCOMPARE(omitted.out, text);
        } else {
            QCOMPARE(nulGroups(omitted.out, true), Groups{flat});
        }
        for (const QList<QByteArray> &group : groups)
            QVERIFY(!flat.contains(group.front()));
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("--help") << QStringLiteral("--help") << QByteArray("usage: twinfold-scan");
        QTest::newRow("-h") << QStringLiteral("-h") << QByteArray("usage: twinfold-scan");
        QTest::newRow("--version") << QStringLiteral("--version") << QByteArray("twinfold-scan 7.0\n");
        QTest::newRow("-v") << QStringLiteral("-v") << QByteArray("twinfold-scan 7.0\n");
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
            QVERIFY(result.out.contains("130"));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("threads");
        const QString tmp = QStringLiteral("/tmp");
        QTest::newRow("only options") << QStringList{"-0"} << QByteArray() << QByteArray();
        QTest::newRow("unknown option") << QStringList{"-x", tmp} << QByteArray() << QByteArray();
        QTest::newRow("missing folder") << QStringList{"/no/such/folder/here"} << QByteArray() << QByteArray();
        QTest::newRow("a file, not a folder")
            << QStringList{QCoreApplication::applicationFilePath()} << QByteArray() << QByteArray();
        QTest::newRow("empty folder name") << QStringList{QString()} << QByteArray() << QByteArray();
        QTest::newRow("bad thread count") << QStringList{tmp} << QByteArray() << QByteArray("zero");
        QTest::newRow("size without a number") << QStringList{"--min-size", "K", tmp} << QByteArray() << QByteArray();
        QTest::newRow("unknown unit") << QStringList{"--max-size", "5Q", tmp} << QByteArray() << QByteArray();
        QTest::newRow("binary suffix without a unit") << QStringList{"--max-size", "5iB", tmp} << QByteArray()
                                                      << QByteArray();
        QTest::newRow("negative size") << QStringList{"--min-size", "-1", tmp} << QByteArray() << QByteArray();
        QTest::newRow("size too large") << QStringList{"--max-size", "99999999999T", tmp} << QByteArray()
                                        << QByteArray();
        QTest::newRow("min above max") << QStringList{"--min-size", "2K", "--max-size", "1K", tmp} << QByteArray()
                                       << QByteArray();
        QTest::newRow("json and -0") << QStringList{"--json", "-0", tmp} << QByteArray() << QByteArray();
        QTest::newRow("empty pattern") << QStringList{"--exclude", "", tmp} << QByteArray() << QByteArray();
        QTest::newRow("option value missing") << QStringList{tmp, "--min-size"} << QByteArray() << QByteArray();
        QTest::newRow("no folder on standard input") << QStringList{"--from0", "-"} << QByteArray() << QByteArray();
        QTest::newRow("not a folder on standard input")
            << QStringList{"--from0", "-"} << QByteArray("/tmp\0/no/such\0", 14) << QByteArray();
        QTest::newRow("folder name not UTF-8")
            << QStringList{"--from0", "-"} << QByteArray("/tmp/bad\xff", 9) << QByteArray();
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, threads);
        const Scan result = scan(arguments, {threads, input, {}, {}});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("usage: twinfold-scan"));
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
        const Scan result = scan(arguments, {{}, {}, QStringLiteral("/dev/full"), {}});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("cannot write") && result.err.contains("No space left on device"),
                 result.err.constData());
    }

    // A stop ends with "stopped" and 128 + the signal, in whichever phase it comes; the
    // progress line on a terminal says where the scan is.
    void stopSignals_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("phase");
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C while collecting") << QStringLiteral("many") << QByteArray("collecting") << SIGINT;
        QTest::newRow("SIGTERM while collecting") << QStringLiteral("many") << QByteArray("collecting") << SIGTERM;
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
                tree.write(QStringLiteral("empties/%1-%2").arg(i, 5, 10, QLatin1Char('0')).arg(QString(100, u'x')),
                           {});
        }
        Pty terminal;
        if (terminal.slave().isEmpty())
            QSKIP("no pseudo-terminal here");

        QProcess process;
        startScan(process, {QStringLiteral("-0"), tree.path(folder)}, {{}, {}, {}, terminal.slave()});
        QVERIFY2(terminal.waitFor(phase, 60000), terminal.shown.constData());
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        const Scan result = finishScan(process);
        terminal.waitFor("stopped", 5000);
        QCOMPARE(result.exitCode, 128 + signal);
        QVERIFY2(terminal.shown.contains("twinfold-scan: stopped"), terminal.shown.constData());
        QVERIFY(!terminal.shown.contains("No duplicate images found."));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(ScanToolTest)
#include "tst_scantool.moc"
