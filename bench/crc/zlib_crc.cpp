// zlib declares a function named crc32, which collides with our namespace: it lives apart.
#include "zlib_crc.h"

#include <zlib.h>

std::uint32_t zlibCrc32(const std::uint8_t *data, std::size_t size)
{
    return static_cast<std::uint32_t>(crc32_z(0, data, size));
}
