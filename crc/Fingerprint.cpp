#include "Fingerprint.h"

std::string fingerprintText(std::uint32_t crc)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char text[8];
    std::size_t start = sizeof text;
    do {
        text[--start] = kDigits[crc & 0xFu];
        crc >>= 4;
    } while (crc != 0);
    return std::string(text + start, text + sizeof text);
}

std::string fingerprintText(const CrcResult &result)
{
    if (const auto *number = std::get_if<std::int32_t>(&result))
        return fingerprintText(static_cast<std::uint32_t>(*number));
    if (const auto *text = std::get_if<std::string>(&result))
        return fingerprintText(static_cast<std::uint32_t>(crcTextToInt32(*text)));
    return "0";
}

bool isReadFailure(const CrcResult &result)
{
    const auto *text = std::get_if<std::string>(&result);
    return text && *text == "00000000";
}
