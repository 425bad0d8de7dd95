#include "bench_data.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <utility>

#include "texture_records.hpp"

namespace ferngate_bench {

namespace {

using ferngate_sample::derive_seed;
using ferngate_sample::paint_image;
using ferngate_sample::Random;

constexpr std::uint64_t kSeed = 0xBE4C'F3A6'0001;
// Families of derived seeds, one per kind of image.
enum Stream : std::uint64_t { kPhoto = 1, kPhotoAlpha, kFlat };

std::size_t pixel_count(const Image& image) {
  return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

// Share of pixels whose alpha is below 255: a painted alpha channel is sometimes all opaque.
double translucent_share(const Image& image) {
  std::size_t count = 0;
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) count += image.rgba[i] != 255 ? 1 : 0;
  return static_cast<double>(count) /
         static_cast<double>(std::max<std::size_t>(1, pixel_count(image)));
}

// Share of pixels equal to their left neighbour, and the number of distinct colours (up to 64).
std::pair<double, std::size_t> flatness(const Image& image) {
  std::size_t equal = 0;
  std::vector<std::uint32_t> colours;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                              static_cast<std::size_t>(x)) *
                             4;
      const std::uint32_t colour = static_cast<std::uint32_t>(image.rgba[at]) << 16 |
                                   static_cast<std::uint32_t>(image.rgba[at + 1]) << 8 |
                                   image.rgba[at + 2];
      if (x > 0 && std::equal(&image.rgba[at], &image.rgba[at] + 4, &image.rgba[at - 4])) ++equal;
      if (colours.size() < 64 &&
          std::find(colours.begin(), colours.end(), colour) == colours.end()) {
        colours.push_back(colour);
      }
    }
  }
  return {static_cast<double>(equal) /
              static_cast<double>(std::max<std::size_t>(1, pixel_count(image))),
          colours.size()};
}

// Smooth noise from -256 to 256 with features about `cell` pixels wide: seeded random values on
// a lattice of that spacing, interpolated bilinearly (in 1/256 steps) between them.
int value_noise(std::uint64_t seed, int x, int y, int cell) {
  const auto lattice = [&](int lx, int ly) {
    const std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::uint32_t>(lx)) << 32 |
                              static_cast<std::uint32_t>(ly);
    return static_cast<int>(derive_seed(seed, static_cast<std::uint64_t>(cell), key) % 513) - 256;
  };
  const int lx = x / cell;
  const int ly = y / cell;
  const int fx = (x % cell) * 256 / cell;
  const int fy = (y % cell) * 256 / cell;
  const int top = lattice(lx, ly) * (256 - fx) + lattice(lx + 1, ly) * fx;
  const int bottom = lattice(lx, ly + 1) * (256 - fx) + lattice(lx + 1, ly + 1) * fx;
  return (top * (256 - fy) + bottom * fy) / (256 * 256);
}

Image make_photo_like(int side, bool alpha) {
  Random random(derive_seed(kSeed, kPhoto, static_cast<std::uint64_t>(side)));
  Image image = paint_image(random, side, side, false);
  const Image detail = paint_image(random, side, side, false);
  const std::uint64_t grain_seed = random.next();
  Random chroma(random.next());
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      // Texture in the brightness at three scales, as surfaces in a photograph have, plus a
      // little per-pixel colour noise, as a camera sensor adds.
      const int grain =
          (12 * value_noise(grain_seed, x, y, 16) + 9 * value_noise(grain_seed, x, y, 4) +
           6 * value_noise(grain_seed, x, y, 1)) /
          256;
      const std::uint64_t bits = chroma.next();
      const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(side) +
                              static_cast<std::size_t>(x)) *
                             4;
      for (std::size_t c = 0; c < 3; ++c) {
        // Three parts of the first pattern to one of the second.
        const int blended = (3 * image.rgba[at + c] + detail.rgba[at + c]) / 4;
        const int sensor = static_cast<int>((bits >> (c * 8)) % 5) - 2;
        image.rgba[at + c] =
            static_cast<std::uint8_t>(std::clamp(blended + grain + sensor, 0, 255));
      }
    }
  }
  if (alpha) {
    // The first painted alpha channel that is not all opaque; 90 in 100 are not.
    for (std::uint64_t attempt = 0; attempt < 100; ++attempt) {
      Random alpha_random(
          derive_seed(kSeed, kPhotoAlpha, static_cast<std::uint64_t>(side) * 1000 + attempt));
      const Image mask = paint_image(alpha_random, side, side, true);
      if (translucent_share(mask) < 0.1) continue;
      for (std::size_t i = 0; i < pixel_count(image); ++i)
        image.rgba[i * 4 + 3] = mask.rgba[i * 4 + 3];
      break;
    }
  }
  return image;
}

