#pragma once

#include <cstdint>
#include <random>
#include <vector>

// Reproducible bytes: the same size and seed give the same contents.
inline std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}
