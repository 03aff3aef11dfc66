#include "PictureButton.h"
#include "TestMain.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

// A card in the house style: the button's marks follow its outline.
const char *const CardArt =
    "<svg xmlns='http://www.w3.org/2000/svg' width='201' height='73' viewBox='0 0 201 73'>"
    "<rect width='201' height='73' fill='#ffffff'/>"
    "<rect x='3.5' y='3.5' width='194' height='66' rx='8' fill='#eef2f7' stroke='#b8c2cf'/>"
    "<rect x='30' y='20' width='30' height='30' fill='#3f6fb0'/>"
    "</svg>";

QImage picture(PictureButton &button)
{
    QImage image(button.size(), QImage::Format_ARGB32);
    button.render(&image);
    return image;
}

} // namespace

class TestPictureButton : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QFile art(m_folder.filePath(QStringLiteral("card.svg")));
        QVERIFY(art.open(QIODevice::WriteOnly));
        art.write(CardArt);
    }

    void pressedLookWhileDownOrChecked_data()
    {
        QTest::addColumn<bool>("down");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("looksPressed");
        QTest::newRow("up") << false << false << false;
        QTest::newRow("held down") << true << false << true;
        QTest::newRow("checked") << false << true << true;
        QTest::newRow("held down and checked") << true << true << true;
    }

    void pressedLookWhileDownOrChecked()
    {
        QFETCH(bool, down);
        QFETCH(bool, checked);
        QFETCH(bool, looksPressed);
        PictureButton reference(m_folder.filePath(QStringLiteral("card.svg")));
        PictureButton button(m_folder.filePath(QStringLiteral("card.svg")));
        QCOMPARE(button.sizeHint(), QSize(201, 73));
        reference.resize(reference.sizeHint());
        button.resize(button.sizeHint());
        const QImage up = picture(reference);
        reference.setChecked(true);
        const QImage pressed = picture(reference);
        QVERIFY(up != pressed);

        button.setDown(down);
        button.setChecked(checked);
        QCOMPARE(picture(button), looksPressed ? pressed : up);
    }

    void clickTogglesAndReports()
    {
        PictureButton button(m_folder.filePath(QStringLiteral("card.svg")));
        button.resize(button.sizeHint());
        QList<bool> clicks;
        connect(&button, &QAbstractButton::clicked, this, [&](bool checked) { clicks << checked; });
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, (QList<bool>{true, false}));
    }

    void missingArtworkStillGivesAButton()
    {
        PictureButton button(m_folder.filePath(QStringLiteral("absent.svg")));
        QCOMPARE(button.sizeHint(), QSize(113, 73));
        button.resize(button.sizeHint());
        button.setChecked(true);
        QCOMPARE(picture(button).size(), QSize(113, 73));
    }

private:
    QTemporaryDir m_folder;
};

TWINFOLD_WIDGETS_TEST_MAIN(TestPictureButton)
#include "tst_picturebutton.moc"
