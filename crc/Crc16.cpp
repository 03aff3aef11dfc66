#include "Crc16.h"

namespace crc16 {

Table makeTable()
{
    Table table{};
    for (std::int32_t i = 0; i < 256; ++i) {
        std::int32_t crc = 0;
        std::int32_t c = i * 256;
        for (int bit = 0; bit < 8; ++bit) {
            crc = ((crc ^ c) & 0x8000) == 0x8000 ? (crc * 2) ^ 0x1021 : crc * 2;
            c *= 2;
        }
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

std::uint32_t update(std::uint32_t reg, const Table &table, const std::uint8_t *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t index = ((reg >> 8) ^ data[i]) & 0xFFu;
        reg = (static_cast<std::uint32_t>(table[index]) & 0xFFFFu) ^ ((reg & 0xFFu) << 8);
    }
    return size == 0 ? reg : reg & 0xFFFFu;
}

} // namespace crc16
