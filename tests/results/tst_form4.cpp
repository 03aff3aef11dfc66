#include "Desktop.h"
#include "EventPump.h"
#include "Fakes.h"
#include "Form2.h"
#include "Form4.h"
#include "PictureBox.h"
#include "ResultsModel.h"
#include "RecyclingBin.h"
#include "Services.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "TestPictures.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QMenu>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
const QString NoKeptCopyText = QStringLiteral("no unchecked copy of it is left as the search found it");

// The real trash, except for one path that it refuses, as a file in use would be.
class RefusingTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override
    {
        if (beforeMove)
            beforeMove(moves++);
        if (path != refuse)
            return system.moveToTrash(path, errorText);
        if (errorText)
            *errorText = QStringLiteral("refused by the test");
        return false;
    }
    std::vector<QString> restore(const std::vector<TrashedFile> &files, const RestoreStep &step) override
    {
        return system.restore(files, step);
    }
    SystemTrash system;
    QString refuse;
    std::function<void(int moves)> beforeMove; // on the worker thread
    int moves = 0;
};

// Records what the window asked of the desktop; launches nothing.
class FakeDesktop final : public Desktop
{
public:
    bool open(const QString &path) override
    {
        opened << path;
        return true;
    }
    bool reveal(const QString &path) override
    {
        revealed << path;
        return true;
    }
    void copyText(const QString &text) override { copied << text; }
    QStringList opened, revealed, copied;
};

// A results window over a hidden stand-in for the main window.
struct Harness
{
    Harness() : services{settings, messages, folders, screen, trash, pump, QString(), &desktop}, form(services, &main)
    {}
    QAbstractButton *button(const char *name) { return form.findChild<QAbstractButton *>(QLatin1String(name)); }
    // Presses SEND TO RECYCLING and waits until the files have moved.
    bool send()
    {
        button("Check1")->click();
        return QTest::qWaitFor([this] { return !form.busy(); }, 20000);
    }
    MemorySettingsStore settings;
    FakeMessageBoxes messages;
    FakeFolderDialog folders;
    FakeScreen screen;
    RefusingTrash trash;
    QtEventPump pump;
    FakeDesktop desktop;
    Services services;
    QWidget main;
    Form4 form;
};

// Five groups; P is protected, L a link to P listed as another row, P/clink another name of O/c:
//   1: O/a1, P/a, O/a2    2: O/b1, O/b2 (no protected copy)    3: O/c, O/c2    4: O/d2, L/d
//   5: O/e, P/e1, P/e2 (two protected copies)
struct Protected : Harness
{
    Protected()
    {
        const std::pair<std::uint32_t, const char *> rows[] = {{1, "O/a1"}, {1, "P/a"}, {1, "O/a2"}, {2, "O/b1"},
                                                               {2, "O/b2"}, {3, "O/c"}, {3, "O/c2"}, {4, "O/d2"},
                                                               {4, "P/d"},  {5, "O/e"}, {5, "P/e1"}, {5, "P/e2"}};
        for (const auto &[group, name] : rows)
            QVERIFY(writeFile(at(name), QByteArray(int(group), 'x')));
        QVERIFY(::link(QFile::encodeName(at("O/c")), QFile::encodeName(at("P/clink"))) == 0);
        QVERIFY(QFile::link(at("P"), at("L")));
        for (auto [group, name] : rows) {
            const QString path = at(name).replace(QStringLiteral("/P/d"), QStringLiteral("/L/d"));
            model().addRow(ResultRow{std::uint32_t(model().rows()), path, 0, group, identityOf(path)});
        }
        model().showRows();
        const FileIdentity link = identityOf(at("P/clink"));
        model().setProtection(ProtectedFiles({at("P")}, {{QFile::encodeName(at("P/clink")), link.device, link.inode}}));
    }
    ResultsModel &model() { return form.results(); }
    QString at(const char *name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }
    QTemporaryDir dir;
};

const QList<int> ProtectedRows{1, 5, 8, 10, 11}; // P/a, O/c (by its other name), L/d (through the link), P/e*

