#include "PictureLoader.h"

#include <QFile>
#include <QImageReader>
#include <QSvgRenderer>

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>

#include <cstdlib>
#include <cstring>

namespace {
// A preview is a few hundred pixels; bigger pictures are decoded smaller to spare memory.
constexpr int MaxDecodedSide = 2048;
// No metafile worth previewing comes near this; reading more would only cost memory.
constexpr qint64 MaxMetafileBytes = 64 * 1024 * 1024;

QImage readImage(const QString &path, const QByteArray &format)
{
    QImageReader reader(path, format);
    reader.setDecideFormatFromContent(format.isEmpty());
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > MaxDecodedSide || size.height() > MaxDecodedSide))
        reader.setScaledSize(size.scaled(MaxDecodedSide, MaxDecodedSide, Qt::KeepAspectRatio));
    return reader.read();
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxMetafileBytes)
        return {};
    return file.read(MaxMetafileBytes);
}

bool renders(const QByteArray &svg)
{
    return !svg.isEmpty() && QSvgRenderer(svg).isValid();
}
} // namespace

QByteArray wmfToSvg(const QByteArray &data)
{
    if (data.size() < 18)
        return {};
    wmfAPI_Options options{};
    options.function = wmf_svg_function;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI *api = nullptr;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api)
            wmf_api_destroy(api);
        return {};
    }
    // The library reads from its own copy; everything it allocates goes with wmf_api_destroy.
    QByteArray input = data;
    QByteArray svg;
    wmfD_Rect bbox{};
    if (wmf_mem_open(api, reinterpret_cast<unsigned char *>(input.data()), static_cast<long>(input.size())) == wmf_E_None &&
        wmf_scan(api, 0, &bbox) == wmf_E_None) {
        wmf_svg_t *device = WMF_SVG_GetData(api);
        device->out = wmf_stream_create(api, nullptr);
        unsigned int width = 0, height = 0;
        if (device->out && wmf_display_size(api, &width, &height, 72, 72) == wmf_E_None && width > 0 && height > 0) {
            device->Description = const_cast<char *>("Preview");
            device->bbox = bbox;
            device->width = width;
            device->height = height;
            device->flags |= WMF_SVG_INLINE_IMAGES;
            const bool played = wmf_play(api, 0, &bbox) == wmf_E_None;
            char *buffer = nullptr;
            unsigned long length = 0;
            wmf_stream_destroy(api, device->out, &buffer, &length);
            device->out = nullptr;
            if (played && buffer)
                svg = QByteArray(buffer, static_cast<qsizetype>(length));
        } else if (device->out) {
            wmf_stream_destroy(api, device->out, nullptr, nullptr);
            device->out = nullptr;
        }
        wmf_mem_close(api);
    }
    wmf_api_destroy(api);
    return renders(svg) ? svg : QByteArray();
}

QByteArray emfToSvg(const QByteArray &data)
{
    // The header record: type 1, then the " EMF" signature at byte 40.
    if (data.size() < 88 || std::memcmp(data.constData(), "\x01\0\0\0", 4) != 0 ||
        std::memcmp(data.constData() + 40, " EMF", 4) != 0)
        return {};
    generatorOptions options{};
    options.nameSpace = nullptr; // a namespace makes the converter leak
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    QByteArray input = data;
    char *out = nullptr;
    size_t length = 0;
    const int converted = emf2svg(input.data(), static_cast<size_t>(input.size()), &out, &length, &options);
    QByteArray svg;
    if (converted == 1 && out)
        svg = QByteArray(out, static_cast<qsizetype>(length));
    std::free(out);
    return renders(svg) ? svg : QByteArray();
}

Picture loadPicture(const QString &path)
{
    Picture picture;
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String("wmf"))) {
        picture.svg = wmfToSvg(readSmallFile(path));
    } else if (lower.endsWith(QLatin1String("emf"))) {
        picture.svg = emfToSvg(readSmallFile(path));
    } else {
        picture.image = readImage(path, {});
        // Qt's "dib" is a bitmap without its file header; a .dib file may be either kind.
        if (picture.image.isNull() && lower.endsWith(QLatin1String("dib")))
            picture.image = readImage(path, QByteArrayLiteral("dib"));
    }
    return picture;
}
