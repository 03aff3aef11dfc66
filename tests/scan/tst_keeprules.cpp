#include "KeepRules.h"
#include "TestMain.h"

#include <QtTest>

// Which names -e leaves out of its list. A file reached under two names (through an overlay or
// a pass-through mount, the read shows one file) must keep both names when it is the copy kept:
// listing the second name would have a script remove a name of the file it meant to keep.
class TestKeepRules : public QObject
{
    Q_OBJECT

private slots:
    void keptCopies_data()
    {
        QTest::addColumn<QByteArrayList>("paths"); // "path=n": n is the file it names
        QTest::addColumn<QByteArrayList>("keepUnder");
        QTest::addColumn<QByteArrayList>("kept");
        const auto row = [](const char *name, const QByteArrayList &paths, const QByteArrayList &keepUnder,
                            const QByteArrayList &kept) { QTest::newRow(name) << paths << keepUnder << kept; };
        row("first listed", {"/a/x=1", "/b/x=2", "/c/x=3"}, {}, {"/a/x"});
        row("another name of the kept file", {"/a/x=1", "/b/x=2", "/c/x=1"}, {}, {"/a/x", "/c/x"});
        row("another name of a copy that goes", {"/a/x=1", "/b/x=2", "/c/x=2"}, {}, {"/a/x"});
        row("every copy under the folder, and their other names", {"/a/x=1", "/keep/x=2", "/keep/y=3", "/z/y=3"},
            {"/keep"}, {"/keep/x", "/keep/y", "/z/y"});
        row("a folder whose name only begins alike", {"/keepsake/x=1", "/keep/x=2"}, {"/keep"}, {"/keep/x"});
    }

    void keptCopies()
    {
        QFETCH(QByteArrayList, paths);
        QFETCH(QByteArrayList, keepUnder);
        QFETCH(QByteArrayList, kept);
        std::vector<GroupFile> group;
        for (const QByteArray &entry : paths)
            group.push_back(
                {entry.split('=')[0], {.valid = true, .device = 1, .inode = entry.split('=')[1].toULongLong()}});
        const std::vector<bool> keeps = ::keptCopies(group, KeepRule::FirstListed, keepUnder);
        QByteArrayList found;
        for (std::size_t i = 0; i < group.size(); ++i)
            if (keeps[i])
                found << group[i].path;
        QCOMPARE(found, kept);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestKeepRules)
#include "tst_keeprules.moc"
