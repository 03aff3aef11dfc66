#include "CandidateTable.h"
#include "FolderSet.h"
#include "MatchingFixture.h"
#include "UniqueFiles.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

class TestFolderSet : public QObject
{
    Q_OBJECT

private slots:
    void pathUnder()
    {
        const std::tuple<const char *, const char *, bool> cases[] = {
            {"/a/b", "/a", true},   {"/a/b/c", "/a", true}, {"/a/b", "/a/", true},
            {"/ab/c", "/a", false}, {"/a", "/a", false},    {"/a/", "/a", false},
            {"/a", "/a/b", false},  {"/a", "/", true},      {"/", "/", false}};
        for (const auto &[path, folder, under] : cases)
            QVERIFY2(isPathUnder(path, folder) == under, qPrintable(QStringLiteral("%1 in %2").arg(path, folder)));
    }

    // A folder reached through a link (another row) is the same folder on disk.
    void folderReachedThroughAnotherPath()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/lib/sub")) && QDir().mkpath(dir.path() + "/libx"));
        QVERIFY(::symlink((root + "/lib").constData(), (root + "/link").constData()) == 0);
        const FolderSet set({root + "/lib"});
        QVERIFY(set.holdsFolder(root + "/lib/"));
        QVERIFY(set.holdsFolder(root + "/lib/sub/"));
        QVERIFY(set.holdsFolder(root + "/link/sub/"));
        QVERIFY(set.holdsFile(root + "/link/sub/file"));
        QVERIFY(!set.holdsFolder(root + "/libx/"));
        QVERIFY(!set.holdsFile(root + "/libx/file"));
        QVERIFY(!set.holdsFolder(root + "/"));
    }

    // A file that could not be read is neither unique nor a copy: it is named apart.
    void unreadableNamedApart()
    {
        FileTree tree;
        for (const char *name : {"lib/a", "lib/b", "other/b"})
            tree.write(QString::fromLatin1(name), QByteArray("same"));
        CandidateTable table;
        tree.collect(table, {"lib/a", "lib/b", "other/b"});
        const FolderSet lib({QFile::encodeName(tree.path("lib"))});
        const UniqueFiles found = findUniqueFiles(table, {ContentClass{{1, 2}, 0, {}}}, {{0, EACCES}}, lib);
        QCOMPARE(found.files, std::vector<std::uint32_t>{});
        QCOMPARE(found.unreadable, std::vector<std::uint32_t>{0});
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestFolderSet)
#include "tst_folderset.moc"
