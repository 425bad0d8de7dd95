// The uncompressed arms of to_rgba8 against memcpy of the RGBA8 output's size: how close each
// conversion comes to moving its output bytes once. The pixels are a photo-like image at 256 x
// 256, the largest uncompressed size of the sample archive.
//   plain/<format>/ours   plain/any/memcpy
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "bench_data.hpp"
#include "file_type/texture.hpp"
#include "texture_records.hpp"

namespace ferngate_bench {

namespace {

using ferngate_dat::Texture;
namespace raw = ferngate_testing::raw_format;

constexpr int kSide = 256;

struct Format {
  const char* name;
  std::uint32_t raw;
  bool alpha;  // painted from the image with alpha
};

const Format kFormats[] = {
    {"R8G8B8", raw::kR8G8B8, false},
    {"A8R8G8B8", raw::kA8R8G8B8, true},
    {"R5G6B5", raw::kR5G6B5, false},
    {"A4R4G4B4", raw::kA4R4G4B4, true},
    {"A8", raw::kA8, false},
    {"CustomLscapeR8G8B8", raw::kLscapeR8G8B8, false},
    {"CustomLscapeAlpha", raw::kLscapeAlpha, false},
};

constexpr std::size_t kOutputBytes = std::size_t{kSide} * kSide * 4;

void plain_ours(benchmark::State& state, const Format& format) {
  Texture texture;
  texture.id = 0x06000001;
  texture.width = kSide;
  texture.height = kSide;
  texture.format_raw = format.raw;
  texture.source_data = pack_pixels(photo_like(kSide, format.alpha), format.raw);
  texture.length = static_cast<std::int32_t>(texture.source_data.size());
  const auto check = texture.to_rgba8(no_palette);
  if (!check || check->size() != kOutputBytes) {
    state.SkipWithError("to_rgba8 failed or gave the wrong size");
    return;
  }
  time_to_rgba8(state, texture, kOutputBytes);
}

// Copies an RGBA8 image of the same size into a buffer allocated once.
void plain_memcpy(benchmark::State& state, const Format& /*format*/) {
  const std::vector<std::uint8_t>& source = photo_like(kSide, true).rgba;
  std::vector<std::uint8_t> out(kOutputBytes);
  const PageFaults faults;
  for (auto _ : state) {
    benchmark::DoNotOptimize(source.data());
    std::memcpy(out.data(), source.data(), kOutputBytes);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, kOutputBytes, kOutputBytes / 4);
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const Format& format : kFormats) {
    benchmark::RegisterBenchmark(fmt::format("plain/{}/ours", format.name).c_str(), plain_ours,
                                 format);
  }
  // One memcpy serves every format: the output size is the same.
  benchmark::RegisterBenchmark("plain/any/memcpy", plain_memcpy, kFormats[0]);
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
