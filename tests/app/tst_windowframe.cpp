#include "AppHarness.h"
#include "TestMain.h"

// Under a window manager the frame arrives only once a window is shown; the offscreen
// platform imitates that with a 2-pixel frame. A saved size is an outer size.
class WindowFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void savedSizeIsTheOuterSize_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("normal") << QStringLiteral("0");
        QTest::newRow("minimised, then restored") << QStringLiteral("1");
    }

    void savedSizeIsTheOuterSize()
    {
        QFETCH(QString, state);
        AppHarness app;
        app.settings.setValue(QStringLiteral("WindowState"), state);
        app.settings.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
        app.settings.setValue(QStringLiteral("FormHeight"), QStringLiteral("6000"));
        QVERIFY(app.openShown());
        Form1 &form = *app.form;
        QTRY_COMPARE_WITH_TIMEOUT(app.stored("WindowState"), state, 2000);
        form.showNormal();

        QTRY_COMPARE_WITH_TIMEOUT(form.frameGeometry().size(), QSize(600, 400), 2000);
        QVERIFY(form.frameGeometry().size() != form.size());
        QTRY_COMPARE_WITH_TIMEOUT(app.stored("FormWidth"), QStringLiteral("9000"), 2000);
        QCOMPARE(app.stored("FormHeight"), QStringLiteral("6000"));
        QCOMPARE(app.control("ListView3")->width(), 600 - 40);

        // Once the user has sized the window, the saved size has no more say.
        form.resize(700, 380);
        QTRY_COMPARE_WITH_TIMEOUT(form.size(), QSize(700, 380), 2000);
        QTest::qWait(50);
        QCOMPARE(form.size(), QSize(700, 380));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(WindowFrameTest)
#include "tst_windowframe.moc"
