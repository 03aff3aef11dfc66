#include "ResultsModel.h"
#include "TestMain.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QtTest>

class TestResultsModel : public QObject
{
    Q_OBJECT

private slots:
    void coloursByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("background"); // invalid: the list's own colours
        QTest::newRow("blue") << "blue" << QColor(212, 234, 255);
        QTest::newRow("light blue") << "light blue" << QColor(242, 242, 255);
        QTest::newRow("light purple") << "light purple" << QColor(232, 212, 255);
        QTest::newRow("white") << "white" << QColor();
        QTest::newRow("empty") << "" << QColor();
        QTest::newRow("capital B") << "Blue" << QColor();
    }

    void coloursByName()
    {
        QFETCH(QString, name);
        QFETCH(QColor, background);
        ResultsModel model;
        model.addRow(QStringLiteral("/nowhere/a"), QStringLiteral("1 KB"), name);
        for (int column : {0, 1}) {
            const QModelIndex index = model.index(0, column);
            const QVariant back = model.data(index, Qt::BackgroundRole);
            const QVariant fore = model.data(index, Qt::ForegroundRole);
            if (background.isValid()) {
                QCOMPARE(back.value<QBrush>().color(), background);
                QCOMPARE(fore.value<QBrush>().color(), QColor(0, 0, 0));
            } else {
                QVERIFY(!back.isValid());
                QVERIFY(!fore.isValid());
            }
        }
    }

    void coloursFollowPositionsAfterRemoval()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QStringList names{"blue", "light blue", "green", "red", "orange"};
        for (int i = 0; i < names.size(); ++i)
            model.addRow(QStringLiteral("/nowhere/%1").arg(i), QString(), names[i]);
        QVERIFY(model.removeRows(0, 1));
        QCOMPARE(model.rowCount(QModelIndex()), 4);
        QCOMPARE(model.path(0), QStringLiteral("/nowhere/1"));
        // Each remaining row takes the name of its new position; position 4's goes unused.
        for (int row = 0; row < 4; ++row)
            QCOMPARE(model.ColourForRow(row)->background, coloursForName(names[row])->background);
        QCOMPARE(model.rowColour(4), QStringLiteral("orange"));
    }

    void checkChangeAppliesToEveryRowWithTheText()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char *path : {"/d/a", "/d/b", "/d/a", "/d/A"})
            model.addRow(QString::fromLatin1(path), QString(), QStringLiteral("blue"));
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
            model.addRow(QString::number(i), QString(), QLatin1String(i % 2 ? "blue" : "light blue"));
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
