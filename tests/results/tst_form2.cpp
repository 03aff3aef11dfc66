#include "Form2.h"
#include "PictureBox.h"
#include "PictureLoader.h"
#include "Screen.h"
#include "TestFiles.h"
#include "TestPictures.h"
#include "TestMain.h"

#include <QtTest>

#include <atomic>

namespace {
enum class Entry { File, Fifo, LinkToPicture, Folder };

const QString renderer = QString::fromUtf8(TWINFOLD_PREVIEW_PROGRAM);

QRgb centre(PictureBox &image)
{
    const QImage shown = image.grab().toImage();
    return shown.pixel(shown.rect().center());
}

// The colour amid the picture once one is drawn; none when no picture comes.
QRgb picture(Form2 &preview)
{
    return QTest::qWaitFor([&] { return preview.image()->hasPicture(); }, 10000) ? centre(*preview.image()) : 0;
}

// True once the loader gives up with the preview empty; painting that is harmless too.
bool cleared(Form2 &preview)
{
    const bool done = QTest::qWaitFor([&] { return !preview.loader()->isLoading(); }, 10000);
    centre(*preview.image());
    return done && !preview.image()->hasPicture();
}

// A stand-in renderer: a shell script doing `body`.
QString fakeRenderer(const QTemporaryDir &dir, const QByteArray &body)
{
    const QString path = dir.filePath(QStringLiteral("fake-renderer"));
    const bool made = writeFile(path, "#!/bin/sh\n" + body + "\n")
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return made ? path : QString();
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
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<bool>("previews"); // a red picture; otherwise the preview clears
        // One row to a line.
        // clang-format off
        const QByteArray bmp = encoded(solid(Qt::red), "BMP"), jpeg = encoded(solid(Qt::red, 64, 64), "JPEG");
        QTest::newRow(".JPG in capitals") << "PHOTO.JPG" << jpeg << Entry::File << true;
        QTest::newRow(".jpeg") << "photo.jpeg" << jpeg << Entry::File << true;
        QTest::newRow("notabmp, no dot") << "notabmp" << bmp << Entry::File << true;
        QTest::newRow(".gif") << "tiny.gif" << redGif << Entry::File << true;
        QTest::newRow(".dib with file header") << "full.dib" << bmp << Entry::File << true;
        QTest::newRow(".dib without file header") << "plain.dib" << bmp.mid(14) << Entry::File << true;
        QTest::newRow(".ico") << "icon.ico" << redIcon() << Entry::File << true;
        QTest::newRow(".cur") << "pointer.cur" << redIcon(2) << Entry::File << true;
        QTest::newRow("WMF") << "square.wmf" << redSquareWmf() << Entry::File << true;
        QTest::newRow("EMF in capitals") << "square.EMF" << redSquareEmf() << Entry::File << true;
        QTest::newRow("PNG named .jpg") << "really-png.jpg" << encoded(solid(Qt::red), "PNG") << Entry::File << true;
        QTest::newRow(".png") << "image.png" << encoded(solid(Qt::red), "PNG") << Entry::File << false;
        QTest::newRow(".tif") << "image.tif" << encoded(solid(Qt::red), "PNG") << Entry::File << false;
        QTest::newRow("missing") << "missing.jpg" << QByteArray() << Entry::File << false;
        QTest::newRow("damaged JPEG") << "damaged.jpg" << (jpeg.left(20) + QByteArray(200, '\x55')) << Entry::File << false;
        QTest::newRow("cut-off WMF") << "short.wmf" << redSquareWmf().left(30) << Entry::File << false;
        QTest::newRow("garbage EMF") << "garbage.emf" << QByteArray(500, '\x01') << Entry::File << false;
        QTest::newRow("FIFO named .jpg") << "pipe.jpg" << QByteArray() << Entry::Fifo << false;
        QTest::newRow("link to a picture") << "link.bmp" << bmp << Entry::LinkToPicture << false;
        QTest::newRow("folder named .bmp") << "folder.bmp" << QByteArray() << Entry::Folder << false;
        // clang-format on
    }

