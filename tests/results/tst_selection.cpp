#include "ResultsModel.h"
#include "SelectionHelpers.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QTemporaryDir>
#include <map>
#include <QtTest>

#include <unistd.h>

namespace {
// Four groups on disk, listed as the search lists them:
//   1: A/a1 (2001), B/a2 (2005), B/sub/a3 (2003)         three files
//   2: A/h1 and A/h1link, one file (2009); B/h2 (2002)   a hard link beside a copy
//   3: A/s1 and A/s1hard, one file                      a group of one file under two names
//   4: A/x2 (2008), L/x1 (2004) where L is a link to B   a folder listed through a link
//   5: B-old/y1 and A/y2, both 2003                      a name that starts like B; a tie
struct Listed
{
    Listed()
    {
        struct File
        {
            std::uint32_t group;
            const char *name;
            int year;
            const char *sameFileAs = nullptr; // a hard link
        };
        const File files[] = {{1, "A/a1", 2001}, {1, "B/a2", 2005},          {1, "B/sub/a3", 2003},
                              {2, "A/h1", 2009}, {2, "A/h1link", 0, "A/h1"}, {2, "B/h2", 2002},
                              {3, "A/s1", 2000}, {3, "A/s1hard", 0, "A/s1"}, {4, "A/x2", 2008},
                              {4, "L/x1", 2004}, {5, "B-old/y1", 2003},      {5, "A/y2", 2003}};
        for (const File &file : files) {
            const QString path = at(file.name).replace(dir.path() + "/L/", dir.path() + "/B/");
            if (file.sameFileAs)
                QVERIFY(::link(QFile::encodeName(at(file.sameFileAs)), QFile::encodeName(path)) == 0);
            else
                QVERIFY(writeFile(path, QByteArray::number(file.group))
                        && setFileTime(path, QDateTime(QDate(file.year, 6, 1), QTime(12, 0)).toSecsSinceEpoch()));
        }
        QVERIFY(QFile::link(at("B"), at("L")));
        std::uint32_t index = 0;
        for (const File &file : files) // identities once every name is in place
            model.addRow(ResultRow{index++, at(file.name), 1, file.group, identityOf(at(file.name))});
        model.showRows();
    }
    QString at(const char *name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }
    int rowOf(const char *name) const
    {
        for (int row = 0; row < model.rows(); ++row)
            if (model.path(row) == at(name))
                return row;
        return -1;
    }
    QStringList checkedNames() const
    {
        QStringList names;
        for (int row : model.checkedRows())
            names << model.path(row).mid(dir.path().size() + 1);
        return names;
    }
    // Every group keeps at least one unchecked row.
    bool noWholeGroupChecked() const
    {
        for (int row = 0; row < model.rows();) {
            const auto [first, end] = model.groupRange(row);
            bool whole = true;
            for (int r = first; r < end; ++r)
                whole = whole && model.isChecked(r);
            if (whole)
                return false;
            row = end;
        }
        return true;
    }

