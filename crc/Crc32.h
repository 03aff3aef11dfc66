#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC-32/ISO-HDLC update loops. The register is held uncomplemented, as clsCRC keeps it:
// start from 0xFFFFFFFF and complement the final register to get the CRC.
namespace crc32 {

// The table of the reflected polynomial 0xEDB88320, as constants.
extern const std::array<std::uint32_t, 256> Table32;

// The reference table loop.
std::uint32_t updatePortable(std::uint32_t reg, const std::uint8_t *data, std::size_t size);
// The fastest loop this CPU supports, bit-identical to updatePortable.
std::uint32_t update(std::uint32_t reg, const std::uint8_t *data, std::size_t size);

inline std::uint32_t checksum(const void *data, std::size_t size)
{
    return ~update(0xFFFFFFFFu, static_cast<const std::uint8_t *>(data), size);
}

// Every loop the library carries, so tests and benchmarks can hold each one against the reference.
enum class Path {
    Table,       // updatePortable
    Slicing8,    // eight tables, eight bytes a step: the fallback without carry-less multiply
    Pclmul,      // PCLMULQDQ folding over 128-bit registers
    VpclmulAvx2, // VPCLMULQDQ folding over 256-bit registers
};

// True when this CPU (and the operating system) can run the loop.
bool supported(Path path);
// Runs the given loop; the caller checks supported() first.
std::uint32_t updateWith(Path path, std::uint32_t reg, const std::uint8_t *data, std::size_t size);
// The loop update() uses on this machine.
Path fastestPath();
const char *pathName(Path path);

} // namespace crc32
