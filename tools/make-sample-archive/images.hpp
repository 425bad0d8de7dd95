// Seeded random numbers and the pictures of the sample textures: scalar patterns (gradients,
// checkers, rings, stripes, bricks, ...), colour ramps over them, and RGBA8 images made of both.
// All pattern arithmetic is on integers (and correctly rounded square roots), so a seed paints
// the same pixels everywhere.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace ferngate_sample {

/// Numbers drawn from std::mt19937_64, whose sequence the standard fixes, through derivations of
/// our own: the standard's distributions differ between standard libraries.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t next() { return engine_(); }
  /// A number in [0, n); n must be positive. The modulo bias is far below anything visible.
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(engine_() % n); }
  /// A number in [low, high].
  int between(int low, int high) {
    return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1)));
  }
  /// True with a probability of per_mille / 1000.
  bool chance(std::uint32_t per_mille) { return below(1000) < per_mille; }

 private:
  std::mt19937_64 engine_;
};

/// A well-mixed seed for generator `index` of family `stream` under `seed`; neighbouring indices
/// give unrelated seeds.
[[nodiscard]] std::uint64_t derive_seed(std::uint64_t seed, std::uint64_t stream,
                                        std::uint64_t index);

/// A random pattern over a width x height plane: one value from 0 to 65535 per pixel, row after
/// row from the top.
[[nodiscard]] std::vector<std::uint16_t> paint_field(Random& random, int width, int height);

/// `size` colour words (alpha in bits 24-31, then red, green, blue) running smoothly through two
/// to four random colours; opaque unless `alpha`, which ramps the alpha as well.
[[nodiscard]] std::vector<std::uint32_t> paint_ramp(Random& random, std::size_t size, bool alpha);

/// An RGBA8 picture, four bytes per pixel (red, green, blue, alpha), rows from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

/// A colour ramp over a random pattern, sometimes shaded by a second one; with `alpha` the alpha
/// channel follows a third pattern (a fade or a cut-out), otherwise every pixel is opaque.
[[nodiscard]] Image paint_image(Random& random, int width, int height, bool alpha);

}  // namespace ferngate_sample
