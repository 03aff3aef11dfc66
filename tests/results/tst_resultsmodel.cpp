#include "ResultsModel.h"
#include "TestMain.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QDateTime>
#include <QtTest>

namespace {
// A row as the matching hands it over; the identity is made up, so nothing is examined.
ResultRow listedRow(const QString &path, std::uint32_t group, std::uint32_t index = 0, std::int64_t mtime = 0)
{
    ResultRow row;
    row.path = path;
    row.group = group;
    row.collectionIndex = index;
    row.size = 3;
    row.identity.valid = true;
    row.identity.inode = index + 1;
    row.identity.mtimeSeconds = mtime;
    return row;
}

// Rows in groups of the given sizes, paths "/g<group>/<copy>".
void addGroups(ResultsModel &model, const QList<int> &sizes)
{
    std::uint32_t index = 0;
    for (int g = 0; g < sizes.size(); ++g) {
        for (int copy = 0; copy < sizes[g]; ++copy, ++index)
            model.addRow(listedRow(QStringLiteral("/g%1/%2").arg(g + 1).arg(copy + 1), std::uint32_t(g + 1), index));
        model.endGroup();
    }
    model.showRows();
}

QStringList paths(const ResultsModel &model)
{
    QStringList listed;
    for (int row = 0; row < model.rows(); ++row)
        listed << model.path(row);
    return listed;
}
} // namespace

