#include "AppHarness.h"
#include "FolderListModel.h"
#include "TestMain.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>

namespace {
const QString DropError = QStringLiteral(
    "You can not drag and drop virtual folders like My Documents. Instead browse to C:\\Documents and "
    "Settings\\Your Name\\My Documents, for example, or drag and drop subfolders within My Documents");
} // namespace

class FolderListTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sub;

    QString expand(QString text) const { return text.replace(QStringLiteral("{dir}"), m_dir.path()); }

    static QStringList rows(const AppHarness &app)
    {
        const QAbstractItemModel *model = app.control<QTreeView>("ListView3")->model();
        QStringList texts;
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, 0).data().toString();
        return texts;
    }

    static void addRows(AppHarness &app, const QStringList &folders)
    {
        for (const QString &folder : folders) {
            app.dialog.answers.push_back(folder);
            app.button("Check2")->click();
        }
    }

    static bool deliverDrop(QTreeView *view, QMimeData *data, Qt::DropAction *action)
    {
        QWidget *target = view->viewport();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &drop);
        *action = drop.dropAction();
        return drop.isAccepted();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_sub = m_dir.filePath(QStringLiteral("sub"));
        QVERIFY(QDir().mkpath(m_sub));
        for (const char *name : {"a.jpg", "b.jpg"}) {
            QFile file(m_sub + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(m_sub, m_dir.filePath(QStringLiteral("link"))));
    }

    void drop_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<bool>("expectError");

        const QString sub = QStringLiteral("file://{dir}/sub");
        QTest::newRow("folder") << QStringList{sub} << QStringList{QStringLiteral("{dir}/sub")} << false;
        QTest::newRow("folder with trailing separator")
            << QStringList{sub + QLatin1Char('/')} << QStringList{QStringLiteral("{dir}/sub/")} << false;
        QTest::newRow("two files of one folder")
            << QStringList{sub + QStringLiteral("/a.jpg"), sub + QStringLiteral("/b.jpg")}
            << QStringList{QStringLiteral("{dir}/sub"), QStringLiteral("{dir}/sub")} << false;
        QTest::newRow("folder and one of its files")
            << QStringList{sub, sub + QStringLiteral("/a.jpg")}
            << QStringList{QStringLiteral("{dir}/sub"), QStringLiteral("{dir}/sub")} << false;
        QTest::newRow("link to a folder")
            << QStringList{QStringLiteral("file://{dir}/link")} << QStringList{QStringLiteral("{dir}/link")}
            << false;
        QTest::newRow("root folder") << QStringList{QStringLiteral("file:///")} << QStringList{QStringLiteral("/")}
                                     << false;
        QTest::newRow("file in the root folder")
            << QStringList{QStringLiteral("file:///twinfold-test-not-a-folder.jpg")}
            << QStringList{QStringLiteral("/")} << false;
        QTest::newRow("second path fails")
            << QStringList{sub, QStringLiteral("https://example.com/pictures/a.jpg"), sub + QStringLiteral("/a.jpg")}
            << QStringList{QStringLiteral("{dir}/sub")} << true;
        QTest::newRow("no paths at all") << QStringList{} << QStringList{} << true;
    }

    void drop()
    {
        QFETCH(QStringList, urls);
        QFETCH(QStringList, expectedRows);
        QFETCH(bool, expectError);

        AppHarness app;
        app.open();
        QList<QUrl> list;
        for (const QString &url : urls)
            list << QUrl(expand(url));
        QMimeData data;
        data.setUrls(list);
        if (list.isEmpty())
            data.setData(QStringLiteral("text/uri-list"), QByteArray());

        Qt::DropAction action = Qt::IgnoreAction;
        QVERIFY(deliverDrop(app.control<QTreeView>("ListView3"), &data, &action));
        // A move would let the file manager delete what was dropped.
        QCOMPARE(action, Qt::CopyAction);

        QStringList expected;
        for (const QString &row : expectedRows)
            expected << expand(row);
        QCOMPARE(rows(app), expected);

        if (expectError) {
            QTRY_COMPARE_WITH_TIMEOUT(app.messages.shown.size(), std::size_t(1), 5000);
            QCOMPARE(app.messages.shown[0].text, DropError);
            QCOMPARE(app.messages.shown[0].title, QStringLiteral("Error"));
            QCOMPARE(app.messages.shown[0].buttons, MessageBoxes::Buttons::Ok);
            QCOMPARE(app.messages.shown[0].icon, MessageBoxes::Icon::None);
        }
        QTest::qWait(20);
        QCOMPARE(app.messages.shown.size(), std::size_t(expectError ? 1 : 0));
        for (int row = 0; row < expected.size(); ++row)
            QVERIFY(!app.control<QTreeView>("ListView3")->model()->index(row, 0).data(Qt::DecorationRole)
                         .value<QIcon>().isNull());
    }

    void dragWithoutFilesIsRefused()
    {
        AppHarness app;
        app.open();
        QMimeData data;
        data.setText(QStringLiteral("/home"));
        Qt::DropAction action = Qt::IgnoreAction;
        QVERIFY(!deliverDrop(app.control<QTreeView>("ListView3"), &data, &action));
        QVERIFY(rows(app).isEmpty());
    }

    void addFolder_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expectedRows");

        QTest::newRow("cancel") << QString() << QStringList{};
        QTest::newRow("a folder") << QStringLiteral("{dir}/sub") << QStringList{QStringLiteral("{dir}/sub")};
        QTest::newRow("trailing separator") << QStringLiteral("{dir}/sub/") << QStringList{QStringLiteral("{dir}/sub")};
        QTest::newRow("root folder") << QStringLiteral("/") << QStringList{QStringLiteral("/")};
    }

    void addFolder()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, expectedRows);

        AppHarness app;
        app.open();
        app.dialog.answers.push_back(expand(answer));
        app.button("Check2")->click();

        QCOMPARE(app.dialog.prompts, QStringList{QStringLiteral("Please select folder to add:")});
        QStringList expected;
        for (const QString &row : expectedRows)
            expected << expand(row);
        QCOMPARE(rows(app), expected);
        QVERIFY(app.messages.shown.empty());
    }

    void sameFolderTwiceGivesTwoRowsAndClearListEmptiesIt()
    {
        AppHarness app;
        app.open();
        addRows(app, {m_sub, m_sub});
        QCOMPARE(rows(app), (QStringList{m_sub, m_sub}));

        app.button("Check3")->click();
        QVERIFY(rows(app).isEmpty());
        app.button("Check3")->click(); // an empty list stays empty, quietly
        QVERIFY(app.messages.shown.empty());
    }

    void deleteRemovesSelectedRows_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("rows 2 and 4 of 5") << QList<int>{1, 3} << int(Qt::NoModifier)
                                          << QStringList{QStringLiteral("/r1"), QStringLiteral("/r3"),
                                                         QStringLiteral("/r5")};
        QTest::newRow("with Shift held") << QList<int>{0, 1, 4} << int(Qt::ShiftModifier)
                                        << QStringList{QStringLiteral("/r3"), QStringLiteral("/r4")};
        QTest::newRow("nothing selected")
            << QList<int>{} << int(Qt::NoModifier)
            << QStringList{QStringLiteral("/r1"), QStringLiteral("/r2"), QStringLiteral("/r3"), QStringLiteral("/r4"),
                           QStringLiteral("/r5")};
    }

    void deleteRemovesSelectedRows()
    {
        QFETCH(QList<int>, selected);
        QFETCH(int, modifiers);
        QFETCH(QStringList, expected);

        AppHarness app;
        app.open();
        addRows(app, {QStringLiteral("/r1"), QStringLiteral("/r2"), QStringLiteral("/r3"), QStringLiteral("/r4"),
                      QStringLiteral("/r5")});
        auto *view = app.control<QTreeView>("ListView3");
        for (int row : selected)
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(rows(app), expected);
    }

    void ctrlASelectsEveryRow_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expectedSelected");

        QTest::newRow("Ctrl+A") << int(Qt::ControlModifier) << 3;
        QTest::newRow("Ctrl+Shift+A") << int(Qt::ControlModifier | Qt::ShiftModifier) << 0;
        QTest::newRow("Ctrl+Alt+A") << int(Qt::ControlModifier | Qt::AltModifier) << 0;
        QTest::newRow("A alone") << int(Qt::NoModifier) << 0;
    }

    void ctrlASelectsEveryRow()
    {
        QFETCH(int, modifiers);
        QFETCH(int, expectedSelected);

        AppHarness app;
        app.open();
        addRows(app, {QStringLiteral("/r1"), QStringLiteral("/r2"), QStringLiteral("/r3")});
        auto *view = app.control<QTreeView>("ListView3");
        view->selectionModel()->clearSelection();
        QTest::keyClick(view, Qt::Key_A, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(view->selectionModel()->selectedRows().size(), expectedSelected);
    }

    void listShowsHintAndFolderColumn()
    {
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        addRows(app, {QStringLiteral("/r1")});
        auto *view = app.control<QTreeView>("ListView3");
        const QString hint = QStringLiteral("Drag and drop folders or click 'Add Folder' button.");
        const QRect firstRow = view->visualRect(view->model()->index(0, 0));
        for (const QPoint at : {firstRow.center(), view->viewport()->rect().bottomRight() - QPoint(5, 5)}) {
            QToolTip::hideText();
            QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &help);
            QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), hint, 2000);
        }
        QCOMPARE(view->model()->columnCount(), 1);
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Folder"));
        QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(view->iconSize(), QSize(32, 32));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(FolderListTest)
#include "tst_folderlist.moc"
