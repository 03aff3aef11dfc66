#include "RecyclingBin.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "Trash.h"

#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <unistd.h>

namespace {
// Moves files into a folder of the test's own; a rename keeps the inode, as the trash does.
class FolderTrash final : public Trash
{
public:
    explicit FolderTrash(const QString &folder) : m_folder(folder) { QDir().mkpath(folder); }
    bool moveToTrash(const QString &path, QString *) override
    {
        const QString to = m_folder + QLatin1Char('/') + QString::number(++m_count);
        return ::rename(QFile::encodeName(path).constData(), QFile::encodeName(to).constData()) == 0;
    }

private:
    QString m_folder;
    int m_count = 0;
};

} // namespace

class TestRecyclingBin : public QObject
{
    Q_OBJECT

private slots:
    void deleteChecked_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QStringList>("files");   // "group name", or "group name=other" for a hard link; group 0 is not listed
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("after");       // after the search: "rewrite x" (same size, same second), "rewrite-back x" (its time set back) or "remove x"
        QTest::addColumn<bool>("everyRequest");   // the plan asks for every checked name, holding none
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("report");      // %/ is the folder
        QTest::addColumn<QStringList>("left");    // the rows the list keeps
        const QStringList pair{"1 a", "1 b"};
        const QString ask1 = QStringLiteral("Move 1 checked file (7 bytes) to the trash?");
        const QString ask0 = QStringLiteral("Move 0 checked files (0 bytes) to the trash?");
        const QString moved = QStringLiteral("1 file was moved to the trash. Emptying the trash frees 7 bytes.");
        const QString noneMoved = QStringLiteral("0 files were moved to the trash.\n\n1 file was not moved to the trash:\n\n");
        const QString noKeptCopy = QStringLiteral(": no unchecked copy of it is left as the search found it");
        const QString changed = noneMoved + "%/b: it has changed since the search";
        const QString sameAsA = QStringLiteral(": it is the same file as %/a, which is not checked");
        QTest::newRow("one copy") << pair << QStringList{"b"} << "" << false << ask1 << moved << QStringList{"a"};
        QTest::newRow("rewritten within the same second") << pair << QStringList{"b"} << "rewrite b" << false << ask1 << changed << QStringList{"a", "b"};
        QTest::newRow("rewritten, its time set back") << pair << QStringList{"b"} << "rewrite-back b" << false << ask1 << changed << QStringList{"a", "b"};
        QTest::newRow("kept copy rewritten within the same second") << pair << QStringList{"b"} << "rewrite a" << false << ask1
            << noneMoved + "%/b" + noKeptCopy << QStringList{"a", "b"};
        QTest::newRow("every copy checked") << QStringList{"1 a", "1 b", "2 c", "2 d"} << QStringList{"a", "b", "c"} << "" << false << ask1
            << moved + "\n\n2 files were not moved to the trash:\n\n%/a" + noKeptCopy + "\n%/b" + noKeptCopy << QStringList{"a", "b", "d"};
        // Two more names of the kept file: each is held, not only the first.
        QTest::newRow("names of an unchecked file") << QStringList{"1 a", "1 b=a", "1 c=a", "1 d"} << QStringList{"b", "c"} << "" << false << ask0
            << "0 files were moved to the trash.\n\n2 files were not moved to the trash:\n\n%/b" + sameAsA + "\n%/c" + sameAsA
            << QStringList{"a", "b", "c", "d"};
        // Without the plan's hold, the move itself still finds no other copy.
        QTest::newRow("only another name unchecked, not held") << QStringList{"1 a", "1 b=a"} << QStringList{"b"} << "" << true << ask0
            << noneMoved + "%/b" + noKeptCopy << QStringList{"a", "b"};
        QTest::newRow("both names of a copy") << QStringList{"1 a", "1 b", "1 c=b"} << QStringList{"b", "c"} << "" << false
            << "Move 2 checked files (7 bytes) to the trash?" << "2 files were moved to the trash. Emptying the trash frees 7 bytes." << QStringList{"a"};
        // p, the other name of o, is not listed: moving o frees nothing.
        QTest::newRow("a name whose twin is not listed")
            << QStringList{"1 a", "1 b", "1 c=b", "1 o", "0 p=o"} << QStringList{"b", "c", "o"} << "" << false
            << "Move 3 checked files (14 bytes) to the trash?"
            << "3 files were moved to the trash. Emptying the trash frees 7 bytes. 1 of them is a file with another "
               "name (a hard link) that stays, so it frees no space."
            << QStringList{"a"};
        QTest::newRow("one name of a copy") << QStringList{"1 a", "1 b", "2 c", "2 d=c"} << QStringList{"d"} << "" << false << ask0
            << noneMoved + "%/d: it is the same file as %/c, which is not checked" << QStringList{"a", "b", "c", "d"};
        QTest::newRow("one path listed twice") << QStringList{"1 a", "1 a", "1 b"} << QStringList{"a"} << "" << false << ask1 << moved << QStringList{"b"};
        QTest::newRow("gone since the search") << pair << QStringList{"b"} << "remove b" << false << ask1
            << noneMoved + "%/b: it is no longer there" << QStringList{"a"};
        // clang-format on
    }

    void deleteChecked()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, checked);
        QFETCH(QString, after);
        QFETCH(bool, everyRequest);
        QFETCH(QString, question);
        QFETCH(QString, report);
        QFETCH(QStringList, left);
        QTemporaryDir dir;
        const auto at = [&dir](const QString &name) { return dir.filePath(name); };
        for (const QString &file : files) {
            const QStringList parts = file.split(QLatin1Char(' '));
            const QStringList names = parts[1].split(QLatin1Char('='));
            if (names.size() == 2)
                QCOMPARE(
                    ::link(QFile::encodeName(at(names[1])).constData(), QFile::encodeName(at(names[0])).constData()),
                    0);
            else
                QVERIFY(writeFile(at(names[0]), "group " + parts[0].toLatin1())
                        && setFileTime(at(names[0]), 1000000000, 0));
        }
        ResultsModel list; // as the search lists them, once every file is in place
        std::uint32_t index = 0;
        for (const QString &file : files) {
            const QString name = file.section(QLatin1Char(' '), 1).section(QLatin1Char('='), 0, 0);
            if (!file.startsWith(QLatin1String("0 ")))
                list.addRow(ResultRow{index++, at(name), 7, file.section(QLatin1Char(' '), 0, 0).toUInt(),
                                      identityOf(at(name))});
        }
        list.showRows();
        for (const QString &name : checked)
            list.SetCheckedByText(at(name), true);
        DeletePlan plan = planDeletion(list);
        QCOMPARE(confirmationText(plan).section(QLatin1Char('\n'), 0, 0), question); // what is asked to move
        if (everyRequest) {
            plan.held.clear();
            plan.requests.clear();
            for (int row = 0; row < list.rows(); ++row) {
                const ResultsModel::Row &each = list.row(row);
                if (each.checked)
                    plan.requests.push_back({each.path, each.identity, each.group, row, each.collectionIndex, 7});
                else
                    plan.kept[each.group].push_back({each.path, each.identity});
            }
        }

        const QStringList action = after.split(QLatin1Char(' '));
        if (action[0].startsWith(QLatin1String("rewrite"))) {
            QFile rewritten(at(action[1]));
            QVERIFY(rewritten.open(QIODevice::ReadWrite) && rewritten.write("changed") == 7);
            rewritten.close();
            QVERIFY(setFileTime(at(action[1]), 1000000000, action[0] == QLatin1String("rewrite") ? 500 : 0));
        } else if (action[0] == QLatin1String("remove")) {
            QVERIFY(QFile::remove(at(action[1])));
        }
        FolderTrash trash(dir.filePath(QStringLiteral(".trash")));
        TrashRun run(trash, plan);
        run.SendToRecycleBin();
        const TrashOutcome &outcome = run.outcome();
        QCOMPARE(reportText(outcome), QString(report).replace(QStringLiteral("%/"), dir.path() + QLatin1Char('/')));
        RemoveCheckedRows(list);
        QStringList rows;
        for (int row = 0; row < list.rows(); ++row)
            rows << QFileInfo(list.path(row)).fileName();
        QCOMPARE(rows, left);
    }

    // A message names fifteen files; past that, it says how many more.
    void longListsAreCut()
    {
        DeletePlan plan;
        for (int i = 1; i <= 16; ++i)
            plan.held.push_back(TrashFailure{QStringLiteral("/f%1").arg(i), QStringLiteral("held")});
        QVERIFY(nothingToMoveText(plan).endsWith(QLatin1String("\n/f15: held\n... and 1 more.")));
        plan.held.pop_back();
        QVERIFY(nothingToMoveText(plan).endsWith(QLatin1String("\n/f15: held")));
    }

    // The trash takes paths the system can name in one go, up to PATH_MAX - 1 bytes: longer
    // ones are held and named after the question, in a sentence that agrees.
    void pathTooLongIsHeld_data()
    {
        QTest::addColumn<QStringList>("held"); // after "/kept" and a path that just fits
        QTest::addColumn<QString>("question"); // %1, %2: the held paths
        const QString tooLong = QLatin1Char('/') + QString(PATH_MAX - 1, QLatin1Char('b'));
        const QString tooLongInBytes = QLatin1Char('/') + QString(PATH_MAX / 2, QChar(0xE9)); // two bytes each
        const QString reason = QStringLiteral(
            ": its path is too long for the trash (%1 bytes, the system allows 4,095)");
        QTest::newRow("one") << QStringList{tooLongInBytes}
                             << "Move 1 checked file (7 bytes) to the trash?\n\n1 checked file stays where it is:\n%1"
                + reason.arg("4,097");
        QTest::newRow("two")
            << QStringList{tooLong, tooLongInBytes}
            << "Move 1 checked file (7 bytes) to the trash?\n\n2 checked files stay where they are:\n%1"
                + reason.arg("4,096") + "\n%2" + reason.arg("4,097");
    }

    void pathTooLongIsHeld()
    {
        QFETCH(QStringList, held);
        QFETCH(QString, question);
        const QStringList paths = QStringList{"/kept", QLatin1Char('/') + QString(PATH_MAX - 2, QLatin1Char('a'))}
            + held;
        ResultsModel list;
        std::uint32_t index = 0;
        FileIdentity standing; // the kept copy, as the search saw it
        standing.valid = true;
        for (const QString &path : paths)
            list.addRow(ResultRow{index++, path, 7, 1, path == QLatin1String("/kept") ? standing : FileIdentity()});
        list.showRows();
        for (const QString &path : paths.mid(1))
            list.SetCheckedByText(path, true);
        const DeletePlan plan = planDeletion(list);
        QCOMPARE(plan.requests.size(), std::size_t(1));
        QCOMPARE(plan.requests[0].path, paths[1]);
        QCOMPARE(confirmationText(plan), question.replace("%1", held[0]).replace("%2", held.value(1)));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestRecyclingBin)
#include "tst_recyclingbin.moc"
