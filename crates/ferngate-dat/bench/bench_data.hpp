// Realistic inputs of the benchmarks, made on first use and kept for the whole run: painted
// images (photo-like, flat art, highly repetitive), their DXT blocks from stb_dxt, JPEG streams
// from libjpeg-turbo's compressor, and the byte layouts of the uncompressed formats. Everything
// is seeded, so every run measures the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "file_type/texture.hpp"

#include "encoders.hpp"
#include "images.hpp"

namespace ferngate_bench {

using ferngate_sample::BlockLayout;
using ferngate_sample::Image;
using ferngate_sample::pack_pixels;

/// Paths the benchmarks need from the command line.
struct Settings {
  /// The archive that the whole-check benchmarks walk; empty skips them.
  std::filesystem::path sample_archive;
  /// The same archive written with every file's blocks adjacent (make-sample-archive
  /// --adjacent), walked by check/walk/adjacent; empty skips it.
  std::filesystem::path adjacent_archive;
  /// The built texture_format_coverage program.
  std::filesystem::path coverage_program;
};

/// The run's settings, filled by main before any benchmark runs.
Settings& settings();

/// A photo-like RGBA8 image of `side` x `side` pixels: two painted patterns blended, with
/// texture in the brightness at three scales and a little per-pixel colour noise, so that JPEG
/// streams and DXT blocks carry the detail of a photograph rather than of a clean synthetic
/// pattern. With `alpha`, the alpha channel follows a painted fade or cut-out; otherwise every
/// pixel is opaque.
const Image& photo_like(int side, bool alpha);

/// A flat-art RGBA8 image: large regions of one colour (bricks, checkers, hard stripes), at
/// least nine pixels in ten equal to their left neighbour.
const Image& flat_art(int side);

/// A highly repetitive RGBA8 image: one colour crossed by a one-pixel grid every 64 pixels.
const Image& repetitive(int side);

/// The DXT blocks of photo_like(side, alpha = layout != Dxt1), from stb_dxt.
const std::vector<std::uint8_t>& dxt_blocks(BlockLayout layout, int side);

/// A baseline JPEG stream of photo_like(side, false) at quality 85: colour (YCbCr 4:2:0) or
/// greyscale.
const std::vector<std::uint8_t>& jpeg_stream(int side, bool greyscale);

/// Records `output_bytes` and `pixels` (when not 0) per iteration as the benchmark's throughput.
void set_throughput(benchmark::State& state, std::size_t output_bytes, std::size_t pixels);

/// Counts the minor page faults of this thread from its construction: fresh memory that the
/// kernel must map and zero, the hidden cost of a large new buffer per call.
class PageFaults {
 public:
  PageFaults();
  /// Sets the counter `page_faults` to the faults per iteration since construction.
  void report(benchmark::State& state) const;

 private:
  long start_;
};

/// The palette lookup of benchmarks whose textures need none: every lookup fails.
std::expected<ferngate_dat::Palette, ferngate_dat::TextureDecodeError> no_palette(std::uint32_t id);

/// Times `texture.to_rgba8` (without palettes), with its page faults, and records
/// `output_bytes` of RGBA8 per iteration as the throughput.
void time_to_rgba8(benchmark::State& state, const ferngate_dat::Texture& texture,
                   std::size_t output_bytes);

/// Side lengths of the square images of the size sweeps (DXT and JPEG).
inline constexpr int kSweepSides[] = {256, 512, 1024};

}  // namespace ferngate_bench
