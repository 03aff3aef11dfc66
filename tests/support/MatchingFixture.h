#pragma once

#include "Crc32.h"
#include "TestFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = static_cast<char>(random.generate() & 0xFF);
    return bytes;
}

inline std::uint32_t crcRegister(std::uint32_t reg, const QByteArray &bytes)
{
    return crc32::update(reg, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                         static_cast<std::size_t>(bytes.size()));
}

inline QByteArray littleEndian(std::uint32_t value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Appends the four bytes that make the whole CRC-32 equal `target`: four table steps undone
// from the wanted register give the register-and-bytes mix that leads there.
inline QByteArray forceCrc(const QByteArray &message, std::uint32_t target)
{
    std::uint32_t table[256]; // the register after one byte i from zero
    for (std::uint32_t i = 0; i < 256; ++i)
        table[i] = crcRegister(0, QByteArray(1, static_cast<char>(i)));
    std::uint32_t wanted = ~target;
    for (int step = 0; step < 4; ++step) {
        std::uint32_t index = 0;
        while ((table[index] >> 24) != (wanted >> 24))
            ++index;
        wanted = ((wanted ^ table[index]) << 8) | index;
    }
    return message + littleEndian(wanted ^ crcRegister(0xFFFFFFFFu, message));
}

// Changes eight bytes at `at` without changing the CRC-32: the change itself is a multiple of
// the polynomial (its register, run from zero, ends at zero).
inline QByteArray crcNeutralChange(QByteArray bytes, qsizetype at)
{
    const QByteArray head = QByteArrayLiteral("\x5a\xa5\x3c\xc3");
    const QByteArray change = head + littleEndian(crcRegister(0, head));
    for (qsizetype i = 0; i < change.size(); ++i)
        bytes[at + i] = static_cast<char>(bytes[at + i] ^ change[i]);
    return bytes;
}
