#pragma once

#include "CandidateTable.h"
#include "Crc32.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// A temporary folder of test files, and a candidate table filled in the order the test gives.
class FileTree
{
public:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString root() const { return m_dir.path(); }

    QString write(const QString &relative, const QByteArray &contents)
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write a test file");
        return full;
    }

    // Collects the files in the given order, as the walker would have met them.
    void collect(CandidateTable &table, const QStringList &relativePaths)
    {
        QHash<QByteArray, std::uint32_t> folders;
        for (const QString &relative : relativePaths) {
            const QByteArray full = QFile::encodeName(path(relative));
            const qsizetype slash = full.lastIndexOf('/');
            const QByteArray folder = full.left(slash + 1);
            if (!folders.contains(folder))
                folders.insert(folder, table.addFolder(folder));
            struct stat st = {};
            if (::lstat(full.constData(), &st) != 0)
                qFatal("cannot stat a test file");
            table.addFile(folders.value(folder), full.mid(slash + 1), st.st_size, st.st_dev, st.st_ino);
        }
    }

private:
    QTemporaryDir m_dir;
};

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
