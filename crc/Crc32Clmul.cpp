// CRC-32 by carry-less multiplication: the data is folded 128 bits at a time into a few wide
// accumulators, which are then folded into one and reduced to 32 bits with a Barrett step.
// Every function carries its own target attribute, so the build needs no global -m flags and the
// code only runs after the CPU check has said yes.

#include "Crc32Internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TWINFOLD_CRC32_X86 1
#else
#define TWINFOLD_CRC32_X86 0
#endif

namespace crc32 {

#if TWINFOLD_CRC32_X86

namespace {

constexpr std::uint64_t kPoly = 0x104C11DB7u;

constexpr std::uint64_t reflect(std::uint64_t value, int bits)
{
    std::uint64_t out = 0;
    for (int b = 0; b < bits; ++b)
        if ((value >> b) & 1u)
            out |= std::uint64_t(1) << (bits - 1 - b);
    return out;
}

// x^n mod P, in the reflected form the folding multiplies by (bit-reflected, shifted left by one).
constexpr std::uint64_t xPow(unsigned n)
{
    std::uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x100000000u)
            r ^= kPoly;
    }
    return reflect(r, 32) << 1;
}

// The Barrett constant: x^64 divided by P, reflected over 33 bits.
constexpr std::uint64_t barrettMu()
{
    // Long division; w holds the 33 leading coefficients of what is left of x^64.
    std::uint64_t w = std::uint64_t(1) << 32;
    std::uint64_t quotient = 0;
    for (int i = 32; i >= 0; --i) {
        if ((w >> 32) & 1u) {
            quotient |= std::uint64_t(1) << i;
            w ^= kPoly;
        }
        w <<= 1;
    }
    return reflect(quotient, 33);
}

constexpr std::uint64_t kPolyReflected = reflect(kPoly, 33);
constexpr std::uint64_t kMu = barrettMu();

// The published values for the 512-bit and 128-bit folds; a slip in the generator stops the build.
static_assert(xPow(544) == 0x154442BD4u && xPow(480) == 0x1C6E41596u);
static_assert(xPow(160) == 0x1751997D0u && xPow(96) == 0x0CCAA009Eu && xPow(64) == 0x163CD6124u);
static_assert(kPolyReflected == 0x1DB710641u && kMu == 0x1F7011641u);

// A fold over a distance of d bits multiplies the low half by x^(d+32) and the high half by x^(d-32).
constexpr long long foldLow(unsigned bits)
{
    return static_cast<long long>(xPow(bits + 32));
}
constexpr long long foldHigh(unsigned bits)
{
    return static_cast<long long>(xPow(bits - 32));
}

[[gnu::target("pclmul,sse4.1")]] inline __m128i load128(const std::uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

[[gnu::target("pclmul,sse4.1")]] inline __m128i fold128(__m128i acc, __m128i k, __m128i next)
{
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// 128 bits of folded message down to the 32-bit register.
[[gnu::target("pclmul,sse4.1")]] inline std::uint32_t reduce128(__m128i x)
{
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    const __m128i k128 = _mm_set_epi64x(foldHigh(128), foldLow(128));
    __m128i t = _mm_clmulepi64_si128(x, k128, 0x10);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), t);

    const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(xPow(64)));
    t = _mm_srli_si128(x, 4);
    x = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k64, 0x00);
    x = _mm_xor_si128(x, t);

    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kMu), static_cast<long long>(kPolyReflected));
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x, 1));
}

// Folds whole 16-byte blocks into acc, then reduces; the caller finishes the last size % 16 bytes.
[[gnu::target("pclmul,sse4.1")]] inline std::uint32_t finish128(__m128i acc, const std::uint8_t *&p, std::size_t &size)
{
    const __m128i k128 = _mm_set_epi64x(foldHigh(128), foldLow(128));
    while (size >= 16) {
        acc = fold128(acc, k128, load128(p));
        p += 16;
        size -= 16;
    }
    return reduce128(acc);
}

[[gnu::target("avx2,vpclmulqdq,pclmul,sse4.1")]] inline __m256i load256(const std::uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

[[gnu::target("avx2,vpclmulqdq,pclmul,sse4.1")]] inline __m256i fold256(__m256i acc, __m256i k, __m256i next)
{
    const __m256i lo = _mm256_clmulepi64_epi128(acc, k, 0x00);
    const __m256i hi = _mm256_clmulepi64_epi128(acc, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(lo, hi), next);
}

} // namespace

