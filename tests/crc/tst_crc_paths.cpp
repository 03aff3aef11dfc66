// Every CRC-32 loop against the reference table loop, at every length and alignment.

#include "Crc32.h"
#include "CrcTestSupport.h"

#include <gtest/gtest.h>

namespace {

class CrcPath : public testing::TestWithParam<crc32::Path>
{
protected:
    void SetUp() override
    {
        if (!crc32::supported(GetParam()))
            GTEST_SKIP() << crc32::pathName(GetParam()) << " is not supported by this CPU";
    }
};

TEST_P(CrcPath, EveryLengthAtEveryOffset)
{
    constexpr std::size_t kMaxLength = 4096;
    constexpr std::size_t kOffsets = 64;
    const std::vector<std::uint8_t> data = randomBytes(kMaxLength + kOffsets, 1);
    std::mt19937 random(2);
    std::vector<std::uint32_t> expected(kMaxLength + 1);
    for (std::size_t offset = 0; offset < kOffsets; ++offset) {
        const std::uint8_t *start = data.data() + offset;
        // The reference for every prefix, one byte at a time.
        expected[0] = offset == 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(random());
        for (std::size_t n = 1; n <= kMaxLength; ++n)
            expected[n] = crc32::updatePortable(expected[n - 1], start + n - 1, 1);
        for (std::size_t n = 0; n <= kMaxLength; ++n) {
            const std::uint32_t got = crc32::updateWith(GetParam(), expected[0], start, n);
            if (got != expected[n])
                FAIL() << "length " << n << " at offset " << offset;
        }
    }
}

TEST_P(CrcPath, AnySplitGivesTheSameCrc)
{
    const std::vector<std::uint8_t> data = randomBytes((std::size_t(3) << 20) + 123, 3);
    const std::uint32_t whole = ~crc32::updatePortable(0xFFFFFFFFu, data.data(), data.size());
    std::mt19937 random(4);
    for (int round = 0; round < 12; ++round) {
        // Small, medium and large pieces, mixed.
        const std::size_t limits[] = {17, 300, 5000, 1 << 20};
        std::uint32_t reg = 0xFFFFFFFFu;
        std::size_t pos = 0;
        while (pos < data.size()) {
            const std::size_t piece = std::min(data.size() - pos, std::size_t(random() % limits[random() % 4]) + 1);
            reg = crc32::updateWith(GetParam(), reg, data.data() + pos, piece);
            pos += piece;
        }
        ASSERT_EQ(~reg, whole) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, CrcPath,
                         testing::Values(crc32::Path::Slicing8, crc32::Path::Pclmul, crc32::Path::VpclmulAvx2));

TEST(Crc32, DispatchUsesASupportedLoopWithTheCheckValue)
{
    EXPECT_TRUE(crc32::supported(crc32::fastestPath()));
    const std::vector<std::uint8_t> data = randomBytes(100000, 5);
    EXPECT_EQ(crc32::update(0xFFFFFFFFu, data.data(), data.size()),
              crc32::updatePortable(0xFFFFFFFFu, data.data(), data.size()));
    EXPECT_EQ(crc32::checksum("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32::checksum("", 0), 0u);
}

} // namespace
