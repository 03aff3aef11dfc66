#include "AppHarness.h"
#include "Form2.h"
#include "Form4.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Under a window manager the frame arrives only once a window is shown. The offscreen
// platform imitates that with a 2-pixel frame.
class WindowFrameTest : public QObject
{
    Q_OBJECT

private:
    static QString stored(const AppHarness &app, const char *key)
    {
        return app.settings.value(QLatin1String(key)).value_or(QStringLiteral("<missing>"));
    }

private slots:
    void savedSizeIsTheOuterSize()
    {
        AppHarness app;
        app.settings.setValue(QStringLiteral("WindowState"), QStringLiteral("0"));
        app.settings.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
        app.settings.setValue(QStringLiteral("FormHeight"), QStringLiteral("6000"));
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry().size() != form.size(), 2000);

        // The window opens at the size it was closed at, and so does the next start.
        QTRY_COMPARE_WITH_TIMEOUT(form.frameGeometry().size(), QSize(600, 400), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "FormWidth"), QStringLiteral("9000"), 2000);
        QCOMPARE(stored(app, "FormHeight"), QStringLiteral("6000"));
        QCOMPARE(stored(app, "WindowState"), QStringLiteral("0"));
    }

    void minimisedStartReturnsToTheSavedSize()
    {
        AppHarness app;
        app.settings.setValue(QStringLiteral("WindowState"), QStringLiteral("1"));
        app.settings.setValue(QStringLiteral("FormWidth"), QStringLiteral("9000"));
        app.settings.setValue(QStringLiteral("FormHeight"), QStringLiteral("6000"));
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.isMinimized());
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "WindowState"), QStringLiteral("1"), 2000);

        form.showNormal();
        QTRY_COMPARE_WITH_TIMEOUT(form.frameGeometry().size(), QSize(600, 400), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(stored(app, "WindowState"), QStringLiteral("0"), 2000);
        QCOMPARE(app.control("ListView3")->width(), 600 - 40);
    }

    void resizedWindowKeepsItsSize()
    {
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry().size() != form.size(), 2000);
        // The design size is the client area; only a saved size is an outer size.
        QCOMPARE(form.size(), QSize(792, 416));
        form.resize(700, 380);
        QTRY_COMPARE_WITH_TIMEOUT(form.size(), QSize(700, 380), 2000);
        QTest::qWait(50);
        QCOMPARE(form.size(), QSize(700, 380));
        QCOMPARE(stored(app, "FormWidth"), QString::number(form.frameGeometry().width() * 15));
    }

    void resultsWindowTakesTheOuterGeometry()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char *name : {"a.jpg", "b.jpg"}) {
            QFile file(dir.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("same picture");
        }
        AppHarness app;
        Form1 &form = app.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry().size() != form.size(), 2000);
        const QRect mainOuter = form.frameGeometry();
        app.dialog.answers.push_back(dir.path());
        app.button("Check2")->click();

        app.button("Check1")->click();

        Form4 *results = topLevel<Form4>();
        QVERIFY(results && results->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(results->frameGeometry(), mainOuter, 2000);
        form.close();
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(WindowFrameTest)
#include "tst_windowframe.moc"
