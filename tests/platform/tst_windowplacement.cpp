#include "TestMain.h"
#include "WindowPlacement.h"

#include <QtTest>

using namespace WindowPlacement;

class TestWindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void startFromSavedValues_data()
    {
        // The design window centred on 1280 x 1024 and framed by (1, 20, 1, 5); saved width and
        // height in twips (0: none saved).
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<int>("state"); // -1: none saved
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("expectedState");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QPoint>("position");
        const QRect wide(0, 24, 1280, 960);
        const int normal = Qt::WindowNoState, minimised = Qt::WindowMinimized, maximised = Qt::WindowMaximized;
        // clang-format off
        QTest::newRow("nothing saved") << wide << -1 << 0 << 0 << normal << QSize(792, 416) << QPoint(243, 237);
        QTest::newRow("outer size") << wide << 0 << 11910 << 6615 << normal << QSize(792, 416) << QPoint(243, 237);
        QTest::newRow("grows down past the edge") << wide << 0 << 11910 << 14400 << normal << QSize(792, 935) << QPoint(243, 24);
        QTest::newRow("too small") << wide << 0 << 15 << 15 << normal << QSize(398, 175) << QPoint(243, 237);
        QTest::newRow("above the work area") << QRect(0, 0, 300, 200) << 0 << 32767 << 32767 << normal << QSize(298, 175) << QPoint(0, 0);
        QTest::newRow("work area 800 wide") << QRect(0, 0, 800, 600) << -1 << 0 << 0 << minimised << QSize(792, 416) << QPoint(6, 159);
        QTest::newRow("saved normal wins") << QRect(0, 0, 800, 600) << 0 << 0 << 0 << normal << QSize(792, 416) << QPoint(6, 159);
        QTest::newRow("maximised") << wide << 2 << -9000 << 6615 << maximised << QSize(792, 416) << QPoint(243, 237);
        QTest::newRow("unknown state") << wide << 7 << 0 << 0 << normal << QSize(792, 416) << QPoint(243, 237);
        // clang-format on
    }

    void startFromSavedValues()
    {
        QFETCH(QRect, workArea);
        QFETCH(int, state);
        QFETCH(int, width);
        QFETCH(int, height);
        const QMargins frame(1, 20, 1, 5);
        const QRect outer(QPoint(243, 237), QSize(792, 416).grownBy(frame));
        const Saved saved{state < 0 ? std::nullopt : std::optional(state), width ? std::optional(width) : std::nullopt,
                          height ? std::optional(height) : std::nullopt};
        const Start start = WindowPlacement::start(saved, outer, frame, workArea);
        QTEST(int(start.state), "expectedState");
        QTEST(start.client, "client");
        QTEST(start.position, "position");
    }

    void previewRightBelowTheResults_data()
    {
        QTest::addColumn<QRect>("results"); // outer
        QTest::addColumn<QRect>("preview"); // inside, for a 250 x 185 client framed by (1, 20, 1, 5)
        QTest::newRow("below") << QRect(244, 237, 794, 441) << QRect(245, 698, 250, 185);
        QTest::newRow("kept inside") << QRect(1100, 600, 794, 441) << QRect(1029, 794, 250, 185);
        QTest::newRow("maximised") << QRect(0, 24, 1280, 960) << QRect(1, 794, 250, 185);
    }

    void previewRightBelowTheResults()
    {
        QFETCH(QRect, results);
        QTEST(previewBelow(results, QSize(250, 185), QMargins(1, 20, 1, 5), QRect(0, 24, 1280, 960)), "preview");
    }
};

TWINFOLD_GUILESS_TEST_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