class TestResultsModel : public QObject
{
    Q_OBJECT

private slots:
    // Groups alternate from light blue; a colour belongs to a position, not to a row: rows that
    // move up take their new place's. A name not in the table draws in the list's own colours.
    void coloursGoByGroupAndPosition()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        addGroups(model, {3, 2, 2});
        QCOMPARE(model.groupCount(), 3);
        const QStringList expected{"light blue", "light blue", "light blue", "blue",
                                   "blue",       "light blue", "light blue"};
        for (int row = 0; row < model.rows(); ++row)
            QCOMPARE(model.rowColour(row), expected[row]);
        QCOMPARE(model.rowColour(7), QString()); // past the last row
        const auto brush = [&](int row, int column, int role) {
            return model.data(model.index(row, column), role).value<QBrush>().color();
        };
        QVERIFY(model.removeRows(0, 1));
        QCOMPARE(model.path(2), QStringLiteral("/g2/1"));
        QCOMPARE(brush(2, 1, Qt::BackgroundRole), QColor(242, 242, 255));
        QCOMPARE(brush(3, 0, Qt::BackgroundRole), QColor(212, 234, 255));
        QCOMPARE(model.rowColour(6), QStringLiteral("light blue")); // no row stands there now
        // Every name the drawing knows, though the search writes only the two blues.
        const std::pair<const char *, QColor> known[] = {
            {"blue", {212, 234, 255}},        {"light blue", {242, 242, 255}},   {"light green", {242, 255, 242}},
            {"green", {212, 255, 212}},       {"light red", {255, 213, 212}},    {"red", {255, 212, 234}},
            {"orange", {255, 219, 184}},      {"light orange", {255, 233, 213}}, {"purple", {218, 184, 255}},
            {"light purple", {232, 212, 255}}};
        for (const auto &[name, colour] : known) {
            model.setRowColour(0, QString::fromLatin1(name));
            for (int column : {0, 1}) {
                QCOMPARE(brush(0, column, Qt::BackgroundRole), colour);
                QCOMPARE(brush(0, column, Qt::ForegroundRole), QColor(0, 0, 0));
            }
        }
        for (const QString &name : QStringList{"", "white", "Blue"}) {
            model.setRowColour(0, name);
            for (int column : {0, 1})
                for (int role : {Qt::BackgroundRole, Qt::ForegroundRole})
                    QVERIFY(!model.data(model.index(0, column), role).isValid());
        }
    }

    void checkChangeAppliesToEveryRowWithTheText()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::uint32_t index = 0;
        for (const char *path : {"/d/a", "/d/b", "/d/a", "/d/A"})
            model.addRow(listedRow(QString::fromLatin1(path), 1, index++));
        model.showRows();
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(2, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.checkedRows(), (std::vector<int>{0, 2}));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(model.data(model.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QVERIFY(model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(model.checkedRows().empty());
        // The size column has no check box.
        QVERIFY(!model.setData(model.index(1, 1), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(!(model.flags(model.index(1, 1)) & Qt::ItemIsUserCheckable));
    }

    void rowsDescribeTheirGroup_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("description");
        const QString modified = QStringLiteral(", modified ")
            + QDateTime::fromSecsSinceEpoch(1614954120).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        QTest::newRow("first of three") << 0 << "group 1 of 2, copy 1 of 3" + modified;
        QTest::newRow("last of three") << 2 << "group 1 of 2, copy 3 of 3" + modified;
        QTest::newRow("second group") << 4 << "group 2 of 2, copy 2 of 2" + modified;
    }

    void rowsDescribeTheirGroup()
    {
        QFETCH(int, row);
        QFETCH(QString, description);
        ResultsModel model;
        for (std::uint32_t i = 0; i < 5; ++i)
            model.addRow(listedRow(QStringLiteral("/p/%1").arg(i), i < 3 ? 1 : 2, i, 1614954120));
        model.showRows();
        for (int column : {0, 1}) {
            const QModelIndex index = model.index(row, column);
            QCOMPARE(index.data(Qt::AccessibleDescriptionRole).toString(), description);
            QCOMPARE(index.data(Qt::ToolTipRole).toString(), model.path(row) + QLatin1Char('\n') + description);
        }
    }

    void rowsTakenInRangesAreExactlyThoseNamed_data()
    {
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("one range, named backwards and twice")
            << QList<int>{4, 3, 4} << QStringList{"/g2/1", "/g2/2"}
            << QStringList{"/g1/1", "/g1/2", "/g1/3", "/g3/1", "/g3/2", "/g3/3", "/g3/4", "/g3/5"};
        QTest::newRow("first and last rows, and rows past the end")
            << QList<int>{9, 0, 10, -1} << QStringList{"/g1/1", "/g3/5"}
            << QStringList{"/g1/2", "/g1/3", "/g2/1", "/g2/2", "/g3/1", "/g3/2", "/g3/3", "/g3/4"};
        QTest::newRow("three ranges") << QList<int>{1, 2, 5, 7, 8}
                                      << QStringList{"/g1/2", "/g1/3", "/g3/1", "/g3/3", "/g3/4"}
                                      << QStringList{"/g1/1", "/g2/1", "/g2/2", "/g3/2", "/g3/5"};
    }

    // Taken rows (as a send moves their files) are found no more, and come back in their groups
    // (as Undo puts them).
    void rowsTakenInRangesAreExactlyThoseNamed()
    {
        QFETCH(QList<int>, taken);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, left);
        ResultsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        addGroups(model, {3, 2, 5});
        const QStringList before = paths(model);
        std::vector<ResultsModel::Row> rows = model.takeRows(std::vector<int>(taken.begin(), taken.end()));
        QStringList took;
        for (const ResultsModel::Row &row : rows)
            took << row.path;
        QCOMPARE(took, gone);
        QCOMPARE(paths(model), left);
        QCOMPARE(model.findRow(3, 4), -1); // index 4 stands in group 2
        for (const ResultsModel::Row &row : rows)
            QCOMPARE(model.findRow(row.group, row.collectionIndex), -1);
        for (int row = 0; row < model.rows(); ++row) // the rows left are found where they now stand
            QCOMPARE(model.findRow(model.row(row).group, model.row(row).collectionIndex), row);
        model.restoreRows(std::move(rows));
        QCOMPARE(paths(model), before);
    }

    void scatteredRemovalKeepsOrderAndTurnsWhite_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("every");
        QTest::newRow("few runs") << 20 << 3;
        QTest::newRow("many runs") << 1000 << 2; // compacted in one reset
        QTest::newRow("20,000 rows") << 20000 << 2;
    }

    void scatteredRemovalKeepsOrderAndTurnsWhite()
    {
        QFETCH(int, rows);
        QFETCH(int, every);
        ResultsModel model;
        std::optional<QAbstractItemModelTester> tester; // too slow for the largest list
        if (rows <= 1000)
            tester.emplace(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < rows; ++i)
            model.addRow(listedRow(QString::number(i), std::uint32_t(i / 2 + 1), std::uint32_t(i)));
        const int removed = model.removeRowsWhere([&](int row) { return model.path(row).toInt() % every == 0; });
        QCOMPARE(removed, (rows + every - 1) / every);
        QCOMPARE(model.rows(), rows - removed);
        model.setAllRowColours(QStringLiteral("white")); // as after a deletion: no limit on how many rows
        for (int row = 0, expected = 1; row < model.rows(); ++row, ++expected) {
            expected += expected % every == 0;
            QCOMPARE(model.path(row).toInt(), expected);
            QVERIFY(!model.ColourForRow(row) && model.rowColour(row) == QLatin1String("white"));
        }
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestResultsModel)
#include "tst_resultsmodel.moc"
