// The DXT1/3/5 decoders against libsquish (one squish::Decompress per block, its 4 x 4 pixels
// copied into the image, as squish::DecompressImage does but on this thread only) and against the
// plain per-texel reference decoders, on stb_dxt blocks of photo-like images.
//   dxt<N>/ours/<side>   dxt<N>/squish/<side>   dxt<N>/reference/<side>
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <squish.h>

#include "bench_data.hpp"
#include "file_type/dxt.hpp"
#include "reference_decoders.hpp"

namespace ferngate_bench {

namespace {

struct Variant {
  BlockLayout layout;
  int number;  // 1, 3 or 5, as the names show it
  int squish_flags;
  std::size_t block_bytes;
  std::vector<std::uint8_t> (*ours)(std::span<const std::uint8_t>, std::uint32_t, std::uint32_t);
  std::vector<std::uint8_t> (*reference)(std::span<const std::uint8_t>, std::uint32_t,
                                         std::uint32_t);
};

const Variant kVariants[] = {
    {BlockLayout::Dxt1, 1, squish::kDxt1, 8, ferngate_dat::decompress_dxt1,
     ferngate_testing::reference_decompress_dxt1},
    {BlockLayout::Dxt3, 3, squish::kDxt3, 16, ferngate_dat::decompress_dxt3,
     ferngate_testing::reference_decompress_dxt3},
    {BlockLayout::Dxt5, 5, squish::kDxt5, 16, ferngate_dat::decompress_dxt5,
     ferngate_testing::reference_decompress_dxt5},
};

std::size_t rgba_bytes(int side) {
  return static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 4;
}

// Checked once against the reference decoder, so that a broken decoder is not timed.
void dxt_ours(benchmark::State& state, const Variant& v, int side) {
  const auto& blocks = dxt_blocks(v.layout, side);
  const auto size = static_cast<std::uint32_t>(side);
  if (v.ours(blocks, size, size) != v.reference(blocks, size, size)) {
    state.SkipWithError("the decoder and the reference decoder disagree");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    auto out = v.ours(blocks, size, size);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, rgba_bytes(side), rgba_bytes(side) / 4);
}

void dxt_reference(benchmark::State& state, const Variant& v, int side) {
  const auto& blocks = dxt_blocks(v.layout, side);
  const auto size = static_cast<std::uint32_t>(side);
  for (auto _ : state) {
    auto out = v.reference(blocks, size, size);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_throughput(state, rgba_bytes(side), rgba_bytes(side) / 4);
}

// The peer writes into an image allocated once, as its interface lets a caller do.
void dxt_squish(benchmark::State& state, const Variant& v, int side) {
  const auto& blocks = dxt_blocks(v.layout, side);
  const auto stride = static_cast<std::size_t>(side) * 4;
  const auto blocks_across = static_cast<std::size_t>(side) / 4;
  std::vector<std::uint8_t> out(rgba_bytes(side));
  const PageFaults faults;
  for (auto _ : state) {
    const std::uint8_t* block = blocks.data();
    for (std::size_t by = 0; by < blocks_across; ++by) {
      for (std::size_t bx = 0; bx < blocks_across; ++bx, block += v.block_bytes) {
        squish::u8 texels[64];
        squish::Decompress(texels, block, v.squish_flags);
        std::uint8_t* dst = out.data() + by * 4 * stride + bx * 16;
        for (std::size_t row = 0; row < 4; ++row) {
          std::memcpy(dst + row * stride, texels + row * 16, 16);
        }
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, rgba_bytes(side), rgba_bytes(side) / 4);
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const Variant& v : kVariants) {
    for (const int side : kSweepSides) {
      benchmark::RegisterBenchmark(fmt::format("dxt{}/ours/{}", v.number, side).c_str(), dxt_ours,
                                   v, side);
      benchmark::RegisterBenchmark(fmt::format("dxt{}/squish/{}", v.number, side).c_str(),
                                   dxt_squish, v, side);
      benchmark::RegisterBenchmark(fmt::format("dxt{}/reference/{}", v.number, side).c_str(),
                                   dxt_reference, v, side);
    }
  }
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
