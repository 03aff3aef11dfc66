#include "AppHarness.h"
#include "Form2.h"
#include "Form4.h"
#include "ResultsModel.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtEndian>

namespace {
// These tests lay out by exact pixels: the offscreen platform is told to add no window
// frame, as under a display without a window manager (tst_windowframe covers frames).
const bool NoWindowFrame = [] {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" QT_TESTCASE_SOURCEDIR "/offscreen-noframe.json");
    return true;
}();

const QString Idle = QStringLiteral("Twinfold 7.0");
const QString EmptyListMessage = QStringLiteral(
    "There are no folders to find duplicates for. Please drag and drop some folders into the list above.");

QString stored(const AppHarness &app, const char *key)
{
    return app.settings.value(QLatin1String(key)).value_or(QStringLiteral("<missing>"));
}

void addFolder(AppHarness &app, const QString &folder)
{
    app.dialog.answers.push_back(folder);
    app.button("Check2")->click();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A 32 x 32 pointer file with its hotspot at (5, 3).
QByteArray handCursorFile()
{
    QByteArray data;
    const auto u16 = [&data](quint16 v) { data.append(reinterpret_cast<const char *>(&v), 2); };
    const auto u32 = [&data](quint32 v) { data.append(reinterpret_cast<const char *>(&v), 4); };
    const quint32 imageBytes = 40 + 32 * 32 * 4 + 32 * 4;
    u16(0), u16(2), u16(1);
    data.append(char(32)).append(char(32)).append(char(0)).append(char(0));
    u16(5), u16(3), u32(imageBytes), u32(22);
    u32(40), u32(32), u32(64), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
    for (int i = 0; i < 32 * 32; ++i)
        u32(qToLittleEndian<quint32>(0xff203040));
    data.append(QByteArray(32 * 4, '\0'));
    return data;
}
} // namespace

class Form1Test : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_many; // 20,000 empty files
    QString m_one;  // one more
    QString m_twins;
    QString m_different;

    static void verifyIdle(const AppHarness &app)
    {
        QVERIFY(!app.button("Check1")->isHidden());
        QVERIFY(app.button("Check6")->isHidden());
        QVERIFY(!app.button("Check1")->isChecked());
        QVERIFY(!app.button("Check6")->isChecked());
        QCOMPARE(app.form->windowTitle(), Idle);
        QCOMPARE(app.control<QProgressBar>("ProgressBar1")->value(), 0);
    }

    static void moveOver(QWidget *target, const QPoint &at)
    {
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QDir root(m_dir.path());
        for (const char *name : {"many", "one", "twins", "different"})
            QVERIFY(root.mkdir(QLatin1String(name)));
        m_many = root.filePath(QStringLiteral("many"));
        m_one = root.filePath(QStringLiteral("one"));
        m_twins = root.filePath(QStringLiteral("twins"));
        m_different = root.filePath(QStringLiteral("different"));
        for (int i = 0; i < 20000; ++i)
            QVERIFY(writeFile(m_many + QStringLiteral("/f%1").arg(i, 5, 10, QLatin1Char('0')), {}));
        QVERIFY(writeFile(m_one + QStringLiteral("/last"), {}));
        QVERIFY(writeFile(m_twins + QStringLiteral("/a.jpg"), "same picture"));
        QVERIFY(writeFile(m_twins + QStringLiteral("/b.jpg"), "same picture"));
        QVERIFY(writeFile(m_different + QStringLiteral("/a.jpg"), "one picture"));
        QVERIFY(writeFile(m_different + QStringLiteral("/b.jpg"), "another picture"));
    }

    void cleanup()
    {
        // Every window a test opened ends with its main window.
        QTRY_VERIFY_WITH_TIMEOUT(!topLevel<Form4>() && !topLevel<Form2>(), 1000);
    }

    void startupCentresAndSetsUp_data()
    {
        QTest::addColumn<QSize>("screenSize");
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<QPoint>("expectedPos");

        QTest::newRow("1280x1024") << QSize(1280, 1024) << QRect(0, 0, 1280, 1000) << QPoint(244, 237);
        QTest::newRow("1024x768") << QSize(1024, 768) << QRect(0, 0, 1024, 740) << QPoint(116, 109);
        QTest::newRow("short screen") << QSize(1280, 480) << QRect(0, 0, 1280, 480) << QPoint(244, 0);
        QTest::newRow("short screen, top panel") << QSize(1280, 480) << QRect(0, 24, 1280, 456) << QPoint(244, 24);
    }

