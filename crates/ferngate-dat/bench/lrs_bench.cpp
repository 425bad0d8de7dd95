// decompress_lrs against LZ4_decompress_safe on the same payloads (each compressed by its own
// encoder: compress_lrs and LZ4_compress_default), and against the plain byte-at-a-time
// reference decoder.
//   lrs/ours/<payload>   lrs/lz4/<payload>   lrs/reference/<payload>
// Every arm produces the same decompressed bytes, so time ratios are throughput ratios.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <lz4.h>

#include "bench_data.hpp"
#include "lzss_encoder.hpp"
#include "reference_decoders.hpp"
#include "texture_records.hpp"
#include "utils.hpp"

namespace ferngate_bench {

namespace {

struct Payload {
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> lrs;  // compress_lrs(raw): the output size, then the groups
  std::vector<std::uint8_t> lz4;  // LZ4_compress_default(raw), a raw LZ4 block
};

// The payloads, named as the benchmarks show them:
//   dxt5_512      the DXT5 blocks of a photo-like 512 x 512 image with alpha (256 KiB)
//   flat_bgra_256 a flat-art 256 x 256 image in A8R8G8B8 byte order, B G R A (256 KiB)
//   dxt1_512      the DXT1 blocks of a photo-like 512 x 512 image (128 KiB)
//   repetitive    a 256 x 256 single-colour image with a thin grid, B G R A (256 KiB)
constexpr const char* kPayloadNames[] = {"dxt5_512", "flat_bgra_256", "dxt1_512", "repetitive"};

std::vector<std::uint8_t> raw_payload(const std::string& name) {
  namespace raw = ferngate_testing::raw_format;
  if (name == "dxt5_512") return dxt_blocks(BlockLayout::Dxt5, 512);
  if (name == "flat_bgra_256") return pack_pixels(flat_art(256), raw::kA8R8G8B8);
  if (name == "dxt1_512") return dxt_blocks(BlockLayout::Dxt1, 512);
  return pack_pixels(repetitive(256), raw::kA8R8G8B8);
}

const Payload& payload(const std::string& name) {
  static std::map<std::string, Payload> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Payload p;
  p.raw = raw_payload(name);
  p.lrs = ferngate_testing::compress_lrs(p.raw);
  const int raw_size = static_cast<int>(p.raw.size());
  p.lz4.resize(static_cast<std::size_t>(LZ4_compressBound(raw_size)));
  const int lz4_size = LZ4_compress_default(reinterpret_cast<const char*>(p.raw.data()),
                                            reinterpret_cast<char*>(p.lz4.data()), raw_size,
                                            static_cast<int>(p.lz4.size()));
  if (lz4_size <= 0) throw std::runtime_error("LZ4_compress_default failed");
  p.lz4.resize(static_cast<std::size_t>(lz4_size));
  return cache.emplace(name, std::move(p)).first->second;
}

void report_sizes(benchmark::State& state, const Payload& p, std::size_t stored) {
  set_throughput(state, p.raw.size(), 0);
  state.counters["raw_bytes"] = static_cast<double>(p.raw.size());
  state.counters["stored_bytes"] = static_cast<double>(stored);
}

void lrs_ours(benchmark::State& state, const std::string& name) {
  const Payload& p = payload(name);
  if (ferngate_dat::decompress_lrs(p.lrs) != p.raw) {
    state.SkipWithError("decompress_lrs does not give the payload back");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    auto out = ferngate_dat::decompress_lrs(p.lrs);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  report_sizes(state, p, p.lrs.size());
}

void lrs_reference(benchmark::State& state, const std::string& name) {
  const Payload& p = payload(name);
  for (auto _ : state) {
    auto out = ferngate_testing::reference_decompress_lrs(p.lrs);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  report_sizes(state, p, p.lrs.size());
}

// The peer decodes into a buffer allocated once, as its interface lets a caller do.
void lrs_lz4(benchmark::State& state, const std::string& name) {
  const Payload& p = payload(name);
  std::vector<std::uint8_t> out(p.raw.size());
  const auto decode = [&] {
    return LZ4_decompress_safe(reinterpret_cast<const char*>(p.lz4.data()),
                               reinterpret_cast<char*>(out.data()), static_cast<int>(p.lz4.size()),
                               static_cast<int>(out.size()));
  };
  if (decode() != static_cast<int>(p.raw.size()) || out != p.raw) {
    state.SkipWithError("LZ4_decompress_safe does not give the payload back");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  report_sizes(state, p, p.lz4.size());
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const char* name : kPayloadNames) {
    const std::string payload_name = name;
    benchmark::RegisterBenchmark(fmt::format("lrs/ours/{}", name).c_str(), lrs_ours, payload_name);
    benchmark::RegisterBenchmark(fmt::format("lrs/lz4/{}", name).c_str(), lrs_lz4, payload_name);
    benchmark::RegisterBenchmark(fmt::format("lrs/reference/{}", name).c_str(), lrs_reference,
                                 payload_name);
  }
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
