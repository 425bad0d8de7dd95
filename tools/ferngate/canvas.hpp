// An opaque RGB image to draw the contact sheet on: filled boxes, text in the built-in font, and
// textures scaled into thumbnails.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "decode.hpp"

namespace ferngate_cli {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

/// Width × height pixels of three bytes, row by row. Drawing outside the canvas is clipped.
class Canvas {
 public:
  Canvas(int width, int height, Rgb background);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }
  Rgb at(int x, int y) const;

  void fill(int x, int y, int w, int h, Rgb color);
  /// Draws `text` with its top left corner at (x, y), each font pixel a scale × scale square.
  void text(int x, int y, std::string_view text, int scale, Rgb color);
  /// Draws `texture` scaled to fit a box × box square at (x, y), centred in it with its aspect
  /// ratio kept: area-averaged when shrunk, blocky when enlarged. Transparent parts show a grey
  /// checkerboard behind them.
  void thumbnail(int x, int y, int box, const DecodedTexture& texture);

 private:
  void put(int x, int y, Rgb color);

  int width_;
  int height_;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace ferngate_cli
