#include "PictureDecoder.h"

#include "SvgCleaner.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/ipa.h>
#include <libwmf/svg.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// A picture's own size is kept up to this; a preview is a few hundred pixels.
constexpr int MaxNaturalSide = 2048;
// No metafile worth previewing comes near this; reading more would only cost memory.
constexpr qint64 MaxMetafileBytes = 64 * 1024 * 1024;
// Raster pictures arriving through a pipe are held in memory up to this.
constexpr qint64 MaxPipedPictureBytes = 256 * 1024 * 1024;
// The converters have been seen reading a few bytes past the end of their input: zeros there
// keep such reads inside memory we own.
constexpr qsizetype ConverterSlack = 64 * 1024;

QSize naturalSize(QSize size)
{
    if (size.width() > MaxNaturalSide || size.height() > MaxNaturalSide)
        size = size.scaled(MaxNaturalSide, MaxNaturalSide, Qt::KeepAspectRatio);
    return size.expandedTo(QSize(1, 1));
}

QImage onWhite(const QImage &image)
{
    QImage canvas(image.size(), QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(0, 0, image);
    return canvas;
}

// Raster formats only: a drawing format (SVG, PDF) could name other files for its reader to open.
bool isRasterFormat(const QByteArray &format)
{
    static const QByteArrayList raster{"jpeg", "jpg", "gif", "bmp",  "dib", "ico",  "cur", "png",  "pbm", "pgm",
                                       "ppm",  "xbm", "xpm", "webp", "tif", "tiff", "tga", "wbmp", "icns"};
    return raster.contains(format.toLower());
}

QImage readRaster(QIODevice &input, QByteArray format, QSize size)
{
    if (format.isEmpty())
        format = QImageReader::imageFormat(&input);
    if (!isRasterFormat(format))
        return {};
    QImageReader reader(&input, format);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    const QSize own = reader.size();
    if (size.isValid())
        reader.setScaledSize(size);
    else if (own.isValid())
        reader.setScaledSize(naturalSize(own));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (size.isValid() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return onWhite(image);
}

QImage drawSvg(const QByteArray &svg, QSize size)
{
    if (svg.isEmpty())
        return {};
    QSvgRenderer drawing(svg);
    if (!drawing.isValid())
        return {};
    if (!size.isValid())
        size = naturalSize(drawing.defaultSize());
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return canvas;
}

QByteArray readAll(QIODevice &input, qint64 limit)
{
    QByteArray data = input.read(limit + 1);
    return data.size() > limit ? QByteArray() : data;
}

template <typename Word> Word wordAt(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<Word>(data.constData() + offset);
}

// libwmf's SVG device writes text as it finds it; each string is escaped before it gets there,
// so text in a picture stays text.
void (*svgDrawText)(wmfAPI *, wmfDrawText_t *) = nullptr;

// The device prints through libwmf's own formatted output, into a buffer of 64 bytes at first.
// A line that does not fit is printed again into a larger buffer from an argument list already
// used up: a string of 127 bytes or more comes out as whatever that list points to. The buffer
// is made large enough beforehand, so the retry never happens. False without the memory.
bool reserveOutputBuffer(wmfAPI *api, std::size_t bytes)
{
    if (api->string_buffer.length >= bytes)
        return true;
    void *grown = wmf_realloc(api, api->string_buffer.buffer, bytes);
    if (!grown)
        return false;
    api->string_buffer.buffer = static_cast<char *>(grown);
    api->string_buffer.length = bytes;
    return true;
}

void drawEscapedText(wmfAPI *api, wmfDrawText_t *text)
{
    std::string escaped;
    for (const char *c = text->str; c && *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        switch (byte) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '&':
            escaped += "&amp;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            if (byte >= 0x80) // the picture's code page is unknown; Latin-1 keeps the text readable
                escaped += "&#" + std::to_string(byte) + ';';
            else if (byte < 0x20)
                escaped += ' ';
            else
                escaped += char(byte);
        }
    }
    // Room for the string and the markup printed with it on the same line.
    if (!reserveOutputBuffer(api, escaped.size() + 256))
        return;
    char *original = text->str;
    text->str = escaped.data();
    svgDrawText(api, text);
    text->str = original;
}

// Checks the record chain of an EMF and gives what the converter may read: the records up to
// EMR_EOF. Unknown record types, sizes that leave the file and a missing end are refused.
QByteArray checkedEmfRecords(const QByteArray &data)
{
    constexpr quint32 EmrHeader = 1, EmrEof = 14, LastRecordType = 122;
    if (data.size() < 88 || wordAt<quint32>(data, 0) != EmrHeader || std::memcmp(data.constData() + 40, " EMF", 4) != 0)
        return {};
    qsizetype offset = 0;
    while (offset + 8 <= data.size()) {
        const quint32 type = wordAt<quint32>(data, offset);
        const quint32 size = wordAt<quint32>(data, offset + 4);
        if (type == 0 || type > LastRecordType || size < 8 || size % 4 != 0 || size > quint64(data.size() - offset))
            return {};
        offset += size;
        if (type == EmrEof)
            return data.left(offset);
    }
    return {};
}

// Font names go into attributes verbatim: any character that could end one becomes a space.
// A font name is only looked up, never shown, so nothing visible changes.
void quoteSafeName(QByteArray &data, qsizetype offset, qsizetype characters)
{
    for (qsizetype i = 0; i < characters && offset + 2 * i + 1 < data.size(); ++i) {
        char *c = data.data() + offset + 2 * i;
        if (c[1] == 0 && std::strchr("\"'<>&", c[0]) && c[0] != 0)
            c[0] = ' ';
    }
}

// libemf2svg writes text as CDATA sections and font names as attribute values, both verbatim:
// a "]]>" in a string would end the section and a quote would end the attribute, turning the
// rest into markup. The '>' of every "]]>", in single-byte or UTF-16 text, becomes '?', and
// font names lose their quotes and brackets.
void neutraliseText(QByteArray &data)
{
    for (qsizetype at = data.indexOf("]]>"); at >= 0; at = data.indexOf("]]>", at))
        data[at + 2] = '?';
    static const QByteArray wide("]\0]\0>\0", 6);
    for (qsizetype at = data.indexOf(wide); at >= 0; at = data.indexOf(wide, at))
        data[at + 4] = '?';

    constexpr quint32 EmrComment = 70, EmrExtCreateFontIndirectW = 82;
    constexpr quint16 EmfPlusObject = 0x4008, EmfPlusFontObject = 6;
    for (qsizetype offset = 0; offset + 8 <= data.size();) {
        const quint32 type = wordAt<quint32>(data, offset), size = wordAt<quint32>(data, offset + 4);
        if (type == EmrExtCreateFontIndirectW && size >= 104) // the face name: 32 characters at byte 40
            quoteSafeName(data, offset + 40, 32);
        if (type == EmrComment && size >= 16 && std::memcmp(data.constData() + offset + 12, "EMF+", 4) == 0) {
            // EMF+ records inside: a font object names its family after 24 bytes of its own.
            const qsizetype end = offset + size;
            for (qsizetype plus = offset + 16; plus + 12 <= end;) {
                const quint16 plusType = wordAt<quint16>(data, plus), flags = wordAt<quint16>(data, plus + 2);
                const quint32 plusSize = wordAt<quint32>(data, plus + 4);
                if (plusSize < 12 || plusSize > quint64(end - plus))
                    break;
                if (plusType == EmfPlusObject && ((flags >> 8) & 0x7F) == EmfPlusFontObject && plusSize >= 36)
                    quoteSafeName(data, plus + 36, wordAt<quint32>(data, plus + 32));
                plus += plusSize;
            }
        }
        offset += size; // checkedEmfRecords has vouched for every size
    }
}
} // namespace

