#include "images.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace ferngate_sample {

namespace {

// The splitmix64 finaliser: every input bit reaches every output bit.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

constexpr std::uint32_t kFull = 65535;

// A triangle wave over `phase`: 0 at multiples of `period`, 65535 half-way between.
std::uint32_t triangle(std::int64_t phase, std::int64_t period) {
  std::int64_t p = phase % period;
  if (p < 0) p += period;
  const std::int64_t rise = 2 * p < period ? 2 * p : 2 * (period - p);
  return static_cast<std::uint32_t>(rise * kFull / period);
}

// Sixteen times the distance from (dx, dy) to the origin, rounded down. The square root of a
// double is correctly rounded, so this is the same on every machine.
std::int64_t distance16(std::int64_t dx, std::int64_t dy) {
  return static_cast<std::int64_t>(std::sqrt(static_cast<double>((dx * dx + dy * dy) * 256)));
}

// A direction for gradients and stripes: the axes, the diagonals and two steeper slants.
std::pair<int, int> random_direction(Random& random) {
  static constexpr std::pair<int, int> kDirections[] = {
      {1, 0}, {0, 1}, {-1, 0}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {2, 1}, {1, 2}};
  return kDirections[random.below(std::size(kDirections))];
}

enum class Pattern { Gradient, Checker, Rings, Stripes, Xor, Bricks, Spot, Plaid, Waves, Count };

template <typename Value>
void fill(std::vector<std::uint16_t>& out, int width, int height, Value value) {
  std::size_t at = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out[at++] = static_cast<std::uint16_t>(value(x, y));
  }
}

std::uint8_t channel(std::uint32_t word, int shift) {
  return static_cast<std::uint8_t>(word >> shift);
}

}  // namespace

std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t stream, std::uint64_t index) {
  return mix(seed ^ mix(stream * 0x100000001B3ULL ^ mix(index)));
}

std::vector<std::uint16_t> paint_field(Random& random, int width, int height) {
  std::vector<std::uint16_t> out(static_cast<std::size_t>(width) *
                                 static_cast<std::size_t>(height));
  if (out.empty()) return out;
  const int small = std::min(width, height);
  const auto pattern =
      static_cast<Pattern>(random.below(static_cast<std::uint32_t>(Pattern::Count)));
  switch (pattern) {
    case Pattern::Gradient: {
      const auto direction = random_direction(random);
      const int ax = direction.first;
      const int ay = direction.second;
      const std::int64_t corners[] = {
          0, std::int64_t{ax} * (width - 1), std::int64_t{ay} * (height - 1),
          std::int64_t{ax} * (width - 1) + std::int64_t{ay} * (height - 1)};
      const std::int64_t low = *std::min_element(std::begin(corners), std::end(corners));
      const std::int64_t range = std::max<std::int64_t>(
          1, *std::max_element(std::begin(corners), std::end(corners)) - low);
      fill(out, width, height, [&](int x, int y) {
        return (std::int64_t{ax} * x + std::int64_t{ay} * y - low) * kFull / range;
      });
      break;
    }
    case Pattern::Checker: {
      const int cell_w = std::max(1, width >> random.between(1, 4));
      const int cell_h = random.chance(700) ? std::max(1, cell_w * height / std::max(1, width))
                                            : std::max(1, height >> random.between(1, 4));
      fill(out, width, height,
           [&](int x, int y) { return ((x / cell_w + y / cell_h) & 1) != 0 ? kFull : 0; });
      break;
    }
    case Pattern::Rings: {
      const int cx = random.between(0, width - 1);
      const int cy = random.between(0, height - 1);
      const std::int64_t period = std::int64_t{16} * random.between(3, std::max(4, small / 3));
      fill(out, width, height,
           [&](int x, int y) { return triangle(distance16(x - cx, y - cy), period); });
      break;
    }
    case Pattern::Stripes: {
      const auto direction = random_direction(random);
      const int ax = direction.first;
      const int ay = direction.second;
      const std::int64_t period = random.between(4, std::max(5, small / 2));
      const bool hard = random.chance(400);
      const std::int64_t shift = 4 * (std::int64_t{width} + height);
      fill(out, width, height, [&](int x, int y) -> std::uint32_t {
        const std::int64_t s = std::int64_t{ax} * x + std::int64_t{ay} * y + shift;
        if (hard) return (s / period) % 2 != 0 ? kFull : 0;
        return triangle(s * 16, period * 16);
      });
      break;
    }
    case Pattern::Xor: {
      fill(out, width, height,
           [&](int x, int y) { return ((x * 256 / width) ^ (y * 256 / height)) * 257; });
      break;
    }
    case Pattern::Bricks: {
      const int brick_w = std::max(4, width / random.between(2, 8));
      const int brick_h = std::max(2, brick_w / 2);
      const int mortar = std::max(1, brick_w / 16);
      const std::uint64_t salt = random.next();
      fill(out, width, height, [&](int x, int y) -> std::uint32_t {
        const int row = y / brick_h;
        const int shifted = x + (row % 2) * (brick_w / 2);
        if (y % brick_h < mortar || shifted % brick_w < mortar) return 0;
        const auto brick =
            static_cast<std::uint64_t>(row) << 32 | static_cast<std::uint32_t>(shifted / brick_w);
        return 24000 + static_cast<std::uint32_t>(mix(salt ^ brick) % 41536);
      });
      break;
    }
    case Pattern::Spot: {
      const int cx = random.between(width / 4, width - 1 - width / 4);
      const int cy = random.between(height / 4, height - 1 - height / 4);
      const std::int64_t radius16 =
          std::int64_t{16} * random.between(std::max(1, small / 4), std::max(width, height));
      fill(out, width, height, [&](int x, int y) -> std::uint32_t {
        const std::int64_t d = distance16(x - cx, y - cy);
        return d >= radius16 ? 0 : static_cast<std::uint32_t>(kFull - d * kFull / radius16);
      });
      break;
    }
    case Pattern::Plaid: {
      const std::int64_t period_x = std::int64_t{16} * random.between(4, std::max(5, width / 2));
      const std::int64_t period_y = std::int64_t{16} * random.between(4, std::max(5, height / 2));
      fill(out, width, height, [&](int x, int y) {
        return (triangle(std::int64_t{x} * 16, period_x) +
                triangle(std::int64_t{y} * 16, period_y)) /
               2;
      });
      break;
    }
    case Pattern::Waves: {
      const std::int64_t period = std::int64_t{16} * random.between(4, std::max(5, small / 2));
      const std::int64_t swing_period = std::int64_t{16} * random.between(4, std::max(5, small));
      const std::int64_t amplitude = random.between(2, std::max(3, small / 4));
      const bool across = random.chance(500);
      fill(out, width, height, [&](int x, int y) {
        const int along = across ? y : x;
        const int other = across ? x : y;
        const std::int64_t swing =
            triangle(std::int64_t{other} * 16, swing_period) * amplitude / kFull;
        return triangle((along + swing) * 16, period);
      });
      break;
    }
    case Pattern::Count:
      break;
  }
  return out;
}

