#pragma once

#include <cstddef>
#include <cstdint>

std::uint32_t zlibCrc32(const std::uint8_t *data, std::size_t size);
