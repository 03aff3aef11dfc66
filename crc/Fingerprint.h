#pragma once

#include "clsCRC.h"

#include <cstdint>
#include <string>

// The search's fingerprint of a CalculateFile result: upper-case hexadecimal without leading zeros,
// a negative number as its eight-digit two's complement. The empty result and the failure text
// "00000000" both give "0". Any other text is read as a number first (CrcError when it is none).
std::string fingerprintText(const CrcResult &result);
std::string fingerprintText(std::uint32_t crc);

// True for the result CalculateFile gives when a file could not be opened or read.
bool isReadFailure(const CrcResult &result);