std::optional<PictureKind> pictureKindFromName(QStringView name)
{
    if (name == QLatin1String("image"))
        return PictureKind::Image;
    if (name == QLatin1String("dib"))
        return PictureKind::Dib;
    if (name == QLatin1String("wmf"))
        return PictureKind::Wmf;
    if (name == QLatin1String("emf"))
        return PictureKind::Emf;
    return std::nullopt;
}

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
    auto *functions = static_cast<wmfFunctionReference *>(api->function_reference);
    svgDrawText = functions->draw_text;
    functions->draw_text = drawEscapedText;

    // The library reads from its own copy; everything it allocates goes with wmf_api_destroy.
    QByteArray input = data + QByteArray(ConverterSlack, '\0');
    QByteArray svg;
    wmfD_Rect bbox{};
    if (wmf_mem_open(api, reinterpret_cast<unsigned char *>(input.data()), static_cast<long>(data.size())) == wmf_E_None
        && wmf_scan(api, 0, &bbox) == wmf_E_None) {
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
    return cleanSvg(svg);
}

QByteArray emfToSvg(const QByteArray &data)
{
    QByteArray records = checkedEmfRecords(data);
    if (records.isEmpty())
        return {};
    neutraliseText(records);
    generatorOptions options{};
    options.nameSpace = nullptr; // a namespace makes the converter leak
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    QByteArray input = records + QByteArray(ConverterSlack, '\0');
    char *out = nullptr;
    size_t length = 0;
    const int converted = emf2svg(input.data(), static_cast<size_t>(records.size()), &out, &length, &options);
    QByteArray svg;
    if (converted == 1 && out)
        svg = QByteArray(out, static_cast<qsizetype>(length));
    std::free(out);
    return cleanSvg(svg);
}

QImage decodePicture(QIODevice &input, PictureKind kind, QSize size)
{
    if (size.isValid() && (size.width() > MaxRenderedSide || size.height() > MaxRenderedSide))
        return {};
    switch (kind) {
    case PictureKind::Wmf:
        return drawSvg(wmfToSvg(readAll(input, MaxMetafileBytes)), size);
    case PictureKind::Emf:
        return drawSvg(emfToSvg(readAll(input, MaxMetafileBytes)), size);
    case PictureKind::Image:
    case PictureKind::Dib:
        break;
    }
    // Readers look ahead and go back, which a pipe cannot do: a piped picture is read whole first.
    QBuffer buffer;
    QIODevice *device = &input;
    if (input.isSequential()) {
        buffer.setData(readAll(input, MaxPipedPictureBytes));
        if (buffer.data().isEmpty() || !buffer.open(QIODevice::ReadOnly))
            return {};
        device = &buffer;
    }
    QImage image = readRaster(*device, {}, size);
    // Qt's "dib" is a bitmap without its file header; a .dib file may be either kind.
    if (image.isNull() && kind == PictureKind::Dib && device->seek(0))
        image = readRaster(*device, QByteArrayLiteral("dib"), size);
    return image;
}

bool writePixels(QIODevice &output, const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB888);
    const QByteArray header = "P6\n" + QByteArray::number(image.width()) + ' ' + QByteArray::number(image.height())
        + "\n255\n";
    if (output.write(header) != header.size())
        return false;
    const qint64 row = qint64(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y) {
        if (output.write(reinterpret_cast<const char *>(image.constScanLine(y)), row) != row)
            return false;
    }
    return true;
}
