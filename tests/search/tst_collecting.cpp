// Collecting against hostile trees: one file reached twice, trees deeper than PATH_MAX, folders
// that cannot be read, and the walk on many threads giving the order of a walk on one.

#include "CandidateTable.h"
#include "Fakes.h"
#include "FolderWalker.h"
#include "SearchDriver.h"
#include "SettingsStore.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <memory>

namespace {

bool writeAt(int dirFd, const char *name, const QByteArray &contents)
{
    const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, contents.constData(), static_cast<size_t>(contents.size())) == contents.size();
    return ::close(fd) == 0 && ok;
}

// QTemporaryDir removes by path, which fails below PATH_MAX and on names that do not decode; rm
// walks by descriptors.
struct RemovedAtEnd
{
    QString path;
    ~RemovedAtEnd() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), path}); }
};

// A folder t, and folders made below it relative to the one above: their full path may be
// longer than any path the kernel takes.
struct Deep
{
    QTemporaryDir dir;
    QString root = dir.filePath("t");
    RemovedAtEnd removal{root};
    QByteArray path = QFile::encodeName(root); // the deepest folder's
    int fd = QDir().mkpath(root) ? ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    ~Deep() { ::close(fd); }
    void down(int levels, const QByteArray &name)
    {
        for (int i = 0; i < levels && fd >= 0; ++i) {
            const int next = ::mkdirat(fd, name.constData(), 0755) == 0
                ? ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                : -1;
            ::close(fd);
            fd = next;
            path += '/' + name;
        }
    }
};

QStringList leftOut(const std::vector<LeftOutEntry> &entries, const QString &root)
{
    QStringList paths;
    for (const LeftOutEntry &entry : entries)
        paths << QFile::decodeName(entry.path).mid(root.size() + 1);
    return paths;
}

// One whole collection as the driver runs it, with everything the host saw.
struct Collection
{
    RecordingHost host;
    CandidateTable table;
    void over(const QStringList &folders, unsigned threads)
    {
        for (const QString &folder : folders)
            AnalyzeFolder(folder, table, host, threads);
    }
};

struct RowsOf final : FolderRows
{
    explicit RowsOf(QString root) : root(std::move(root)) {}
    std::size_t rowCount() const override { return 1; }
    QString rowText(std::size_t) const override { return root; }
    QString root;
};

struct Search
{
    RecordingHost host;
    MemorySettingsStore settings;
    VectorSink sink;
    SearchDriver driver{host, settings, sink};
};

// A tree with some of everything the walk's order depends on: files before and after folders in the
// listing, nested and empty folders, a hard link and a name that does not decode (a skip message).
QStringList makeMixedTree(const QString &root, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList folders{QString()};
    for (int i = 0; i < 60; ++i) {
        const QString parent = folders.at(static_cast<qsizetype>(random.bounded(folders.size())));
        folders << parent + QStringLiteral("/d%1").arg(i);
        QDir().mkpath(root + folders.back());
    }
    QString first;
    for (int i = 0; i < 400; ++i) {
        const QString folder = folders.at(static_cast<qsizetype>(random.bounded(folders.size())));
        writeFile(root + folder + QStringLiteral("/f%1").arg(i), QByteArray::number(i % 37));
        if (i == 0)
            first = root + folder + QStringLiteral("/f0");
    }
    if (::link(QFile::encodeName(first).constData(), QFile::encodeName(root + folders.back() + "/hard").constData())
        != 0)
        qFatal("no hard link");
    writeAt(AT_FDCWD, (QFile::encodeName(root + folders.at(5)) + "/bad\xff").constData(), "x");
    return folders;
}

} // namespace

