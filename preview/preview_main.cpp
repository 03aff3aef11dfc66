// twinfold-preview [--as image|dib|wmf|emf] [--size WIDTHxHEIGHT] < PICTURE > PIXELS.ppm
//
// Decodes one picture from standard input and writes its pixels, drawn on white, as a binary
// PPM to standard output: stretched to the size asked for, else at the picture's own size.
// Exit status 0 when a picture was written, 1 when the input is refused, 2 for bad arguments,
// 3 when the process cannot be confined. The preview window runs it for every picture, so
// whatever a damaged or hostile file does to the decoders stays inside this process.

#include "Confinement.h"
#include "PictureDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
int usage()
{
    std::fputs("usage: twinfold-preview [--as image|dib|wmf|emf] [--size WIDTHxHEIGHT] < PICTURE > PIXELS.ppm\n",
               stderr);
    return 2;
}

QSize parseSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    bool wide = false, high = false;
    const QSize size = parts.size() == 2 ? QSize(parts[0].toInt(&wide), parts[1].toInt(&high)) : QSize();
    if (!wide || !high || size.width() < 1 || size.height() < 1 || size.width() > MaxRenderedSide
        || size.height() > MaxRenderedSide)
        return {};
    return size;
}

// Everything that opens files of its own (image plugins, fonts, the drawing module) is made to
// do so now, while files can still be opened.
void loadDecoders(PictureKind kind)
{
    QBuffer probe;
    probe.setData(QByteArray(64, '\0'));
    probe.open(QIODevice::ReadOnly);
    QImageReader::imageFormat(&probe); // asks every image plugin, which loads them all
    if (kind != PictureKind::Wmf && kind != PictureKind::Emf)
        return;
    QImage canvas(16, 16, QImage::Format_RGB32);
    QPainter painter(&canvas);
    painter.drawText(0, 12, QStringLiteral("Aa"));
    QSvgRenderer(QByteArrayLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='1' height='1'/>")).render(&painter);
}

// Text in metafiles is drawn with the system's fonts, which are read when first drawn; the
// converters turn its encodings into UTF-8 with iconv, which loads its converters the same way.
QStringList readableFolders()
{
    return {QStringLiteral("/usr/share/fonts"),
            QStringLiteral("/usr/local/share/fonts"),
            QStringLiteral("/var/cache/fontconfig"),
            QStringLiteral("/etc/fonts"),
            QString::fromLatin1("/usr/lib/" TWINFOLD_LIBRARY_ARCH "/gconv"),
            QStringLiteral("/usr/lib/gconv")};
}
} // namespace

int main(int argc, char *argv[])
{
    closeInheritedDescriptors();
    if (!limitResources())
        return 3;

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    PictureKind kind = PictureKind::Image;
    QSize size;
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size())
            return usage();
        if (arguments[i] == QLatin1String("--as")) {
            const std::optional<PictureKind> named = pictureKindFromName(arguments[i + 1]);
            if (!named)
                return usage();
            kind = *named;
        } else if (arguments[i] == QLatin1String("--size")) {
            size = parseSize(arguments[i + 1]);
            if (!size.isValid())
                return usage();
        } else {
            return usage();
        }
    }

    // No window is ever shown; text in metafiles still needs a font database, which needs a
    // platform. Raster pictures do without it and start sooner.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char program[] = "twinfold-preview";
    char *qtArgv[] = {program, nullptr};
    const std::unique_ptr<QCoreApplication> app = kind == PictureKind::Wmf || kind == PictureKind::Emf
        ? std::make_unique<QGuiApplication>(qtArgc, qtArgv)
        : std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    // Qt refuses pictures over 128 MiB decoded (6000 x 6000 GIF and BMP pictures, which are
    // decoded whole before they are scaled). Half the address space is left to the picture:
    // the libraries, a piped input and the scaled copy share the rest.
    QImageReader::setAllocationLimit(512);
    loadDecoders(kind);
    if (forbidFileAccess(readableFolders()) == FileAccess::Failed || !forbidSignalsAndNetwork())
        return 3;

    QFile input;
    QFile output;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly) || !output.open(STDOUT_FILENO, QIODevice::WriteOnly))
        return 1;
    const QImage picture = decodePicture(input, kind, size);
    if (picture.isNull())
        return 1;
    return writePixels(output, picture) && output.flush() ? 0 : 1;
}
