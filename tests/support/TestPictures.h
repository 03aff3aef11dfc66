#pragma once

// Small pictures of every previewed kind, written here: no package ships sample metafiles.

#include <QBuffer>
#include <QImage>
#include <QtEndian>

#include <initializer_list>

inline QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QImage solid(QColor colour, int width = 16, int height = 16)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

template <typename Word> void put(QByteArray &bytes, std::initializer_list<Word> words)
{
    for (Word w : words) {
        char b[sizeof(Word)];
        qToLittleEndian(w, b);
        bytes.append(b, sizeof(Word));
    }
}

// One WMF record: its size in words, the function, the parameters.
inline QByteArray wmfRecord(quint16 function, const QByteArray &parameters)
{
    QByteArray record;
    put<quint32>(record, {quint32(3 + parameters.size() / 2)});
    put<quint16>(record, {function});
    return record + parameters;
}

inline QByteArray wmfWords(std::initializer_list<quint16> words)
{
    QByteArray bytes;
    put(bytes, words);
    return bytes;
}

// A placeable WMF of 100 x 100 units at 96 units per inch holding these records and the end.
inline QByteArray wmfOf(const QByteArray &records, quint16 objects = 1)
{
    QByteArray w;
    const std::initializer_list<quint16> placeable{0xCDD7, 0x9AC6, 0, 0, 0, 100, 100, 96, 0, 0};
    quint16 checksum = 0;
    for (quint16 word : placeable)
        checksum ^= word;
    put(w, placeable);
    put<quint16>(w, {checksum});
    const QByteArray body = records + wmfRecord(0x0000, {});
    const quint32 words = quint32(9 + body.size() / 2);
    quint32 largest = 0;
    for (qsizetype at = 0; at + 4 <= body.size(); at += 2 * qFromLittleEndian<quint32>(body.constData() + at))
        largest = qMax(largest, qFromLittleEndian<quint32>(body.constData() + at));
    put<quint16>(w,
                 {1, 9, 0x0300, quint16(words & 0xFFFF), quint16(words >> 16), objects, quint16(largest & 0xFFFF),
                  quint16(largest >> 16), 0});
    return w + body;
}

// Window origin and extent, a solid red brush, selecting it, a rectangle over everything.
inline QByteArray redSquareWmf()
{
    return wmfOf(wmfRecord(0x020B, wmfWords({0, 0})) + wmfRecord(0x020C, wmfWords({100, 100}))
                 + wmfRecord(0x02FC, wmfWords({0, 0x00FF, 0, 0})) + wmfRecord(0x012D, wmfWords({0}))
                 + wmfRecord(0x041B, wmfWords({100, 100, 0, 0})));
}

// A WMF that writes `text` with TextOut over a white picture.
inline QByteArray textWmf(const QByteArray &text)
{
    QByteArray parameters = wmfWords({quint16(text.size())}) + text;
    if (parameters.size() % 2)
        parameters.append('\0');
    parameters += wmfWords({50, 10});
    return wmfOf(wmfRecord(0x020B, wmfWords({0, 0})) + wmfRecord(0x020C, wmfWords({100, 100}))
                 + wmfRecord(0x0521, parameters));
}

inline QByteArray emfRecord(quint32 type, const QByteArray &payload)
{
    QByteArray record;
    put<quint32>(record, {type, quint32(8 + payload.size())});
    return record + payload;
}

inline QByteArray emfWords(std::initializer_list<quint32> words)
{
    QByteArray bytes;
    put(bytes, words);
    return bytes;
}

// An EMF of 100 x 100 pixels holding these records, then `end` (normally EMR_EOF).
inline QByteArray emfOf(const QByteArray &records, int recordCount,
                        const QByteArray &end = emfRecord(14, emfWords({0, 16, 20})))
{
    QByteArray e;
    // Header: type, size, bounds (pixels), frame (0.01 mm), " EMF", version, bytes, records,
    // handles, reserved, description, palette, reference device in pixels and millimetres.
    put<quint32>(e,
                 {1,
                  88,
                  0,
                  0,
                  99,
                  99,
                  0,
                  0,
                  2646,
                  2646,
                  0x464D4520,
                  0x10000,
                  quint32(88 + records.size() + end.size()),
                  quint32(recordCount + 2),
                  8,
                  0,
                  0,
                  0,
                  1024,
                  768,
                  271,
                  203});
    return e + records + end;
}

// A solid red brush as handle 1, selected, and a rectangle over everything.
inline QByteArray redSquareEmf(const QByteArray &end = emfRecord(14, emfWords({0, 16, 20})))
{
    return emfOf(emfRecord(39, emfWords({1, 0, 0x000000FF, 0})) + emfRecord(37, emfWords({1}))
                     + emfRecord(43, emfWords({0, 0, 99, 99})),
                 3, end);
}

// An EMF that writes `text` with ExtTextOutW, in the font named `face` when there is one.
inline QByteArray textEmf(const QString &text, const QString &face = {})
{
    const qsizetype n = text.size();
    QByteArray string(reinterpret_cast<const char *>(text.utf16()), n * 2);
    while (string.size() % 4)
        string.append('\0');
    // Bounds, graphics mode and scales, then the text: reference point, count, offset of the
    // string, options, rectangle, offset of the spacing; the string; 8 units a character.
    QByteArray payload = emfWords({0, 0, 99, 99, 1, 0x3F800000, 0x3F800000, 10, 50, quint32(n), 76, 0, 0, 0, 100, 100,
                                   quint32(76 + string.size())});
    payload += string;
    for (qsizetype i = 0; i < n; ++i)
        put<quint32>(payload, {8});
    if (face.isEmpty())
        return emfOf(emfRecord(84, payload), 1);
    // A font 40 units high as handle 1: LOGFONTW's numbers, then its 32-character face name.
    QByteArray font = emfWords({1, quint32(-40), 0, 0, 0, 400, 0, 0});
    font += QByteArray(reinterpret_cast<const char *>(face.left(31).utf16()), face.left(31).size() * 2)
                .leftJustified(64, '\0');
    return emfOf(emfRecord(82, font) + emfRecord(37, emfWords({1})) + emfRecord(84, payload), 3);
}

// A 1 x 1 red GIF; Qt reads GIF but cannot write it.
inline const QByteArray redGif = QByteArray::fromHex(
    "47494638396101000100800000ff000000000021f90400000000002c00000000010001000002024401003b");

// An icon made by Qt's writer; the same bytes with type 2 are a cursor.
inline QByteArray redIcon(quint16 type = 1)
{
    QByteArray icon = encoded(solid(Qt::red, 32, 32), "ICO");
    if (icon.size() > 4)
        qToLittleEndian<quint16>(type, icon.data() + 2);
    return icon;
}

inline bool near(QRgb pixel, QRgb expected)
{
    return qAbs(qRed(pixel) - qRed(expected)) < 40 && qAbs(qGreen(pixel) - qGreen(expected)) < 40
        && qAbs(qBlue(pixel) - qBlue(expected)) < 40;
}
