// The palette value that palettized textures are converted with.
#pragma once

#include <cstdint>
#include <vector>

namespace ferngate_dat {

/// A list of colours under an ID; a colour's position in `colors` is its palette index.
/// Each colour word holds alpha in bits 24-31, red in 16-23, green in 8-15 and blue in 0-7.
struct Palette {
  std::uint32_t id = 0;
  std::vector<std::uint32_t> colors;

  friend bool operator==(const Palette&, const Palette&) = default;
};

}  // namespace ferngate_dat
