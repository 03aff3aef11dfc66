#include "CandidateTable.h"
#include "Fakes.h"
#include "FolderWalker.h"
#include "Paths.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

namespace {

bool makeFile(const QByteArray &path)
{
    return ::close(::creat(path.constData(), 0644)) == 0;
}

// Builds entries below root: "d/" a folder, "a -> b" a symbolic link, "a => b" a hard link to b,
// "p|" a FIFO, anything else an empty file; parent folders are made as needed.
bool makeTree(const QString &root, const QStringList &entries)
{
    const auto at = [&](const QString &path) { return QFile::encodeName(root + QLatin1Char('/') + path); };
    for (const QString &entry : entries) {
        QString path = entry.section(QLatin1Char(' '), 0, 0);
        const QString target = entry.section(QLatin1Char(' '), 2);
        if (!QDir(root).mkpath(QLatin1String(".") + QLatin1Char('/') + FolderOfPath(path)))
            return false;
        const bool made = entry.contains(QLatin1String(" -> "))
            ? ::symlink(QFile::encodeName(target).constData(), at(path).constData()) == 0
            : entry.contains(QLatin1String(" => ")) ? ::link(at(target).constData(), at(path).constData()) == 0
            : path.endsWith(QLatin1Char('|'))       ? ::mkfifo(at(path.chopped(1)).constData(), 0644) == 0
                                                    : path.endsWith(QLatin1Char('/')) || makeFile(at(path));
        if (!made)
            return false;
    }
    return true;
}

// One search's collection over the listed folders, as the driver runs it.
struct Walk
{
    RecordingHost host;
    CandidateTable table;
    void over(const QStringList &folders)
    {
        for (const QString &folder : folders)
            AnalyzeFolder(folder, table, host);
    }
};

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
        // One row to a line.
        // clang-format off
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file") << "/home/u/photos/cat.jpg" << "/home/u/photos/";
        QTest::newRow("folder text") << "/home/u/photos/" << "/home/u/photos/";
        QTest::newRow("no separator") << "cat.jpg" << "";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("backslash is a character") << "/x/a\\b" << "/x/";
        // clang-format on
    }
    void pathOperations()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(FolderOfPath(path), folder);
    }

    // A with a1, a2 and subfolders B (b1, subfolder C with c1) and D (d1).
    void collectionOrder()
    {
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.path(), {"A/a1", "A/a2", "A/B/b1", "A/B/C/c1", "A/D/d1"}));
        const QString a = dir.filePath("A");
        // Own files first, then each subfolder's subtree, all in the order the file system lists them.
        const QStringList names = QDir(a).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
        const QStringList b{"B/b1", "B/C/c1"}, d{"D/d1"};
        const QStringList expected = names.filter(QLatin1String("a"))
            + (names.indexOf("B") < names.indexOf("D") ? b + d : d + b);

        Walk walk;
        walk.over({a});
        QCOMPARE(collected(walk.table, a), expected);
        QCOMPARE(walk.table.folderName(std::size_t(expected.indexOf(QStringLiteral("B/C/c1")))), a + "/B/C/");
        QCOMPARE(walk.host.captions, (QStringList{analyzing(a), QStringLiteral("Twinfold 7.0")}));
        QCOMPARE(walk.host.progress, (std::vector<int>{0, 0, 25, 50, 75, 100}));
        QCOMPARE(walk.host.pumps, 8); // once per folder walked, once per queued folder
        QVERIFY(walk.host.messages.isEmpty());
    }

    // The listed folders as given decide the collected paths (sorted here), their folders and the
    // caption; a folder that cannot be walked collects nothing and says nothing. Kernel views hold
    // no user files, and some of theirs never end: listed, or mounted inside a listed folder
    // ("kernel/" below), they are not walked.
    void collects_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("trailing separator") << QStringList{"d/f"} << QStringList{"d/"} << QStringList{"d/f"};
        QTest::newRow("a link to a folder") << QStringList{"real/f", "link -> real"} << QStringList{"link"} << QStringList{"link/f"};
        const QString deep = QStringLiteral("d") + QStringLiteral("/d").repeated(149);
        QTest::newRow("150 levels deep") << QStringList{deep + "/f"} << QStringList{"d"} << QStringList{deep + "/f"};
        QTest::newRow("empty folder") << QStringList{"x/"} << QStringList{"x"} << QStringList{};
        QTest::newRow("missing folder") << QStringList{} << QStringList{"x"} << QStringList{};
        QTest::newRow("a FIFO") << QStringList{"x|"} << QStringList{"x"} << QStringList{};
        QTest::newRow("empty text") << QStringList{} << QStringList{""} << QStringList{};
        QTest::newRow("kernel view listed") << QStringList{} << QStringList{"/proc"} << QStringList{};
        QTest::newRow("kernel view inside") << QStringList{"t/keep", "t/kernel/", "t/z/b"} << QStringList{"t"} << QStringList{"t/keep", "t/z/b"};
        // Beside the plain file t/keep, odd entries.
        const QStringList t{"t"}, keep{"t/keep"};
        QTest::newRow("hidden file") << QStringList{"t/keep", "t/.hidden"} << t << keep;
        QTest::newRow("hidden folder") << QStringList{"t/keep", "t/.cache/inner"} << t << keep;
        QTest::newRow("link to a file") << QStringList{"t/keep", "t/alias -> keep"} << t << keep;
        QTest::newRow("link to a folder") << QStringList{"t/keep", "t/sub/inner", "t/alias -> sub", "t/sub/up -> .."} << t << QStringList{"t/keep", "t/sub/inner"};
        QTest::newRow("link loop") << QStringList{"t/keep", "t/a -> b", "t/b -> a", "t/self -> ."} << t << keep;
        QTest::newRow("FIFO") << QStringList{"t/keep", "t/pipe|"} << t << keep;
        QTest::newRow("literal question mark") << QStringList{"t/keep", "t/what?.jpg"} << t << QStringList{"t/keep", "t/what?.jpg"};
        QTest::newRow("sparse file past 4 GiB") << QStringList{"t/keep", "t/big"} << t << QStringList{"t/big", "t/keep"};
        // One file met twice.
        const QStringList links{"top/f1", "top/sub/f2", "top/sub/f1link => top/f1"}, once{"top/f1", "top/sub/f2"};
        QTest::newRow("hard link") << links << QStringList{"top"} << once;
        QTest::newRow("listed twice") << links << QStringList{"top", "top/"} << once;
        QTest::newRow("folder, then its subfolder") << links << QStringList{"top", "top/sub"} << once;
        QTest::newRow("subfolder, then its folder") << links << QStringList{"top/sub", "top"} << QStringList{"top/sub/f1link", "top/sub/f2"};
        // clang-format on
    }
    void collects()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.path(), tree));
        std::optional<BindMount> proc;
        if (tree.contains("t/kernel/") && !proc.emplace(QStringLiteral("/proc"), dir.filePath("t/kernel")).mounted())
            QSKIP("mounting is not allowed here");
        if (tree.contains("t/big"))
            QCOMPARE(::truncate(QFile::encodeName(dir.filePath("t/big")).constData(), 5'000'000'000LL), 0);
        for (QString &folder : listed)
            if (!folder.isEmpty() && !folder.startsWith('/'))
                folder = dir.filePath(folder);
        Walk walk;
        walk.over(listed);
        QVERIFY2(walk.host.messages.isEmpty(), qPrintable(walk.host.messages.join('\n')));
        if (listed == QStringList{QString()}) { // nothing shown at all
            QCOMPARE(walk.host.progress, std::vector<int>{0});
            QVERIFY(walk.host.captions.isEmpty());
        } else {
            QCOMPARE(walk.host.captions.mid(0, 2), (QStringList{analyzing(listed[0]), QStringLiteral("Twinfold 7.0")}));
            QCOMPARE(walk.host.progress.back(), 100);
        }
        const QStringList found = collected(walk.table, dir.path());
        QCOMPARE(sorted(found), expected);
        for (qsizetype k = 0; k < found.size(); ++k)
            QCOMPARE(walk.table.folderName(std::size_t(k)), dir.path() + '/' + FolderOfPath(found[k]));
        if (found.contains("t/big"))
            QCOMPARE(walk.table.file(std::size_t(found.indexOf("t/big"))).size, 5'000'000'000LL);
    }

    void namesThatDoNotDecode()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(makeFile(root + "/keep") && makeFile(root + "/bad\xff.jpg"));
        QVERIFY(::mkdir(root + "/dir\xfe", 0755) == 0 && makeFile(root + "/dir\xfe/inner"));
        Walk walk;
        walk.over({dir.path()});
        QCOMPARE(collected(walk.table, dir.path()), QStringList{QStringLiteral("keep")});
        const QString tail = QStringLiteral(" has been skipped because it is unrecognizeable. This is probably because "
                                            "it contains strange characters. Please rename the file or folder if you "
                                            "would like it included next time you find dupes.");
        QCOMPARE(sorted(walk.host.messages),
                 (QStringList{"Skip|" + dir.path() + "/bad?.jpg" + tail, "Skip|" + dir.path() + "/dir?" + tail}));
        // QTemporaryDir removes by text, which cannot name these.
        std::filesystem::remove_all(root.constData());
    }

    // Tree: f, s1/f, s2/f. The walk pumps events once per folder (3), then the collection once
    // per queued folder; stop is raised once the pump count is reached. The root folder, stopped
    // at once, keeps its separator in the caption.
    void stop_data()
    {
        QTest::addColumn<QString>("listed"); // the tree's folder when empty
        QTest::addColumn<int>("stopAtPump");
        QTest::addColumn<int>("collectedFiles");
        QTest::addColumn<std::vector<int>>("progress");
        QTest::newRow("at the first entry") << "" << 1 << 0 << std::vector<int>{0};
        QTest::newRow("before the second queued folder") << "" << 5 << 1 << std::vector<int>{0, 0};
        QTest::newRow("never") << "" << 100 << 3 << std::vector<int>{0, 0, 33, 66, 100};
        QTest::newRow("the root folder, at once") << "/" << 0 << 0 << std::vector<int>{0};
    }
    void stop()
    {
        QFETCH(QString, listed);
        QFETCH(int, stopAtPump);
        QFETCH(int, collectedFiles);
        QFETCH(std::vector<int>, progress);
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.path(), {"f", "s1/f", "s2/f"}));
        if (listed.isEmpty())
            listed = dir.path();
        Walk walk;
        walk.host.stopWhen = [&] { return walk.host.pumps >= stopAtPump; };
        walk.over({listed});
        QCOMPARE(walk.table.count(), std::size_t(collectedFiles));
        QCOMPARE(walk.host.progress, progress);
        QCOMPARE(walk.host.captions.front(), analyzing(listed));
        QCOMPARE(walk.host.captions.size(), collectedFiles == 3 ? 2 : 1); // a stop leaves the caption as it is
    }
};

TWINFOLD_GUILESS_TEST_MAIN(WalkerTest)
#include "tst_walker.moc"