std::vector<std::uint32_t> paint_ramp(Random& random, std::size_t size, bool alpha) {
  struct Stop {
    std::uint32_t a, r, g, b;
  };
  const int stop_count = random.between(2, 4);
  std::vector<Stop> stops;
  for (int i = 0; i < stop_count; ++i) {
    // Darker stops now and then give the ramps some depth.
    const std::uint32_t scale = random.chance(300) ? 100 : 255;
    stops.push_back({alpha ? random.below(256) : 255, random.below(256) * scale / 255,
                     random.below(256) * scale / 255, random.below(256) * scale / 255});
  }
  std::vector<std::uint32_t> ramp(size);
  const auto segments = static_cast<std::uint64_t>(stop_count - 1);
  for (std::size_t i = 0; i < size; ++i) {
    // Position along the ramp in 1/65536 steps of a segment.
    const std::uint64_t pos = size > 1 ? i * segments * 65536 / (size - 1) : 0;
    const std::uint64_t seg = std::min<std::uint64_t>(pos >> 16, segments - 1);
    const std::uint64_t frac = pos - seg * 65536;
    const Stop& from = stops[seg];
    const Stop& to = stops[seg + 1];
    auto blend = [&](std::uint32_t Stop::*field) {
      return static_cast<std::uint32_t>((from.*field * (65536 - frac) + to.*field * frac) >> 16);
    };
    ramp[i] =
        blend(&Stop::a) << 24 | blend(&Stop::r) << 16 | blend(&Stop::g) << 8 | blend(&Stop::b);
  }
  return ramp;
}

Image paint_image(Random& random, int width, int height, bool alpha) {
  Image image{width, height, {}};
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image.rgba.resize(pixels * 4);
  const std::vector<std::uint16_t> colour = paint_field(random, width, height);
  const std::vector<std::uint32_t> ramp = paint_ramp(random, 256, false);
  std::vector<std::uint16_t> shade;
  if (random.chance(400)) shade = paint_field(random, width, height);
  std::vector<std::uint16_t> coverage;
  bool cut_out = false;
  std::uint32_t threshold = 0;
  if (alpha && random.chance(900)) {
    coverage = paint_field(random, width, height);
    cut_out = random.chance(350);
    threshold = random.between(16384, 49152);
  }
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint32_t word = ramp[colour[i] >> 8];
    // A shade darkens by up to 3/8, so the second pattern shows through the first.
    const std::uint32_t factor = shade.empty() ? 256 : 160 + (shade[i] >> 8) * 96 / 255;
    std::uint8_t* px = &image.rgba[i * 4];
    px[0] = static_cast<std::uint8_t>(channel(word, 16) * factor >> 8);
    px[1] = static_cast<std::uint8_t>(channel(word, 8) * factor >> 8);
    px[2] = static_cast<std::uint8_t>(channel(word, 0) * factor >> 8);
    if (coverage.empty()) {
      px[3] = 255;
    } else if (cut_out) {
      px[3] = coverage[i] >= threshold ? 255 : 0;
    } else {
      px[3] = static_cast<std::uint8_t>(coverage[i] >> 8);
    }
  }
  return image;
}

}  // namespace ferngate_sample
