// CRC-32 throughput of each of our loops beside zlib's crc32_z() and ISA-L's crc32_gzip_refl(),
// over one 256 MiB buffer (memory-bound) and over 4 KiB (in cache, the cost of small blocks).

#include "Crc32.h"
#include "zlib_crc.h"

#include <benchmark/benchmark.h>
#include <isa-l/crc.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kBig = std::size_t(256) << 20;

const std::vector<std::uint8_t> &buffer()
{
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> bytes(kBig);
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (auto &b : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            b = static_cast<std::uint8_t>(state >> 32);
        }
        return bytes;
    }();
    return data;
}

template <typename Crc> void run(benchmark::State &state, Crc crc)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::uint8_t *data = buffer().data();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(data, size));
    const double bytes = double(size) * double(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["GB/s"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}

void ours(benchmark::State &state, crc32::Path path)
{
    if (!crc32::supported(path)) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    run(state, [path](const std::uint8_t *data, std::size_t size) {
        return ~crc32::updateWith(path, 0xFFFFFFFFu, data, size);
    });
}

void BM_table(benchmark::State &state)
{
    ours(state, crc32::Path::Table);
}
void BM_slicing8(benchmark::State &state)
{
    ours(state, crc32::Path::Slicing8);
}
void BM_pclmul(benchmark::State &state)
{
    ours(state, crc32::Path::Pclmul);
}
void BM_vpclmul_avx2(benchmark::State &state)
{
    ours(state, crc32::Path::VpclmulAvx2);
}

void BM_update(benchmark::State &state)
{
    state.SetLabel(crc32::pathName(crc32::fastestPath()));
    run(state, [](const std::uint8_t *data, std::size_t size) { return crc32::checksum(data, size); });
}

void BM_zlib(benchmark::State &state)
{
    run(state, [](const std::uint8_t *data, std::size_t size) { return zlibCrc32(data, size); });
}

void BM_isal(benchmark::State &state)
{
    run(state, [](const std::uint8_t *data, std::size_t size) { return crc32_gzip_refl(0, data, size); });
}

// CPU time, not wall time: the figures stay meaningful on a busy machine.
#define CRC_SIZES Arg(kBig)->Arg(4096)
BENCHMARK(BM_table)->CRC_SIZES;
BENCHMARK(BM_slicing8)->CRC_SIZES;
BENCHMARK(BM_pclmul)->CRC_SIZES;
BENCHMARK(BM_vpclmul_avx2)->CRC_SIZES;
BENCHMARK(BM_update)->CRC_SIZES;
BENCHMARK(BM_zlib)->CRC_SIZES;
BENCHMARK(BM_isal)->CRC_SIZES;

// A throughput figure means nothing if the answers differ.
bool allAgree()
{
    const std::uint8_t *data = buffer().data();
    const std::uint32_t reference = ~crc32::updatePortable(0xFFFFFFFFu, data, kBig);
    bool same = zlibCrc32(data, kBig) == reference && crc32_gzip_refl(0, data, kBig) == reference
        && crc32::checksum(data, kBig) == reference;
    for (auto path : {crc32::Path::Slicing8, crc32::Path::Pclmul, crc32::Path::VpclmulAvx2})
        if (crc32::supported(path))
            same = same && ~crc32::updateWith(path, 0xFFFFFFFFu, data, kBig) == reference;
    return same;
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!allAgree()) {
        std::fprintf(stderr, "bench_crc: the CRC-32 implementations disagree\n");
        return 1;
    }
    std::printf("fast path on this CPU: %s\n", crc32::pathName(crc32::fastestPath()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
