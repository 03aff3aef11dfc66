// The engine's members: check values, registers, conversions, byte arrays and fingerprint texts.

#include "Fingerprint.h"
#include "clsCRC.h"

#include <gtest/gtest.h>

namespace {

std::int32_t number(const CrcResult &result)
{
    EXPECT_TRUE(std::holds_alternative<std::int32_t>(result));
    return std::holds_alternative<std::int32_t>(result) ? std::get<std::int32_t>(result) : 0;
}

struct CheckValue
{
    std::int32_t algorithm;
    const char *text;
    std::int32_t value;
};

class CrcCheckValues : public testing::TestWithParam<CheckValue>
{};

TEST_P(CrcCheckValues, WholeAndInPiecesGiveTheCatalogueValue)
{
    const CheckValue row = GetParam();
    clsCRC crc;
    crc.Algorithm(row.algorithm);
    EXPECT_EQ(number(crc.CalculateString(row.text)), row.value);

    const std::string text = row.text;
    crc.Clear();
    crc.AddString(text.substr(0, 2));
    EXPECT_EQ(number(crc.AddString(text.substr(2))), row.value);
    EXPECT_EQ(number(crc.Value()), row.value);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, CrcCheckValues,
                         testing::Values(CheckValue{1, "abc", 891568578}, CheckValue{1, "123456789", -873187034},
                                         CheckValue{0, "abc", 40406}, CheckValue{0, "123456789", 12739}));

TEST(ClsCrc, AlgorithmReadsBackAsFlagAndResetsRegisters)
{
    clsCRC crc; // a new instance is CRC-32 at zero
    EXPECT_EQ(crc.Algorithm(), -1);
    EXPECT_EQ(number(crc.Value()), 0);
    crc.AddString("abc");
    crc.Algorithm(0);
    EXPECT_EQ(crc.Algorithm(), 0);
    EXPECT_EQ(number(crc.Value()), 0);

    crc.AddString("abc");
    crc.Algorithm(7);
    EXPECT_EQ(crc.Algorithm(), -1);
    EXPECT_EQ(number(crc.Value()), 0);

    // Both registers are reset, not only the selected one.
    crc.AddString("abc");
    crc.Algorithm(0);
    EXPECT_EQ(number(crc.AddString("abc")), 40406);
    crc.Algorithm(1);
    EXPECT_EQ(number(crc.AddString("abc")), 891568578);
}

TEST(ClsCrc, ValueSetStoresTheRegisterUncomplemented)
{
    clsCRC crc;
    crc.Value(5);
    EXPECT_EQ(number(crc.Value()), -6);
    crc.Value(CrcResult{std::string(" -7 ")});
    EXPECT_EQ(number(crc.Value()), 6);

    crc.Algorithm(0);
    crc.Value(74565);
    EXPECT_EQ(number(crc.Value()), 9029);
    // The stray upper bits do not survive the next byte.
    crc.Value(0);
    const std::int32_t fromZero = number(crc.AddString("x"));
    crc.Value(0x7FFF0000);
    EXPECT_EQ(number(crc.AddString("x")), fromZero);
}

TEST(ClsCrc, ValueSetRejectsWhatIsNoInt32AndKeepsTheRegister)
{
    clsCRC crc;
    crc.Value(41);
    const auto expectError = [&](auto &&newValue, CrcError::Kind kind) {
        try {
            crc.Value(newValue);
            ADD_FAILURE() << "no error";
        } catch (const CrcError &error) {
            EXPECT_EQ(error.kind(), kind);
        }
        EXPECT_EQ(number(crc.Value()), ~41);
    };
    expectError(CrcResult{std::string("abc")}, CrcError::Kind::TypeMismatch);
    expectError(CrcResult{std::string("2147483648")}, CrcError::Kind::Overflow);
    expectError(1e300, CrcError::Kind::Overflow);
    crc.Value(CrcResult{std::string("-2147483648")});
    EXPECT_EQ(number(crc.Value()), 2147483647);
}

TEST(ClsCrc, ByteArraysOfEveryShape)
{
    clsCRC crc;
    crc.AddString("ab");
    const std::int32_t before = number(crc.Value());

    // Never dimensioned: nothing happens, no error.
    EXPECT_EQ(number(crc.AddBytes(CrcByteArray::undimensioned())), before);

    // Bounds without an element: error 9 before any byte, register untouched.
    try {
        crc.AddBytes(CrcByteArray::of({}, 0));
        ADD_FAILURE() << "no error";
    } catch (const CrcError &error) {
        EXPECT_EQ(error.number(), 9);
    }
    EXPECT_EQ(number(crc.Value()), before);
    EXPECT_THROW(crc.CalculateBytes(CrcByteArray::of({}, 1)), CrcError);
    EXPECT_EQ(number(crc.Value()), 0);

    // Any lower bound: exactly the elements count.
    EXPECT_EQ(number(crc.CalculateBytes(CrcByteArray::of({'a', 'b', 'c'}, 5))), 891568578);
}

TEST(ClsCrc, TextIsFedInTheEightBitCodePage)
{
    clsCRC crc;
    const std::int32_t e = number(crc.CalculateBytes(CrcByteArray::of({0xE9, 0x80, '?'})));
    EXPECT_EQ(number(crc.CalculateString("\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD")), e); // e-acute, euro, CJK
    EXPECT_EQ(number(crc.CalculateString("\xC3\xA9\xE2\x82\xAC\xFF")), e);         // malformed byte
    EXPECT_EQ(number(crc.CalculateString("")), 0);
}

struct FingerprintRow
{
    CrcResult result;
    const char *text;
};

class Fingerprints : public testing::TestWithParam<FingerprintRow>
{};

TEST_P(Fingerprints, HexWithoutLeadingZeros)
{
    EXPECT_EQ(fingerprintText(GetParam().result), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Results, Fingerprints,
                         testing::Values(FingerprintRow{891568578, "352441C2"}, FingerprintRow{-873187034, "CBF43926"},
                                         FingerprintRow{255, "FF"}, FingerprintRow{0, "0"},
                                         FingerprintRow{std::numeric_limits<std::int32_t>::min(), "80000000"},
                                         FingerprintRow{std::monostate{}, "0"},
                                         FingerprintRow{std::string("00000000"), "0"}));

TEST(Fingerprint, PlainCrcAndFailureText)
{
    EXPECT_EQ(fingerprintText(0x0000ABCDu), "ABCD");
    EXPECT_TRUE(isReadFailure(std::string("00000000")));
    EXPECT_FALSE(isReadFailure(std::monostate{}));
    EXPECT_FALSE(isReadFailure(0));
    EXPECT_THROW(fingerprintText(std::string("not a number")), CrcError);
}

} // namespace
