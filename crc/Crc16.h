#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC-16/XMODEM as clsCRC runs it: MSB first, polynomial 0x1021, register starting at 0.
namespace crc16 {

using Table = std::array<std::int32_t, 256>;

// The entries are left unmasked (entry 128 is 0x89188); only their low 16 bits take part.
Table makeTable();

// Runs the update over every byte; afterwards only the low 16 bits of the register can be set.
// With no bytes the register comes back untouched.
std::uint32_t update(std::uint32_t reg, const Table &table, const std::uint8_t *data, std::size_t size);

} // namespace crc16