class CollectingTest : public QObject
{
    Q_OBJECT

private slots:
    // The set of collected identities must say "met before" exactly for repeats, however many files,
    // devices and inode widths there are; each inode number is met once on every device.
    void identityRepeats_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("devices");
        QTest::addColumn<quint64>("inodeBase");
        QTest::newRow("one file twice") << 1 << 1 << quint64(2);
        QTest::newRow("one inode number on two devices") << 2 << 2 << quint64(2);
        QTest::newRow("300,000 files on three devices") << 300000 << 3 << quint64(2);
        QTest::newRow("inodes above 48 bits") << 5000 << 2 << (quint64(1) << 60);
        QTest::newRow("more devices than the key holds") << 70000 << 70000 << quint64(7);
    }
    void identityRepeats()
    {
        QFETCH(int, files);
        QFETCH(int, devices);
        QFETCH(quint64, inodeBase);
        CandidateTable table;
        const std::uint32_t folder = table.addFolder("/x/");
        const auto add = [&](int i, const char *name) {
            return table.addFile(folder, name, 1, 0x800 + std::uint64_t(i % devices),
                                 inodeBase + std::uint64_t(i / devices) * 7919);
        };
        for (int i = 0; i < files; ++i)
            QVERIFY(add(i, "f"));
        for (int i = files - 1; i >= 0; --i)
            QVERIFY(!add(i, "g"));
        QCOMPARE(table.count(), std::size_t(files));
        table.clear();
        QVERIFY(table.addFile(table.addFolder("/x/"), "f", 1, 0x800, inodeBase));
    }

    // A listed file's path as text, whichever part is not plain ASCII.
    void pathsAsText()
    {
        CandidateTable table;
        QVERIFY(table.addFile(table.addFolder("/p/Gr\xc3\xbc\xc3\x9f\x65/"), "a", 1, 1, 1));
        QVERIFY(table.addFile(table.addFolder("/p/"), "\xe6\x97\xa5.jpg", 1, 1, 2));
        QCOMPARE(table.path(0), QStringLiteral("/p/Gr\u00fc\u00dfe/a"));
        QCOMPARE(table.path(1), QStringLiteral("/p/\u65e5.jpg"));
    }

    // One file with a single name, reached under two paths: collected once, at its first path.
    void fileMountedOverAnother()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a/orig"), "same") && writeFile(dir.filePath("b/view"), ""));
        QVERIFY(writeFile(dir.filePath("b/other"), "same"));
        BindMount mount(dir.filePath("a/orig"), dir.filePath("b/view"));
        if (!mount.mounted())
            QSKIP("mounting needs root with CAP_SYS_ADMIN");
        Search search;
        search.driver.run(RowsOf(dir.path()));
        // orig and other stay a real group; view is the same file as orig and is not listed.
        const std::vector<QStringList> groups = search.sink.groups();
        QCOMPARE(groups.size(), std::size_t(1));
        QCOMPARE(groups.front().size(), 2);
        QVERIFY(groups.front().contains(dir.filePath("b/other")));
    }

    // Copies below folders whose full path is longer than PATH_MAX, a file whose path is exactly
    // PATH_MAX bytes and files one and two levels below a folder whose path is: each is opened and
    // examined piece by piece, cut at the last separator that fits. One replaced while it is read is
    // left out as any other: it is opened in its kept folder, and the check after reading still goes
    // by its path, piece by piece.
    void treesDeeperThanPathMax_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<int>("nameLength");
        QTest::newRow("40 folders of 250-byte names") << 40 << 250;
        QTest::newRow("3,500 folders of one-byte names") << 3500 << 1;
    }
    void treesDeeperThanPathMax()
    {
        QFETCH(int, levels);
        QFETCH(int, nameLength);
        Deep t;
        t.down((PATH_MAX - 2 - int(t.root.size())) / 251, QByteArray(250, 'n'));
        const qsizetype length = PATH_MAX - t.path.size() - 1;
        QVERIFY(t.fd >= 0 && length > 0 && length < 256);
        const QByteArray file(length, 'f'), folder(length, 'x');
        const QString at = QFile::decodeName(t.path) + '/';
        QVERIFY(writeAt(t.fd, file.constData(), "same"));
        QVERIFY(::mkdirat(t.fd, folder.constData(), 0755) == 0 && ::mkdirat(t.fd, folder + "/s", 0755) == 0);
        QVERIFY(writeAt(t.fd, folder + "/s/copy", "same") && writeAt(t.fd, folder + "/copy", "same"));
        t.down(levels, QByteArray(nameLength, 'n'));
        QVERIFY(t.fd >= 0 && t.path.size() > PATH_MAX);
        for (const char *name : {"copy1", "copy2", "replaced"})
            QVERIFY(writeAt(t.fd, name, "same"));
        QVERIFY(writeAt(t.fd, "lone", "diff") && writeFile(t.root + "/top", "same"));

        ReadOptions options;
        std::atomic<bool> replaced{false};
        options.afterOpen = [&](const char *path) {
            if (QByteArray(path) == t.path + "/replaced" && !replaced.exchange(true))
                QVERIFY(writeAt(t.fd, "new", "same") && ::renameat(t.fd, "new", t.fd, "replaced") == 0);
        };
        Search search;
        search.driver.setReadOptions(options);
        QCOMPARE(search.driver.run(RowsOf(t.root)), SearchDriver::Outcome::Found);
        QVERIFY(replaced);
        QCOMPARE(search.driver.candidates().count(), std::size_t(8));
        QCOMPARE(search.driver.matchStats().unreadable, std::uint64_t(0));
        QCOMPARE(search.driver.matchStats().changed, std::uint64_t(1));
        const std::vector<QStringList> groups = search.sink.groups();
        QCOMPARE(groups.size(), std::size_t(1));
        QCOMPARE(groups.front().front(), t.root + "/top"); // the listed folder's own files come first
        const QString deep = QFile::decodeName(t.path);
        QCOMPARE(sorted(groups.front()),
                 sorted({t.root + "/top", at + file, at + folder + "/copy", at + folder + "/s/copy", deep + "/copy1",
                         deep + "/copy2"}));
        QVERIFY(search.driver.collectStats().folders.empty());
    }

    // Run as an unprivileged user (root reads everything): what cannot be listed or entered is
    // named, the rest is collected.
    void unreadableFoldersAreNamed_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("folders"); // left out
        QTest::addColumn<QStringList>("files"); // left out
        QTest::addColumn<QStringList>("expected"); // collected, sorted
        const QStringList none, keep{"keep", "open/inner"};
        QTest::newRow("000: neither listed nor entered") << 0000 << QStringList{"locked/"} << none << keep;
        QTest::newRow("300: entered, not listed") << 0300 << QStringList{"locked/"} << none << keep;
        QTest::newRow("600: listed, not entered") << 0600 << QStringList{"locked/sub/"} << QStringList{"locked/inner"} << keep;
        QTest::newRow("755: all read") << 0755 << none << none << QStringList{"keep", "locked/inner", "locked/sub/deeper", "open/inner"};
        // clang-format on
    }
    void unreadableFoldersAreNamed()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        for (const char *file : {"keep", "locked/inner", "locked/sub/deeper", "open/inner"})
            QVERIFY(writeFile(dir.filePath(QString::fromLatin1(file)), file));
        // Owned by the user who reads it, as a user's own folders are.
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("65534:65534"), dir.path()});
        const QByteArray locked = QFile::encodeName(dir.filePath("locked"));
        QVERIFY(::chmod(locked.constData(), static_cast<mode_t>(mode)) == 0);

        // Collected as nobody; the ids are put back before anything is checked.
        Collection walk;
        const bool dropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
        if (dropped)
            walk.over({dir.path()}, 4);
        const bool restored = ::seteuid(::getuid()) == 0 && ::setegid(::getgid()) == 0;
        ::chmod(locked.constData(), 0755);
        QVERIFY(restored);
        if (!dropped)
            QSKIP("cannot become an unprivileged user here");
        QCOMPARE(leftOut(walk.table.collectStats().folders, dir.path()), folders);
        QCOMPARE(leftOut(walk.table.collectStats().files, dir.path()), files);
        QCOMPARE(sorted(collected(walk.table, dir.path())), expected);
    }

    // Memory that runs out ends the search as a stop does, after a message, wherever it runs out.
    void outOfMemoryStopsTheSearch_data()
    {
        QTest::addColumn<bool>("whileReading");
        QTest::newRow("while collecting") << false;
        QTest::newRow("while reading") << true;
    }
    void outOfMemoryStopsTheSearch()
    {
        QFETCH(bool, whileReading);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), "same") && writeFile(dir.filePath("b"), "same"));
        Search search;
        if (whileReading) {
            ReadOptions options;
            options.afterOpen = [](const char *) { throw std::bad_alloc(); };
            search.driver.setReadOptions(options);
        } else {
            search.driver.setFileFilter(
                [](QByteArrayView, QByteArrayView, std::int64_t) -> bool { throw std::bad_alloc(); });
        }
        QCOMPARE(search.driver.run(RowsOf(dir.path())), SearchDriver::Outcome::OutOfMemory);
        QCOMPARE(search.host.messages,
                 QStringList{"|Not enough memory or threads are left to go on finding duplicates, so the search has "
                             "stopped. Close some programs or search fewer folders at a time, and try again."});
        QCOMPARE(search.sink.rowCount(), std::size_t(0));
    }

    // However many threads list folders, the host sees the same walk: the same files in the same
    // order, progress, captions and skip messages, and events pumped at least as often.
    void parallelWalkKeepsTheOrder_data()
    {
        QTest::addColumn<bool>("mountTwice");
        QTest::newRow("mixed tree") << false;
        QTest::newRow("a folder mounted a second time inside the tree") << true;
    }
    void parallelWalkKeepsTheOrder()
    {
        QFETCH(bool, mountTwice);
        QTemporaryDir dir;
        const RemovedAtEnd removed{dir.path()};
        const QStringList folders = makeMixedTree(dir.path(), 1234);
        std::unique_ptr<BindMount> mount;
        if (mountTwice) {
            // Reached first through the mount in some listing orders, through its own path in others.
            QVERIFY(QDir().mkpath(dir.filePath("again")));
            mount = std::make_unique<BindMount>(dir.path() + folders.at(7), dir.filePath("again"));
            if (!mount->mounted())
                QSKIP("mounting needs root with CAP_SYS_ADMIN");
        }
        Collection one;
        one.over({dir.path(), dir.filePath("d3")}, 1);
        QVERIFY(one.table.count() > 300);
        QCOMPARE(one.host.messages.size(), 1);
        for (const unsigned threads : {4u, 64u}) {
            for (int round = 0; round < 3; ++round) {
                Collection many;
                many.over({dir.path(), dir.filePath("d3")}, threads);
                QCOMPARE(collected(many.table, dir.path()), collected(one.table, dir.path()));
                QCOMPARE(many.host.messages, one.host.messages);
                // Waiting over 100 ms for a listing thread pumps once more, as on a loaded machine.
                QVERIFY2(many.host.pumps >= one.host.pumps, qPrintable(QString::number(many.host.pumps)));
                QCOMPARE(many.host.progress, one.host.progress);
                QCOMPARE(many.host.captions, one.host.captions);
            }
        }
        // The search over it: the same groups in the same order.
        Search single, parallel;
        single.driver.setWalkThreads(1);
        parallel.driver.setWalkThreads(64);
        single.driver.run(RowsOf(dir.path()));
        parallel.driver.run(RowsOf(dir.path()));
        QVERIFY(!single.sink.groups().empty());
        QCOMPARE(parallel.sink.groups(), single.sink.groups());
        mount.reset();
    }

    // A stop at any point of a walk on many threads ends it with nothing collected, and the next
    // search runs whole.
    void stopDuringParallelWalk_data()
    {
        QTest::addColumn<int>("stopAtPoll");
        QTest::newRow("first entry") << 1;
        QTest::newRow("a few folders in") << 40;
        QTest::newRow("near the end") << 400;
    }
    void stopDuringParallelWalk()
    {
        QFETCH(int, stopAtPoll);
        QTemporaryDir dir;
        const RemovedAtEnd removed{dir.path()};
        makeMixedTree(dir.path(), 99);
        Collection stopped;
        stopped.host.stopWhen = [&] { return stopped.host.polls >= stopAtPoll; };
        stopped.over({dir.path()}, 64);
        QCOMPARE(stopped.table.count(), std::size_t(0));
        QCOMPARE(stopped.host.progress, std::vector<int>{0});
        QCOMPARE(stopped.host.captions.size(), 1);

        // The search stopped there ends idle: nothing collected, read or listed (with nothing
        // collected, the stop in the last folder leads to "No duplicate images found.").
        Search stoppedSearch;
        stoppedSearch.driver.setWalkThreads(64);
        stoppedSearch.host.stopWhen = [&] { return stoppedSearch.host.polls >= stopAtPoll + 1; };
        QCOMPARE(stoppedSearch.driver.run(RowsOf(dir.path())), SearchDriver::Outcome::NoDuplicates);
        QCOMPARE(stoppedSearch.driver.candidates().count(), std::size_t(0));
        QCOMPARE(stoppedSearch.driver.matchStats().filesRead, std::uint64_t(0));
        QCOMPARE(stoppedSearch.sink.rowCount(), std::size_t(0));

        stoppedSearch.host.stopWhen = {};
        QCOMPARE(stoppedSearch.driver.run(RowsOf(dir.path())), SearchDriver::Outcome::Found);
        QVERIFY(stoppedSearch.driver.candidates().count() > 300);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(CollectingTest)
#include "tst_collecting.moc"
