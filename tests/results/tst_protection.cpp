#include "EventPump.h"
#include "Fakes.h"
#include "Form4.h"
#include "RecyclingBin.h"
#include "ResultsModel.h"
#include "SelectionHelpers.h"
#include "Services.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "Trash.h"

#include <QAbstractButton>
#include <QAction>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Four groups; P is protected, L a link to P listed as another row, P/clink another name of O/c:
//   1: O/a1, P/a, O/a2    2: O/b1, O/b2 (no protected copy)    3: O/c, O/c2    4: O/d2, L/d
struct Window
{
    Window() : services{settings, messages, folders, screen, trash, pump, QString()}, form(services, &main)
    {
        const std::pair<std::uint32_t, const char *> rows[] = {{1, "O/a1"}, {1, "P/a"},  {1, "O/a2"},
                                                               {2, "O/b1"}, {2, "O/b2"}, {3, "O/c"},
                                                               {3, "O/c2"}, {4, "O/d2"}, {4, "P/d"}};
        std::uint32_t index = 0;
        for (const auto &[group, name] : rows)
            QVERIFY(writeFile(at(name), QByteArray(int(group), 'x')));
        QVERIFY(::link(QFile::encodeName(at("O/c")), QFile::encodeName(at("P/clink"))) == 0);
        QVERIFY(QFile::link(at("P"), at("L")));
        for (auto [group, name] : rows) {
            const QString path = at(name).replace(QStringLiteral("/P/d"), QStringLiteral("/L/d"));
            model().addRow(ResultRow{index++, path, 0, group, identityOf(path)});
        }
        model().showRows();
        const FileIdentity link = identityOf(at("P/clink"));
        model().setProtection(ProtectedFiles({at("P")}, {{QFile::encodeName(at("P/clink")), link.device, link.inode}}));
    }
    ResultsModel &model() { return form.results(); }
    QString at(const char *name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }
    QStringList checkedNames()
    {
        QStringList names;
        for (int row : model().checkedRows())
            names << model().path(row).mid(dir.path().size() + 1);
        return names;
    }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    FakeMessageBoxes messages;
    FakeFolderDialog folders;
    FakeScreen screen;
    SystemTrash trash;
    QtEventPump pump;
    Services services;
    QWidget main;
    Form4 form;
};

const QList<int> ProtectedRows{1, 5, 8}; // P/a, O/c (by its other name), L/d (through the link)
} // namespace

class TestProtection : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(trashFolder()).removeRecursively(); }

    // Guard one: the helpers never check a protected file.
    void helpersLeaveProtectedFiles_data()
    {
        QTest::addColumn<QString>("helper");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("checked");
        QTest::newRow("keep first") << "keepFirst" << 0 << QStringList{"O/a1", "O/a2", "O/b2", "O/c2", "O/d2"};
        QTest::newRow("keep shortest") << "keepShortest" << 0 << QStringList{"O/a1", "O/a2", "O/b2", "O/c2", "O/d2"};
        QTest::newRow("in P's folder") << "checkInFolder" << 1 << QStringList{};
        QTest::newRow("outside O") << "checkOutsideFolder" << 0 << QStringList{};
        QTest::newRow("outside the protected folders")
            << "checkOutsideProtected" << 0 << QStringList{"O/a1", "O/a2", "O/c2", "O/d2"};
    }

    void helpersLeaveProtectedFiles()
    {
        QFETCH(QString, helper);
        QFETCH(int, row);
        QFETCH(QStringList, checked);
        Window window;
        window.form.list()->setCurrentIndex(window.model().index(row, 0));
        window.form.action(helper.toLatin1().constData())->trigger();
        QCOMPARE(window.checkedNames(), checked);
        if (helper == QLatin1String("checkOutsideProtected"))
            QCOMPARE(window.form.helperStatus(),
                     QStringLiteral("Checked the copies outside the protected folders in 3 group(s); 1 group(s) "
                                    "with no protected copy left as they were."));
    }

    // Guard two: a click on a protected row's box does nothing, and its tooltip says why. The
    // list can show only the groups with a protected copy.
    void protectedRowsAndTheirGroups()
    {
        Window window;
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
    }

    // Guard three: checked anyway (past the other two), the trash step refuses it.
    void sendRefusesAProtectedFile()
    {
        Window window;
        ResultsModel &model = window.model();
        std::vector<bool> states(std::size_t(model.rows()), false);
        states[1] = states[2] = true; // P/a and O/a2, O/a1 kept
        model.setCheckStates(states);
        QVERIFY(model.isChecked(1));
        TrashRun send(window.trash, planDeletion(model));
        send.SendToRecycleBin();
        const TrashOutcome &outcome = send.outcome();
        QVERIFY(QFile::exists(window.at("P/a")));
        QVERIFY(!QFile::exists(window.at("O/a2")));
        QCOMPARE(outcome.failed.size(), std::size_t(1));
        QCOMPARE(outcome.failed[0].reason, QStringLiteral("it is in a protected folder"));
    }

    // Random helpers, clicks, keys, undo and sends: no protected file ever leaves its place.
    // TWINFOLD_PROTECTION_STEPS sets how many (the goal's 10,000 in a long run).
    void noProtectedFileEverMoves()
    {
        const int steps = qEnvironmentVariableIntValue("TWINFOLD_PROTECTION_STEPS");
        QRandomGenerator random(24);
        Window window;
        window.messages.defaultAnswer = MessageBoxes::Answer::Ok;
        ResultsModel &model = window.model();
        QList<QAction *> helpers; // all but those that reach the desktop
        for (QAction *act : window.form.actions())
            if (!QStringList{"", "open", "reveal", "copyPath"}.contains(act->objectName()))
                helpers << act;
        QAbstractButton *send = window.form.findChild<QAbstractButton *>(QStringLiteral("Check1"));
        const QStringList guarded{window.at("P/a"), window.at("P/d"), window.at("P/clink"), window.at("O/c")};
        int sendsThatMoved = 0; // the property holds for a reason, not because nothing moves
        for (int step = 0; step < (steps > 0 ? steps : 2000); ++step) {
            if (model.rows() > 0)
                window.form.list()->setCurrentIndex(model.index(int(random.bounded(model.rows())), 0));
            const QModelIndex current = window.form.list()->currentIndex();
            switch (random.bounded(5)) {
            case 0: // a helper, undo or the group filter, as the menu or its key gives them
            case 1:
                helpers.at(int(random.bounded(int(helpers.size()))))->trigger();
                break;
            case 2: // a click on the box
                model.setData(current, random.bounded(2) ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
                break;
            case 3:
                QTest::keyClick(window.form.list(), Qt::Key_Space);
                break;
            case 4:
                send->click();
                break;
            }
            // Sends and Undo move files on a thread of their own: the next step waits, as a user
            // would, for the window to take the outcome in.
            QTRY_VERIFY_WITH_TIMEOUT(!window.form.busy(), 60000);
            sendsThatMoved += !QFile::exists(window.at("O/a2")) || !QFile::exists(window.at("O/b2"));
            for (const QString &path : guarded)
                QVERIFY2(QFile::exists(path), qPrintable(QStringLiteral("step %1: %2").arg(step).arg(path)));
            for (int r = 0; r < model.rows(); ++r)
                QVERIFY2(!model.isProtected(r) || !model.isChecked(r), qPrintable(QString::number(step)));
        }
        QVERIFY(sendsThatMoved > 0);
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestProtection)
#include "tst_protection.moc"
