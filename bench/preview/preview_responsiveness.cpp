// preview_responsiveness [RUNS]
//
// Shows, in a real preview window, RUNS copies of a 12-megapixel JPEG (4000 x 3000, made here)
// one after another and prints the mean time from click to picture; then clicks a 24 MB EMF of
// a million clip records and prints how long the click took, when the renderer was stopped and
// the longest gap between two 10 ms ticks of the window's thread meanwhile.

#include "Form2.h"
#include "PictureBox.h"
#include "PictureLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <cstdio>

namespace {
bool makePhoto(const QString &path)
{
    QImage photo(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator noise(12);
    for (int y = 0; y < photo.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int n = noise.bounded(40);
            line[x] = qRgb((x * 255 / 4000 + n) % 256, (y * 255 / 3000 + n) % 256, ((x + y) / 30 + n) % 256);
        }
    }
    return photo.save(path, "JPEG", 90);
}

void put(QByteArray &bytes, std::initializer_list<quint32> words)
{
    for (quint32 w : words) {
        char b[4];
        qToLittleEndian(w, b);
        bytes.append(b, 4);
    }
}

bool makeClipBomb(const QString &path)
{
    constexpr quint32 Clips = 1000000;
    QByteArray records;
    for (quint32 i = 0; i < Clips; ++i)
        put(records, {30, 24, i % 50, 0, 99, 99}); // EMR_INTERSECTCLIPRECT
    put(records, {14, 20, 0, 16, 20});
    QByteArray emf;
    put(emf, {1,         88, 0, 0, 99, 99,   0,   0,   2646, 2646, 0x464D4520, 0x10000, quint32(88 + records.size()),
              Clips + 2, 2,  0, 0, 0,  1024, 768, 271, 203});
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(emf + records) == emf.size() + records.size();
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("photo.jpg")), bomb = dir.filePath(QStringLiteral("clips.emf"));
    if (runs < 1 || !makePhoto(photo) || !makeClipBomb(bomb))
        return 1;

    Form2 preview(QString::fromUtf8(TWINFOLD_PREVIEW_PROGRAM));
    preview.show();
    QCoreApplication::processEvents();

    // Copies under other names: each is a new file to the window, so none comes from its keep.
    qint64 total = 0;
    for (int i = 0; i < runs; ++i) {
        const QString copy = dir.filePath(QStringLiteral("photo-%1.jpg").arg(i));
        QFile::copy(photo, copy);
        QElapsedTimer clock;
        clock.start();
        preview.previewFile(copy);
        while (preview.loader()->isLoading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        total += clock.nsecsElapsed();
        if (!preview.image()->hasPicture())
            return 1;
    }
    std::printf("12-megapixel JPEG: %.1f ms from click to picture (mean of %d)\n", total / 1e6 / runs, runs);

    QElapsedTimer clock, sinceTick;
    qint64 worstGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { worstGap = qMax(worstGap, sinceTick.restart()); });
    tick.start(10);
    sinceTick.start();
    clock.start();
    preview.previewFile(bomb);
    const qint64 click = clock.elapsed();
    while (preview.loader()->isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("24 MB EMF of a million clip records: click %lld ms, renderer done after %lld ms (picture: %s), "
                "longest gap between 10 ms ticks %lld ms\n",
                click, clock.elapsed(), preview.image()->hasPicture() ? "yes" : "no", worstGap);
    return 0;
}