[[gnu::target("pclmul,sse4.1")]] std::uint32_t updatePclmul(std::uint32_t reg, const std::uint8_t *p, std::size_t size)
{
    if (size < 64)
        return updateSlicing8(reg, p, size);

    __m128i x0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = load128(p + 16);
    __m128i x2 = load128(p + 32);
    __m128i x3 = load128(p + 48);
    p += 64;
    size -= 64;

    const __m128i k512 = _mm_set_epi64x(foldHigh(512), foldLow(512));
    while (size >= 64) {
        x0 = fold128(x0, k512, load128(p));
        x1 = fold128(x1, k512, load128(p + 16));
        x2 = fold128(x2, k512, load128(p + 32));
        x3 = fold128(x3, k512, load128(p + 48));
        p += 64;
        size -= 64;
    }

    const __m128i k128 = _mm_set_epi64x(foldHigh(128), foldLow(128));
    x1 = fold128(x0, k128, x1);
    x2 = fold128(x1, k128, x2);
    x3 = fold128(x2, k128, x3);
    reg = finish128(x3, p, size);
    return updateSlicing8(reg, p, size);
}

[[gnu::target("avx2,vpclmulqdq,pclmul,sse4.1")]] std::uint32_t updateVpclmulAvx2(std::uint32_t reg,
                                                                                 const std::uint8_t *p,
                                                                                 std::size_t size)
{
    if (size < 256)
        return updatePclmul(reg, p, size);

    const __m256i start = _mm256_inserti128_si256(_mm256_setzero_si256(), _mm_cvtsi32_si128(static_cast<int>(reg)), 0);
    __m256i y0 = _mm256_xor_si256(load256(p), start);
    __m256i y1 = load256(p + 32);
    __m256i y2 = load256(p + 64);
    __m256i y3 = load256(p + 96);
    __m256i y4 = load256(p + 128);
    __m256i y5 = load256(p + 160);
    __m256i y6 = load256(p + 192);
    __m256i y7 = load256(p + 224);
    p += 256;
    size -= 256;

    // Eight accumulators, so the multiplier's latency hides behind independent work.
    const __m256i k2048 = _mm256_set_epi64x(foldHigh(2048), foldLow(2048), foldHigh(2048), foldLow(2048));
    while (size >= 256) {
        y0 = fold256(y0, k2048, load256(p));
        y1 = fold256(y1, k2048, load256(p + 32));
        y2 = fold256(y2, k2048, load256(p + 64));
        y3 = fold256(y3, k2048, load256(p + 96));
        y4 = fold256(y4, k2048, load256(p + 128));
        y5 = fold256(y5, k2048, load256(p + 160));
        y6 = fold256(y6, k2048, load256(p + 192));
        y7 = fold256(y7, k2048, load256(p + 224));
        p += 256;
        size -= 256;
    }

    const __m256i k256 = _mm256_set_epi64x(foldHigh(256), foldLow(256), foldHigh(256), foldLow(256));
    y1 = fold256(y0, k256, y1);
    y2 = fold256(y1, k256, y2);
    y3 = fold256(y2, k256, y3);
    y4 = fold256(y3, k256, y4);
    y5 = fold256(y4, k256, y5);
    y6 = fold256(y5, k256, y6);
    y7 = fold256(y6, k256, y7);

    // Whole 32-byte blocks still fit the wide register.
    while (size >= 32) {
        y7 = fold256(y7, k256, load256(p));
        p += 32;
        size -= 32;
    }

    const __m128i k128 = _mm_set_epi64x(foldHigh(128), foldLow(128));
    const __m128i acc = fold128(_mm256_castsi256_si128(y7), k128, _mm256_extracti128_si256(y7, 1));
    reg = finish128(acc, p, size);
    return updateSlicing8(reg, p, size);
}

bool cpuHasPclmul()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool cpuHasVpclmulAvx2()
{
    __builtin_cpu_init();
    return cpuHasPclmul() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
}

#else

std::uint32_t updatePclmul(std::uint32_t reg, const std::uint8_t *data, std::size_t size)
{
    return updateSlicing8(reg, data, size);
}

std::uint32_t updateVpclmulAvx2(std::uint32_t reg, const std::uint8_t *data, std::size_t size)
{
    return updateSlicing8(reg, data, size);
}

bool cpuHasPclmul()
{
    return false;
}

bool cpuHasVpclmulAvx2()
{
    return false;
}

#endif

} // namespace crc32
