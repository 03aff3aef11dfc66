#include "Form2.h"
#include "PictureBox.h"
#include "Screen.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
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

template <typename Word>
void put(QByteArray &bytes, std::initializer_list<Word> words)
{
    for (Word w : words) {
        char b[sizeof(Word)];
        qToLittleEndian(w, b);
        bytes.append(b, sizeof(Word));
    }
}

// Small valid metafiles, 100 x 100 units, filled with one solid red rectangle.
QByteArray redSquareWmf()
{
    QByteArray w;
    // Placeable header: key, handle, bounds 0,0-100,100, 96 units per inch, reserved, checksum.
    const std::initializer_list<quint16> header{0xCDD7, 0x9AC6, 0, 0, 0, 100, 100, 96, 0, 0};
    quint16 checksum = 0;
    for (quint16 word : header)
        checksum ^= word;
    put(w, header);
    put<quint16>(w, {checksum});
    // Metafile header (memory, 9 words, version 3, 40 words in all, 1 object, largest record 7 words),
    // then records of (size in words, function, parameters): window origin and extent, a solid red
    // brush, selecting it, a rectangle (bottom, right, top, left), the end.
    put<quint16>(w, {1, 9, 0x0300, 40, 0, 1, 7, 0, 0});
    put<quint16>(w, {5, 0, 0x020B, 0, 0, 5, 0, 0x020C, 100, 100});
    put<quint16>(w, {7, 0, 0x02FC, 0, 0x00FF, 0, 0, 4, 0, 0x012D, 0});
    put<quint16>(w, {7, 0, 0x041B, 100, 100, 0, 0, 3, 0, 0});
    return w;
}

QByteArray redSquareEmf()
{
    QByteArray e;
    // Header: type, size, bounds (pixels), frame (0.01 mm), " EMF", version, bytes, records,
    // handles, description, palette, reference device in pixels and millimetres.
    put<quint32>(e, {1, 88, 0, 0, 99, 99, 0, 0, 2646, 2646, 0x464D4520, 0x10000, 168, 5, 2, 0, 0, 0, 1024, 768, 271, 203});
    put<quint32>(e, {39, 24, 1, 0, 0x000000FF, 0}); // solid red brush as handle 1
    put<quint32>(e, {37, 12, 1});                   // select it
    put<quint32>(e, {43, 24, 0, 0, 99, 99});        // rectangle
    put<quint32>(e, {14, 20, 0, 16, 20});           // end
    return e;
}

// A 1 x 1 red GIF; Qt reads GIF but cannot write it.
const QByteArray redGif = QByteArray::fromHex("47494638396101000100800000ff000000000021f90400000000002c00000000010001000002024401003b");

bool near(QRgb pixel, QRgb expected)
{
    return qAbs(qRed(pixel) - qRed(expected)) < 40 && qAbs(qGreen(pixel) - qGreen(expected)) < 40 &&
           qAbs(qBlue(pixel) - qBlue(expected)) < 40;
}
} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT

private slots:
    void previewOrClear_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents"); // null: no file at all
        QTest::addColumn<bool>("previews");       // a red picture; otherwise the preview clears
        const QByteArray bmp = encoded(solid(Qt::red), "BMP"), jpeg = encoded(solid(Qt::red, 64, 64), "JPEG");
        QTest::newRow(".JPG in capitals") << "PHOTO.JPG" << jpeg << true;
        QTest::newRow(".jpeg") << "photo.jpeg" << jpeg << true;
        QTest::newRow("notabmp, no dot") << "notabmp" << bmp << true;
        QTest::newRow(".gif") << "tiny.gif" << redGif << true;
        QTest::newRow(".dib without file header") << "plain.dib" << bmp.mid(14) << true;
        QTest::newRow("WMF") << "square.wmf" << redSquareWmf() << true;
        QTest::newRow("EMF in capitals") << "square.EMF" << redSquareEmf() << true;
        QTest::newRow(".png") << "image.png" << encoded(solid(Qt::red), "PNG") << false;
        QTest::newRow(".tif") << "image.tif" << encoded(solid(Qt::red), "PNG") << false;
        QTest::newRow("missing") << "missing.jpg" << QByteArray() << false;
        QTest::newRow("damaged JPEG") << "damaged.jpg" << (jpeg.left(20) + QByteArray(200, '\x55')) << false;
        QTest::newRow("cut-off WMF") << "short.wmf" << redSquareWmf().left(30) << false;
        QTest::newRow("garbage EMF") << "garbage.emf" << QByteArray(500, '\x01') << false;
    }

    void previewOrClear()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QFETCH(bool, previews);
        QTemporaryDir dir;
        Form2 preview;
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        // Start from another picture, so a clearing is seen.
        QVERIFY(writeFile(dir.filePath(QStringLiteral("before.bmp")), encoded(solid(Qt::blue), "BMP")));
        preview.previewFile(dir.filePath(QStringLiteral("before.bmp")));
        QVERIFY(preview.image()->hasPicture());

        QVERIFY(contents.isNull() || writeFile(dir.filePath(name), contents));
        preview.previewFile(dir.filePath(name));
        QCOMPARE(preview.image()->hasPicture(), previews);
        const QImage shown = preview.image()->grab().toImage(); // painting an empty preview is harmless too
        if (previews)
            QVERIFY(near(shown.pixel(shown.rect().center()), qRgb(255, 0, 0)));
    }

    void pictureIsStretchedToTheWindow()
    {
        QTemporaryDir dir;
        Form2 preview;
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
        QVERIFY(writeFile(dir.filePath(QStringLiteral("halves.bmp")), encoded(halves, "BMP")));
        preview.previewFile(dir.filePath(QStringLiteral("halves.bmp")));
        const QImage shown = image->grab().toImage();
        const int w = shown.width(), h = shown.height();
        for (QPoint left : {QPoint(1, 1), QPoint(1, h - 2)})
            QVERIFY(near(shown.pixel(left), qRgb(255, 0, 0)));
        for (QPoint right : {QPoint(w - 2, 1), QPoint(w - 2, h - 2)})
            QVERIFY(near(shown.pixel(right), qRgb(0, 0, 255)));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestForm2)
#include "tst_form2.moc"
