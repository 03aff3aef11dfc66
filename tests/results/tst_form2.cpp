#include "Form2.h"
#include "Metafiles.h"
#include "PictureBox.h"
#include "Screen.h"
#include "TestMain.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage solid(QColor colour, int width = 16, int height = 16)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray cursorFile()
{
    QByteArray bytes = encoded(solid(Qt::green, 32, 32).convertToFormat(QImage::Format_ARGB32), "ico");
    bytes[2] = 2; // an icon file becomes a cursor file
    return bytes;
}

// A 1 x 1 red GIF; Qt reads GIF but cannot write it.
const QByteArray redGif = QByteArray::fromHex("47494638396101000100800000ff000000000021f90400000000002c00000000010001000002024401003b");

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(contents);
    return path;
}

bool isReddish(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}
} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT

private slots:
    void previewsByExtension_data();
    void previewsByExtension();
    void pictureIsStretchedToTheWindow();
    void undecodablePictureLeavesThePreviewEmpty_data();
    void undecodablePictureLeavesThePreviewEmpty();
    void metafiles_data();
    void metafiles();
};

void TestForm2::previewsByExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("previews");
    const QByteArray bmp = encoded(solid(Qt::red), "BMP");
    QTest::newRow(".JPG in capitals") << "PHOTO.JPG" << encoded(solid(Qt::red), "JPEG") << true;
    QTest::newRow(".jpeg") << "photo.jpeg" << encoded(solid(Qt::red), "JPEG") << true;
    QTest::newRow("notabmp, no dot") << "notabmp" << bmp << true;
    QTest::newRow(".gif") << "tiny.gif" << redGif << true;
    QTest::newRow(".ico") << "icon.ico" << encoded(solid(Qt::red, 32, 32), "ico") << true;
    QTest::newRow(".cur") << "pointer.Cur" << cursorFile() << true;
    QTest::newRow(".dib holding a BMP") << "bitmap.dib" << bmp << true;
    QTest::newRow(".dib without file header") << "plain.dib" << bmp.mid(14) << true;
    QTest::newRow(".png clears") << "image.png" << encoded(solid(Qt::red), "PNG") << false;
    QTest::newRow(".tif clears") << "image.tif" << encoded(solid(Qt::red), "PNG") << false;
}

void TestForm2::previewsByExtension()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(bool, previews);
    QTemporaryDir dir;
    Form2 preview;
    QCOMPARE(Form2::hasPreviewExtension(name), previews);
    // Start from another picture, so a clearing is seen.
    preview.previewFile(write(dir, QStringLiteral("before.bmp"), encoded(solid(Qt::blue), "BMP")));
    QVERIFY(preview.image()->hasPicture());

    preview.previewFile(write(dir, name, contents));
    QCOMPARE(preview.image()->hasPicture(), previews);
}

void TestForm2::pictureIsStretchedToTheWindow()
{
    QTemporaryDir dir;
    Form2 preview;
    QCOMPARE(preview.windowTitle(), QStringLiteral("Preview"));
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    const QSize frame = preview.frameGeometry().size() - preview.geometry().size();
    preview.resize(QSize(twipsToPixels(6000), twipsToPixels(4000)) - frame);
    QCoreApplication::processEvents();

    PictureBox *image = preview.image();
    QCOMPARE(image->pos(), QPoint(twipsToPixels(120), twipsToPixels(120)));
    QVERIFY(qAbs(image->width() - twipsToPixels(5660)) <= 1);
    QVERIFY(qAbs(image->height() - twipsToPixels(3350)) <= 1);

    // Left half red, right half blue: stretched without keeping proportions, edge to edge.
    QImage halves(2, 1, QImage::Format_RGB32);
    halves.setPixel(0, 0, qRgb(255, 0, 0));
    halves.setPixel(1, 0, qRgb(0, 0, 255));
    preview.previewFile(write(dir, QStringLiteral("halves.bmp"), encoded(halves, "BMP")));
    const QImage shown = image->grab().toImage();
    const int w = shown.width(), h = shown.height();
    auto near = [](QRgb pixel, QRgb expected) {
        return qAbs(qRed(pixel) - qRed(expected)) < 8 && qAbs(qGreen(pixel) - qGreen(expected)) < 8 &&
               qAbs(qBlue(pixel) - qBlue(expected)) < 8;
    };
    for (QPoint left : {QPoint(1, 1), QPoint(1, h - 2)})
        QVERIFY(near(shown.pixel(left), qRgb(255, 0, 0)));
    for (QPoint right : {QPoint(w - 2, 1), QPoint(w - 2, h - 2)})
        QVERIFY(near(shown.pixel(right), qRgb(0, 0, 255)));
}

void TestForm2::undecodablePictureLeavesThePreviewEmpty_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents"); // null: no file at all
    const QByteArray jpeg = encoded(solid(Qt::red, 64, 64), "JPEG");
    QTest::newRow("missing") << "missing.jpg" << QByteArray();
    QTest::newRow("text named .gif") << "text.gif" << QByteArray("not a picture at all");
    QTest::newRow("damaged JPEG") << "damaged.jpg" << (jpeg.left(20) + QByteArray(200, '\x55'));
    QTest::newRow("JPEG named .wmf") << "photo.wmf" << jpeg;
    QTest::newRow("cut-off WMF") << "short.wmf" << redSquareWmf().left(30);
    QTest::newRow("garbage EMF") << "garbage.emf" << QByteArray(500, '\x01');
}

void TestForm2::undecodablePictureLeavesThePreviewEmpty()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QTemporaryDir dir;
    Form2 preview;
    preview.show();
    preview.previewFile(write(dir, QStringLiteral("before.gif"), redGif));
    QVERIFY(preview.image()->hasPicture());

    const QString path = contents.isNull() ? dir.filePath(name) : write(dir, name, contents);
    preview.previewFile(path);
    QVERIFY(!preview.image()->hasPicture());
    preview.image()->grab(); // painting an empty preview is harmless too
}

void TestForm2::metafiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("WMF") << "square.wmf" << redSquareWmf();
    QTest::newRow("EMF in capitals") << "square.EMF" << redSquareEmf();
}

void TestForm2::metafiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QTemporaryDir dir;
    Form2 preview;
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    preview.previewFile(write(dir, name, contents));
    QVERIFY(preview.image()->hasPicture());
    const QImage shown = preview.image()->grab().toImage();
    QVERIFY2(isReddish(shown.pixel(shown.width() / 2, shown.height() / 2)),
             qPrintable(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)).name()));
}

TWINFOLD_WIDGETS_TEST_MAIN(TestForm2)
#include "tst_form2.moc"
