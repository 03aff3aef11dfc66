#include "Metafiles.h"

#include <QtEndian>

#include <initializer_list>

namespace {
template<typename Word>
void put(QByteArray &bytes, std::initializer_list<Word> words)
{
    for (Word w : words) {
        char b[sizeof(Word)];
        qToLittleEndian(w, b);
        bytes.append(b, sizeof(Word));
    }
}
} // namespace

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
