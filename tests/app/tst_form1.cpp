#include "AppHarness.h"
#include "Form2.h"
#include "Form4.h"
#include "ResultsModel.h"
#include "TestMain.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QTreeView>

namespace {
// Exact pixel layouts: the offscreen platform adds no window frame here, as a display
// without a window manager (tst_windowframe covers frames).
const bool NoWindowFrame = [] {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" QT_TESTCASE_SOURCEDIR "/offscreen-noframe.json");
    return true;
}();
} // namespace

class Form1Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString folder(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    static void verifyIdle(const AppHarness &app)
    {
        QVERIFY(!app.button("Check1")->isHidden() && !app.button("Check1")->isChecked());
        QVERIFY(app.button("Check6")->isHidden() && !app.button("Check6")->isChecked());
        QCOMPARE(app.form->windowTitle(), QStringLiteral("Twinfold 7.0"));
        QCOMPARE(app.control<QProgressBar>("ProgressBar1")->value(), 0);
    }

    // The banner at the top left, the buttons in a row to its right, the folder frame below
    // them holding the list, the progress bar at the window's foot: in that order, none
    // overlapping another and, when the window has room, none cut off by its edges.
    static void verifyLayout(const AppHarness &app, bool roomy)
    {
        QList<QRect> at;
        for (const char *name : {"Image6", "Check2", "Check1", "Check3", "Frame2", "ProgressBar1"})
            at << app.control(name)->geometry();
        const QRect client = app.form->rect();
        for (qsizetype i = 1; roomy && i < at.size(); ++i) {
            QVERIFY2(client.contains(at[i]), qPrintable(QString::number(i)));
            QVERIFY(i < 4 ? at[i - 1].right() < at[i].left() : at[i - 1].bottom() < at[i].top());
            QVERIFY(i != 4 || at[0].bottom() < at[4].top());
        }
        QVERIFY(!roomy || (at[0].contains(client.topLeft()) && client.bottom() - at[5].bottom() < 3 * at[5].height()));
        const QRect list = app.control("ListView3")->geometry(); // none when no room is left for it
        QVERIFY(list.isEmpty() || QRect(QPoint(), at[4].size()).contains(list));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (int i = 0; i < 20000; ++i)
            QVERIFY(writeFile(folder("many") + QStringLiteral("/f%1").arg(i), {}));
        QVERIFY(writeFile(folder("one") + QStringLiteral("/last"), {}));
        QVERIFY(writeFile(folder("different") + QStringLiteral("/a.jpg"), "one picture"));
        QVERIFY(writeFile(folder("different") + QStringLiteral("/b.jpg"), "another picture"));
        QVERIFY(writeFile(folder("twins") + QStringLiteral("/a.jpg"), "the same picture"));
        QVERIFY(writeFile(folder("twins") + QStringLiteral("/b.jpg"), "the same picture"));
    }

    void cleanup()
    {
        // The results and preview windows end with the main window that made them.
        QVERIFY(!topLevel<Form4>() && !topLevel<Form2>());
    }

    void startup_data()
    {
        // One row to a line; sizes brought within bounds and odd states are WindowPlacement's rows.
        // clang-format off
        QTest::addColumn<QSize>("screenSize");
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<QStringList>("saved"); // window state, width, height
        QTest::addColumn<int>("expectedState");
        QTest::addColumn<QSize>("expectedSize");
        QTest::addColumn<QPoint>("expectedPos"); // null: not checked

        const QStringList none;
        const int normal = Qt::WindowNoState, minimised = Qt::WindowMinimized, maximised = Qt::WindowMaximized;
        const QSize screen(1280, 1024);
        const QRect area(0, 0, 1280, 600);
        QTest::newRow("first run") << screen << QRect(0, 0, 1280, 1000) << none << normal << QSize(792, 416) << QPoint(244, 237);
        QTest::newRow("short screen") << QSize(1280, 480) << QRect(0, 0, 1280, 480) << none << normal << QSize(792, 416) << QPoint(244, 0);
        QTest::newRow("short screen, top panel") << QSize(1280, 480) << QRect(0, 24, 1280, 456) << none << normal << QSize(792, 416) << QPoint(244, 24);
        QTest::newRow("saved size") << screen << area << QStringList{"0", "9000", "6000"} << normal << QSize(600, 400) << QPoint();
        QTest::newRow("work area 801 wide") << screen << QRect(0, 0, 801, 600) << none << normal << QSize(792, 416) << QPoint();
        QTest::newRow("saved minimised") << screen << area << QStringList{"1", "9000", "6000"} << minimised << QSize(600, 400) << QPoint();
        QTest::newRow("saved maximised") << screen << area << QStringList{"2"} << maximised << QSize(792, 416) << QPoint();
        QTest::newRow("rounded") << screen << area << QStringList{"0", "9000.4", " 6007.6 "} << normal << QSize(600, 401) << QPoint();
        QTest::newRow("no size") << screen << area << QStringList{"0", "0", "0"} << normal << QSize(792, 416) << QPoint();
        QTest::newRow("not numbers") << screen << area << QStringList{"normal", "wide", ""} << normal << QSize(792, 416) << QPoint();
        QTest::newRow("out of 16-bit range") << screen << area << QStringList{"65536", "32768", "32767"} << normal << QSize(792, 600) << QPoint();
        // clang-format on
    }

    void startup()
    {
        QFETCH(QSize, screenSize);
        QFETCH(QRect, workArea);
        QFETCH(QStringList, saved);
        QFETCH(QPoint, expectedPos);
        AppHarness app;
        app.screen.screenSize = screenSize;
        app.screen.area = workArea;
        const char *keys[] = {"WindowState", "FormWidth", "FormHeight"};
        for (int i = 0; i < saved.size(); ++i)
            app.settings.setValue(QLatin1String(keys[i]), saved[i]);
        Form1 &form = app.open();

        QTEST(int(form.windowState()), "expectedState");
        QTEST(form.frameGeometry().size(), "expectedSize");
        if (!expectedPos.isNull())
            QCOMPARE(form.pos(), expectedPos);
        if (form.windowState() == Qt::WindowNoState)
            QVERIFY(app.screen.area.contains(form.frameGeometry()));
        QCOMPARE(app.button("Check6")->geometry(), app.button("Check1")->geometry());
        verifyIdle(app);
        auto *list = app.control<QTreeView>("ListView3");
        QCOMPARE(list->model()->rowCount(), 0);
        const int folderColumn = list->header()->sectionSize(0); // wide and whole in view
        QVERIFY(folderColumn > list->width() / 2 && folderColumn < list->width());
        verifyLayout(app, form.frameGeometry().size() == QSize(792, 416));
        QCOMPARE(app.control<QGroupBox>("Frame2")->title(), QStringLiteral("Folders to Find Duplicate Images In:"));
        QCOMPARE(app.stored("FormWidth"), saved.value(1, QStringLiteral("<missing>"))); // none saved yet
    }

    void resizeStepsLayOutAndSave_data()
    {
        // One row to a line; each after a first resize to 800 x 440, then to the outer size, then
        // into the state. Too small or minimised a window keeps the list's last size; a maximised
        // one fills the 800 x 600 screen.
        // clang-format off
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<int>("state");
        QTest::addColumn<QSize>("listSize");
        QTest::addColumn<bool>("roomy");
        QTest::addColumn<QStringList>("saved"); // window state, width, height
        const int normal = Qt::WindowNoState;
        QTest::newRow("800x440") << QSize(800, 440) << normal << QSize(760, 260) << true << QStringList{"0", "12000", "6600"};
        QTest::newRow("large") << QSize(1200, 900) << normal << QSize(1160, 720) << true << QStringList{"0", "18000", "13500"};
        QTest::newRow("narrower than 600 twips") << QSize(30, 440) << normal << QSize(760, 260) << false << QStringList{"0", "450", "6600"};
        QTest::newRow("lower than 2,700 twips") << QSize(800, 150) << normal << QSize(760, 260) << false << QStringList{"0", "12000", "2250"};
        QTest::newRow("600 by 2,700 twips") << QSize(40, 180) << normal << QSize(0, 0) << false << QStringList{"0", "600", "2700"};
        QTest::newRow("minimised") << QSize(800, 440) << int(Qt::WindowMinimized) << QSize(760, 260) << true << QStringList{"1", "12000", "6600"};
        QTest::newRow("maximised") << QSize(1200, 900) << int(Qt::WindowMaximized) << QSize(760, 420) << true << QStringList{"2", "12000", "9000"};
        // clang-format on
    }

    void resizeStepsLayOutAndSave()
    {
        QFETCH(QSize, outer);
        QFETCH(int, state);
        QFETCH(bool, roomy);
        QFETCH(QStringList, saved);
        AppHarness app;
        QVERIFY(app.openShown());
        for (const QSize size : {QSize(800, 440), outer}) {
            app.form->resize(size);
            QTRY_COMPARE_WITH_TIMEOUT(app.form->frameGeometry().size(), size, 2000);
        }
        app.form->setWindowState(Qt::WindowState(state));

        const auto stored = [&app] {
            return QStringList{app.stored("WindowState"), app.stored("FormWidth"), app.stored("FormHeight")};
        };
        QTRY_COMPARE_WITH_TIMEOUT(stored(), saved, 2000);
        QTEST(app.control("ListView3")->size(), "listSize");
        verifyLayout(app, roomy);
        const QRect frame = app.control("Frame2")->geometry(), bar = app.control("ProgressBar1")->geometry();
        QVERIFY(bar.left() == frame.left() && bar.width() == frame.width()); // the bar spans the frame
    }

    void commandsRunOnce_data()
    {
        // One row to a line: a click, or a key that clicks the visible button, with one folder
        // listed; with none, FIND DUPES leaves a raised stop flag alone.
        // clang-format off
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("stop");
        const QString none, noDupes = QStringLiteral("No duplicate images found."), missing = QStringLiteral("<missing>");
        const QKeySequence click;
        QTest::newRow("ADD FOLDER") << true << "Check2" << click << "Add Folder (Ctrl+O)" << 1 << 1 << none << missing; // cancelled
        QTest::newRow("FIND DUPES") << true << "Check1" << click << "Find Dupes (F5)" << 0 << 1 << noDupes << "False";
        QTest::newRow("CLEAR LIST") << true << "Check3" << click << "" << 0 << 0 << none << missing;
        QTest::newRow("STOP FIND") << true << "Check6" << click << "Stop Find (Esc)" << 0 << 1 << none << "True";
        QTest::newRow("Ctrl+O: ADD FOLDER") << true << "Check2" << QKeySequence(Qt::CTRL | Qt::Key_O) << "Add Folder (Ctrl+O)" << 1 << 1 << none << missing;
        QTest::newRow("F5: FIND DUPES") << true << "Check1" << QKeySequence(Qt::Key_F5) << "Find Dupes (F5)" << 0 << 1 << noDupes << "False";
        QTest::newRow("Esc while idle: nothing") << true << "Check6" << QKeySequence(Qt::Key_Escape) << "Stop Find (Esc)" << 0 << 1 << none << missing;
        const QString noFolders = QStringLiteral("There are no folders to find duplicates for. Please drag and drop some folders into the list above.");
        QTest::newRow("FIND DUPES, no folders") << false << "Check1" << click << "Find Dupes (F5)" << 0 << 0 << noFolders << "True";
        // clang-format on
    }

    void commandsRunOnce()
    {
        QFETCH(bool, hasFolder);
        QFETCH(QString, name);
        QFETCH(QKeySequence, key);
        QFETCH(QString, message);
        AppHarness app;
        QVERIFY(app.openShown());
        app.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(app.form.get()));
        if (hasFolder)
            app.addFolder(folder("different"));
        else
            app.settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
        app.dialog.prompts.clear();
        QAbstractButton *button = app.button(qPrintable(name));
        QTEST(button->toolTip(), "tooltip");
        button->setChecked(false); // already unchecked: nothing runs
        QVERIFY(app.dialog.prompts.isEmpty());

        if (!key.isEmpty()) {
            QTest::keySequence(app.form.get(), key);
            QTest::qWait(300); // a key clicks its button after showing it pressed
        } else if (button->isVisible()) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            button->click();
        }

        QTEST(int(app.dialog.prompts.size()), "prompts");
        QTEST(app.control<QTreeView>("ListView3")->model()->rowCount(), "rows");
        if (message.isEmpty())
            QVERIFY(app.messages.shown.empty());
        else
            verifyMessage(app.messages, message, {}, MessageBoxes::Buttons::Ok);
        QTEST(app.stored("Stop"), "stop");
        QCOMPARE(bool(topLevel<Form4>()), message.startsWith(QLatin1String("No dup"))); // touched by a search only
        if (name == QLatin1String("Check1") && key.isEmpty()) // not CLEAR LIST, where one Space would empty the list
            QCOMPARE(app.form->focusWidget(), app.button("Check1"));
        verifyIdle(app);
        QVERIFY(app.form->isVisible());
    }

    void resultsTakeTheMainWindowsPlace_data()
    {
        QTest::addColumn<QRect>("mainPlace");  // none: maximised
        QTest::addColumn<QPoint>("previewAt"); // work area 1280 x 1000, preview 250 x 185
        QTest::newRow("normal") << QRect(100, 50, 700, 400) << QPoint(100, 450);
        QTest::newRow("normal, near the bottom") << QRect(100, 700, 700, 250) << QPoint(100, 815);
        QTest::newRow("maximised") << QRect() << QPoint(0, 815);
    }
    void resultsTakeTheMainWindowsPlace()
    {
        QFETCH(QRect, mainPlace);
        const bool maximised = mainPlace.isNull();
        AppHarness app;
        QVERIFY(app.openShown());
        Form1 &form = *app.form;
        if (maximised)
            form.setWindowState(Qt::WindowMaximized);
        else
            form.setGeometry(mainPlace);
        QTRY_COMPARE_WITH_TIMEOUT(form.isMaximized(), maximised, 2000);
        mainPlace = form.geometry();
        app.addFolder(folder("twins"));
        app.button("Check1")->click();

        Form4 *results = topLevel<Form4>();
        Form2 *preview = topLevel<Form2>();
        QVERIFY(results && preview);
        QTRY_VERIFY_WITH_TIMEOUT(results->isVisible() && preview->isVisible() && !form.isVisible(), 2000);
        QCOMPARE(results->isMaximized(), maximised);
        if (!maximised)
            QCOMPARE(results->geometry(), mainPlace);
        // Right below the results window, as far as the work area allows.
        QTEST(preview->frameGeometry().topLeft(), "previewAt");
        // The rows have the keyboard, not SEND TO RECYCLING, and the preview never takes it.
        QCOMPARE(results->focusWidget(), results->list());
        QVERIFY(preview->testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(static_cast<ResultsSink &>(results->results()).rowCount(), std::size_t(2));
        verifyIdle(app);
    }

    void questionAboveTwentyThousandFiles_data()
    {
        // clang-format off
        QTest::addColumn<QString>("duringQuestion"); // none: no question
        QTest::addColumn<QString>("stopFlag");

        QTest::newRow("20,000 files") << QString() << "False";
        QTest::newRow("20,001 files, No") << "no" << "False";
        QTest::newRow("20,001 files, STOP FIND, Yes") << "stop" << "True";
        QTest::newRow("20,001 files, Esc, Yes") << "esc" << "True";
        QTest::newRow("20,001 files, window closed, Yes") << "close" << "False";
        // clang-format on
    }

    void questionAboveTwentyThousandFiles()
    {
        QFETCH(QString, duringQuestion);
        AppHarness app;
        QVERIFY(app.openShown());
        Form1 &form = *app.form;
        app.addFolder(folder("many"));
        if (!duringQuestion.isEmpty()) // one file more than the limit
            app.addFolder(folder("one"));
        else // no question: stop as soon as reading starts
            app.settings.forceStop = [&form] { return form.windowTitle().endsWith(QLatin1String("[Reading images]")); };
        bool swapped = false;
        app.messages.onShow = [&](const FakeMessageBoxes::Shown &) {
            swapped = app.button("Check1")->isHidden() && QApplication::focusWidget() == app.button("Check6");
            if (duringQuestion == QLatin1String("stop"))
                QTest::mouseClick(app.button("Check6"), Qt::LeftButton);
            else if (duringQuestion == QLatin1String("esc")) {
                QTest::keyClick(&form, Qt::Key_Escape);
                QTest::qWait(300); // a key clicks its button after showing it pressed
            } else if (duringQuestion == QLatin1String("close"))
                form.close();
        };
        app.messages.answers.push_back(duringQuestion == QLatin1String("no") ? MessageBoxes::Answer::No
                                                                             : MessageBoxes::Answer::Yes);
        app.button("Check1")->click();

        if (!duringQuestion.isEmpty()) {
            QVERIFY(swapped);
            verifyMessage(app.messages,
                          QStringLiteral("The 2 folder(s) you've selected contains 20,001 files. This is over the "
                                         "recommended amount of 20,000. Please remove some folders from the list by "
                                         "selecting them and pressing 'Delete' on the keyboard or click 'Clear List'."
                                         "\r\rYou can still proceed, but the duplicate finding process may take a "
                                         "long time. Would you like to proceed anyway?"),
                          QStringLiteral("Question"), MessageBoxes::Buttons::YesNo);
        } else {
            QVERIFY(app.messages.shown.empty());
        }
        QTEST(app.stored("Stop"), "stopFlag");
        // Every path ends the search before a file is matched.
        QCOMPARE(static_cast<ResultsSink &>(topLevel<Form4>()->results()).rowCount(), std::size_t(0));
        QVERIFY(!topLevel<Form4>()->isVisible());
        verifyIdle(app);
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(Form1Test)
#include "tst_form1.moc"
