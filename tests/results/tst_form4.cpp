#include "EventPump.h"
#include "Fakes.h"
#include "Form4.h"
#include "ResultsModel.h"
#include "Services.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

namespace {
// The real trash, except for one path that it refuses, as a file in use would be.
class RefusingTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override
    {
        if (path != refuse)
            return system.moveToTrash(path, errorText);
        if (errorText)
            *errorText = QStringLiteral("refused by the test");
        return false;
    }
    SystemTrash system;
    QString refuse;
};

// A results window over a hidden stand-in for the main window.
struct Harness
{
    Harness() : services{settings, messages, folders, screen, trash, pump, QString()}, form(services, &main) {}
    QAbstractButton *button(const char *name) { return form.findChild<QAbstractButton *>(QLatin1String(name)); }
    MemorySettingsStore settings;
    FakeMessageBoxes messages;
    FakeFolderDialog folders;
    FakeScreen screen;
    RefusingTrash trash;
    QtEventPump pump;
    Services services;
    QWidget main;
    Form4 form;
};

// Two groups of two identical files each: a, b ("light blue") and c, d ("blue").
struct Groups
{
    explicit Groups(Form4 &form)
    {
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            paths << dir.filePath(QString::fromLatin1(name));
            writeFile(paths.last(), name[0] < 'c' ? "first contents" : "second contents");
            form.results().addRow(paths.last(), QStringLiteral("15 bytes"),
                                  QLatin1String(name[0] < 'c' ? "light blue" : "blue"));
            if (name[0] == 'b' || name[0] == 'd')
                form.results().endGroup();
        }
    }
    QTemporaryDir dir;
    QStringList paths;
};

QStringList listed(const ResultsModel &model)
{
    QStringList paths;
    for (int row = 0; row < model.rows(); ++row)
        paths << model.path(row);
    return paths;
}

// Gives the window this outer size in pixels, frame included.
void setOuterSize(QWidget &window, QSize outer)
{
    window.resize(outer - (window.frameGeometry().size() - window.geometry().size()));
    QCoreApplication::processEvents();
}
} // namespace

