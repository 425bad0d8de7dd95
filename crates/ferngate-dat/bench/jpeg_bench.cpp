// The JPEG arm of to_rgba8 (a CustomRawJpeg texture) against TurboJPEG's tjDecompress2 to
// TJPF_RGBA, on libjpeg-turbo streams of photo-like images, colour and greyscale. Both decode
// with libjpeg-turbo's defaults (accurate integer IDCT, smooth upsampling), so they do the same
// work and give the same pixels (the `same_pixels` counter says so).
//   jpeg_rgb/ours/<side>   jpeg_rgb/turbojpeg/<side>   (and jpeg_grey/...)
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <turbojpeg.h>

#include "bench_data.hpp"
#include "file_type/texture.hpp"
#include "texture_records.hpp"

namespace ferngate_bench {

namespace {

using ferngate_dat::Texture;

std::size_t rgba_bytes(int side) {
  return static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 4;
}

Texture jpeg_texture(int side, bool greyscale) {
  Texture texture;
  texture.id = 0x06000001;
  texture.width = side;
  texture.height = side;
  texture.format_raw = ferngate_testing::raw_format::kJpeg;
  texture.source_data = jpeg_stream(side, greyscale);
  texture.length = static_cast<std::int32_t>(texture.source_data.size());
  return texture;
}

// A TurboJPEG decompressor, destroyed with its scope.
class TurboDecoder {
 public:
  TurboDecoder() : handle_(tjInitDecompress()) {}
  TurboDecoder(const TurboDecoder&) = delete;
  TurboDecoder& operator=(const TurboDecoder&) = delete;
  ~TurboDecoder() {
    if (handle_ != nullptr) tjDestroy(handle_);
  }

  // Decodes `stream` into `out`, side x side RGBA pixels; false on any error.
  bool decode(const std::vector<std::uint8_t>& stream, int side, std::vector<std::uint8_t>& out) {
    return handle_ != nullptr && tjDecompress2(handle_, stream.data(), stream.size(), out.data(),
                                               side, 0, side, TJPF_RGBA, 0) == 0;
  }

 private:
  tjhandle handle_;
};

void jpeg_ours(benchmark::State& state, int side, bool greyscale) {
  const Texture texture = jpeg_texture(side, greyscale);
  const auto first = texture.to_rgba8(no_palette);
  if (!first || first->size() != rgba_bytes(side)) {
    state.SkipWithError("to_rgba8 failed or gave the wrong size");
    return;
  }
  std::vector<std::uint8_t> peer(rgba_bytes(side));
  TurboDecoder decoder;
  const bool same = decoder.decode(texture.source_data, side, peer) && peer == *first;
  time_to_rgba8(state, texture, rgba_bytes(side));
  state.counters["same_pixels"] = same ? 1 : 0;
  state.counters["stream_bytes"] = static_cast<double>(texture.source_data.size());
}

// The peer reuses one decompressor and one output buffer, as its interface lets a caller do.
void jpeg_turbo(benchmark::State& state, int side, bool greyscale) {
  const std::vector<std::uint8_t>& stream = jpeg_stream(side, greyscale);
  std::vector<std::uint8_t> out(rgba_bytes(side));
  TurboDecoder decoder;
  if (!decoder.decode(stream, side, out)) {
    state.SkipWithError("tjDecompress2 failed");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.decode(stream, side, out));
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, rgba_bytes(side), rgba_bytes(side) / 4);
  state.counters["stream_bytes"] = static_cast<double>(stream.size());
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const bool greyscale : {false, true}) {
    const char* group = greyscale ? "jpeg_grey" : "jpeg_rgb";
    for (const int side : kSweepSides) {
      benchmark::RegisterBenchmark(fmt::format("{}/ours/{}", group, side).c_str(), jpeg_ours, side,
                                   greyscale);
      benchmark::RegisterBenchmark(fmt::format("{}/turbojpeg/{}", group, side).c_str(), jpeg_turbo,
                                   side, greyscale);
    }
  }
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
