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
        QTest::newRow("first listed") << QByteArrayList{"/a/x=1", "/b/x=2", "/c/x=3"} << QByteArrayList{}
                                      << QByteArrayList{"/a/x"};
        QTest::newRow("another name of the kept file")
            << QByteArrayList{"/a/x=1", "/b/x=2", "/c/x=1"} << QByteArrayList{} << QByteArrayList{"/a/x", "/c/x"};
        QTest::newRow("another name of a copy that goes")
            << QByteArrayList{"/a/x=1", "/b/x=2", "/c/x=2"} << QByteArrayList{} << QByteArrayList{"/a/x"};
        QTest::newRow("every copy under the folder, and their other names")
            << QByteArrayList{"/a/x=1", "/keep/x=2", "/keep/y=3", "/z/y=3"} << QByteArrayList{"/keep"}
            << QByteArrayList{"/keep/x", "/keep/y", "/z/y"};
        QTest::newRow("a folder whose name only begins alike")
            << QByteArrayList{"/keepsake/x=1", "/keep/x=2"} << QByteArrayList{"/keep"} << QByteArrayList{"/keep/x"};
    }

    void keptCopies()
    {
        QFETCH(QByteArrayList, paths);
        QFETCH(QByteArrayList, keepUnder);
        QFETCH(QByteArrayList, kept);
        std::vector<GroupFile> group;
        for (const QByteArray &entry : paths) {
            const QByteArrayList parts = entry.split('=');
            GroupFile file{parts[0], {}};
            file.identity.valid = true;
            file.identity.device = 1;
            file.identity.inode = parts[1].toULongLong();
            group.push_back(file);
        }
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