class TestForm4 : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(trashFolder()).removeRecursively(); }

    void layoutFollowsTheOuterSize_data()
    {
        // Outer size in twips; expected widths in twips, -1 where the size stays as it was.
        QTest::addColumn<int>("outerWidth");
        QTest::addColumn<int>("outerHeight");
        QTest::addColumn<int>("listWidth");
        QTest::addColumn<int>("listHeight");
        QTest::addColumn<double>("filename");
        QTest::addColumn<double>("size");
        QTest::newRow("12,000 wide") << 12000 << 9000 << 11640 << 7100 << 11640 * 95.0 / 90 - 3700 << -1.0;
        QTest::newRow("list 28,440") << 28800 << 9000 << 28440 << 7100 << 28440 * 95.0 / 90 - 3700 << 1040.0;
        QTest::newRow("list 22,200 hides Size") << 22560 << 9000 << 22200 << 7100 << 22200 * 95.0 / 90 - 3700 << 0.0;
        QTest::newRow("too small for the list") << 300 << 1500 << -1 << -1 << -1.0 << -1.0;
    }

    void layoutFollowsTheOuterSize()
    {
        QFETCH(int, outerWidth);
        QFETCH(int, outerHeight);
        QFETCH(int, listWidth);
        QFETCH(int, listHeight);
        QFETCH(double, filename);
        QFETCH(double, size);
        Harness harness;
        Form4 &form = harness.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        setOuterSize(form, {twipsToPixels(outerWidth), twipsToPixels(outerHeight)});
        QTreeView *list = form.list();
        const QSize listBefore = list->size();
        const int filenameBefore = list->columnWidth(0), sizeBefore = list->columnWidth(1);
        setOuterSize(form, {twipsToPixels(outerWidth), twipsToPixels(outerHeight)}); // laid out again: same result

        QCOMPARE(list->width(), listWidth < 0 ? listBefore.width() : twipsToPixels(listWidth));
        QCOMPARE(list->height(), listHeight < 0 ? listBefore.height() : twipsToPixels(listHeight));
        QVERIFY(qAbs(list->columnWidth(0) - (filename < 0 ? filenameBefore : twipsToPixels(filename))) <= 1);
        QVERIFY(qAbs(list->columnWidth(1) - (size < 0 ? sizeBefore : twipsToPixels(size))) <= 1);
        QCOMPARE(list->pos(), QPoint(twipsToPixels(120), twipsToPixels(1320)));
    }

    void deleteCommand_data()
    {
        // Rows 0 to 3 are a, b (one group) and c, d (another).
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("trouble"); // what goes wrong, if anything
        QTest::addColumn<QList<int>>("moved");
        QTest::addColumn<QString>("question");     // in the confirmation; none asked when empty
        QTest::addColumn<QStringList>("reported"); // "row: reason" lines of the failure report
        const QString changed = QStringLiteral("it has changed since the search");
        QTest::newRow("two confirmed") << QList<int>{0, 2} << true << "" << QList<int>{0, 2} << "Move 2 checked files"
                                       << QStringList();
        QTest::newRow("cancelled") << QList<int>{0, 2} << false << "" << QList<int>() << "Move 2 checked files"
                                   << QStringList();
        QTest::newRow("nothing checked") << QList<int>() << true << "" << QList<int>() << "" << QStringList();
        QTest::newRow("a whole group") << QList<int>{0, 1, 2} << false << "" << QList<int>()
                                       << "Every copy is checked in 1 group of identical files" << QStringList();
        QTest::newRow("first refused, second moves") << QList<int>{0, 3} << true << "refuse a" << QList<int>{3}
                                                     << "Move 2" << QStringList{"0: refused by the test"};
        QTest::newRow("changed since the search") << QList<int>{1, 3} << true << "b and d changed" << QList<int>()
                                                  << "Move 2" << QStringList{"1: " + changed, "3: " + changed};
    }

    void deleteCommand()
    {
        QFETCH(QList<int>, checked);
        QFETCH(bool, confirm);
        QFETCH(QString, trouble);
        QFETCH(QList<int>, moved);
        QFETCH(QString, question);
        QFETCH(QStringList, reported);
        Harness harness;
        harness.messages.defaultAnswer = confirm ? MessageBoxes::Answer::Ok : MessageBoxes::Answer::Cancel;
        ResultsModel &model = harness.form.results();
        Groups groups(harness.form);
        if (trouble == QLatin1String("refuse a"))
            harness.trash.refuse = groups.paths[0];
        if (trouble == QLatin1String("b and d changed")) {
            QFile grown(groups.paths[1]);
            QVERIFY(grown.open(QIODevice::Append) && grown.write(" and more") > 0);
            QVERIFY(QFile::remove(groups.paths[3])); // another file now stands at d's path
            QVERIFY(writeFile(groups.paths[3], "other contents!"));
        }
        for (int row : checked)
            model.SetCheckedByText(groups.paths[row], true);

        harness.button("Check1")->click();

        QStringList expectedRows;
        std::vector<int> stillChecked;
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(QFile::exists(groups.paths[row]), !moved.contains(row));
            QCOMPARE(QFile::exists(trashEntry(groups.paths[row]).storedFile), moved.contains(row));
            if (!moved.contains(row)) {
                if (checked.contains(row))
                    stillChecked.push_back(int(expectedRows.size()));
                expectedRows << groups.paths[row];
            }
        }
        QCOMPARE(listed(model), expectedRows); // exactly the rows of moved files leave
        QCOMPARE(model.checkedRows(), stillChecked);
        for (int row = 0; row < model.rows(); ++row) // all white
            QVERIFY(!model.ColourForRow(row) && !model.data(model.index(row, 0), Qt::BackgroundRole).isValid());
        QVERIFY(!harness.button("Check1")->isChecked());

        const auto &shown = harness.messages.shown;
        QCOMPARE(shown.size(), std::size_t((question.isEmpty() ? 0 : 1) + (reported.isEmpty() ? 0 : 1)));
        if (!question.isEmpty()) {
            QVERIFY2(shown[0].text.contains(question), qPrintable(shown[0].text));
            QCOMPARE(shown[0].buttons, MessageBoxes::Buttons::OkCancel);
        }
        if (!reported.isEmpty()) {
            for (const QString &line : reported) {
                const QString expected = groups.paths[line.section(QLatin1Char(':'), 0, 0).toInt()] +
                                         QStringLiteral(": ") + line.section(QStringLiteral(": "), 1);
                QVERIFY2(shown.back().text.contains(expected), qPrintable(shown.back().text));
            }
            QVERIFY(shown.back().text.contains(
                QStringLiteral("%1 not moved").arg(reported.size() == 1 ? "1 file was" : "2 files were")));
        }
    }

    void deleteRefusesTheSameFileThroughALinkedFolder()
    {
        // One folder listed directly and through a link: its file shows up twice but is one file.
        Harness harness;
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("real/photo.jpg"));
        const QString viaLink = dir.filePath(QStringLiteral("link/photo.jpg"));
        QVERIFY(writeFile(real, "the only copy"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("real")), dir.filePath(QStringLiteral("link"))));
        for (const QString &path : {real, viaLink})
            harness.form.results().addRow(path, QStringLiteral("13 bytes"), QStringLiteral("light blue"));
        harness.form.results().SetCheckedByText(viaLink, true);

        harness.button("Check1")->click();

        QCOMPARE(readFile(real), QByteArray("the only copy"));
        QCOMPARE(harness.form.results().rows(), 2);
        QVERIFY(harness.messages.shown.back().text.contains(viaLink + QStringLiteral(": it is the same file as ") + real));
    }

    void backToMain_data()
    {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("normal") << false;
        QTest::newRow("maximised") << true;
    }

    void backToMain()
    {
        QFETCH(bool, maximised);
        Harness harness;
        Form4 &form = harness.form;
        harness.main.setWindowState(maximised ? Qt::WindowNoState : Qt::WindowMaximized);
        Groups groups(form);
        form.results().SetCheckedByText(groups.paths[0], true);
        form.setGeometry(90, 70, 640, 480);
        if (maximised)
            form.showMaximized();
        else
            form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect outer = form.frameGeometry();

        harness.button("Check2")->click();
        QCoreApplication::processEvents();

        QVERIFY(harness.main.isVisible() && !form.isVisible());
        QCOMPARE(harness.main.isMaximized(), maximised);
        if (!maximised)
            QTRY_COMPARE_WITH_TIMEOUT(harness.main.frameGeometry(), outer, 5000);
        // Hidden, not closed: rows and check marks stay.
        QCOMPARE(form.results().rows(), 4);
        QCOMPARE(form.results().checkedRows(), std::vector<int>{0});
        QVERIFY(!harness.button("Check2")->isChecked());
    }

    void uncheckAll()
    {
        Harness harness;
        Groups groups(harness.form);
        for (const QString &path : groups.paths)
            harness.form.results().SetCheckedByText(path, true);

        harness.button("Check3")->click();

        QVERIFY(harness.form.results().checkedRows().empty());
        QCOMPARE(listed(harness.form.results()), groups.paths);
        QCOMPARE(harness.form.results().rowColour(3), QStringLiteral("blue"));
        QVERIFY(!harness.button("Check3")->isChecked());
    }

};

TWINFOLD_WIDGETS_TEST_MAIN(TestForm4)
#include "tst_form4.moc"