// Lists the files as one group, as the search would after reading them.
void listGroup(ResultsModel &model, const QStringList &paths)
{
    const std::uint32_t group = std::uint32_t(model.groupCount() + 1);
    for (const QString &path : paths)
        model.addRow(ResultRow{std::uint32_t(model.rows()), path, QFileInfo(path).size(), group, identityOf(path)});
    model.endGroup();
    model.showRows();
}

// Two groups of identical files: a, b ("light blue", 14 bytes each) and the rest ("blue", 15
// bytes each), made on days 1, 2 and 2, 3, 1 (day 0 past those).
struct Groups
{
    explicit Groups(Form4 &form, const QStringList &names = {"a.txt", "b.txt", "c.txt", "d.txt"})
    {
        for (const QString &name : names) {
            paths << dir.filePath(name);
            writeFile(paths.last(), paths.size() <= 2 ? "first contents" : "second contents");
            setFileTime(paths.last(), 1600000000 + QList<int>{1, 2, 2, 3, 1}.value(paths.size() - 1) * 86400);
        }
        listGroup(form.results(), paths.mid(0, 2));
        listGroup(form.results(), paths.mid(2));
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

} // namespace

class TestForm4 : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(trashFolder()).removeRecursively(); }

    void deleteCommand_data()
    {
        // One row to a line.
        // clang-format off
        // Rows 0 to 3 are a, b (one group, 14 bytes each) and c, d (another, 15 bytes each).
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<QString>("trouble"); // what else happens, if anything
        QTest::addColumn<QList<int>>("moved");
        QTest::addColumn<QString>("question"); // in the confirmation; none asked when empty
        QTest::addColumn<QString>("report");   // in the report after the move
        QTest::addColumn<QList<int>>("failed"); // rows the report names as not moved
        QTest::addColumn<QString>("reason");    // why not
        QTest::newRow("two confirmed, undone")
            << QList<int>{1, 2} << "undo" << QList<int>{1, 2} << "Move 2 checked files (29 bytes) to the trash?"
            << "2 files were moved to the trash. Emptying the trash frees 29 bytes." << QList<int>() << "";
        QTest::newRow("undone, never over a new file") << QList<int>{1, 2} << "undo over a new file" << QList<int>{1, 2}
                                                       << "Move 2" << "2 files were moved" << QList<int>() << "";
        QTest::newRow("cancelled") << QList<int>{0, 2} << "cancel" << QList<int>() << "Move 2 checked files" << ""
                                   << QList<int>() << "";
        QTest::newRow("nothing checked") << QList<int>() << "" << QList<int>() << "" << "" << QList<int>() << "";
        QTest::newRow("a whole group stays")
            << QList<int>{0, 1, 2} << "" << QList<int>{2}
            << "Move 1 checked file (15 bytes) to the trash?\n\nEvery copy is checked in 1 group of identical files"
            << "1 file was moved to the trash. Emptying the trash frees 15 bytes." << QList<int>{0, 1} << NoKeptCopyText;
        // Nothing can move: no question, only why.
        QTest::newRow("only a whole group")
            << QList<int>{0, 1} << "" << QList<int>() << "None of the checked files can be moved to the trash:\n\n" << ""
            << QList<int>() << "";
        QTest::newRow("first refused, second moves") << QList<int>{0, 3} << "refuse a" << QList<int>{3} << "Move 2"
                                                     << "1 file was moved" << QList<int>{0} << "refused by the test";
        QTest::newRow("changed since the search")
            << QList<int>{1, 3} << "b and d changed" << QList<int>() << "Move 2" << "0 files were moved" << QList<int>{1, 3}
            << "it has changed since the search";
        // clang-format on
    }

    void deleteCommand()
    {
        QFETCH(QList<int>, checked);
        QFETCH(QString, trouble);
        QFETCH(QList<int>, moved);
        QFETCH(QString, question);
        QFETCH(QString, report);
        QFETCH(QList<int>, failed);
        QFETCH(QString, reason);
        Harness harness;
        harness.messages.defaultAnswer = trouble == QLatin1String("cancel") ? MessageBoxes::Answer::Cancel
                                                                            : MessageBoxes::Answer::Ok;
        ResultsModel &model = harness.form.results();
        Groups groups(harness.form);
        if (trouble == QLatin1String("refuse a"))
            harness.trash.refuse = groups.paths[0];
        if (trouble == QLatin1String("b and d changed")) {
            QVERIFY(writeFile(groups.paths[1], "first contents and more")); // grown in place
            QVERIFY(QFile::remove(groups.paths[3]));                        // another file now stands at d's path
            QVERIFY(writeFile(groups.paths[3], "other contents!"));
        }
        for (int row : checked)
            model.SetCheckedByText(groups.paths[row], true);
        QVERIFY(!harness.form.action("undo")->isEnabled());

        QVERIFY(harness.send());

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
        for (const bool state : {!model.isChecked(0), model.isChecked(0)}) { // the boxes answer again
            QVERIFY(model.setData(model.index(0, 0), state ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
            QCOMPARE(model.isChecked(0), state);
        }
        for (int row = 0; row < model.rows(); ++row) // all white
            QVERIFY(!model.ColourForRow(row) && !model.data(model.index(row, 0), Qt::BackgroundRole).isValid());
        QVERIFY(!harness.button("Check1")->isChecked());
        QCOMPARE(harness.form.action("undo")->isEnabled(), !moved.isEmpty());

        auto &shown = harness.messages.shown;
        QCOMPARE(shown.size(), std::size_t((question.isEmpty() ? 0 : 1) + (report.isEmpty() ? 0 : 1)));
        if (!question.isEmpty()) {
            QVERIFY2(shown[0].text.contains(question), qPrintable(shown[0].text));
            QCOMPARE(shown[0].buttons,
                     question.startsWith(QLatin1String("Move")) ? MessageBoxes::Buttons::OkCancel
                                                                : MessageBoxes::Buttons::Ok);
        }
        if (report.isEmpty())
            return;
        const QString said = shown.back().text;
        QVERIFY2(said.startsWith(report), qPrintable(said));
        QCOMPARE(shown.back().icon, failed.isEmpty() ? MessageBoxes::Icon::Information : MessageBoxes::Icon::Warning);
        for (int row : failed)
            QVERIFY2(said.contains(groups.paths[row] + QStringLiteral(": ") + reason), qPrintable(said));
        if (!failed.isEmpty())
            QVERIFY(
                said.contains(QLatin1String(failed.size() == 1 ? "1 file was not moved" : "2 files were not moved")));
        if (!trouble.startsWith(QLatin1String("undo")))
            return;

        // Ctrl+Z puts back exactly what was moved, never over a file that has come since.
        const bool occupied = trouble.endsWith(QLatin1String("new file"));
        if (occupied)
            QVERIFY(writeFile(groups.paths[2], "a new file"));
        shown.clear();
        harness.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&harness.form));
        QTest::keyClick(&harness.form, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(QTest::qWaitFor([&] { return !harness.form.busy(); }, 20000));

        QCOMPARE(readFile(groups.paths[1]), QByteArray("first contents"));
        QVERIFY(!QFile::exists(trashEntry(groups.paths[1]).storedFile));
        QCOMPARE(shown.size(), std::size_t(1));
        const QString text = shown[0].text;
        if (occupied) {
            QCOMPARE(readFile(groups.paths[2]), QByteArray("a new file"));
            QCOMPARE(readFile(trashEntry(groups.paths[2]).storedFile), QByteArray("second contents"));
            QVERIFY2(text.startsWith(QStringLiteral("1 file was put back where it was.")), qPrintable(text));
            QVERIFY2(text.contains(groups.paths[2] + QStringLiteral(": another file now stands at its place")),
                     qPrintable(text));
            QCOMPARE(listed(model), (QStringList{groups.paths[0], groups.paths[1], groups.paths[3]}));
        } else {
            QCOMPARE(readFile(groups.paths[2]), QByteArray("second contents"));
            QCOMPARE(text, QStringLiteral("2 files were put back where they were."));
            QCOMPARE(listed(model), groups.paths); // each in its group again
            for (int row = 0; row < 4; ++row)      // in its group's colour again
                QCOMPARE(model.rowColour(row), QLatin1String(row < 2 ? "light blue" : "blue"));
        }
        QVERIFY(model.checkedRows().empty());
        QVERIFY(!harness.form.action("undo")->isEnabled()); // once only
        if (!occupied) {                                    // moved out and back, a file can go again
            model.SetCheckedByText(groups.paths[1], true);
            QVERIFY(harness.send());
            QVERIFY(!QFile::exists(groups.paths[1]));
        }
    }

    void keptCopyLookedAtBeforeEachMove_data()
    {
        // A group of keep, then four checked copies; something happens before a move.
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("moved");
        QTest::addColumn<QString>("reason"); // of the copies that stay
        QTest::newRow("kept copy removed after the first move") << "remove keep" << 1 << NoKeptCopyText;
        QTest::newRow("another window moves the kept copy") << "other window" << 0 << NoKeptCopyText;
        QTest::newRow("stopped during the second move") << "stop" << 2 << "";
    }

    void keptCopyLookedAtBeforeEachMove()
    {
        QFETCH(QString, trouble);
        QFETCH(int, moved);
        QFETCH(QString, reason);
        Harness harness;
        Groups groups(harness.form, {"a", "b", "keep", "c1", "c2", "c3", "c4"}); // a and b stay as they are
        const QStringList paths = groups.paths.mid(2);
        for (const QString &path : paths.mid(1))
            harness.form.results().SetCheckedByText(path, true);
        QSemaphore moving, goOn;
        harness.trash.beforeMove = [&](int moves) {
            if (trouble == QLatin1String("remove keep") && moves == 0) // while the first file moves
                QFile::remove(paths[0]);
            if (trouble == QLatin1String("stop") && moves == 1) {
                moving.release();
                goOn.acquire();
            }
        };
        // Another window holds the lock while it moves our kept copy, which it did not keep.
        const int otherWindow = ::open(QFile::encodeName(trashLockPath()).constData(), O_RDWR | O_CREAT, 0600);
        const auto closeAtEnd = qScopeGuard([otherWindow] { ::close(otherWindow); }); // frees a waiting move
        if (trouble == QLatin1String("other window"))
            QVERIFY(otherWindow >= 0 && ::flock(otherWindow, LOCK_EX) == 0);

        harness.button("Check1")->click();
        auto *progress = harness.form.findChild<QLabel *>(QStringLiteral("moveProgressText"));
        if (trouble == QLatin1String("other window")) {
            QTRY_VERIFY_WITH_TIMEOUT(progress->text().startsWith(QStringLiteral("Waiting for another")), 10000);
            QVERIFY(harness.trash.system.moveToTrash(paths[0], nullptr));
            ::flock(otherWindow, LOCK_UN);
        }
        if (trouble == QLatin1String("stop")) {
            const auto goOnAtEnd = qScopeGuard([&] { goOn.release(); }); // also when a check fails
            QVERIFY(moving.tryAcquire(1, 10000));
            // The window answers while a file moves: the first row has left, STOP stops.
            QTRY_COMPARE_WITH_TIMEOUT(harness.form.results().rows(), 6, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(progress->text(), QStringLiteral("Moving to the trash: 1 of 4"), 10000);
            QVERIFY(harness.form.busy() && !progress->isHidden());
            harness.button("stopMoving")->click();
        }
        QVERIFY(QTest::qWaitFor([&] { return !harness.form.busy(); }, 20000));

        for (int i = 1; i < 5; ++i)
            QCOMPARE(QFile::exists(paths[i]), i > moved);
        const QString report = harness.messages.shown.back().text;
        QVERIFY2(report.startsWith(moved == 1 ? QStringLiteral("1 file was moved")
                                              : QStringLiteral("%1 files were moved").arg(moved)),
                 qPrintable(report));
        for (int i = moved + 1; i < 5 && !reason.isEmpty(); ++i)
            QVERIFY2(report.contains(paths[i] + QStringLiteral(": ") + reason), qPrintable(report));
        if (trouble == QLatin1String("stop"))
            QVERIFY2(report.contains(QStringLiteral("You stopped the move: 2 checked files stay where they are.")),
                     qPrintable(report));
        QCOMPARE(harness.form.results().rows(), 7 - moved);
    }

    // Binary units, one decimal; a comma every three digits.
    void ourBoxesWriteNumbersOneWay()
    {
        QCOMPARE(spaceText(1023), QStringLiteral("1,023 bytes"));
        QCOMPARE(spaceText(1024), QStringLiteral("1.0 KiB"));
        QCOMPARE(spaceText(304640), QStringLiteral("297.5 KiB"));
        QCOMPARE(spaceText(1572864), QStringLiteral("1.5 MiB"));
        QCOMPARE(spaceText(qint64(5) << 30), QStringLiteral("5.0 GiB"));
        QCOMPARE(countText(200000), QStringLiteral("200,000"));
    }

    void helpersFromTheMenuAndTheirKeys_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<QString>("said"); // the start of the status line
        QTest::newRow("keep the first listed") << "keepFirst" << 1 << "Ctrl+1" << QList<int>{1, 3, 4} << "";
        QTest::newRow("keep the oldest") << "keepOldest" << 1 << "Ctrl+2" << QList<int>{1, 2, 3} << "";
        QTest::newRow("keep the newest") << "keepNewest" << 1 << "Ctrl+3" << QList<int>{0, 2, 4} << "";
        QTest::newRow("keep the shortest path") << "keepShortest" << 1 << "Ctrl+4" << QList<int>{1, 2, 4} << "";
        QTest::newRow("in this folder") << "checkInFolder" << 1 << "Ctrl+I" << QList<int>{1, 2, 4} << "";
        QTest::newRow("in this folder again")
            << "checkInFolder" << 2 << "Ctrl+I" << QList<int>{1, 2, 4} << "Nothing changed: no other copy in ";
        QTest::newRow("outside this folder") << "checkOutsideFolder" << 1 << "Ctrl+Shift+I" << QList<int>{0, 3} << "";
        QTest::newRow("no fully checked group")
            << "nextCheckedGroup" << 1 << "Ctrl+G" << QList<int>() << "No group has every copy checked.";
    }

    void helpersFromTheMenuAndTheirKeys()
    {
        QFETCH(QString, action);
        QFETCH(int, presses);
        QFETCH(QString, keys);
        QFETCH(QList<int>, checked);
        QFETCH(QString, said);
        Harness harness;
        // Lengths, days made and folders set each helper's rows apart.
        Groups groups(harness.form, {"a.txt", "sub/b.txt", "sub/c.txt", "d.txt", "sub/ee.txt"});
        harness.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&harness.form));
        // The menu over row 2 (in sub/) offers the helper with its keys shown.
        QMenu *menu = harness.form.contextMenuFor(2);
        QAction *helper = harness.form.action(qPrintable(action));
        QVERIFY(helper && menu->actions().contains(helper) && helper->isEnabled());
        QCOMPARE(helper->shortcut(), QKeySequence(keys, QKeySequence::PortableText));
        QVERIFY(helper->isShortcutVisibleInContextMenu());
        if (action.endsWith(QLatin1String("Folder"))) // names the folder it acts on, in full
            QVERIFY2(helper->text().endsWith(QStringLiteral(" \u201c%1/sub/\u201d").arg(groups.dir.path())),
                     qPrintable(helper->text()));

        for (int i = 0; i < presses; ++i)
            QTest::keySequence(&harness.form, helper->shortcut());

        const std::vector<int> rows = harness.form.results().checkedRows();
        QCOMPARE(QList<int>(rows.begin(), rows.end()), checked);
        const QString status = harness.form.findChild<QLabel *>(QStringLiteral("status"))->text();
        QVERIFY2(said.isEmpty() ? status.isEmpty() : status.startsWith(said), qPrintable(status));
    }

    // The preview follows the current row as the keyboard moves it; the row menu opens from the
    // keyboard too and acts on its row, or on none.
    void previewAndRowMenuFollowTheCurrentRow()
    {
        Harness harness;
        Form2 preview(QStringLiteral(TWINFOLD_PREVIEW_PROGRAM));
        harness.form.setPreview(&preview);
        Groups groups(harness.form, {"a.bmp", "b.bmp", "c.txt", "d.txt"});
        for (int row : {0, 1})
            QVERIFY(writeFile(groups.paths[row], encoded(solid(Qt::red), "BMP")));
        harness.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&harness.form));
        QTreeView *list = harness.form.list();
        auto *picture = preview.findChild<PictureBox *>(QStringLiteral("Image1"));
        QVERIFY(picture);
        QCOMPARE(picture->accessibleName(), QStringLiteral("Preview picture"));
        QVERIFY(!list->accessibleName().isEmpty());
        list->setFocus();
        list->setCurrentIndex(harness.form.results().index(1, 0));
        QTRY_VERIFY(picture->hasPicture());
        QTest::keyClick(list, Qt::Key_Down); // onto c.txt: no picture
        QTRY_VERIFY(!picture->hasPicture());
        QTest::keyClick(list, Qt::Key_Up);
        QTRY_VERIFY(picture->hasPicture());

        QWidget *opened = nullptr;
        QTimer::singleShot(0, &harness.form, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget());
            opened = QApplication::activePopupWidget();
            opened->close();
        });
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(opened && opened->objectName() == QLatin1String("rowMenu"));
        QVERIFY(harness.form.action("open")->isEnabled());
        QMenu *menu = harness.form.contextMenuFor(-1); // over no row: nothing to act on
        QVERIFY(!harness.form.action("open")->isEnabled() && menu->actions().contains(harness.form.action("reveal")));
        harness.form.contextMenuFor(1);
        harness.form.action("reveal")->trigger();
        harness.form.action("copyPath")->trigger();
        harness.form.action("open")->trigger();
        const QRect third = list->visualRect(harness.form.results().index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(harness.desktop.revealed, QStringList{groups.paths[1]});
        QCOMPARE(harness.desktop.copied, QStringList{groups.paths[1]});
        QCOMPARE(harness.desktop.opened, (QStringList{groups.paths[1], groups.paths[2]}));
        QVERIFY(harness.messages.shown.empty());
    }

    void backToMainThenUncheckAll_data()
    {
        QTest::addColumn<bool>("maximised");
        QTest::addColumn<bool>("byKey"); // Alt+Left instead of the button
        QTest::newRow("normal") << false << false;
        QTest::newRow("maximised") << true << false;
        QTest::newRow("Alt+Left") << false << true;
    }

    void backToMainThenUncheckAll()
    {
        QFETCH(bool, maximised);
        QFETCH(bool, byKey);
        Harness harness;
        Form4 &form = harness.form;
        harness.main.setWindowState(maximised ? Qt::WindowNoState : Qt::WindowMaximized);
        Groups groups(form);
        for (const QString &path : groups.paths)
            form.results().SetCheckedByText(path, true);
        form.setGeometry(90, 70, 640, 480);
        if (maximised)
            form.showMaximized();
        else
            form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect outer = form.frameGeometry();

        if (byKey)
            QTest::keyClick(&form, Qt::Key_Left, Qt::AltModifier);
        else
            harness.button("Check2")->click();
        QCoreApplication::processEvents();

        QVERIFY(harness.main.isVisible() && !form.isVisible());
        QCOMPARE(harness.main.isMaximized(), maximised);
        if (!maximised)
            QTRY_COMPARE_WITH_TIMEOUT(harness.main.frameGeometry(), outer, 5000);
        // Hidden, not closed: check marks stay, until UNCHECK ALL clears them and nothing else.
        QCOMPARE(form.results().checkedRows(), (std::vector<int>{0, 1, 2, 3}));
        QVERIFY(!harness.button("Check2")->isChecked());
        harness.button("Check3")->click();
        QVERIFY(form.results().checkedRows().empty());
        QCOMPARE(listed(form.results()), groups.paths);
        QCOMPARE(form.results().rowColour(3), QStringLiteral("blue"));
        QVERIFY(!harness.button("Check3")->isChecked());
    }

    void listOnAnyPaletteAndAtAnySize_data()
    {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<bool>("plainRow"); // drawn in the list's own colours, as after a send
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black) << false;
        QTest::newRow("dark, group colour") << QColor(0x30, 0x30, 0x30) << QColor(0xd0, 0xd0, 0xd0) << false;
        QTest::newRow("dark, plain row") << QColor(0x2d, 0x2d, 0x2d) << QColor(Qt::white) << true;
    }

    // Ticks stand out on any palette. At any size the buttons and the list stand apart inside the
    // window and both columns show whole; the list takes what the window gains; "Size" stays as
    // wide as at creation (100 pixels), also after a window wide enough to widen it; a window too
    // small changes nothing.
    void listOnAnyPaletteAndAtAnySize()
    {
        QFETCH(QColor, base);
        QFETCH(QColor, text);
        QFETCH(bool, plainRow);
        Harness harness;
        Form4 &form = harness.form;
        Groups groups(form);
        QTreeView *list = form.list();
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, text);
        list->setPalette(palette);
        form.results().setData(form.results().index(0, 0), Qt::Checked, Qt::CheckStateRole);
        if (plainRow)
            form.results().setAllRowColours(QStringLiteral("white"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QStyleOptionViewItem option;
        option.initFrom(list);
        option.rect = list->visualRect(form.results().index(0, 0));
        option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
        const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
        // Contrast between the darkest and the lightest pixel inside the box, tick and fill.
        const QImage shown =
            list->viewport()->grab(box.adjusted(2, 2, -2, -2)).toImage().convertToFormat(QImage::Format_Grayscale8);
        int darkest = 255, lightest = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                darkest = std::min(darkest, qGray(shown.pixel(x, y)));
                lightest = std::max(lightest, qGray(shown.pixel(x, y)));
            }
        QVERIFY((std::pow(lightest / 255.0, 2.2) + 0.05) / (std::pow(darkest / 255.0, 2.2) + 0.05) >= 3);

        QList<QWidget *> parts;
        for (QWidget *child : form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisible() && !child->isWindow())
                parts << child;
        QVERIFY(parts.contains(list) && parts.size() >= 4);
        const QList<QAbstractButton *> buttons{harness.button("Check1"), harness.button("Check2"),
                                               harness.button("Check3")};
        QList<QRect> placed;
        for (QAbstractButton *button : buttons)
            placed << button->geometry();
        QSize lastWindow, lastList;
        for (const QSize outer : {QSize(800, 600), QSize(2520, 600), QSize(1000, 800), QSize(20, 100)}) {
            form.resize(outer - (form.frameGeometry().size() - form.geometry().size())); // frame included
            QCoreApplication::processEvents();
            if (outer.width() < 100) {
                QCOMPARE(list->size(), lastList);
                continue;
            }
            for (int i = 0; i < parts.size(); ++i) {
                QVERIFY(form.rect().contains(parts[i]->geometry()));
                for (int j = i + 1; j < parts.size(); ++j)
                    QVERIFY(!parts[i]->geometry().intersects(parts[j]->geometry()));
            }
            for (int i = 0; i < buttons.size(); ++i) // the buttons keep their places
                QCOMPARE(buttons[i]->geometry(), placed[i]);
            QVERIFY(list->columnWidth(1) >= 100);
            if (outer.width() < 2000)
                QVERIFY(list->columnWidth(0) > 300
                        && list->columnWidth(0) + list->columnWidth(1) <= list->viewport()->width());
            const QSize gap = list->size() - lastList - (form.size() - lastWindow); // the list takes it all
            QVERIFY(!lastWindow.isValid() || (qAbs(gap.width()) <= 1 && qAbs(gap.height()) <= 1));
            lastWindow = form.size();
            lastList = list->size();
        }
    }

    // Guard one: the helpers never check a protected file.
    void helpersLeaveProtectedFiles_data()
    {
        QTest::addColumn<QString>("helper");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("checked");
        QTest::newRow("keep first") << "keepFirst" << 0 << QStringList{"O/a1", "O/a2", "O/b2", "O/c2", "O/d2", "O/e"};
        QTest::newRow("keep shortest") << "keepShortest" << 0
                                       << QStringList{"O/a1", "O/a2", "O/b2", "O/c2", "O/d2", "O/e"};
        QTest::newRow("in P's folder") << "checkInFolder" << 1 << QStringList{};
        QTest::newRow("outside O") << "checkOutsideFolder" << 0 << QStringList{};
        QTest::newRow("outside the protected folders")
            << "checkOutsideProtected" << 0 << QStringList{"O/a1", "O/a2", "O/c2", "O/d2", "O/e"};
    }

    void helpersLeaveProtectedFiles()
    {
        QFETCH(QString, helper);
        QFETCH(int, row);
        QFETCH(QStringList, checked);
        Protected window;
        window.form.list()->setCurrentIndex(window.model().index(row, 0));
        window.form.action(helper.toLatin1().constData())->trigger();
        QStringList names;
        for (int checkedRow : window.model().checkedRows())
            names << window.model().path(checkedRow).mid(window.dir.path().size() + 1);
        QCOMPARE(names, checked);
        if (helper == QLatin1String("checkOutsideProtected"))
            QCOMPARE(window.form.helperStatus(),
                     QStringLiteral("Checked the copies outside the protected folders in 4 group(s); 1 group(s) "
                                    "with no protected copy left as they were."));
    }

    // Guard two: a click on a protected row's box does nothing, and its tooltip says why; the
    // list can show only the groups with a protected copy. Guard three: checked anyway (past the
    // other two), the trash step refuses it.
    void protectedRowsRefuseClicksAndTheTrash()
    {
        Protected window;
        ResultsModel &model = window.model();
        for (int row = 0; row < model.rows(); ++row) {
            const QModelIndex index = model.index(row, 0);
            model.setData(index, Qt::Checked, Qt::CheckStateRole);
            QCOMPARE(model.isChecked(row), !ProtectedRows.contains(row));
            QCOMPARE(model.data(index, Qt::ToolTipRole).toString().endsWith(ProtectedFiles::reason()),
                     ProtectedRows.contains(row));
        }
        for (const bool limited : {true, false}) {
            window.form.action("onlyProtectedGroups")->trigger();
            for (int row = 0; row < model.rows(); ++row)
                QCOMPARE(window.form.list()->isRowHidden(row, {}), limited && (row == 3 || row == 4));
        }
        std::vector<bool> states(std::size_t(model.rows()), false);
        states[1] = states[2] = true; // P/a and O/a2, O/a1 kept
        model.setCheckStates(states);
        QVERIFY(model.isChecked(1));
        TrashRun send(window.trash, planDeletion(model));
        send.SendToRecycleBin();
        QVERIFY(QFile::exists(window.at("P/a")));
        QVERIFY(!QFile::exists(window.at("O/a2")));
        QCOMPARE(send.outcome().failed.size(), std::size_t(1));
        QCOMPARE(send.outcome().failed[0].reason, QStringLiteral("it is in a protected folder"));
    }

    // Random helpers, clicks, keys, undo and sends: no protected file ever leaves its place.
    // TWINFOLD_PROTECTION_STEPS sets how many (the goal's 10,000 in a long run).
    void noProtectedFileEverMoves()
    {
        const int steps = qEnvironmentVariableIntValue("TWINFOLD_PROTECTION_STEPS");
        QRandomGenerator random(24);
        Protected window;
        window.messages.defaultAnswer = MessageBoxes::Answer::Ok;
        ResultsModel &model = window.model();
        QList<QAction *> helpers; // all but those that reach the desktop
        for (QAction *act : window.form.actions())
            if (!QStringList{"", "open", "reveal", "copyPath"}.contains(act->objectName()))
                helpers << act;
        int sendsThatMoved = 0; // the property holds for a reason, not because nothing moves
        for (int step = 0; step < (steps > 0 ? steps : 2000); ++step) {
            if (model.rows() > 0)
                window.form.list()->setCurrentIndex(model.index(int(random.bounded(model.rows())), 0));
            const QModelIndex current = window.form.list()->currentIndex();
            const auto pick = random.bounded(5);
            if (pick < 2) // a helper, undo or the group filter, as the menu or its key gives them
                helpers.at(int(random.bounded(int(helpers.size()))))->trigger();
            else if (pick == 2) // a click on the box
                model.setData(current, random.bounded(2) ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            else if (pick == 3)
                QTest::keyClick(window.form.list(), Qt::Key_Space);
            else
                window.button("Check1")->click();
            // Sends and Undo move files on a thread of their own: the next step waits, as a user
            // would, for the window to take the outcome in.
            QTRY_VERIFY_WITH_TIMEOUT(!window.form.busy(), 60000);
            sendsThatMoved += !QFile::exists(window.at("O/a2")) || !QFile::exists(window.at("O/b2"));
            for (const char *name : {"P/a", "P/d", "P/clink", "O/c", "P/e1", "P/e2"})
                QVERIFY2(QFile::exists(window.at(name)), qPrintable(QStringLiteral("step %1: %2").arg(step).arg(name)));
            for (int r = 0; r < model.rows(); ++r)
                QVERIFY2(!model.isProtected(r) || !model.isChecked(r), qPrintable(QString::number(step)));
        }
        QVERIFY(sendsThatMoved > 0);
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestForm4)
#include "tst_form4.moc"