Image make_flat_art(int side) {
  Image best;
  double best_score = -1;
  for (std::uint64_t attempt = 0; attempt < 1000; ++attempt) {
    Random random(derive_seed(kSeed, kFlat, static_cast<std::uint64_t>(side) * 1000 + attempt));
    Image image = paint_image(random, side, side, false);
    const auto [equal_share, colours] = flatness(image);
    if (equal_share >= 0.9 && colours >= 3) return image;
    if (equal_share > best_score) {
      best_score = equal_share;
      best = std::move(image);
    }
  }
  return best;
}

Image make_repetitive(int side) {
  const auto n = static_cast<std::size_t>(side);
  Image image{side, side, std::vector<std::uint8_t>(n * n * 4)};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const bool grid = x % 64 == 0 || y % 64 == 0;
      const std::size_t at = (static_cast<std::size_t>(y) * n + static_cast<std::size_t>(x)) * 4;
      const std::uint8_t pixel[4] = {grid ? std::uint8_t{40} : std::uint8_t{92},
                                     grid ? std::uint8_t{40} : std::uint8_t{140},
                                     grid ? std::uint8_t{48} : std::uint8_t{61}, 255};
      std::copy_n(pixel, 4, &image.rgba[at]);
    }
  }
  return image;
}

// A cache of made values under their parameters; the benchmarks run on one thread.
template <typename Key, typename Value, typename Make>
const Value& cached(std::map<Key, Value>& cache, const Key& key, Make make) {
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, make()).first;
  return it->second;
}

}  // namespace

Settings& settings() {
  static Settings instance;
  return instance;
}

const Image& photo_like(int side, bool alpha) {
  static std::map<std::pair<int, bool>, Image> cache;
  return cached(cache, std::pair{side, alpha}, [&] { return make_photo_like(side, alpha); });
}

const Image& flat_art(int side) {
  static std::map<int, Image> cache;
  return cached(cache, side, [&] { return make_flat_art(side); });
}

const Image& repetitive(int side) {
  static std::map<int, Image> cache;
  return cached(cache, side, [&] { return make_repetitive(side); });
}

const std::vector<std::uint8_t>& dxt_blocks(BlockLayout layout, int side) {
  static std::map<std::pair<BlockLayout, int>, std::vector<std::uint8_t>> cache;
  return cached(cache, std::pair{layout, side}, [&] {
    return ferngate_sample::encode_blocks(photo_like(side, layout != BlockLayout::Dxt1), layout);
  });
}

const std::vector<std::uint8_t>& jpeg_stream(int side, bool greyscale) {
  static std::map<std::pair<int, bool>, std::vector<std::uint8_t>> cache;
  return cached(cache, std::pair{side, greyscale}, [&] {
    auto stream = ferngate_sample::encode_jpeg(photo_like(side, false), greyscale, 85);
    if (!stream) throw std::runtime_error("JPEG compression failed (out of memory)");
    return std::move(*stream);
  });
}

namespace {

long thread_minor_faults() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

}  // namespace

PageFaults::PageFaults() : start_(thread_minor_faults()) {}

void PageFaults::report(benchmark::State& state) const {
  const auto iterations = std::max<benchmark::IterationCount>(1, state.iterations());
  state.counters["page_faults"] =
      static_cast<double>(thread_minor_faults() - start_) / static_cast<double>(iterations);
}

void set_throughput(benchmark::State& state, std::size_t output_bytes, std::size_t pixels) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(output_bytes));
  if (pixels > 0) state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pixels));
}

std::expected<ferngate_dat::Palette, ferngate_dat::TextureDecodeError> no_palette(
    std::uint32_t /*id*/) {
  return std::unexpected(
      ferngate_dat::TextureDecodeError::palette_fetch("no palettes in this benchmark"));
}

void time_to_rgba8(benchmark::State& state, const ferngate_dat::Texture& texture,
                   std::size_t output_bytes) {
  const PageFaults faults;
  for (auto _ : state) {
    auto out = texture.to_rgba8(no_palette);
    benchmark::DoNotOptimize(out->data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, output_bytes, output_bytes / 4);
}

}  // namespace ferngate_bench
