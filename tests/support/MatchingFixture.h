#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QTest>

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = static_cast<char>(random.generate() & 0xFF);
    return bytes;
}

// Changes eight bytes at `at` without changing the CRC-32: the change is a multiple of the
// polynomial (its register, run from zero, ends at zero).
inline QByteArray crcNeutralChange(QByteArray bytes, qsizetype at)
{
    const QByteArray change = QByteArrayLiteral("\x5a\xa5\x3c\xc3\xb8\x9a\x9d\x0a");
    for (qsizetype i = 0; i < change.size(); ++i)
        bytes[at + i] = static_cast<char>(bytes[at + i] ^ change[i]);
    return bytes;
}

// The full paths of files of a tree.
inline QStringList inTree(const FileTree &tree, const QStringList &relative)
{
    QStringList full;
    for (const QString &r : relative)
        full << tree.path(r);
    return full;
}
