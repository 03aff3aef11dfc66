#include "AppHarness.h"
#include "FolderListView.h"
#include "Form4.h"
#include "ResultsModel.h"
#include "UniqueFilesWindow.h"
#include "TestMain.h"

#include <QAction>
#include <QMenu>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

class FolderListTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QStringList expand(QStringList list) const { return list.replaceInStrings(QStringLiteral("{dir}"), m_dir.path()); }

    static QStringList rows(const AppHarness &app)
    {
        const QAbstractItemModel *model = app.control<QTreeView>("ListView3")->model();
        QStringList texts;
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, 0).data().toString();
        return texts;
    }

    // Drags the data onto the list and drops it there, offering a move; gives the
    // action the list answered, or nothing when it refused the drag.
    static std::optional<Qt::DropAction> drop(const AppHarness &app, const QMimeData &data)
    {
        QWidget *target = app.control<QTreeView>("ListView3")->viewport();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return std::nullopt;
        QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        dropped.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &dropped);
        return dropped.dropAction();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("sub/a.jpg")), {}) && QDir(m_dir.path()).mkdir("Fotos é"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("sub")), m_dir.filePath(QStringLiteral("link"))));
        QVERIFY(::mkdir(QFile::encodeName(m_dir.path()) + "/bad\xff", 0700) == 0);
    }

    void cleanupTestCase()
    {
        // QTemporaryDir cannot remove a name it cannot decode.
        ::rmdir(QFile::encodeName(m_dir.path()) + "/bad\xff");
    }

    void drop_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<bool>("chosen"); // through ADD FOLDER's dialog, the urls its answers
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<bool>("fails");
        const QString sub = QStringLiteral("file://{dir}/sub"), file = sub + QStringLiteral("/a.jpg");
        QTest::newRow("folder") << false << QStringList{sub} << QStringList{"{dir}/sub"} << false;
        QTest::newRow("folder, trailing separator") << false << QStringList{sub + '/'} << QStringList{"{dir}/sub/"} << false;
        QTest::newRow("folder and its file") << false << QStringList{sub, file} << QStringList{"{dir}/sub", "{dir}/sub"} << false;
        QTest::newRow("name with a blank and an accent") << false << QStringList{"file://{dir}/Fotos%20%C3%A9"} << QStringList{"{dir}/Fotos é"} << false;
        QTest::newRow("link to a folder") << false << QStringList{"file://{dir}/link"} << QStringList{"{dir}/link"} << false;
        QTest::newRow("root folder") << false << QStringList{"file:///"} << QStringList{"/"} << false;
        const QStringList rootFiles = QDir::root().entryList(QDir::Files | QDir::System | QDir::Hidden);
        if (!rootFiles.isEmpty())
            QTest::newRow("file in the root") << false << QStringList{"file:///" + rootFiles.first()} << QStringList{"/"} << false;
        QTest::newRow("localhost") << false << QStringList{"file://localhost{dir}/sub"} << QStringList{"{dir}/sub"} << false;
        QTest::newRow("second path fails") << false << QStringList{sub, "https://example.com/a.jpg", file} << QStringList{"{dir}/sub"} << true;
        QTest::newRow("no paths") << false << QStringList{} << QStringList{} << true;
        // Each of these once added a parent folder (or a relative row) that the search walked whole.
        QTest::newRow("missing folder") << false << QStringList{sub, "file://{dir}/no/such"} << QStringList{"{dir}/sub"} << true;
        QTest::newRow("missing file") << false << QStringList{"file://{dir}/sub/gone.jpg"} << QStringList{} << true;
        QTest::newRow("other host") << false << QStringList{"file://otherhost{dir}/sub"} << QStringList{} << true;
        QTest::newRow("relative") << false << QStringList{"file:sub"} << QStringList{} << true;
        QTest::newRow("name not valid UTF-8") << false << QStringList{"file://{dir}/bad%FF"} << QStringList{} << true;
        QTest::newRow("encoded NUL") << false << QStringList{"file://{dir}/sub%00/a.jpg"} << QStringList{} << true;
        QTest::newRow("chosen, trailing separator") << true << QStringList{"{dir}/sub/"} << QStringList{"{dir}/sub"} << false;
        QTest::newRow("chosen root folder") << true << QStringList{"/"} << QStringList{"/"} << false;
        QTest::newRow("chosen twice") << true << QStringList{"{dir}/sub", "{dir}/sub"} << QStringList{"{dir}/sub", "{dir}/sub"} << false;
        // clang-format on
    }

    void drop()
    {
        QFETCH(bool, chosen);
        QFETCH(QStringList, urls);
        QFETCH(QStringList, expectedRows);
        QFETCH(bool, fails);
        AppHarness app;
        app.open();
        QMimeData data;
        data.setUrls(QUrl::fromStringList(expand(urls)));
        if (urls.isEmpty()) // a file list that names nothing
            data.setData(QStringLiteral("text/uri-list"), {});
        if (chosen) {
            for (const QString &answer : expand(urls))
                app.addFolder(answer);
            QCOMPARE(app.dialog.prompts, QStringList(urls.size(), QStringLiteral("Please select folder to add:")));
        } else {
            // A move would let the file manager delete what was dropped.
            QCOMPARE(drop(app, data), Qt::CopyAction);
        }
        QCOMPARE(rows(app), expand(expectedRows));
        for (int row = 0; row < expectedRows.size(); ++row)
            QVERIFY(!app.control<QTreeView>("ListView3")->model()->index(row, 0).data(Qt::DecorationRole).isNull());
        QTest::qWait(20); // the message waits until the drop is over
        if (fails)
            verifyMessage(app.messages,
                          QStringLiteral("You can not drag and drop virtual folders like My Documents. Instead browse "
                                         "to C:\\Documents and Settings\\Your Name\\My Documents, for example, or "
                                         "drag and drop subfolders within My Documents"),
                          QStringLiteral("Error"), MessageBoxes::Buttons::Ok);
        else
            QVERIFY(app.messages.shown.empty());

        QMimeData text; // a drag without files is refused at once
        text.setText(QStringLiteral("/home"));
        QCOMPARE(drop(app, text), std::nullopt);
    }

    void keys_data()
    {
        // One row to a line.
        // clang-format off
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QStringList>("expectedRows");
        QTest::addColumn<int>("expectedSelected");
        const QStringList all{"/r1", "/r2", "/r3", "/r4", "/r5"};
        const QKeySequence del(Qt::Key_Delete);
        QTest::newRow("Delete rows 2 and 4 of 5") << QList<int>{1, 3} << del << QStringList{"/r1", "/r3", "/r5"} << 0;
        QTest::newRow("Shift+Delete") << QList<int>{0, 1, 4} << QKeySequence(Qt::SHIFT | Qt::Key_Delete) << QStringList{"/r3", "/r4"} << 0;
        QTest::newRow("Delete, nothing selected") << QList<int>{} << del << all << 0;
        QTest::newRow("Ctrl+A") << QList<int>{} << QKeySequence(Qt::CTRL | Qt::Key_A) << all << 5;
        QTest::newRow("Ctrl+Shift+A") << QList<int>{} << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A) << all << 0;
        QTest::newRow("Ctrl+Alt+A") << QList<int>{} << QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A) << all << 0;
        // clang-format on
    }

    void keys()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QKeySequence, key);
        AppHarness app;
        app.open();
        for (const char *row : {"/r1", "/r2", "/r3", "/r4", "/r5"})
            app.addFolder(QLatin1String(row));
        auto *view = app.control<QTreeView>("ListView3");
        for (int row : selected)
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);

        QTest::keySequence(view, key);
        QTEST(rows(app), "expectedRows");
        QTEST(int(view->selectionModel()->selectedRows().size()), "expectedSelected");
    }

    // The row's menu marks it protected (its key shown), the row says so without colour, and
    // FIND DUPES then lists the files there as protected.
    void protectFromTheRowMenu()
    {
        QTemporaryDir dir;
        for (const char *name : {"P/a", "O/a"})
            QVERIFY(writeFile(dir.filePath(QLatin1String(name)), "same"));
        AppHarness app;
        app.open();
        for (const char *name : {"gone", "O", "P"})
            app.addFolder(dir.filePath(QLatin1String(name)));
        auto *view = app.control<FolderListView>("ListView3");
        QAction *protect = view->findChild<QAction *>(QStringLiteral("protectFolder"));
        QVERIFY(view->rowMenuFor(2)->actions().contains(protect));
        QCOMPARE(protect->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
        protect->trigger();
        // The mark stays with its folder when a row above it is deleted.
        view->selectionModel()->select(view->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(view->model()->index(1, 0).data(Qt::AccessibleDescriptionRole).toString(), "Protected folder");
        QCOMPARE(view->model()->index(1, 0).data(Qt::AccessibleTextRole).toString(), dir.filePath("P") + ", protected");
        QVERIFY(!view->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).isValid());
        QVERIFY(view->rowMenuFor(1) && protect->isChecked());

        app.button("Check1")->click();
        QVERIFY(topLevel<Form4>()->isVisible());
        const ResultsModel &results = topLevel<Form4>()->results();
        QCOMPARE(results.rows(), 2);
        for (int r = 0; r < 2; ++r)
            QCOMPARE(results.isProtected(r), results.path(r).endsWith(QStringLiteral("P/a")));
        // CLEAR LIST takes the marks too: a folder added after it starts unprotected.
        app.button("Check3")->click();
        for (const char *name : {"O", "P"})
            app.addFolder(dir.filePath(QLatin1String(name)));
        QVERIFY(!view->model()->index(1, 0).data(Qt::AccessibleDescriptionRole).isValid());
    }

    // From a row's menu: the files there with no copy in the other folders, with the summary.
    void uniqueFilesFromTheRowMenu_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("summary");
        // clang-format off
        QTest::newRow("one") << QStringList{"P/unique=12345", "P/copy=cc", "O/copy=cc", "P/in1=ii", "P/sub/in2=ii"}
                             << QStringList{"P/in1", "P/sub/in2", "P/unique"} << "3 files, 9 bytes, have no copy in the other folders";
        QTest::newRow("none") << QStringList{"P/copy=cc", "O/copy=cc", "O/other=x"} << QStringList{} << "Every file here has a copy in the other folders";
        // clang-format on
    }

    void uniqueFilesFromTheRowMenu()
    {
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        for (const QString &file : files)
            QVERIFY(writeFile(dir.filePath(file.section(u'=', 0, 0)), file.section(u'=', 1).toUtf8()));
        AppHarness app;
        app.open();
        app.addFolder(dir.filePath("P"));
        app.addFolder(dir.filePath("O"));
        auto *view = app.control<FolderListView>("ListView3");
        view->rowMenuFor(0);
        view->findChild<QAction *>(QStringLiteral("uniqueFiles"))->trigger();
        UniqueFilesWindow *window = topLevel<UniqueFilesWindow>();
        QVERIFY(window && window->isVisible());
        QTEST(window->summary(), "summary");
        const QString saved = dir.filePath("list.txt");
        QVERIFY(window->saveList(saved));
        QStringList paths = QString::fromUtf8(readFile(saved)).replace(dir.path() + '/', "").split('\n');
        paths.removeLast();
        QTEST(sorted(paths), "listed");
        QStringList offered; // never the trash
        for (QAction *act : window->actions())
            offered << act->objectName();
        QCOMPARE(offered, (QStringList{"open", "reveal", "copyPath", "saveList"}));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(FolderListTest)
#include "tst_folderlist.moc"
