#include "CursorFile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

namespace {
quint16 u16(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}
quint32 u32(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}
} // namespace

std::optional<QCursor> loadCursorFile(const QString &path)
{
    QFile file(path);
    // Pointer files are tiny; anything large is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 4 * 1024 * 1024)
        return std::nullopt;
    const QByteArray data = file.readAll();
    constexpr qsizetype headerSize = 6, entrySize = 16;
    if (data.size() < headerSize || u16(data, 0) != 0 || u16(data, 2) != 2)
        return std::nullopt;
    const int count = u16(data, 4);
    if (count == 0 || data.size() < headerSize + count * entrySize)
        return std::nullopt;

    // Prefer the largest image whose bytes lie inside the file.
    int best = -1, bestArea = 0, hotX = 0, hotY = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype e = headerSize + i * entrySize;
        const int width = static_cast<quint8>(data[e]) == 0 ? 256 : static_cast<quint8>(data[e]);
        const int height = static_cast<quint8>(data[e + 1]) == 0 ? 256 : static_cast<quint8>(data[e + 1]);
        const quint64 bytes = u32(data, e + 8), offset = u32(data, e + 12);
        if (bytes == 0 || offset + bytes > static_cast<quint64>(data.size()))
            continue;
        if (width * height > bestArea) {
            best = i;
            bestArea = width * height;
            hotX = u16(data, e + 4);
            hotY = u16(data, e + 6);
        }
    }
    if (best < 0)
        return std::nullopt;

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    if (!reader.jumpToImage(best))
        return std::nullopt;
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    hotX = qBound(0, hotX, image.width() - 1);
    hotY = qBound(0, hotY, image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
