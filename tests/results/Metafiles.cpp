#include "Metafiles.h"

#include <QtEndian>

#include <initializer_list>

namespace {
struct Writer
{
    QByteArray bytes;
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        bytes.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        bytes.append(b, 4);
    }
    // A metafile record: its size in 16-bit words, its function, its parameters.
    void record(quint16 function, std::initializer_list<quint16> words)
    {
        u32(static_cast<quint32>(3 + words.size()));
        u16(function);
        for (quint16 w : words)
            u16(w);
    }
};
} // namespace

QByteArray redSquareWmf()
{
    Writer w;
    // Placeable header: key, handle, bounds 0,0-100,100, 96 units per inch, reserved, checksum.
    const quint16 header[10] = {0xCDD7, 0x9AC6, 0, 0, 0, 100, 100, 96, 0, 0};
    quint16 checksum = 0;
    for (quint16 word : header) {
        w.u16(word);
        checksum ^= word;
    }
    w.u16(checksum);
    // Metafile header: memory type, 9 words, version 3, size in words, one object, largest record.
    w.u16(1);
    w.u16(9);
    w.u16(0x0300);
    w.u32(40);
    w.u16(1);
    w.u32(7);
    w.u16(0);
    w.record(0x020B, {0, 0});        // window origin
    w.record(0x020C, {100, 100});    // window extent
    w.record(0x02FC, {0, 0x00FF, 0, 0}); // solid brush, COLORREF red
    w.record(0x012D, {0});           // select it
    w.record(0x041B, {100, 100, 0, 0}); // rectangle: bottom, right, top, left
    w.record(0x0000, {});            // end
    return w.bytes;
}

QByteArray redSquareEmf()
{
    Writer w;
    // EMR_HEADER, 88 bytes.
    w.u32(1);
    w.u32(88);
    for (quint32 v : {0u, 0u, 99u, 99u}) // bounds in device units
        w.u32(v);
    for (quint32 v : {0u, 0u, 2646u, 2646u}) // frame in 0.01 mm
        w.u32(v);
    w.u32(0x464D4520); // " EMF"
    w.u32(0x10000);
    w.u32(88 + 24 + 12 + 24 + 20); // bytes
    w.u32(5);                      // records
    w.u16(2);                      // handles
    w.u16(0);
    w.u32(0); // description
    w.u32(0);
    w.u32(0); // palette entries
    w.u32(1024); // reference device, pixels
    w.u32(768);
    w.u32(271); // and millimetres (96 dpi)
    w.u32(203);
    // EMR_CREATEBRUSHINDIRECT: handle 1, solid red.
    for (quint32 v : {39u, 24u, 1u, 0u, 0x000000FFu, 0u})
        w.u32(v);
    // EMR_SELECTOBJECT 1, EMR_RECTANGLE 0,0-99,99, EMR_EOF.
    for (quint32 v : {37u, 12u, 1u})
        w.u32(v);
    for (quint32 v : {43u, 24u, 0u, 0u, 99u, 99u})
        w.u32(v);
    for (quint32 v : {14u, 20u, 0u, 16u, 20u})
        w.u32(v);
    return w.bytes;
}
