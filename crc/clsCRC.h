#pragma once

#include "Crc16.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// What the engine's members give back: nothing, a signed 32-bit number, or a text.
using CrcResult = std::variant<std::monostate, std::int32_t, std::string>;

// A byte array as the engine takes it: it may never have been dimensioned (no bounds at all), and
// when it has bounds its first element may carry any index.
struct CrcByteArray
{
    std::optional<std::int32_t> lowerBound;
    std::vector<std::uint8_t> elements;

    static CrcByteArray undimensioned() { return {}; }
    static CrcByteArray of(std::vector<std::uint8_t> bytes, std::int32_t lowerBound = 0)
    {
        return {lowerBound, std::move(bytes)};
    }
};

// A failure the engine hands to its caller; number() is the classic run-time error number.
class CrcError : public std::runtime_error
{
public:
    enum class Kind { Overflow = 6, SubscriptOutOfRange = 9, TypeMismatch = 13, FileNotFound = 53 };

    CrcError(Kind kind, const std::string &message) : std::runtime_error(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }
    int number() const { return static_cast<int>(m_kind); }

private:
    Kind m_kind;
};

// The CRC engine: CRC-32/ISO-HDLC or CRC-16/XMODEM over byte arrays, texts and whole files,
// with a running register per algorithm so data can be fed in pieces.
class clsCRC
{
public:
    // Starts in CRC-32 mode with both registers reset, so Value() reads 0.
    clsCRC();
    ~clsCRC();
    clsCRC(const clsCRC &) = delete;
    clsCRC &operator=(const clsCRC &) = delete;

    // Feeds every element to the selected algorithm and returns Value(). An array that was never
    // dimensioned is a no-op; one with bounds but no element throws SubscriptOutOfRange untouched.
    CrcResult AddBytes(const CrcByteArray &byteArray);
    // Text is UTF-8; it is fed as Windows-1252 bytes, '?' standing for what that code page lacks.
    // An empty text feeds nothing.
    CrcResult AddString(const std::string &text);

    // Nonzero selects CRC-32, zero CRC-16; prepares it on first use and resets both registers.
    void Algorithm(std::int32_t newValue);
    // -1 for CRC-32, 0 for CRC-16.
    std::int32_t Algorithm() const;

    // Clear, then AddBytes.
    CrcResult CalculateBytes(const CrcByteArray &byteArray);
    // The CRC of a whole file in the selected algorithm. A missing file throws FileNotFound; an
    // empty one gives the empty result untouched; one that cannot be opened or read gives the
    // text "00000000" and leaves the registers as they were.
    CrcResult CalculateFile(const std::string &filename);
    // Clear, then AddString.
    CrcResult CalculateString(const std::string &text);

    // CRC-32: the complement of the register; CRC-16: its low 16 bits.
    CrcResult Value() const;
    // Stores the number into the selected register as it is (no complement). Throws TypeMismatch or
    // Overflow, register unchanged, when it does not convert to a signed 32-bit number.
    void Value(const CrcResult &newValue);
    template <std::integral T>
    requires(!std::same_as<T, bool>) void Value(T newValue)
    {
        if (!std::in_range<std::int32_t>(newValue))
            throw CrcError(CrcError::Kind::Overflow, "Overflow");
        storeValue(static_cast<std::int32_t>(newValue));
    }
    void Value(double newValue);

    // Resets both registers, whichever algorithm is selected.
    void Clear();

    // Called once per non-empty file, before it is opened, so a window can process pending events.
    void setEventPump(std::function<void()> pump);

private:
    void prepare16();
    void prepare32();
    void feed(const std::uint8_t *data, std::size_t size);
    void storeValue(std::int32_t value);

    bool m_is32Bit = true;
    std::uint32_t m_register16 = 0;
    bool m_ready16 = false;
    crc16::Table m_table16{};
    std::uint32_t m_register32 = 0xFFFFFFFFu;
    bool m_ready32 = false;
    // The engine's own copy of the constants; the compiled CRC-32 loops read crc32::Table32 or
    // fold without a table, so results never depend on this copy.
    std::array<std::uint32_t, 256> m_table32{};

    struct AlignedDelete
    {
        void operator()(std::uint8_t *block) const;
    };

    std::function<void()> m_pumpEvents;
    std::unique_ptr<std::uint8_t, AlignedDelete> m_readBuffer;
};

// Converts a number given as text the way the engine does (surrounding spaces, a sign, decimals
// rounded half to even). Throws CrcError TypeMismatch or Overflow.
std::int32_t crcTextToInt32(const std::string &text);
