#include "CandidateTable.h"
#include "Fakes.h"
#include "FolderWalker.h"
#include "Paths.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

bool makeFile(const QByteArray &path, const QByteArray &contents = {})
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, contents.constData(), size_t(contents.size())) == contents.size();
    return ::close(fd) == 0 && written;
}

bool makeFile(const QString &path)
{
    return makeFile(QFile::encodeName(path));
}

bool makeFolder(const QString &path)
{
    return QDir().mkpath(path);
}

// The names of a folder as the file system yields them.
QStringList listingOrder(const QString &folder)
{
    QStringList names;
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names << QFile::decodeName(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// Collected paths below root, in collection order.
QStringList collected(const CandidateTable &table, const QString &root)
{
    QStringList paths;
    for (std::size_t k = 0; k < table.count(); ++k)
        paths << table.path(k).mid(root.size() + 1);
    return paths;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QString analyzing(const QString &folder)
{
    return QStringLiteral("Twinfold 7.0 [Analyzing ") + folder + QStringLiteral(" folder]");
}

} // namespace

class WalkerTest : public QObject
{
    Q_OBJECT

private slots:
    void pathOperations_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file") << "/home/u/photos/cat.jpg" << "cat.jpg" << "/home/u/photos/";
        QTest::newRow("folder text") << "/home/u/photos/" << "" << "/home/u/photos/";
        QTest::newRow("no separator") << "cat.jpg" << "cat.jpg" << "";
        QTest::newRow("root") << "/" << "" << "/";
        QTest::newRow("question mark") << "a/b?c" << "b?c" << "a/";
        QTest::newRow("backslash is a character") << "/x/a\\b" << "a\\b" << "/x/";
        QTest::newRow("empty") << "" << "" << "";
    }
    void pathOperations()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QCOMPARE(NameOfPath(path), name);
        QCOMPARE(FolderOfPath(path), folder);
        QCOMPARE(FolderOfPath(path) + NameOfPath(path), path);
    }

    void queueEntry_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("plain") << "/photos" << QByteArray("/photos/");
        QTest::newRow("trailing separator") << "/photos/" << QByteArray("/photos/");
        QTest::newRow("root") << "/" << QByteArray("/");
        QTest::newRow("relative") << "rel/dir" << QByteArray("rel/dir/");
        QTest::newRow("empty") << "" << QByteArray();
    }
    void queueEntry()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, entry);
        QCOMPARE(QueueEntryOf(folder), entry);
    }

    void isFolder()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("f")));
        QVERIFY(QFile::link(dir.path(), dir.filePath("link")));
        QVERIFY(IsFolder(dir.path()));
        QVERIFY(IsFolder(dir.filePath("link")));
        QVERIFY(!IsFolder(dir.filePath("f")));
        QVERIFY(!IsFolder(dir.filePath("missing")));
        QVERIFY(!IsFolder(QString()));
    }

    // A with a1, a2 and subfolders B (b1, subfolder C with c1) and D (d1).
    void collectionOrder()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath("A");
        for (const char *path : {"A/a1", "A/a2", "A/B/b1", "A/B/C/c1", "A/D/d1"}) {
            QVERIFY(makeFolder(FolderOfPath(dir.filePath(QLatin1String(path)))));
            QVERIFY(makeFile(dir.filePath(QLatin1String(path))));
        }
        // Own files first, then each subfolder's subtree in the order the file system lists them.
        QStringList expected;
        const QStringList names = listingOrder(a);
        for (const QString &name : names)
            if (name.startsWith(QLatin1Char('a')))
                expected << name;
        for (const QString &name : names) {
            if (name == QLatin1String("B"))
                expected << QStringLiteral("B/b1") << QStringLiteral("B/C/c1");
            else if (name == QLatin1String("D"))
                expected << QStringLiteral("D/d1");
        }

        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(a, table, host);
        QCOMPARE(collected(table, a), expected);
        QCOMPARE(table.folderName(std::size_t(expected.indexOf(QStringLiteral("B/C/c1")))), a + "/B/C/");
        QCOMPARE(host.captions, (QStringList{analyzing(a), QStringLiteral("Twinfold 7.0")}));
        QCOMPARE(host.progress, (std::vector<int>{0, 0, 25, 50, 75, 100}));
        QVERIFY(host.messages.isEmpty());
    }

    void progressAndEvents()
    {
        QTemporaryDir dir;
        QVERIFY(makeFolder(dir.filePath("one")) && makeFolder(dir.filePath("two")));
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(dir.path(), table, host);
        QCOMPARE(host.progress, (std::vector<int>{0, 0, 33, 66, 100}));
        QCOMPARE(host.pumps, 6); // once per folder walked, once per queued folder
    }

    void trailingSeparator()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("f")));
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(dir.path() + '/', table, host);
        QCOMPARE(host.captions.value(0), analyzing(dir.path() + '/'));
        QCOMPARE(table.count(), std::size_t(1));
        QCOMPARE(table.path(0), dir.filePath("f"));
        QCOMPARE(table.folderName(0), dir.path() + '/');
    }

    void rootFolderKeepsItsSeparator()
    {
        RecordingHost host;
        host.stopWhen = [] { return true; };
        CandidateTable table;
        AnalyzeFolder(QStringLiteral("/"), table, host);
        QCOMPARE(host.captions, QStringList{analyzing(QStringLiteral("/"))});
        QCOMPARE(host.progress, std::vector<int>{0});
        QCOMPARE(table.count(), std::size_t(0));
    }

    void nothingToCollect_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("empty folder") << "empty";
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("a file, not a folder") << "file";
        QTest::newRow("FIFO listed") << "fifo";
    }
    void nothingToCollect()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString listed = dir.filePath(kind);
        if (kind == QLatin1String("empty"))
            QVERIFY(makeFolder(listed));
        else if (kind == QLatin1String("file"))
            QVERIFY(makeFile(listed));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(listed).constData(), 0644), 0);
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(listed, table, host);
        QCOMPARE(table.count(), std::size_t(0));
        QCOMPARE(host.progress, (std::vector<int>{0, 0, 100}));
        QCOMPARE(host.captions, (QStringList{analyzing(listed), QStringLiteral("Twinfold 7.0")}));
        QVERIFY(host.messages.isEmpty());
    }

    void emptyFolderText()
    {
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(QString(), table, host);
        QCOMPARE(host.progress, std::vector<int>{0});
        QVERIFY(host.captions.isEmpty());
    }

    // Beside the plain file "keep", one odd entry; the expected collection, sorted.
    void oddEntries_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("expected");
        const QStringList keep{QStringLiteral("keep")};
        QTest::newRow("hidden file") << "hidden file" << keep;
        QTest::newRow("hidden folder") << "hidden folder" << keep;
        QTest::newRow("link to a file") << "file link" << keep;
        QTest::newRow("link to a folder") << "folder link" << QStringList{"keep", "sub/inner"};
        QTest::newRow("link loop") << "loop" << keep;
        QTest::newRow("FIFO") << "fifo" << keep;
        QTest::newRow("socket") << "socket" << keep;
        QTest::newRow("literal question mark") << "question" << QStringList{"keep", "what?.jpg"};
        QTest::newRow("empty and large") << "sizes" << QStringList{"big", "keep"};
    }
    void oddEntries()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(makeFile(dir.filePath("keep")));
        const auto at = [&](const char *name) { return QFile::encodeName(dir.filePath(QLatin1String(name))); };
        if (kind == QLatin1String("hidden file")) {
            QVERIFY(makeFile(at(".hidden")));
        } else if (kind == QLatin1String("hidden folder")) {
            QVERIFY(makeFolder(dir.filePath(".cache")) && makeFile(at(".cache/inner")));
        } else if (kind == QLatin1String("file link")) {
            QCOMPARE(::symlink("keep", at("alias").constData()), 0);
        } else if (kind == QLatin1String("folder link")) {
            QVERIFY(makeFolder(dir.filePath("sub")) && makeFile(at("sub/inner")));
            QCOMPARE(::symlink("sub", at("alias").constData()), 0);
            QCOMPARE(::symlink("..", at("sub/up").constData()), 0);
        } else if (kind == QLatin1String("loop")) {
            QCOMPARE(::symlink("b", at("a").constData()), 0);
            QCOMPARE(::symlink("a", at("b").constData()), 0);
            QCOMPARE(::symlink(".", at("self").constData()), 0);
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(at("pipe").constData(), 0644), 0);
        } else if (kind == QLatin1String("socket")) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = at("sock");
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            const int bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
            ::close(fd);
            QCOMPARE(bound, 0);
        } else if (kind == QLatin1String("question")) {
            QVERIFY(makeFile(at("what?.jpg")));
        } else if (kind == QLatin1String("sizes")) {
            QVERIFY(makeFile(at("big")));
            QCOMPARE(::truncate(at("big").constData(), 5'000'000'000LL), 0); // sparse, past 32 bits
        }
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(root, table, host);
        QCOMPARE(sorted(collected(table, root)), expected);
        QVERIFY2(host.messages.isEmpty(), qPrintable(host.messages.join('\n')));
        if (kind == QLatin1String("sizes"))
            for (std::size_t k = 0; k < table.count(); ++k)
                QCOMPARE(table.file(k).size, table.fileName(k) == QLatin1String("big") ? 5'000'000'000LL : 0LL);
    }

    void listedFolderIsALink()
    {
        QTemporaryDir dir;
        QVERIFY(makeFolder(dir.filePath("real")) && makeFile(dir.filePath("real/f")));
        QVERIFY(QFile::link(dir.filePath("real"), dir.filePath("link")));
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(dir.filePath("link"), table, host);
        QCOMPARE(table.count(), std::size_t(1));
        QCOMPARE(table.path(0), dir.filePath("link/f"));
    }

    void namesThatDoNotDecode()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(makeFile(root + "/keep"));
        QVERIFY(makeFile(root + "/bad\xff.jpg"));
        QCOMPARE(::mkdir(root + "/dir\xfe", 0755), 0);
        QVERIFY(makeFile(root + "/dir\xfe/inner"));
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(dir.path(), table, host);
        QCOMPARE(collected(table, dir.path()), QStringList{QStringLiteral("keep")});
        const QString tail = QStringLiteral(" has been skipped because it is unrecognizeable. This is probably because "
                                            "it contains strange characters. Please rename the file or folder if you "
                                            "would like it included next time you find dupes.");
        QCOMPARE(sorted(host.messages), (QStringList{"Skip|" + dir.path() + "/bad?.jpg" + tail,
                                                      "Skip|" + dir.path() + "/dir?" + tail}));
        // QTemporaryDir removes by text, which cannot name these.
        ::unlink(root + "/dir\xfe/inner");
        ::rmdir(root + "/dir\xfe");
        ::unlink(root + "/bad\xff.jpg");
    }

    // Tree: top/f1, top/sub/f2, top/sub/f1link (a hard link to top/f1), and toplink -> top.
    void sameFileCollectedOnce_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("expected"); // sorted
        const QStringList once{QStringLiteral("top/f1"), QStringLiteral("top/sub/f2")};
        QTest::newRow("hard link") << QStringList{"top"} << once;
        QTest::newRow("listed twice") << QStringList{"top", "top/"} << once;
        QTest::newRow("two spellings") << QStringList{"top", "top/./sub/.."} << once;
        QTest::newRow("through a link") << QStringList{"top", "toplink"} << once;
        QTest::newRow("folder, then its subfolder") << QStringList{"top", "top/sub"} << once;
        QTest::newRow("subfolder, then its folder")
            << QStringList{"top/sub", "top"} << QStringList{"top/sub/f1link", "top/sub/f2"};
    }
    void sameFileCollectedOnce()
    {
        QFETCH(QStringList, listed);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(makeFolder(dir.filePath("top/sub")));
        QVERIFY(makeFile(dir.filePath("top/f1")) && makeFile(dir.filePath("top/sub/f2")));
        QVERIFY(::link(QFile::encodeName(dir.filePath("top/f1")), QFile::encodeName(dir.filePath("top/sub/f1link")))
                == 0);
        QVERIFY(QFile::link(dir.filePath("top"), dir.filePath("toplink")));
        RecordingHost host;
        CandidateTable table;
        for (const QString &folder : listed)
            AnalyzeFolder(dir.filePath(folder), table, host);
        QCOMPARE(sorted(collected(table, dir.path())), expected);
        QCOMPARE(host.progress.back(), 100);
    }

    void deepTree()
    {
        QTemporaryDir dir;
        QString path = dir.path();
        for (int depth = 0; depth < 150; ++depth)
            path += QStringLiteral("/d");
        QVERIFY(makeFolder(path));
        QVERIFY(makeFile(path + QStringLiteral("/bottom")));
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(dir.path(), table, host);
        QCOMPARE(table.count(), std::size_t(1));
        QCOMPARE(table.path(0), path + QStringLiteral("/bottom"));
    }

    // Tree: root/f, root/s1/f, root/s2/f. The walk pumps events once per folder (3), then the
    // collection once per queued folder; stop is raised once the pump count is reached.
    void stop_data()
    {
        QTest::addColumn<int>("stopAtPump");
        QTest::addColumn<int>("collectedFiles");
        QTest::addColumn<std::vector<int>>("progress");
        QTest::newRow("at the first entry") << 1 << 0 << std::vector<int>{0};
        QTest::newRow("inside a subfolder's walk") << 2 << 0 << std::vector<int>{0};
        QTest::newRow("before the second queued folder") << 5 << 1 << std::vector<int>{0, 0};
        QTest::newRow("never") << 100 << 3 << std::vector<int>{0, 0, 33, 66, 100};
    }
    void stop()
    {
        QFETCH(int, stopAtPump);
        QFETCH(int, collectedFiles);
        QFETCH(std::vector<int>, progress);
        QTemporaryDir dir;
        for (const char *path : {"f", "s1/f", "s2/f"}) {
            QVERIFY(makeFolder(FolderOfPath(dir.filePath(QLatin1String(path)))));
            QVERIFY(makeFile(dir.filePath(QLatin1String(path))));
        }
        RecordingHost host;
        host.stopWhen = [&] { return host.pumps >= stopAtPump; };
        CandidateTable table;
        AnalyzeFolder(dir.path(), table, host);
        QCOMPARE(table.count(), std::size_t(collectedFiles));
        QCOMPARE(host.progress, progress);
        QCOMPARE(host.captions.size(), collectedFiles == 3 ? 2 : 1); // a stop leaves the caption as it is
    }

    void unreadableFolderAddsNothing()
    {
        QTemporaryDir dir;
        QVERIFY(makeFile(dir.filePath("keep")));
        QVERIFY(makeFolder(dir.filePath("locked")) && makeFile(dir.filePath("locked/inner")));
        QCOMPARE(::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        const auto walk = [&] {
            RecordingHost host;
            CandidateTable table;
            AnalyzeFolder(dir.path(), table, host);
            return table.count() == 1 && table.path(0) == dir.filePath("keep") && host.messages.isEmpty()
                && host.progress.back() == 100;
        };
        if (::geteuid() != 0) {
            QVERIFY(walk());
        } else {
            // Root reads every folder; a child that gives up root sees what a user sees.
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                const gid_t nobody = 65534;
                const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0
                    && ::setresuid(nobody, nobody, nobody) == 0;
                ::_exit(!dropped ? 2 : walk() ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0755);
    }

    void kernelViewsAreNotWalked()
    {
        if (!QFile::exists(QStringLiteral("/proc/self/status")))
            QSKIP("no /proc here");
        RecordingHost host;
        CandidateTable table;
        AnalyzeFolder(QStringLiteral("/proc"), table, host);
        QCOMPARE(table.count(), std::size_t(0));
        QCOMPARE(host.progress.back(), 100);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(WalkerTest)
#include "tst_walker.moc"