    QTemporaryDir dir;
    ResultsModel model;
};
} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void helpers_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QStringList>("before"); // checked first, by the user
        QTest::addColumn<QString>("helper");
        QTest::addColumn<QString>("row"); // the row the helper is asked on
        QTest::addColumn<QStringList>("checked");
        const QStringList none;
        QTest::newRow("keep first listed") << none << "first" << "" << QStringList{"B/a2", "B/sub/a3", "B/h2", "L/x1", "A/y2"};
        QTest::newRow("keep first replaces marks")
            << QStringList{"A/a1", "A/s1"} << "first" << "" << QStringList{"B/a2", "B/sub/a3", "B/h2", "L/x1", "A/y2"};
        // Equal times keep the first listed of them.
        QTest::newRow("keep oldest") << none << "oldest" << ""
                                     << QStringList{"B/a2", "B/sub/a3", "A/h1", "A/h1link", "A/x2", "A/y2"};
        QTest::newRow("keep newest") << none << "newest" << "" << QStringList{"A/a1", "B/sub/a3", "B/h2", "L/x1", "A/y2"};
        QTest::newRow("keep shortest path") << none << "shortest" << ""
                                            << QStringList{"B/a2", "B/sub/a3", "B/h2", "L/x1", "B-old/y1"};
        // Subfolders are inside; a file listed through the link L is where its path says.
        QTest::newRow("in B") << none << "inside" << "B/a2" << QStringList{"B/a2", "B/sub/a3", "B/h2"};
        QTest::newRow("in A: the two names of s1 stay") << none << "inside" << "A/a1"
                                                        << QStringList{"A/a1", "A/h1", "A/h1link", "A/x2", "A/y2"};
        // B-old is not inside B; its group would be whole, so its first row stays.
        QTest::newRow("outside B") << none << "outside" << "B/a2"
                                   << QStringList{"A/a1", "A/h1", "A/h1link", "L/x1", "A/y2"};
        QTest::newRow("outside B/sub keeps earlier marks")
            << QStringList{"B/a2"} << "outside" << "B/sub/a3" << QStringList{"A/a1", "B/a2", "B/h2", "L/x1", "A/y2"};
        QTest::newRow("in A, the rest of a group checked by hand: its first row stays")
            << QStringList{"B/a2", "B/sub/a3"} << "inside" << "A/a1"
            << QStringList{"B/a2", "B/sub/a3", "A/h1", "A/h1link", "A/x2", "A/y2"};
        QTest::newRow("in sub, rest of the group checked by hand")
            << QStringList{"A/a1", "B/a2"} << "inside" << "B/sub/a3" << QStringList{"A/a1", "B/a2"};
        QTest::newRow("uncheck this group") << QStringList{"A/a1", "B/a2", "L/x1"} << "uncheck" << "B/sub/a3"
                                            << QStringList{"L/x1"};
        // clang-format on
    }

    void helpers()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, helper);
        QFETCH(QString, row);
        QFETCH(QStringList, checked);
        Listed listed;
        QVERIFY(!QTest::currentTestFailed());
        for (const QString &name : before)
            listed.model.SetCheckedByText(listed.at(qPrintable(name)), true);
        const int at = listed.rowOf(qPrintable(row));
        const QString folder = at >= 0 ? QFileInfo(listed.model.path(at)).path() : QString();
        const std::map<QString, KeepRule> keep{{"first", KeepRule::FirstListed},
                                               {"oldest", KeepRule::Oldest},
                                               {"newest", KeepRule::Newest},
                                               {"shortest", KeepRule::ShortestPath}};
        if (keep.count(helper))
            checkAllButOne(listed.model, keep.at(helper));
        else if (helper != QLatin1String("uncheck"))
            checkByFolder(listed.model, folder + (helper == QLatin1String("outside") ? "/" : ""),
                          helper == QLatin1String("inside") ? FolderSide::Inside : FolderSide::Outside);
        else
            uncheckGroup(listed.model, at);
        QCOMPARE(listed.checkedNames(), checked);
        QVERIFY(listed.noWholeGroupChecked());
    }

    void nextFullyCheckedGroup_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("from"); // empty: no current row
        QTest::addColumn<QString>("found"); // empty: none
        const QStringList groups24{"A/h1", "A/h1link", "B/h2", "A/x2", "L/x1"};
        QTest::newRow("none") << QStringList{"A/a1"} << "A/a1" << "";
        QTest::newRow("next after") << groups24 << "A/a1" << "A/h1";
        QTest::newRow("from inside one goes to the next") << groups24 << "A/h1link" << "A/x2";
        QTest::newRow("round to the top") << groups24 << "L/x1" << "A/h1";
        QTest::newRow("no current row") << groups24 << "" << "A/h1";
        // clang-format on
    }

    void nextFullyCheckedGroup()
    {
        QFETCH(QStringList, checked);
        QFETCH(QString, from);
        QFETCH(QString, found);
        Listed listed;
        for (const QString &name : checked)
            listed.model.SetCheckedByText(listed.at(qPrintable(name)), true);
        QCOMPARE(::nextFullyCheckedGroup(listed.model, listed.rowOf(qPrintable(from))),
                 listed.rowOf(qPrintable(found)));
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestSelection)
#include "tst_selection.moc"