    void previewOrClear()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QFETCH(Entry, entry);
        QFETCH(bool, previews);
        QTemporaryDir dir;
        Form2 preview(renderer);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        // Start from another picture, so a clearing is seen.
        const QString before = dir.filePath(QStringLiteral("before.bmp")), path = dir.filePath(name);
        QVERIFY(writeFile(before, encoded(solid(Qt::blue), "BMP")));
        preview.previewFile(before);
        QVERIFY(near(picture(preview), qRgb(0, 0, 255)));

        if (entry == Entry::Fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (entry == Entry::Folder)
            QVERIFY(QDir().mkpath(path));
        else if (entry == Entry::File)
            QVERIFY(contents.isNull() || writeFile(path, contents));
        else // a link to a picture
            QVERIFY(writeFile(path + QStringLiteral(".target"), contents) && QFile::link(path + ".target", path));
        QElapsedTimer clock;
        clock.start();
        preview.previewFile(path);
        QVERIFY(clock.elapsed() < 2000); // a FIFO must not block the window in open()
        QVERIFY(previews ? near(picture(preview), qRgb(255, 0, 0)) : cleared(preview));
    }

    void pictureIsStretchedToTheWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        // Left half red, right half blue: stretched without keeping proportions, edge to edge.
        QImage halves(2, 1, QImage::Format_RGB32);
        halves.setPixel(0, 0, qRgb(255, 0, 0));
        halves.setPixel(1, 0, qRgb(0, 0, 255));
        QTest::newRow("bitmap") << "halves.bmp" << encoded(halves, "BMP");
        QTest::newRow("EMF") << "halves.emf"
                             << emfOf(emfRecord(39, emfWords({1, 0, 0x000000FF, 0})) + emfRecord(37, emfWords({1}))
                                          + emfRecord(43, emfWords({0, 0, 49, 99}))
                                          + emfRecord(39, emfWords({2, 0, 0x00FF0000, 0}))
                                          + emfRecord(37, emfWords({2})) + emfRecord(43, emfWords({50, 0, 99, 99})),
                                      6);
    }

    void pictureIsStretchedToTheWindow()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        Form2 preview(renderer);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QVERIFY(writeFile(dir.filePath(name), contents));
        preview.previewFile(dir.filePath(name));
        QTRY_VERIFY_WITH_TIMEOUT(preview.image()->hasPicture(), 10000);

        const QSize frame = preview.frameGeometry().size() - preview.geometry().size();
        preview.resize(QSize(twipsToPixels(6000), twipsToPixels(4000)) - frame);
        QCoreApplication::processEvents();
        PictureBox *image = preview.image();
        // Inside the window, and most of it.
        QVERIFY(preview.rect().contains(image->geometry()) && image->width() * 10 > preview.width() * 9);

        // The picture is drawn again at the new size once resizing pauses.
        QTRY_COMPARE_WITH_TIMEOUT(image->pictureSize(), image->size() * image->devicePixelRatio(), 10000);
        const QImage shown = image->grab().toImage();
        QCOMPARE(shown.size(), image->size());
        const int w = shown.width(), h = shown.height();
        for (QPoint left : {QPoint(w / 16, h / 8), QPoint(w / 16, h * 7 / 8)})
            QVERIFY(near(shown.pixel(left), qRgb(255, 0, 0)));
        for (QPoint right : {QPoint(w * 15 / 16, h / 8), QPoint(w * 15 / 16, h * 7 / 8)})
            QVERIFY(near(shown.pixel(right), qRgb(0, 0, 255)));
    }

    void aFailingRendererLeavesTheWindowResponsive_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("hangs") << QByteArray("exec sleep 60");
        QTest::newRow("crashes") << QByteArray("kill -SEGV $$");
        QTest::newRow("floods its output") << QByteArray("exec cat /dev/zero");
        QTest::newRow("answers another size") << QByteArray("printf 'P6\\n1 1\\n255\\nabc'");
        QTest::newRow("fails") << QByteArray("exit 1");
        QTest::newRow("is not there") << QByteArray();
    }

    void aFailingRendererLeavesTheWindowResponsive()
    {
        QFETCH(QByteArray, script);
        QTemporaryDir dir;
        Form2 preview(script.isNull() ? dir.filePath(QStringLiteral("no-such-renderer")) : fakeRenderer(dir, script));
        preview.loader()->setTimeLimit(1500);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("red.bmp")), encoded(solid(Qt::red), "BMP")));

        QElapsedTimer clock;
        clock.start();
        preview.previewFile(dir.filePath(QStringLiteral("red.bmp")));
        QVERIFY(clock.elapsed() < 1000); // the click does not wait for the renderer
        bool eventsRun = false;
        QTimer::singleShot(0, &preview, [&] { eventsRun = true; });
        QTRY_VERIFY_WITH_TIMEOUT(eventsRun, 1000);
        QVERIFY(cleared(preview));
    }

    void aNewerClickWinsAndKeptPicturesAreNotDecodedAgain()
    {
        QTemporaryDir dir;
        const QString red = dir.filePath(QStringLiteral("red.bmp")), blue = dir.filePath(QStringLiteral("blue.bmp"));
        QVERIFY(writeFile(red, encoded(solid(Qt::red), "BMP")));
        QVERIFY(writeFile(blue, encoded(solid(Qt::blue), "BMP")));
        const QString runs = dir.filePath(QStringLiteral("runs"));
        Form2 preview(fakeRenderer(dir, "echo >>'" + runs.toUtf8() + "'; exec '" + renderer.toUtf8() + "' \"$@\""));
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));

        preview.previewFile(red);
        preview.previewFile(blue); // before the red one is drawn
        QVERIFY(near(picture(preview), qRgb(0, 0, 255)));
        QTest::qWait(300);
        QVERIFY(near(centre(*preview.image()), qRgb(0, 0, 255)));

        preview.previewFile(red);
        QTRY_VERIFY_WITH_TIMEOUT(preview.image()->hasPicture(), 10000);
        QTRY_VERIFY(!preview.loader()->isLoading());
        const qint64 decoded = QFileInfo(runs).size();
        // Back and forth: both are kept, nothing is decoded again.
        for (const auto &[path, colour] : {std::pair(blue, qRgb(0, 0, 255)), std::pair(red, qRgb(255, 0, 0))}) {
            preview.previewFile(path);
            QVERIFY(near(picture(preview), colour));
        }
        QCOMPARE(QFileInfo(runs).size(), decoded);

        // A file changed since is decoded again.
        QVERIFY(writeFile(red, encoded(solid(Qt::green, 20, 20), "BMP")));
        preview.previewFile(red);
        QVERIFY(near(picture(preview), qRgb(0, 255, 0)));
        QCOMPARE(QFileInfo(runs).size(), decoded + 1);
    }

    // A share whose open() stalls holds up neither the window nor a later click; its late
    // answer does not replace the later picture.
    void aStalledOpenLeavesTheWindowResponsive()
    {
        QTemporaryDir dir;
        const QString stalled = dir.filePath(QStringLiteral("stalled.bmp")),
                      red = dir.filePath(QStringLiteral("red.bmp"));
        QVERIFY(writeFile(stalled, encoded(solid(Qt::blue), "BMP")));
        QVERIFY(writeFile(red, encoded(solid(Qt::red), "BMP")));
        Form2 preview(renderer);
        QSemaphore share;
        std::atomic<int> answered{0}, stalledPastTheTest{0};
        preview.loader()->setOpener([&, stalledPath = QFile::encodeName(stalled)](const QByteArray &path) {
            if (path == stalledPath && !share.tryAcquire(1, 4000))
                ++stalledPastTheTest;
            ++answered;
            return PictureLoader::openFile(path);
        });
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));

        preview.previewFile(stalled);
        preview.previewFile(red);
        QTRY_VERIFY_WITH_TIMEOUT(preview.image()->hasPicture(), 10000);
        share.release();
        QTRY_COMPARE(answered.load(), 2);
        QCOMPARE(stalledPastTheTest.load(), 0);
        QTest::qWait(200); // the stalled file's late answer comes in, and would be rendered
        QTRY_VERIFY_WITH_TIMEOUT(!preview.loader()->isLoading(), 10000);
        QVERIFY(near(centre(*preview.image()), qRgb(255, 0, 0)));
    }
};

TWINFOLD_WIDGETS_TEST_MAIN(TestForm2)
#include "tst_form2.moc"
