#include "Crc32.h"

namespace crc32 {

std::uint32_t updatePortable(std::uint32_t reg, const std::uint8_t *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg;
}

std::uint32_t update(std::uint32_t reg, const std::uint8_t *data, std::size_t size)
{
    return updatePortable(reg, data, size);
}

} // namespace crc32
