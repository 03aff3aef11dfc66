#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32/ISO-HDLC update loops. The register is held uncomplemented, as clsCRC keeps it:
// start from 0xFFFFFFFF and complement the final register to get the CRC.
namespace crc32 {

// The reference table loop.
std::uint32_t updatePortable(std::uint32_t reg, const std::uint8_t *data, std::size_t size);
// The fastest loop this CPU supports, bit-identical to updatePortable.
std::uint32_t update(std::uint32_t reg, const std::uint8_t *data, std::size_t size);

inline std::uint32_t checksum(const void *data, std::size_t size)
{
    return ~update(0xFFFFFFFFu, static_cast<const std::uint8_t *>(data), size);
}

} // namespace crc32
