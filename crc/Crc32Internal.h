#pragma once

#include <cstddef>
#include <cstdint>

// The loops behind crc32::update, shared between the files that build them.
namespace crc32 {

std::uint32_t updateSlicing8(std::uint32_t reg, const std::uint8_t *data, std::size_t size);
// Only to be called where the matching cpuHas... answers true.
std::uint32_t updatePclmul(std::uint32_t reg, const std::uint8_t *data, std::size_t size);
std::uint32_t updateVpclmulAvx2(std::uint32_t reg, const std::uint8_t *data, std::size_t size);

bool cpuHasPclmul();
bool cpuHasVpclmulAvx2();

} // namespace crc32