    void startupCentresAndSetsUp()
    {
        QFETCH(QSize, screenSize);
        QFETCH(QRect, workArea);
        QFETCH(QPoint, expectedPos);

        AppHarness app;
        app.screen.screenSize = screenSize;
        app.screen.area = workArea;
        Form1 &form = app.open();

        QCOMPARE(form.pos(), expectedPos);
        QCOMPARE(form.size(), QSize(792, 416));
        QCOMPARE(form.windowTitle(), Idle);
        QCOMPARE(app.button("Check6")->geometry(), app.button("Check1")->geometry());
        verifyIdle(app);
        auto *list = app.control<QTreeView>("ListView3");
        QCOMPARE(list->model()->rowCount(), 0);
        // Seven eighths of the design-time list width, less 100 twips.
        QCOMPARE(list->header()->sectionSize(0), 477);
        // Nothing is saved before the window is shown.
        QCOMPARE(stored(app, "FormWidth"), QStringLiteral("<missing>"));
    }

    void tabOrder()
    {
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        app.button("Check2")->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{QStringLiteral("Check2"), QStringLiteral("Check1"), QStringLiteral("Check3"),
                                       QStringLiteral("ListView3")}));
    }

    void startupAppliesSavedStateAndSize_data()
    {
        QTest::addColumn<int>("workAreaWidth");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<int>("expectedState");
        QTest::addColumn<QSize>("expectedSize");

        const QString missing;
        const int normal = Qt::WindowNoState, minimised = Qt::WindowMinimized, maximised = Qt::WindowMaximized;
        QTest::newRow("first run") << 1280 << missing << missing << missing << normal << QSize(792, 416);
        QTest::newRow("saved size") << 1280 << "0" << "9000" << "6000" << normal << QSize(600, 400);
        QTest::newRow("work area 800 wide") << 800 << missing << missing << missing << minimised << QSize(792, 416);
        QTest::newRow("work area 801 wide") << 801 << missing << missing << missing << normal << QSize(792, 416);
        QTest::newRow("saved state after work area") << 800 << "0" << missing << missing << normal << QSize(792, 416);
        QTest::newRow("saved minimised") << 1280 << "1" << "9000" << "6000" << minimised << QSize(600, 400);
        QTest::newRow("saved maximised") << 1280 << "2" << missing << missing << maximised << QSize(792, 416);
        QTest::newRow("rounded") << 1280 << "0" << "9000.4" << " 6007.6 " << normal << QSize(600, 401);
        QTest::newRow("not numbers") << 1280 << "normal" << "wide" << "" << normal << QSize(792, 416);
        QTest::newRow("out of 16-bit range") << 1280 << "65536" << "32768" << "32767" << normal << QSize(792, 2184);
        QTest::newRow("negative and unknown") << 1280 << "3" << "-9000" << "6000" << normal << QSize(792, 400);
    }

    void startupAppliesSavedStateAndSize()
    {
        QFETCH(int, workAreaWidth);
        QFETCH(QString, state);
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(int, expectedState);
        QFETCH(QSize, expectedSize);

        AppHarness app;
        app.screen.area = QRect(0, 0, workAreaWidth, 600);
        if (!state.isNull())
            app.settings.setValue(QStringLiteral("WindowState"), state);
        if (!width.isNull())
            app.settings.setValue(QStringLiteral("FormWidth"), width);
        if (!height.isNull())
            app.settings.setValue(QStringLiteral("FormHeight"), height);
        Form1 &form = app.open();

        QCOMPARE(int(form.windowState()), expectedState);
        QCOMPARE(form.frameGeometry().size(), expectedSize);
    }

    void settingsRoundTripThroughTheStore()
    {
        QtSettingsStore store;
        FakeMessageBoxes messages;
        FakeFolderDialog dialog;
        FakeScreen screen;
        SystemTrash trash;
        QtEventPump pump;
        Services services{store, messages, dialog, screen, trash, pump, QString()};
        {
            Form1 first(services);
            first.show();
            QVERIFY(QTest::qWaitForWindowExposed(&first));
            first.resize(700, 380);
            QTRY_COMPARE_WITH_TIMEOUT(store.value(QStringLiteral("FormWidth")), QStringLiteral("10500"), 2000);
        }
        QCOMPARE(store.value(QStringLiteral("FormHeight")), QStringLiteral("5700"));
        QCOMPARE(store.value(QStringLiteral("WindowState")), QStringLiteral("0"));
        Form1 second(services);
        QCOMPARE(second.frameGeometry().size(), QSize(700, 380));
    }

    void resizeStepsLayOutAndSave_data()
    {
        QTest::addColumn<QSize>("before"); // outer sizes in pixels
        QTest::addColumn<QSize>("after");
        QTest::addColumn<QSize>("listSize");
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QRect>("barGeometry");

        QTest::newRow("design width") << QSize(800, 440) << QSize(800, 440) << QSize(760, 260) << QSize(777, 285)
                                      << QRect(8, 379, 777, 25);
        QTest::newRow("large") << QSize(800, 440) << QSize(1200, 900) << QSize(1160, 720) << QSize(1177, 745)
                               << QRect(8, 839, 1177, 25);
        QTest::newRow("narrower than 600 twips")
            << QSize(800, 440) << QSize(30, 440) << QSize(760, 260) << QSize(777, 285) << QRect(8, 379, 777, 25);
        QTest::newRow("lower than 2,700 twips")
            << QSize(800, 440) << QSize(800, 150) << QSize(760, 260) << QSize(777, 285) << QRect(8, 89, 777, 25);
        QTest::newRow("exactly 600 by 2,700 twips")
            << QSize(800, 440) << QSize(40, 180) << QSize(0, 0) << QSize(17, 25) << QRect(8, 119, 17, 25);
    }

    void resizeStepsLayOutAndSave()
    {
        QFETCH(QSize, before);
        QFETCH(QSize, after);
        QFETCH(QSize, listSize);
        QFETCH(QSize, frameSize);
        QFETCH(QRect, barGeometry);

        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto resizeOuter = [&form](QSize outer) {
            form.resize(outer - (form.frameGeometry().size() - form.size()));
            QTRY_COMPARE_WITH_TIMEOUT(form.frameGeometry().size(), outer, 2000);
        };
        resizeOuter(before);
        resizeOuter(after);

        QCOMPARE(app.control("ListView3")->size(), listSize);
        QCOMPARE(app.control("Frame2")->size(), frameSize);
        QCOMPARE(app.control("Frame2")->pos(), QPoint(8, 88));
        QCOMPARE(app.control("ListView3")->pos(), QPoint(8, 16));
        QCOMPARE(app.control("ProgressBar1")->geometry(), barGeometry);
        QCOMPARE(app.button("Check3")->geometry(), QRect(656, 8, 113, 73));
        QCOMPARE(app.control("Image6")->geometry(), QRect(-4, -4, 419, 89));
        QCOMPARE(stored(app, "WindowState"), QStringLiteral("0"));
        QCOMPARE(stored(app, "FormWidth"), QString::number(after.width() * 15));
        QCOMPARE(stored(app, "FormHeight"), QString::number(after.height() * 15));
    }

    void windowStateIsSaved()
    {
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QSize listSize = app.control("ListView3")->size();

        form.setWindowState(Qt::WindowMinimized);
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "WindowState"), QStringLiteral("1"), 2000);
        QCOMPARE(app.control("ListView3")->size(), listSize);

        form.setWindowState(Qt::WindowMaximized);
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "WindowState"), QStringLiteral("2"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "FormWidth"),
                                  QString::number(form.frameGeometry().width() * 15), 2000);
    }

    void pointerFollowsTheMouse_data()
    {
        QTest::addColumn<bool>("withCursorFile");
        QTest::newRow("HAND-M.CUR present") << true;
        QTest::newRow("HAND-M.CUR missing") << false;
    }

    void pointerFollowsTheMouse()
    {
        QFETCH(bool, withCursorFile);
        QTemporaryDir programFolder;
        QVERIFY(programFolder.isValid());
        if (withCursorFile)
            QVERIFY(writeFile(programFolder.filePath(QStringLiteral("HAND-M.CUR")), handCursorFile()));

        AppHarness app(programFolder.path());
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const Qt::CursorShape hand = withCursorFile ? Qt::BitmapCursor : Qt::PointingHandCursor;
        const auto over = [&form](QWidget *control) {
            moveOver(control, QPoint(2, 2));
            return form.cursor().shape();
        };
        auto *list = app.control<QTreeView>("ListView3");

        for (const char *name : {"Check1", "Check2", "Check3", "Check6"})
            QCOMPARE(over(app.control(name)), hand);
        if (withCursorFile)
            QCOMPARE(form.cursor().hotSpot(), QPoint(5, 3));
        QCOMPARE(over(app.control("Image6")), Qt::ArrowCursor);
        QCOMPARE(over(list->viewport()), hand);
        QCOMPARE(over(app.control("Frame2")), Qt::ArrowCursor);
        QCOMPARE(over(app.control("ProgressBar1")), Qt::ArrowCursor);
        QCOMPARE(over(app.control("Check2")), hand);
        // The progress bar keeps whatever pointer was set last.
        QCOMPARE(over(app.control("ProgressBar1")), hand);
        moveOver(&form, QPoint(780, 400));
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    }

    void pictureButtonsRunTheirCommandOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("ADD FOLDER") << QStringLiteral("Check2");
        QTest::newRow("FIND DUPES") << QStringLiteral("Check1");
        QTest::newRow("CLEAR LIST") << QStringLiteral("Check3");
        QTest::newRow("STOP FIND") << QStringLiteral("Check6");
    }

    void pictureButtonsRunTheirCommandOnce()
    {
        QFETCH(QString, name);
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        app.dialog.answers.push_back(QStringLiteral("/first"));
        app.button("Check2")->click();
        app.dialog.prompts.clear();
        QAbstractButton *button = app.button(name.toLatin1().constData());

        // Unchecking a button that is already unchecked runs nothing.
        button->setChecked(false);
        QVERIFY(app.dialog.prompts.isEmpty());

        if (button->isVisible())
            QTest::mouseClick(button, Qt::LeftButton);
        else
            button->click();
        QVERIFY(!button->isChecked());

        const int rows = app.control<QTreeView>("ListView3")->model()->rowCount();
        if (name == QLatin1String("Check2")) {
            QCOMPARE(app.dialog.prompts.size(), 1);
            QCOMPARE(rows, 1); // the dialog was cancelled
        } else if (name == QLatin1String("Check3")) {
            QCOMPARE(rows, 0);
        } else if (name == QLatin1String("Check6")) {
            QCOMPARE(stored(app, "Stop"), QStringLiteral("True"));
        } else {
            // One listed folder with nothing in it: the search ran to its end once.
            QCOMPARE(stored(app, "Stop"), QStringLiteral("False"));
            QCOMPARE(app.messages.shown.size(), std::size_t(1));
        }
        verifyIdle(app);
    }

    void findDupesWithEmptyList()
    {
        AppHarness app;
        app.settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(app.button("Check1"), Qt::LeftButton);

        QCOMPARE(app.messages.shown.size(), std::size_t(1));
        QCOMPARE(app.messages.shown[0].text, EmptyListMessage);
        QCOMPARE(app.messages.shown[0].buttons, MessageBoxes::Buttons::Ok);
        QCOMPARE(app.messages.shown[0].title, QString());
        QCOMPARE(app.messages.shown[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(stored(app, "Stop"), QStringLiteral("True"));
        QVERIFY(!topLevel<Form4>()); // the results window was never touched
        verifyIdle(app);
        QVERIFY(form.isVisible());
    }

    void questionAboveTwentyThousandFiles_data()
    {
        QTest::addColumn<bool>("withOneMore");
        QTest::addColumn<QString>("duringQuestion"); // "no", "stop then yes", "close then yes"

        QTest::newRow("20,000 files") << false << QString();
        QTest::newRow("20,001 files, No") << true << QStringLiteral("no");
        QTest::newRow("20,001 files, STOP FIND then Yes") << true << QStringLiteral("stop then yes");
        QTest::newRow("20,001 files, window closed then Yes") << true << QStringLiteral("close then yes");
    }

    void questionAboveTwentyThousandFiles()
    {
        QFETCH(bool, withOneMore);
        QFETCH(QString, duringQuestion);

        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        addFolder(app, m_many);
        if (withOneMore)
            addFolder(app, m_one);
        // Without a question the search is stopped as soon as it starts reading.
        if (!withOneMore)
            app.settings.forceStop = [&form] { return form.windowTitle().endsWith(QLatin1String("[Reading images]")); };

        bool swapped = false;
        app.messages.onShow = [&](const FakeMessageBoxes::Shown &) {
            swapped = app.button("Check1")->isHidden() && app.button("Check6")->isVisible()
                && QApplication::focusWidget() == app.button("Check6");
            if (duringQuestion.startsWith(QLatin1String("stop")))
                QTest::mouseClick(app.button("Check6"), Qt::LeftButton);
            else if (duringQuestion.startsWith(QLatin1String("close")))
                form.close();
        };
        app.messages.answers.push_back(duringQuestion == QLatin1String("no") ? MessageBoxes::Answer::No
                                                                             : MessageBoxes::Answer::Yes);
        app.button("Check1")->click();

        if (!withOneMore) {
            QVERIFY(app.messages.shown.empty());
        } else {
            QCOMPARE(app.messages.shown.size(), std::size_t(1));
            QVERIFY(swapped);
            QCOMPARE(app.messages.shown[0].text,
                     QStringLiteral("The 2 folder(s) you've selected contains 20,001 files. This is over the "
                                    "recommended amount of 20,000. Please remove some folders from the list by "
                                    "selecting them and pressing 'Delete' on the keyboard or click 'Clear List'."
                                    "\r\rYou can still proceed, but the duplicate finding process may take a long "
                                    "time. Would you like to proceed anyway?"));
            QCOMPARE(app.messages.shown[0].title, QStringLiteral("Question"));
            QCOMPARE(app.messages.shown[0].buttons, MessageBoxes::Buttons::YesNo);
            QCOMPARE(app.messages.shown[0].icon, MessageBoxes::Icon::None);
        }
        const QString stop = duringQuestion.startsWith(QLatin1String("stop")) ? QStringLiteral("True")
                                                                                : QStringLiteral("False");
        QCOMPARE(stored(app, "Stop"), stop);
        QVERIFY(!topLevel<Form4>() || !topLevel<Form4>()->isVisible());
        verifyIdle(app);
    }

    void searchPresentsResults_data()
    {
        QTest::addColumn<int>("mainState");
        QTest::newRow("normal") << int(Qt::WindowNoState);
        QTest::newRow("maximised") << int(Qt::WindowMaximized);
    }

    void searchPresentsResults()
    {
        QFETCH(int, mainState);
        AppHarness app;
        Form1 &form = app.open();
        form.setWindowState(Qt::WindowStates(mainState));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect mainOuter = form.frameGeometry();
        addFolder(app, m_twins);

        app.button("Check1")->click();

        QVERIFY(app.messages.shown.empty());
        Form4 *results = topLevel<Form4>();
        Form2 *preview = topLevel<Form2>();
        QVERIFY(results && preview);
        QVERIFY(results->isVisible());
        QVERIFY(!form.isVisible());
        QCOMPARE(static_cast<ResultsSink &>(results->results()).rowCount(), std::size_t(2));
        if (mainState == Qt::WindowMaximized) {
            QVERIFY(results->isMaximized());
        } else {
            QCOMPARE(results->pos(), mainOuter.topLeft());
            QCOMPARE(results->size(), form.size());
        }
        QVERIFY(preview->isVisible());
        const QRect resultsOuter = results->frameGeometry();
        QCOMPARE(preview->pos(), QPoint(resultsOuter.left(), resultsOuter.top() + resultsOuter.height()));
        verifyIdle(app);

        // Closing the main window ends the program: its other windows go with it.
        form.close();
        QVERIFY(!results->isVisible());
        QVERIFY(!preview->isVisible());
    }

    void searchWithoutDuplicates()
    {
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        addFolder(app, m_different);

        app.button("Check1")->click();

        QCOMPARE(app.messages.shown.size(), std::size_t(1));
        QCOMPARE(app.messages.shown[0].text, QStringLiteral("No duplicate images found."));
        QCOMPARE(app.messages.shown[0].title, QString());
        QCOMPARE(app.messages.shown[0].buttons, MessageBoxes::Buttons::Ok);
        QVERIFY(form.isVisible());
        QVERIFY(!topLevel<Form4>()->isVisible());
        verifyIdle(app);
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(Form1Test)
#include "tst_form1.moc"
